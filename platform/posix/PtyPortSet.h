// The virtual ports of the POSIX edition: one pseudo-terminal per configured port, its slave
// linked into the COM directory as COM<n>, its master held by the hub. Behind the
// ControlDevice interface it keeps the driver's exchange contract:
//
// - A port nobody has open receives nothing: the master is never written while the slave is
//   closed (the master reports a hang-up then), and when the last client leaves, whatever it
//   left unread is flushed, so a late opener sees only newer bytes.
// - Open counts are the number of processes that have the slave open, counted in /proc
//   whenever inotify reports an open or close of a slave, and once a second while a port is
//   in use. A client the scan cannot see (another user's process) still counts as one: the
//   hang-up state alone tells that somebody has the port open.
// - Client bytes are read from the masters in port order, at most 1024 per exchange; what
//   does not fit stays in the terminal (its writer blocks when it is full, nothing is lost).
//   With "Read Only (2-8)" the bytes of ports 2-8 are read and dropped. Bytes a client wrote
//   just before it closed are still collected: they were written while the port was open.
// - Echo: a terminal whose client turns ECHO on (`stty echo`, `stty sane`) sends every byte
//   relayed to it straight back, mixed with what the client writes, and the two cannot be
//   told apart. A real serial line would put that echo on the wire; here it would reach the
//   receiver that eight programs share, and the driver's ports never echo. So while a port
//   echoes, its bytes are read and dropped, not written to the receiver (Echoing tells it);
//   programs that talk to the receiver work in raw mode, as every serial library sets it.
// - The hub never blocks: masters are non-blocking. A client that does not read falls behind
//   until the terminal is full (about 18 KB on Linux); its backlog is then dropped, as the
//   driver's ring overwrites unread bytes, and it goes on with the newest bytes.
// - The activity word counts, in its upper half, the broadcasts delivered to the port (a
//   terminal does not tell when its client reads), and in its lower half the bytes delivered.
//
// Unlike the driver's ports, a terminal has one input queue: two programs reading the same
// port share its bytes between them. Each program needs a port of its own.
//
// One hub at a time may hold the port set of a COM directory: Open locks the record file
// ".TavroPorts" there and lists its links in it, so that links a crashed hub left behind are
// removed by the next one.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "platform/ControlDevice.h"
#include "platform/posix/ComDirectory.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro::platform::posix {

// The highest COM number a virtual port can take (the hub's COM number bitmap has 256 bits).
inline constexpr uint32_t maxVirtualComNumber = 255;

inline constexpr char portRecordName[] = ".TavroPorts";

class PtyPortSet final : public ControlDevice {
public:
    explicit PtyPortSet(const ComDirectory& directory);
    ~PtyPortSet() override;

    PtyPortSet(const PtyPortSet&) = delete;
    PtyPortSet& operator=(const PtyPortSet&) = delete;

    // The COM numbers of virtual ports 1 to 8 ("Port0".."Port7"; 0 = not used) for the next
    // Open, as the driver reads its numbers when it starts.
    void Configure(const uint32_t (&comNumbers)[virtualPortCount]);

    // Creates the configured ports. `name` must be controlDeviceName. Results:
    // error::fileNotFound when virtual port 1 has no number (the driver would not start) or
    // the name is another; error::invalidParameter for a number above maxVirtualComNumber;
    // error::alreadyExists when a number is given twice or its link names a device that
    // exists (ConflictingComNumber tells which); error::genFailure when this object or
    // another hub holds the port set already; else the system's error. On failure nothing is
    // left behind.
    uint32_t Open(const char* name) override;
    bool IsOpen() const override { return isOpen_; }
    uint32_t Exchange(DriverExchangeBlock& block) override;
    uint32_t Broadcast(const uint8_t* bytes, uint32_t length) override;
    void Close() override;

    // Whether the COM directory still holds this set's record and links, as Open made them
    // (a cleaner may remove the directory under a running hub).
    bool LinksIntact() const;

    // Makes the directory, the record and the missing links again; the terminals and their
    // clients are not touched. error::alreadyExists when another hub has taken the directory
    // meanwhile (the set is then closed, as it cannot be kept apart from the other's).
    uint32_t RestoreLinks();

    // The result of the last Open, and after a failure the COM number that caused it (0 when
    // none did).
    uint32_t LastOpenResult() const { return lastOpenResult_; }
    uint32_t ConflictingComNumber() const { return conflict_; }

    // The last bytes of virtual port `index` (0-7) were dropped because its terminal echoed
    // (see above); cleared when they go through again or its client leaves.
    bool Echoing(uint32_t index) const;

    // The slave device of virtual port `index` (0-7) while open, else "", and its COM number
    // (0 when none).
    const char* DevicePath(uint32_t index) const;
    uint32_t ComNumber(uint32_t index) const {
        return index < virtualPortCount ? ports_[index].comNumber : 0;
    }

    // The COM number virtual port `index` is configured with (made or not), and how many
    // processes have it open (counted at the exchanges).
    uint32_t ConfiguredComNumber(uint32_t index) const {
        return index < virtualPortCount ? configured_[index] : 0;
    }
    uint32_t Users(uint32_t index) const {
        return index < virtualPortCount ? ports_[index].users : 0;
    }

    // How many processes use pseudo-terminal slaves `devices` (paths as ptsname gives them),
    // other than this one. Entries that are null or empty count 0. Exposed for tests.
    static void CountUsers(const char* const (&devices)[virtualPortCount],
                           uint32_t (&users)[virtualPortCount]);

private:
    struct Port {
        int master = -1;
        int watch = -1; // inotify watch of the slave, -1 when none
        uint32_t comNumber = 0;
        bool clientPresent = false; // some process has the slave open
        uint32_t users = 0;         // processes that have it open, while clientPresent
        uint32_t deliveries = 0;    // broadcasts delivered: the activity word's upper half
        uint32_t bytesDelivered = 0;
        bool echoing = false;
        char slave[64] = {};
    };

    uint32_t OpenPorts(const char* name);
    uint32_t CreatePort(Port& port, uint32_t comNumber);
    void DestroyPort(Port& port);
    uint32_t LockRecord();
    void RemoveRecordedLinks();
    void WriteRecord();
    void UpdatePresence(bool tick);
    void UpdateUsers();
    bool FlushClientQueue(const Port& port) const;
    void Deliver(Port& port, const uint8_t* bytes, uint32_t length);
    uint32_t Collect(Port& port, uint8_t* into, uint32_t room);
    void Discard(Port& port);
    static bool Echoes(const Port& port);

    ComDirectory directory_;
    Port ports_[virtualPortCount];
    uint32_t configured_[virtualPortCount] = {};
    bool isOpen_ = false;
    bool readOnly_ = false;
    bool usersStale_ = false;
    uint32_t exchangesSinceCount_ = 0;
    int notify_ = -1;   // inotify descriptor, -1 when unavailable (counts then run on time)
    int recordFd_ = -1; // the locked record file while open
    uint32_t conflict_ = 0;
    uint32_t lastOpenResult_ = 0;
};

// The port set of the COM directory the environment names; what SystemControlDevice() gives
// on POSIX. Configure it before the hub opens it.
PtyPortSet& SystemPtyPortSet();

} // namespace tavro::platform::posix
