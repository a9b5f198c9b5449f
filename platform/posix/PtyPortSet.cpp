#include "platform/posix/PtyPortSet.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

// While a port is in use its open count is recounted this often even without an inotify
// report (exchanges, 50 ms each), in case a report was lost.
constexpr uint32_t recountExchanges = 20;
// A client that keeps writing while read-only drops its bytes: bound the reads per exchange.
constexpr int discardReadsMax = 64;

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

bool IsNumber(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

// Calls `visit` with the name of every entry of the open directory `fd` except . and ..,
// reading with a stack buffer (this runs on the hub's tick: no allocation).
template <typename Visit>
void ForEachEntry(int fd, Visit visit) {
    alignas(dirent64) char buffer[4096];
    for (;;) {
        const ssize_t length = getdents64(fd, buffer, sizeof buffer);
        if (length <= 0) {
            return;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
                visit(name);
            }
        }
    }
}

} // namespace

PtyPortSet::PtyPortSet(const ComDirectory& directory) : directory_(directory) {}

PtyPortSet::~PtyPortSet() {
    Close();
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
    if (name == nullptr || std::strcmp(name, controlDeviceName) != 0 || configured_[0] == 0) {
        return error::fileNotFound;
    }
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const uint32_t number = configured_[i];
        if (number > maxVirtualComNumber) {
            conflict_ = number;
            return error::invalidParameter;
        }
        for (uint32_t j = 0; number != 0 && j < i; ++j) {
            if (configured_[j] == number) {
                conflict_ = number;
                return error::alreadyExists;
            }
        }
    }
    if (!directory_.IsValid()) {
        return error::badPathName;
    }
    uint32_t result = directory_.Create();
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
    notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    isOpen_ = true; // from here on Close() undoes everything
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        if (configured_[i] == 0) {
            continue;
        }
        result = CreatePort(ports_[i], configured_[i]);
        if (result != error::success) {
            conflict_ = configured_[i];
            Close();
            return result;
        }
    }
    WriteRecord();
    usersStale_ = false;
    exchangesSinceCount_ = 0;
    return error::success;
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
    if (notify_ >= 0) {
        port.watch = inotify_add_watch(notify_, port.slave, IN_OPEN | IN_CLOSE);
    }
    const uint32_t result = directory_.Link(comNumber, port.slave);
    if (result != error::success) {
        DestroyPort(port);
        return result;
    }
    port.comNumber = comNumber;
    return error::success;
}

void PtyPortSet::DestroyPort(Port& port) {
    if (port.watch >= 0 && notify_ >= 0) {
        inotify_rm_watch(notify_, port.watch);
    }
    if (port.comNumber != 0) {
        directory_.RemoveIf(port.comNumber, port.slave);
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
    if (notify_ >= 0) {
        close(notify_);
        notify_ = -1;
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
             std::strcmp(device, port.slave) != 0)) {
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
            directory_.Link(port.comNumber, port.slave);
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

// The lines "COM<n> <device>" of a hub that did not close its ports (it crashed or was
// killed): its links are removed where they still name its devices.
void PtyPortSet::RemoveRecordedLinks() {
    char text[2048];
    const ssize_t length = pread(recordFd_, text, sizeof text - 1, 0);
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
            directory_.RemoveIf(number, device);
        }
    }
    if (ftruncate(recordFd_, 0) != 0) {
        // Rewritten in full by WriteRecord anyway.
    }
}

void PtyPortSet::WriteRecord() {
    char text[virtualPortCount * 96];
    size_t length = 0;
    for (const Port& port : ports_) {
        if (port.comNumber == 0) {
            continue;
        }
        const int written = std::snprintf(text + length, sizeof text - length, "COM%u %s\n",
                                          static_cast<unsigned>(port.comNumber), port.slave);
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
            FlushClientQueue(port);
            MakeRaw(port.master);
            port.echoing = false;
            port.users = 0;
            usersStale_ = true;
        } else if (!port.clientPresent && present) {
            port.users = 1; // at least; the count follows
            usersStale_ = true;
        } else if (!present && tick) {
            MakeRaw(port.master);
        }
        port.clientPresent = present;
    }
}

void PtyPortSet::UpdateUsers() {
    if (notify_ >= 0) {
        alignas(inotify_event) char events[1024];
        while (read(notify_, events, sizeof events) > 0) {
            usersStale_ = true; // an open or close of some slave: count again
        }
    }
    bool anyPresent = false;
    for (const Port& port : ports_) {
        anyPresent = anyPresent || port.clientPresent;
    }
    if (!anyPresent) {
        usersStale_ = false;
        exchangesSinceCount_ = 0;
        return;
    }
    if (++exchangesSinceCount_ >= recountExchanges) {
        usersStale_ = true;
    }
    if (!usersStale_) {
        return;
    }
    const char* devices[virtualPortCount] = {};
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        devices[i] = ports_[i].clientPresent ? ports_[i].slave : nullptr;
    }
    uint32_t users[virtualPortCount] = {};
    CountUsers(devices, users);
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        Port& port = ports_[i];
        // A client the scan cannot see (another user's) is still there: the port is open.
        port.users = port.clientPresent ? (users[i] > 0 ? users[i] : 1) : 0;
    }
    usersStale_ = false;
    exchangesSinceCount_ = 0;
}

void PtyPortSet::CountUsers(const char* const (&devices)[virtualPortCount],
                            uint32_t (&users)[virtualPortCount]) {
    for (uint32_t& count : users) {
        count = 0;
    }
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0) {
        return;
    }
    char self[16];
    std::snprintf(self, sizeof self, "%ld", static_cast<long>(getpid()));
    ForEachEntry(proc, [&](const char* process) {
        if (!IsNumber(process) || std::strcmp(process, self) == 0) {
            return;
        }
        char fdPath[300];
        if (std::snprintf(fdPath, sizeof fdPath, "%s/fd", process) >=
            static_cast<int>(sizeof fdPath)) {
            return;
        }
        const int fds = openat(proc, fdPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fds < 0) {
            return; // gone, or another user's
        }
        bool uses[virtualPortCount] = {};
        ForEachEntry(fds, [&](const char* descriptor) {
            // readlink names the open file without touching it (a stat could hang on a
            // network file system).
            char target[128];
            const ssize_t length = readlinkat(fds, descriptor, target, sizeof target - 1);
            if (length <= 0) {
                return;
            }
            target[length] = '\0';
            for (uint32_t i = 0; i < virtualPortCount; ++i) {
                if (devices[i] != nullptr && devices[i][0] != '\0' &&
                    std::strcmp(devices[i], target) == 0) {
                    uses[i] = true;
                }
            }
        });
        close(fds);
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            users[i] += uses[i] ? 1 : 0;
        }
    });
    close(proc);
}

// Empties the slave's input queue (what the hub wrote and no client has read yet). The master
// side cannot reach that queue, so the hub opens the slave for a moment.
bool PtyPortSet::FlushClientQueue(const Port& port) const {
    const int slave = open(port.slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        return false;
    }
    const bool flushed = tcflush(slave, TCIFLUSH) == 0;
    close(slave);
    return flushed;
}

void PtyPortSet::Deliver(Port& port, const uint8_t* bytes, uint32_t length) {
    size_t done = WriteSome(port.master, bytes, length);
    if (done < length && FlushClientQueue(port)) {
        // The client stopped reading and its terminal is full: like the driver's ring, it
        // loses the backlog and goes on with the newest bytes.
        done += WriteSome(port.master, bytes + done, length - done);
    }
    ++port.deliveries;
    port.bytesDelivered += static_cast<uint32_t>(done);
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
        Discard(port);
        return 0;
    }
    return got;
}

void PtyPortSet::Discard(Port& port) {
    uint8_t sink[1024];
    for (int reads = 0; reads < discardReadsMax; ++reads) {
        const ssize_t count = read(port.master, sink, sizeof sink);
        if (count <= 0 && !(count < 0 && errno == EINTR)) {
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
    UpdateUsers();
    uint32_t length = 0;
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        Port& port = ports_[i];
        block.comNumber[i] = port.comNumber;
        if (port.master < 0) {
            continue;
        }
        if (port.clientPresent) {
            block.openCount[i] = port.users;
            block.activity[i] = (port.deliveries << 16) | (port.bytesDelivered & 0xFFFFu);
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
    UpdatePresence(false);
    for (Port& port : ports_) {
        if (port.master >= 0 && port.clientPresent) {
            Deliver(port, bytes, length);
        }
    }
    return error::success;
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
