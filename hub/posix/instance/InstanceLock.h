// Which hub runs: one lock, taken before the hub creates anything (ports, command socket,
// status block), decides it. It has two parts, both held for the hub's whole life:
//
// - the COM directory's: ".TavroHub.lock" in the directory, so one hub serves a directory;
// - the status block name's: the shared-memory object "<name>.hub" beside the block, so two
//   hubs with different COM directories never write into one block. It also names the
//   holder's COM directory, so that a second start finds the hub to hand over to, and it
//   survives the COM directory being removed under a running hub (a tmp cleaner), which lets
//   `tavro status` tell a running hub from a dead one at any time.
//
// Both are open-file-description locks: the system drops them when the holder dies, however
// it dies, and others can test them without taking them. The lock files are never removed:
// removing a locked file would let two hubs lock two different files.
#pragma once

#include "platform/posix/ComDirectory.h"
#include "platform/posix/SharedMemoryName.h"

#include <stdint.h>

namespace tavro::platform::posix {

inline constexpr char hubLockName[] = ".TavroHub.lock";

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes both parts without waiting (the directory is made when missing). error::success:
    // this process is the hub until Release. error::alreadyExists: another hub holds a part;
    // HolderDirectory() names its COM directory. Otherwise why the lock could not be taken
    // (the directory cannot be made, ...); nothing is held then.
    uint32_t Acquire(const ComDirectory& directory, const char* blockName);

    // Whether the directory's lock file is still in place (false once it was removed).
    bool DirectoryLockIntact() const;

    // After a cleaner of /dev/shm removed the block name's lock: takes it anew, so that a
    // second hub still finds this one (`restored` then). error::alreadyExists when another hub
    // has taken the name meanwhile.
    uint32_t KeepBlockName(bool& restored);

    // After the COM directory vanished: makes it again and locks it anew. error::alreadyExists
    // when another hub has taken it meanwhile.
    uint32_t Reacquire();

    void Release();
    bool Held() const { return directoryFd_ >= 0; }

    // After Acquire: the COM directory of the hub that holds the lock (this process's own when
    // it holds it, or when the holder could not be told).
    const char* HolderDirectory() const { return holder_; }

    // Whether a live hub holds the lock of the status block `blockName`, tested without
    // taking anything.
    static bool HubHoldsBlockName(const char* blockName);

private:
    uint32_t LockDirectory();
    uint32_t LockBlockName(const char* blockName);
    void WriteHolder();

    ComDirectory directory_{""};
    int directoryFd_ = -1;
    int nameFd_ = -1;
    char blockName_[sharedMemoryNameCapacity] = {};
    char holder_[comPathCapacity] = {};
};

} // namespace tavro::platform::posix
