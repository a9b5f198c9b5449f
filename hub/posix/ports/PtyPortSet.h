// The virtual ports of the POSIX edition: one pseudo-terminal per configured port, its slave
// linked into the COM directory as COM<n>, its master held by the hub. Behind the
// ControlDevice interface it keeps the driver's exchange contract:
//
// - A port nobody has open receives nothing: the master is never written while the slave is
//   closed (the master reports a hang-up then), and when the last client leaves, whatever it
//   left unread is flushed, so a late opener sees only newer bytes.
// - Open counts tell whether a port is in use: 1 while some program has the slave open, 0
//   while none has, from the terminal's own hang-up state (the master reports a hang-up
//   exactly while no slave is open). That is all the hub uses them for (Battery Saver counts
//   ports in use). How many programs share a port is not counted: only a look at every
//   process's descriptors could tell (inotify merges repeated open events), and the hub's cost
//   must not grow with what else runs on the machine.
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
//   driver's ring overwrites unread bytes, and it goes on with the newest bytes. Only that
//   port loses bytes, and they are counted (Counters): every other port gets every byte.
// - Client bytes port by port (CollectPerPort): each port's terminal is its own queue, and
//   the hub takes from each only what it has room for; a program that writes faster than the
//   receiver's line takes them waits in its write (the terminal is full), as a Windows
//   program waits on a serial port whose output buffer is full.
// - The activity word counts, in its upper half, the broadcasts delivered to the port (a
//   terminal does not tell when its client reads), and in its lower half the bytes delivered.
//
// Unlike the driver's ports, a terminal has one input queue: two programs reading the same
// port share its bytes between them. Each program needs a port of its own.
//
// Links never outlive the hub: COM<n> names the terminal through the hub's own process
// (/proc/<hub>/fd/<n>, see ProcessBoundPath.h), so after a crash or kill -9 the link stops
// resolving at once and a client opening COM<n> gets "no such file", never the program the
// system gives the terminal's number to next. The links themselves are removed by the hub's
// orderly stop, by its guardian within milliseconds of any other end (host/LinkGuardian.h), by the
// next hub at its start, and by `tavro clean` (the service's stop step).
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

// What one virtual port carried since the port set was opened.
struct PortCounters {
    uint64_t bytesRelayed = 0; // receiver bytes handed to the port's terminal
    uint64_t bytesDropped = 0; // receiver bytes its program lost by not reading in time
};

// A terminal handed over from an earlier hub (the service manager's descriptor store): its
// master and the COM number it served.
struct OfferedTerminal {
    int master = -1;
    uint32_t comNumber = 0;
};

class PtyPortSet final : public ControlDevice {
public:
    explicit PtyPortSet(const ComDirectory& directory);
    ~PtyPortSet() override;

    PtyPortSet(const PtyPortSet&) = delete;
    PtyPortSet& operator=(const PtyPortSet&) = delete;

    // The COM numbers of virtual ports 1 to 8 ("Port0".."Port7"; 0 = not used) for the next
    // Open, as the driver reads its numbers when it starts.
    void Configure(const uint32_t (&comNumbers)[virtualPortCount]);

    // Terminals of an earlier hub (their masters, now owned by this object) for Open to take
    // for their COM numbers instead of new ones, so that their clients go on undisturbed.
    // What Open does not take stays offered until DropOfferedTerminals.
    void OfferTerminals(const OfferedTerminal* terminals, size_t count);
    void DropOfferedTerminals();

    // Live settings: new COM numbers for virtual ports 1 to 8 while the set is open. Ports
    // whose number stays are not touched; a port whose number changes keeps its terminal and
    // clients under its new name; ports are created and removed for numbers that appear and
    // go. The numbers are checked first, as Open checks them (error::fileNotFound without
    // virtual port 1: nothing changes then, close the set to take the ports away); a number
    // another device holds is refused before anything changes (error::alreadyExists,
    // ConflictingComNumber). While the set is closed it only records the numbers
    // (error::notReady): Open them.
    uint32_t Reconfigure(const uint32_t (&comNumbers)[virtualPortCount]);

    // The master of virtual port `index` (0-7) while open, else -1: for the service manager's
    // descriptor store.
    int MasterFd(uint32_t index) const {
        return index < virtualPortCount ? ports_[index].master : -1;
    }

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
    bool CollectPerPort(bool on) override;
    uint32_t TakeClientBytes(uint32_t index, uint8_t* into, uint32_t room) override;

    // Bytes relayed to and dropped for virtual port `index` (0-7) since Open; zero for a port
    // that does not exist.
    PortCounters Counters(uint32_t index) const {
        return index < virtualPortCount ? ports_[index].counters : PortCounters{};
    }

    // Whether the COM directory still holds this set's record and links, as Open made them
    // (a cleaner may remove the directory under a running hub).
    bool LinksIntact() const;

    // Makes the directory, the record and the missing links again; the terminals and their
    // clients are not touched. error::alreadyExists when another hub has taken the directory
    // meanwhile (the set is then closed, as it cannot be kept apart from the other's).
    uint32_t RestoreLinks();

    // Removes the links a hub that did not stop cleanly left in `directory` (what the next
    // hub does at its start). error::alreadyExists while a hub holds the port set there.
    static uint32_t RemoveLinksLeftBehind(const ComDirectory& directory);

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

    // The COM number virtual port `index` is configured with (made or not), and whether a
    // program has it open (1) or none (0), as seen at the last exchange (see the open counts
    // above: how many share it is not counted).
    uint32_t ConfiguredComNumber(uint32_t index) const {
        return index < virtualPortCount ? configured_[index] : 0;
    }
    uint32_t Users(uint32_t index) const {
        return index < virtualPortCount && ports_[index].master >= 0 && ports_[index].clientPresent
                   ? 1
                   : 0;
    }

private:
    struct Port {
        int master = -1;
        uint32_t comNumber = 0;
        bool clientPresent = false; // some process has the slave open
        uint32_t deliveries = 0;    // broadcasts delivered: the activity word's upper half
        uint32_t bytesDelivered = 0;
        PortCounters counters;
        bool echoing = false;
        int held = -1; // path-only descriptor of the slave, which `target` goes through
        char slave[64] = {};
        char target[48] = {}; // what COM<n> names: /proc/<hub>/fd/<held>
    };

    uint32_t OpenPorts(const char* name);
    uint32_t Validate(const uint32_t (&numbers)[virtualPortCount]);
    uint32_t MakePort(Port& port, uint32_t comNumber);
    uint32_t CreatePort(Port& port, uint32_t comNumber);
    uint32_t LinkPort(Port& port, uint32_t comNumber);
    void DestroyPort(Port& port);
    uint32_t LockRecord();
    void RemoveRecordedLinks();
    void WriteRecord();
    void UpdatePresence(bool tick);
    // Empties the client's input queue; `flushed` tells how many bytes it held.
    bool FlushClientQueue(const Port& port, uint32_t& flushed) const;
    void Deliver(Port& port, const uint8_t* bytes, uint32_t length);
    uint32_t Collect(Port& port, uint8_t* into, uint32_t room);
    void Discard(Port& port);
    static bool Echoes(const Port& port);

    ComDirectory directory_;
    Port ports_[virtualPortCount];
    OfferedTerminal offered_[virtualPortCount];
    uint32_t configured_[virtualPortCount] = {};
    bool isOpen_ = false;
    bool readOnly_ = false;
    bool perPort_ = false;
    int recordFd_ = -1; // the locked record file while open
    uint32_t conflict_ = 0;
    uint32_t lastOpenResult_ = 0;
};

// The port set of the COM directory the environment names; what SystemControlDevice() gives
// on POSIX. Configure it before the hub opens it.
PtyPortSet& SystemPtyPortSet();

} // namespace tavro::platform::posix
