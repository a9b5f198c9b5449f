// The tick's exchange with the driver: the read-only flag, client bytes to the receiver.
#include "tests/engine/HubFixture.h"

#include <string.h>

namespace tavro::testing {
namespace {

class DriverExchange : public HubFixture {
protected:
    DriverExchange() {
        device_.OnWrite([this](platform::testing::FakeSerialDevice&, std::string_view bytes) {
            writes_.emplace_back(bytes);
        });
    }
    std::vector<std::string> writes_;
};

TEST_F(DriverExchange, ClientBytesReachTheReceiverWithOneWrite) {
    port_->Open();
    auto first = Application(firstVirtualCom);
    auto second = Application(firstVirtualCom + 1);
    ASSERT_EQ(first->Write("$PMTK400*36\r\n"), error::success);
    ASSERT_EQ(second->Write("$PMTK414*33\r\n"), error::success);
    port_->DriverExchange();
    EXPECT_EQ(writes_, std::vector<std::string>{"$PMTK400*36\r\n$PMTK414*33\r\n"});
    EXPECT_EQ(hub_.exchange.block.clientDataLength, 0u) << "the hub's copy of the count";
    EXPECT_EQ(hub_.exchange.block.version, driverInterfaceVersion);
    EXPECT_EQ(hub_.exchange.block.comNumber[0], firstVirtualCom);
    EXPECT_NE(hub_.exchange.block.openCount[1], 0u);

    port_->DriverExchange();
    EXPECT_EQ(writes_.size(), 1u) << "nothing new, nothing written";
}

TEST_F(DriverExchange, ClientBytesAreDroppedWhileTheInputPortIsClosed) {
    auto application = Application();
    ASSERT_EQ(application->Write("$PMTK400*36\r\n"), error::success);
    port_->DriverExchange();
    EXPECT_EQ(hub_.exchange.block.clientDataLength, 0u);
    port_->Open();
    port_->DriverExchange();
    EXPECT_TRUE(writes_.empty()) << "not delivered later";
    EXPECT_EQ(device_.Output(), "");
}

TEST_F(DriverExchange, TheReadOnlyFlagReachesTheDriverWithTheNextExchange) {
    port_->Open();
    auto first = Application(firstVirtualCom);
    auto second = Application(firstVirtualCom + 1);
    hub_.settings.optionFlags = OptionFlags::readOnly | OptionFlags::nmeaFilter;

    ASSERT_EQ(second->Write("from port 2"), error::success);
    port_->DriverExchange();
    EXPECT_EQ(hub_.exchange.readOnlyFlag, 1u) << "taken from the settings after the exchange";
    EXPECT_FALSE(driver_.Driver().Control().ReadOnly()) << "so this exchange still sent 0";
    EXPECT_EQ(device_.TakeOutput(), "from port 2");

    ASSERT_EQ(first->Write("from port 1;"), error::success);
    ASSERT_EQ(second->Write("from port 2"), error::success);
    port_->DriverExchange();
    EXPECT_TRUE(driver_.Driver().Control().ReadOnly());
    EXPECT_EQ(device_.TakeOutput(), "from port 1;") << "ports 2 to 8 may not write";
    EXPECT_EQ(hub_.exchange.block.readOnly, 0u) << "the driver returns it as 0";

    hub_.settings.optionFlags = 0;
    port_->DriverExchange();
    EXPECT_EQ(hub_.exchange.readOnlyFlag, 0u);
    port_->DriverExchange();
    EXPECT_FALSE(driver_.Driver().Control().ReadOnly());
}

TEST_F(DriverExchange, NothingButTheFlagWithoutTheControlDevice) {
    port_->Open();
    auto application = Application();
    ASSERT_EQ(application->Write("held"), error::success);
    driver_.Control().Close();
    hub_.settings.optionFlags = OptionFlags::readOnly;
    memset(&hub_.exchange.block, 0, sizeof hub_.exchange.block);
    port_->DriverExchange();
    EXPECT_EQ(hub_.exchange.readOnlyFlag, 1u);
    EXPECT_EQ(hub_.exchange.block.version, 0u) << "no exchange took place";
    EXPECT_TRUE(writes_.empty());

    ASSERT_EQ(driver_.Control().Open(controlDeviceName), error::success);
    port_->DriverExchange();
    EXPECT_EQ(device_.TakeOutput(), "held") << "bytes wait in the driver meanwhile";
}

TEST_F(DriverExchange, OneExchangeCarriesAtMostTenTwentyFourBytes) {
    port_->Open();
    auto application = Application();
    const std::string many(1500, 'w');
    ASSERT_EQ(application->Write(many), error::success);
    port_->DriverExchange();
    port_->DriverExchange();
    EXPECT_EQ(writes_.size(), 2u);
    EXPECT_EQ(writes_[0].size(), 1024u);
    EXPECT_EQ(device_.Output(), many);
}

// A control device whose exchange fails after scribbling on the record.
class FailingControlDevice final : public platform::ControlDevice {
public:
    uint32_t Open(const char*) override { return error::success; }
    bool IsOpen() const override { return true; }
    uint32_t Exchange(DriverExchangeBlock& block) override {
        memset(&block, 0x5A, sizeof block);
        return error::genFailure;
    }
    uint32_t Broadcast(const uint8_t*, uint32_t) override { return error::genFailure; }
    void Close() override {}
};

TEST(DriverExchangeFailure, AFailedExchangeWritesNothingToTheReceiver) {
    platform::testing::FakeSerialPorts ports;
    FailingControlDevice device;
    NoSharedMemory memory;
    platform::RecordingSystemClock clock;
    platform::testing::FakeTiming timing;
    HubContext hub({ports, device, memory, clock, timing});
    hub.settings.port = inputCom;
    platform::testing::FakeSerialDevice& receiver = ports.Add(inputCom);
    GpsPort& port = hub.CreateInputPort();
    port.Open();
    ASSERT_TRUE(port.IsOpen());
    port.DriverExchange();
    EXPECT_EQ(receiver.Output(), "");
    EXPECT_EQ(hub.exchange.block.clientDataLength, 0u);
}

} // namespace
} // namespace tavro::testing
