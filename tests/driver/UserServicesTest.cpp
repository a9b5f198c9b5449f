// The user-mode services every driver test relies on: a broken completion rule must fail the
// test, and cancellation must behave as the I/O manager's.
#include <gtest/gtest.h>

#include "sys/usermode/UserDriver.h"
#include "sys/usermode/UserServices.h"

namespace tavro::driver::testing {
namespace {

TEST(UserServicesDeathTest, ASecondCompletionFailsTheTest) {
    FileObject file;
    auto request = MakeSimple(MajorFunction::FlushBuffers, file);
    CompleteRequest(*request);
    EXPECT_DEATH(CompleteRequest(*request), "request completed twice");
}

TEST(UserServicesDeathTest, CompletingWithACancelRoutineInstalledFailsTheTest) {
    FileObject file;
    auto request = MakeSimple(MajorFunction::Read, file);
    AcquireCancelLock();
    SetRequestCancelRoutine(
        *request, [](void*, Request&) {}, nullptr);
    ReleaseCancelLock();
    EXPECT_DEATH(CompleteRequest(*request), "cancel routine installed");
}

TEST(UserServicesTest, CancelCallsTheRoutineOnceUnderTheCancelLock) {
    FileObject file;
    auto request = MakeSimple(MajorFunction::Read, file);
    static int calls;
    calls = 0;
    AcquireCancelLock();
    SetRequestCancelRoutine(
        *request,
        [](void* context, Request& cancelled) {
            ++calls;
            EXPECT_EQ(context, &calls);
            EXPECT_TRUE(RequestCancelFlag(cancelled));
            ReleaseCancelLockInCancelRoutine(cancelled);
        },
        &calls);
    ReleaseCancelLock();
    EXPECT_TRUE(usermode::CancelRequest(*request));
    EXPECT_FALSE(usermode::CancelRequest(*request)) << "the routine is removed before the call";
    EXPECT_EQ(calls, 1);
}

TEST(UserServicesTest, FreshPoolMemoryIsPoisonedAndCounted) {
    auto before = usermode::Allocations();
    auto* bytes = static_cast<uint8_t*>(AllocateNonPaged(16));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[15], usermode::poisonByte);
    FreePool(bytes);
    EXPECT_EQ(AllocateNonPaged(0), nullptr);
    usermode::FailNextAllocations(1);
    EXPECT_EQ(AllocateNonPaged(16), nullptr);
    auto after = usermode::Allocations();
    EXPECT_EQ(after.allocations - before.allocations, 1u);
    EXPECT_EQ(after.releases - before.releases, 1u);
    EXPECT_EQ(after.failures - before.failures, 1u);
}

} // namespace
} // namespace tavro::driver::testing
