#include "hub/posix/ports/PtyPortSet.h"

#include "platform/ErrorCodes.h"
#include "platform/linux/ProcessBoundPath.h"
#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

// A client that keeps writing while read-only drops its bytes: bound the reads per exchange.
constexpr int discardReadsMax = 64;
// A terminal holds some tens of kilobytes: reads that empty it.
constexpr int drainReadsMax = 64;

// Raw bytes both ways and no echo: an echoing terminal would hand the hub's own broadcast
// back to it as client bytes, which it would then write to the receiver. Nothing is written
// when the terminal is raw already.
bool MakeRaw(int fd) {
    termios current{};
    if (tcgetattr(fd, &current) != 0) {
        return false;
    }
    termios raw = current;
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (raw.c_iflag == current.c_iflag && raw.c_oflag == current.c_oflag &&
        raw.c_lflag == current.c_lflag && raw.c_cflag == current.c_cflag &&
        raw.c_cc[VMIN] == current.c_cc[VMIN] && raw.c_cc[VTIME] == current.c_cc[VTIME]) {
        return true;
    }
    return tcsetattr(fd, TCSANOW, &raw) == 0;
}

size_t WriteSome(int fd, const uint8_t* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t count = write(fd, bytes + done, length - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return done;
}

} // namespace

PtyPortSet::PtyPortSet(const ComDirectory& directory) : directory_(directory) {}

PtyPortSet::~PtyPortSet() {
    Close();
    DropOfferedTerminals();
}

void PtyPortSet::Configure(const uint32_t (&comNumbers)[virtualPortCount]) {
    std::memcpy(configured_, comNumbers, sizeof configured_);
}

bool PtyPortSet::Echoing(uint32_t index) const {
    return index < virtualPortCount && ports_[index].master >= 0 && ports_[index].echoing;
}

const char* PtyPortSet::DevicePath(uint32_t index) const {
    return index < virtualPortCount && ports_[index].master >= 0 ? ports_[index].slave : "";
}

uint32_t PtyPortSet::Open(const char* name) {
    lastOpenResult_ = OpenPorts(name);
    return lastOpenResult_;
}

uint32_t PtyPortSet::OpenPorts(const char* name) {
    conflict_ = 0;
    if (isOpen_) {
        return error::genFailure; // one handle at a time, as the driver's control device
    }
    if (name == nullptr || std::strcmp(name, controlDeviceName) != 0) {
        return error::fileNotFound;
    }
    uint32_t result = Validate(configured_);
    if (result != error::success) {
        return result;
    }
    if (!directory_.IsValid()) {
        return error::badPathName;
    }
    result = directory_.Create();
    if (result == error::success) {
        result = LockRecord();
    }
    if (result != error::success) {
        return result;
    }
    RemoveRecordedLinks();
    // A number that names a present device belongs to somebody else (a real port, a
    // simulator); the driver refuses to start then, and so does this.
    for (const uint32_t number : configured_) {
        char device[comPathCapacity];
        bool present = false;
        if (number != 0 && directory_.Resolve(number, device, present) == error::success &&
            present) {
            conflict_ = number;
            Close();
            return error::alreadyExists;
        }
    }
    isOpen_ = true; // from here on Close() undoes everything
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        if (configured_[i] == 0) {
            continue;
        }
        result = MakePort(ports_[i], configured_[i]);
        if (result != error::success) {
            conflict_ = configured_[i];
            Close();
            return result;
        }
    }
    WriteRecord();
    return error::success;
}

uint32_t PtyPortSet::Validate(const uint32_t (&numbers)[virtualPortCount]) {
    if (numbers[0] == 0) {
        return error::fileNotFound; // the driver does not start without virtual port 1
    }
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const uint32_t number = numbers[i];
        if (number > maxVirtualComNumber) {
            conflict_ = number;
            return error::invalidParameter;
        }
        for (uint32_t j = 0; number != 0 && j < i; ++j) {
            if (numbers[j] == number) {
                conflict_ = number;
                return error::alreadyExists;
            }
        }
    }
    return error::success;
}

void PtyPortSet::OfferTerminals(const OfferedTerminal* terminals, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        size_t slot = 0;
        while (slot < virtualPortCount && offered_[slot].master >= 0) {
            ++slot;
        }
        if (slot == virtualPortCount || terminals[k].master < 0) {
            if (terminals[k].master >= 0) {
                close(terminals[k].master);
            }
            continue;
        }
        offered_[slot] = terminals[k];
    }
}

void PtyPortSet::DropOfferedTerminals() {
    for (OfferedTerminal& offered : offered_) {
        if (offered.master >= 0) {
            close(offered.master);
        }
        offered = OfferedTerminal{};
    }
}

// A terminal handed over for `comNumber` (a restart through the service manager's store)
// is taken as it is, with its clients and what they left in it; otherwise a new one.
uint32_t PtyPortSet::MakePort(Port& port, uint32_t comNumber) {
    for (OfferedTerminal& offered : offered_) {
        if (offered.master < 0 || offered.comNumber != comNumber) {
            continue;
        }
        const int master = offered.master;
        offered = OfferedTerminal{};
        port = Port{};
        port.master = master;
        const int flags = fcntl(master, F_GETFL);
        if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
            fcntl(master, F_SETFD, FD_CLOEXEC) != 0 ||
            ptsname_r(master, port.slave, sizeof port.slave) != 0) {
            DestroyPort(port); // not a terminal's master after all
            break;
        }
        // Its client's settings stay; a free terminal is made raw at the next exchange.
        return LinkPort(port, comNumber);
    }
    return CreatePort(port, comNumber);
}

uint32_t PtyPortSet::Reconfigure(const uint32_t (&comNumbers)[virtualPortCount]) {
    conflict_ = 0;
    if (!isOpen_) {
        Configure(comNumbers);
        return error::notReady;
    }
    uint32_t result = Validate(comNumbers);
    if (result != error::success) {
        return result;
    }
    // Numbers another device holds now are refused before anything changes.
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const uint32_t number = comNumbers[i];
        bool ours = false;
        for (const Port& port : ports_) {
            ours = ours || (number != 0 && port.comNumber == number);
        }
        char device[comPathCapacity];
        bool present = false;
        if (number != 0 && !ours && directory_.Resolve(number, device, present) == error::success &&
            present) {
            conflict_ = number;
            return error::alreadyExists;
        }
    }
    Configure(comNumbers);
    // First every port that goes or changes its number lets go of its link, so that numbers
    // can move between ports; the terminals of renumbered ports stay, with their clients.
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        Port& port = ports_[i];
        if (port.master < 0 || port.comNumber == comNumbers[i]) {
            continue;
        }
        if (comNumbers[i] == 0) {
            DestroyPort(port);
        } else {
            directory_.RemoveIf(port.comNumber, port.target);
            port.comNumber = 0;
        }
    }
    for (uint32_t i = 0; i < virtualPortCount && result == error::success; ++i) {
        Port& port = ports_[i];
        const uint32_t number = comNumbers[i];
        if (number == 0 || port.comNumber == number) {
            continue;
        }
        if (port.master >= 0) {
            result = directory_.Link(number, port.target);
            port.comNumber = result == error::success ? number : 0;
        } else {
            result = MakePort(port, number);
        }
        if (result != error::success) {
            conflict_ = number;
        }
    }
    WriteRecord();
    return result;
}

uint32_t PtyPortSet::CreatePort(Port& port, uint32_t comNumber) {
    port = Port{};
    port.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.master < 0) {
        return ErrorFromErrno(errno);
    }
    if (grantpt(port.master) != 0 || unlockpt(port.master) != 0 ||
        ptsname_r(port.master, port.slave, sizeof port.slave) != 0 || !MakeRaw(port.master)) {
        const uint32_t failure = ErrorFromErrno(errno);
        DestroyPort(port);
        return failure;
    }
    // Open and close the slave once: from then on the master reports a hang-up exactly while
    // no process has the slave open (before the first open it reports nothing).
    const int slave = open(port.slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        const uint32_t failure = ErrorFromErrno(errno);
        DestroyPort(port);
        return failure;
    }
    close(slave);
    return LinkPort(port, comNumber);
}

// The link leads to the terminal through this process (see ProcessBoundPath.h): once the hub
// is gone, however it went, nobody is led to whatever gets the terminal's number next.
uint32_t PtyPortSet::LinkPort(Port& port, uint32_t comNumber) {
    if (!HoldDevicePath(port.slave, port.held, port.target)) {
        const uint32_t failure = ErrorFromErrno(errno);
        DestroyPort(port);
        return failure;
    }
    const uint32_t result = directory_.Link(comNumber, port.target);
    if (result != error::success) {
        DestroyPort(port);
        return result;
    }
    port.comNumber = comNumber;
    return error::success;
}

void PtyPortSet::DestroyPort(Port& port) {
    if (port.comNumber != 0) {
        directory_.RemoveIf(port.comNumber, port.target);
    }
    if (port.held >= 0) {
        close(port.held);
    }
    if (port.master >= 0) {
        close(port.master); // clients now see a hang-up, as when a device goes away
    }
    port = Port{};
}

void PtyPortSet::Close() {
    if (!isOpen_ && recordFd_ < 0) {
        return;
    }
    for (Port& port : ports_) {
        DestroyPort(port);
    }
    if (recordFd_ >= 0) {
        // Emptied, never removed: removing a locked file would let two hubs lock two files.
        if (ftruncate(recordFd_, 0) != 0) {
            // Nothing to do: the next hub removes only links that still name our devices.
        }
        close(recordFd_);
        recordFd_ = -1;
    }
    isOpen_ = false;
    readOnly_ = false;
}

bool PtyPortSet::LinksIntact() const {
    if (!isOpen_) {
        return true;
    }
    struct stat record {};
    if (recordFd_ < 0 || fstat(recordFd_, &record) != 0 || record.st_nlink == 0) {
        return false;
    }
    for (const Port& port : ports_) {
        char device[comPathCapacity];
        bool present = false;
        if (port.comNumber != 0 &&
            (directory_.Resolve(port.comNumber, device, present) != error::success ||
             std::strcmp(device, port.target) != 0)) {
            return false;
        }
    }
    return true;
}

uint32_t PtyPortSet::RestoreLinks() {
    if (!isOpen_) {
        return error::success;
    }
    uint32_t result = directory_.Create();
    if (result != error::success) {
        return result;
    }
    struct stat record {};
    if (recordFd_ < 0 || fstat(recordFd_, &record) != 0 || record.st_nlink == 0) {
        if (recordFd_ >= 0) {
            close(recordFd_);
            recordFd_ = -1;
        }
        result = LockRecord();
        if (result != error::success) {
            Close();
            return result == error::genFailure ? error::alreadyExists : result;
        }
    }
    for (Port& port : ports_) {
        char device[comPathCapacity];
        bool present = false;
        // Only a missing link is made again; one naming something else now is somebody's.
        if (port.comNumber != 0 &&
            directory_.Resolve(port.comNumber, device, present) == error::fileNotFound) {
            directory_.Link(port.comNumber, port.target);
        }
    }
    WriteRecord();
    return error::success;
}

uint32_t PtyPortSet::LockRecord() {
    char path[comPathCapacity];
    if (std::snprintf(path, sizeof path, "%s/%s", directory_.Path(), portRecordName) >=
        static_cast<int>(sizeof path)) {
        return error::badPathName;
    }
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return ErrorFromErrno(errno);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        close(fd);
        return failure == EWOULDBLOCK ? error::genFailure : ErrorFromErrno(failure);
    }
    recordFd_ = fd;
    return error::success;
}

namespace {

// The lines "COM<n> <link target>" of a hub that did not close its ports (it crashed or was
// killed): its links are removed where they still name what it made them name.
void RemoveLinksInRecord(const ComDirectory& directory, int recordFd) {
    char text[2048];
    const ssize_t length = pread(recordFd, text, sizeof text - 1, 0);
    if (length <= 0) {
        return;
    }
    text[length] = '\0';
    char* save = nullptr;
    for (char* line = strtok_r(text, "\n", &save); line != nullptr;
         line = strtok_r(nullptr, "\n", &save)) {
        unsigned number = 0;
        char device[comPathCapacity];
        if (std::sscanf(line, "COM%u %511s", &number, device) == 2 && number != 0) {
            directory.RemoveIf(number, device);
        }
    }
    if (ftruncate(recordFd, 0) != 0) {
        // Rewritten in full by the next hub anyway.
    }
}

} // namespace

void PtyPortSet::RemoveRecordedLinks() {
    RemoveLinksInRecord(directory_, recordFd_);
}

uint32_t PtyPortSet::RemoveLinksLeftBehind(const ComDirectory& directory) {
    char path[comPathCapacity];
    if (!directory.IsValid() || std::snprintf(path, sizeof path, "%s/%s", directory.Path(),
                                              portRecordName) >= static_cast<int>(sizeof path)) {
        return error::badPathName;
    }
    const int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return errno == ENOENT ? error::success : ErrorFromErrno(errno);
    }
    uint32_t result = error::success;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result = errno == EWOULDBLOCK ? error::alreadyExists : ErrorFromErrno(errno);
    } else {
        RemoveLinksInRecord(directory, fd);
    }
    close(fd); // and the lock with it
    return result;
}

void PtyPortSet::WriteRecord() {
    char text[virtualPortCount * 96];
    size_t length = 0;
    for (const Port& port : ports_) {
        if (port.comNumber == 0) {
            continue;
        }
        const int written = std::snprintf(text + length, sizeof text - length, "COM%u %s\n",
                                          static_cast<unsigned>(port.comNumber), port.target);
        if (written > 0 && static_cast<size_t>(written) < sizeof text - length) {
            length += static_cast<size_t>(written);
        }
    }
    if (ftruncate(recordFd_, 0) != 0 ||
        pwrite(recordFd_, text, length, 0) != static_cast<ssize_t>(length)) {
        // Without the record a crash leaves the links behind; they dangle once we are gone
        // and are replaced by the next hub or ignored by the port map.
    }
}

// Which ports have a client, from the masters' hang-up state; a port whose last client just
// left is made fresh for the next one. At the tick (`tick`) the settings of every free port
// are checked too: a client may have come and gone between two looks (a `stty` run) and left
// echo on.
void PtyPortSet::UpdatePresence(bool tick) {
    pollfd entries[virtualPortCount];
    uint32_t indices[virtualPortCount];
    nfds_t count = 0;
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        if (ports_[i].master >= 0) {
            entries[count] = {ports_[i].master, 0, 0};
            indices[count++] = i;
        }
    }
    if (count == 0 || poll(entries, count, 0) < 0) {
        return;
    }
    for (nfds_t k = 0; k < count; ++k) {
        Port& port = ports_[indices[k]];
        const bool present = (entries[k].revents & (POLLHUP | POLLNVAL)) == 0;
        if (port.clientPresent && !present) {
            // What the last client left unread would reach the next one; settings it made
            // (echo, line editing) would stay with the port.
            uint32_t flushed = 0;
            FlushClientQueue(port, flushed);
            MakeRaw(port.master);
            port.echoing = false;
        } else if (!present && tick) {
            MakeRaw(port.master);
        }
        port.clientPresent = present;
    }
}

// Empties the slave's input queue (what the hub wrote and no client has read yet). The master
// side cannot reach that queue, so the hub opens the slave for a moment.
bool PtyPortSet::FlushClientQueue(const Port& port, uint32_t& flushed) const {
    flushed = 0;
    const int slave = open(port.slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        return false;
    }
    // Read out rather than only flushed, to count them: a read that finds nothing has waited
    // for the bytes the kernel still held for the queue, so the count is exact.
    uint8_t sink[4096];
    for (int reads = 0; reads < drainReadsMax; ++reads) {
        const ssize_t count = read(slave, sink, sizeof sink);
        if (count > 0) {
            flushed += static_cast<uint32_t>(count);
        } else if (!(count < 0 && errno == EINTR)) {
            break;
        }
    }
    const bool done = tcflush(slave, TCIFLUSH) == 0;
    close(slave);
    return done;
}

void PtyPortSet::Deliver(Port& port, const uint8_t* bytes, uint32_t length) {
    size_t done = WriteSome(port.master, bytes, length);
    if (done < length) {
        // The client stopped reading and its terminal is full: like the driver's ring, it
        // loses the backlog and goes on with the newest bytes. Only this port waits for
        // nothing: the others were (or will be) written without delay.
        uint32_t flushed = 0;
        if (FlushClientQueue(port, flushed)) {
            done += WriteSome(port.master, bytes + done, length - done);
        }
        port.counters.bytesDropped += flushed + (length - done);
    }
    ++port.deliveries;
    port.bytesDelivered += static_cast<uint32_t>(done);
    port.counters.bytesRelayed += done;
}

// True while the port's terminal echoes what it receives (its client turned ECHO on).
bool PtyPortSet::Echoes(const Port& port) {
    termios settings{};
    return tcgetattr(port.master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
}

uint32_t PtyPortSet::Collect(Port& port, uint8_t* into, uint32_t room) {
    uint32_t got = 0;
    while (got < room) {
        const ssize_t count = read(port.master, into + got, room - got);
        if (count > 0) {
            got += static_cast<uint32_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break; // EAGAIN: nothing more; EIO: closed and drained
        }
    }
    if (got == 0) {
        return 0;
    }
    port.echoing = Echoes(port);
    if (port.echoing) {
        // The terminal hands back everything relayed to it, mixed with what its client
        // writes: none of it may reach the receiver, which would be fed its own stream.
        port.counters.bytesRefused += got;
        Discard(port);
        return 0;
    }
    port.counters.bytesWritten += got;
    return got;
}

void PtyPortSet::Discard(Port& port) {
    uint8_t sink[1024];
    for (int reads = 0; reads < discardReadsMax; ++reads) {
        const ssize_t count = read(port.master, sink, sizeof sink);
        if (count > 0) {
            port.counters.bytesRefused += static_cast<uint64_t>(count);
        } else if (!(count < 0 && errno == EINTR)) {
            return;
        }
    }
}

uint32_t PtyPortSet::Exchange(DriverExchangeBlock& block) {
    if (!isOpen_) {
        return error::invalidHandle;
    }
    readOnly_ = (block.readOnly & 1) != 0;
    std::memset(&block, 0, sizeof block);
    block.version = driverInterfaceVersion;
    UpdatePresence(true);
    uint32_t length = 0;
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        Port& port = ports_[i];
        block.comNumber[i] = port.comNumber;
        if (port.master < 0) {
            continue;
        }
        if (port.clientPresent) {
            block.openCount[i] = 1;
            block.activity[i] = (port.deliveries << 16) | (port.bytesDelivered & 0xFFFFu);
        }
        if (perPort_) {
            continue; // the hub takes them with TakeClientBytes
        }
        if (readOnly_ && i != 0) {
            Discard(port);
        } else {
            length += Collect(port, block.clientData + length, exchangeDataCapacity - length);
        }
    }
    block.clientDataLength = length;
    return error::success;
}

uint32_t PtyPortSet::Broadcast(const uint8_t* bytes, uint32_t length) {
    if (!isOpen_) {
        return error::invalidHandle;
    }
    if (bytes == nullptr || length == 0) {
        return error::success;
    }
    // The ports known to have a client get the bytes first (this is the relay's hot path);
    // then a look at who came or went since: a newcomer gets them too, a port whose client
    // left is emptied for the next one as ever.
    bool delivered[virtualPortCount] = {};
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        Port& port = ports_[i];
        if (port.master >= 0 && port.clientPresent) {
            Deliver(port, bytes, length);
            delivered[i] = true;
        }
    }
    UpdatePresence(false);
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        Port& port = ports_[i];
        if (port.master >= 0 && port.clientPresent && !delivered[i]) {
            Deliver(port, bytes, length);
        }
    }
    return error::success;
}

bool PtyPortSet::CollectPerPort(bool on) {
    perPort_ = on;
    return on;
}

uint32_t PtyPortSet::TakeClientBytes(uint32_t index, uint8_t* into, uint32_t room) {
    if (!isOpen_ || !perPort_ || index >= virtualPortCount || ports_[index].master < 0 ||
        into == nullptr) {
        return 0;
    }
    Port& port = ports_[index];
    if (readOnly_ && index != 0) {
        Discard(port);
        return 0;
    }
    return Collect(port, into, room);
}

PtyPortSet& SystemPtyPortSet() {
    static PtyPortSet ports(ComDirectory::FromEnvironment());
    return ports;
}

} // namespace tavro::platform::posix

namespace tavro::platform {

ControlDevice& SystemControlDevice() {
    return posix::SystemPtyPortSet();
}

} // namespace tavro::platform
