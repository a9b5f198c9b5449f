#include "hub/posix/command/CommandSocket.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/MonotonicClock.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/ProcPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

constexpr char lockName[] = ".TavroMsgWnd.lock";
constexpr int64_t acceptPauseMs = 50;

void PutLittleEndian(uint8_t (&bytes)[4], uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetLittleEndian(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The socket's address. A COM directory whose path is too long for sun_path (108 bytes) is
// reached through a descriptor of the directory (see ProcPaths.h), kept open in `directoryFd`
// until the caller has bound or connected.
bool SocketAddress(const ComDirectory& directory, sockaddr_un& address, int& directoryFd) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    directoryFd = -1;
    const int written = std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s",
                                      directory.Path(), hubWindowTitle);
    if (written > 0 && static_cast<size_t>(written) < sizeof address.sun_path) {
        return true;
    }
    return platform::posix::PathThroughFolderDescriptor(
        directory.Path(), hubWindowTitle, directoryFd, address.sun_path, sizeof address.sun_path);
}

bool SocketFilePresentAt(const char* path, uint64_t inode) {
    struct stat info {};
    return path[0] != '\0' && lstat(path, &info) == 0 && S_ISSOCK(info.st_mode) &&
           info.st_ino == inode;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

} // namespace

uint32_t CommandHandler::HandleQuery(uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                                     uint32_t& replyLength) {
    replyLength = 0;
    return error::invalidFunction;
}

CommandServer::~CommandServer() {
    Close();
}

uint32_t CommandServer::Listen(const ComDirectory& directory) {
    Close();
    directory_ = directory;
    return Bind();
}

uint32_t CommandServer::Relisten() {
    if (listener_ >= 0) {
        CloseIfOpen(listener_);
    }
    CloseIfOpen(lock_);
    socketPath_[0] = '\0';
    return Bind();
}

uint32_t CommandServer::Bind() {
    uint32_t result = directory_.Create();
    if (result != error::success) {
        return result;
    }
    char lockPath[comPathCapacity];
    if (std::snprintf(lockPath, sizeof lockPath, "%s/%s", directory_.Path(), lockName) >=
            static_cast<int>(sizeof lockPath) ||
        std::snprintf(socketPath_, sizeof socketPath_, "%s/%s", directory_.Path(),
                      hubWindowTitle) >= static_cast<int>(sizeof socketPath_)) {
        socketPath_[0] = '\0';
        return error::badPathName;
    }
    lock_ = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0) {
        result = ErrorFromErrno(errno);
        socketPath_[0] = '\0';
        return result;
    }
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        Close();
        return failure == EWOULDBLOCK ? error::alreadyExists : ErrorFromErrno(failure);
    }
    // The lock is ours, so a socket file still there belongs to a hub that is gone.
    unlink(socketPath_);
    sockaddr_un address{};
    int directoryFd = -1;
    if (!SocketAddress(directory_, address, directoryFd)) {
        CloseIfOpen(directoryFd);
        Close();
        return error::badPathName;
    }
    if (reserve_ < 0) {
        reserve_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The listen queue holds a burst of senders until slots are free.
    const bool bound =
        listener_ >= 0 &&
        bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        chmod(socketPath_, 0600) == 0 && listen(listener_, SOMAXCONN) == 0;
    const int failure = errno;
    CloseIfOpen(directoryFd);
    if (!bound) {
        Close();
        return ErrorFromErrno(failure);
    }
    struct stat info {};
    socketInode_ = stat(socketPath_, &info) == 0 ? info.st_ino : 0;
    return error::success;
}

bool CommandServer::SocketFilePresent() const {
    return listener_ >= 0 && SocketFilePresentAt(socketPath_, socketInode_);
}

void CommandServer::Close() {
    for (size_t slot = 0; slot < clientCapacity; ++slot) {
        DropClient(slot);
    }
    CloseIfOpen(reserve_);
    if (listener_ >= 0) {
        CloseIfOpen(listener_);
        // Only our own socket file: after the directory was made again by someone else, the
        // name may be another hub's.
        if (SocketFilePresentAt(socketPath_, socketInode_)) {
            unlink(socketPath_);
        }
    }
    // The lock file stays: removing it would let two hubs lock two different files.
    CloseIfOpen(lock_);
    socketPath_[0] = '\0';
    socketInode_ = 0;
}

size_t CommandServer::ClientCount() const {
    size_t count = 0;
    for (const Client& client : clients_) {
        count += client.fd >= 0 ? 1 : 0;
    }
    return count;
}

size_t CommandServer::SlotForNewClient(int64_t now) const {
    size_t oldest = clientCapacity;
    for (size_t slot = 0; slot < clientCapacity; ++slot) {
        const Client& client = clients_[slot];
        if (client.fd < 0) {
            return slot;
        }
        if (now - client.lastActivityMs >= evictionGraceMs &&
            (oldest == clientCapacity || client.lastActivityMs < clients_[oldest].lastActivityMs)) {
            oldest = slot;
        }
    }
    return oldest;
}

size_t CommandServer::AddToPollSet(pollfd* entries, size_t count, size_t capacity) const {
    // Without room for a new connection the listener would report the same waiting sender
    // over and over; it waits in the queue until the next tick frees a slot.
    const int64_t now = MonotonicMs();
    if (listener_ >= 0 && count < capacity && now >= acceptPausedUntilMs_ &&
        SlotForNewClient(now) < clientCapacity) {
        entries[count++] = {listener_, POLLIN, 0};
    }
    for (const Client& client : clients_) {
        if (client.fd >= 0 && count < capacity) {
            entries[count++] = {client.fd, static_cast<short>(POLLIN | POLLRDHUP), 0};
        }
    }
    return count;
}

void CommandServer::Service(const pollfd* entries, size_t count, CommandHandler& handler) {
    bool pendingAccept = false;
    for (size_t k = 0; k < count; ++k) {
        const pollfd& entry = entries[k];
        if (entry.revents == 0 || entry.fd < 0) {
            continue;
        }
        if (entry.fd == listener_) {
            pendingAccept = (entry.revents & POLLIN) != 0;
            continue;
        }
        for (size_t slot = 0; slot < clientCapacity; ++slot) {
            if (clients_[slot].fd != entry.fd) {
                continue;
            }
            if (entry.revents & POLLIN) {
                ServeClient(slot, (entry.revents & (POLLRDHUP | POLLHUP)) != 0, handler);
            } else if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                DropClient(slot);
            }
            break;
        }
    }
    const int64_t now = MonotonicMs();
    for (size_t slot = 0; slot < clientCapacity; ++slot) {
        if (clients_[slot].fd >= 0 && now - clients_[slot].lastActivityMs >= idleTimeoutMs) {
            DropClient(slot); // connected, and said nothing
        }
    }
    // Last, so that a number freed above and reused by accept is not mistaken for the old
    // connection within this call.
    if (pendingAccept) {
        AcceptWaiting(now, handler);
    }
}

void CommandServer::AcceptWaiting(int64_t now, CommandHandler& handler) {
    if (reserve_ < 0) {
        reserve_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    for (size_t accepted = 0; accepted < clientCapacity; ++accepted) {
        const size_t slot = SlotForNewClient(now);
        if (slot == clientCapacity) {
            return; // the rest wait in the queue
        }
        int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && errno == EMFILE && reserve_ >= 0) {
            // Out of descriptors: the one held in reserve takes a sender (tavro status among
            // them), so that the hub still answers; it is taken again once one is free.
            CloseIfOpen(reserve_);
            fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        }
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the waiting sender would be reported again at once; it
                // waits for the next tick (idle connections are closed meanwhile).
                acceptPausedUntilMs_ = now + acceptPauseMs;
                acceptFailure_ = errno;
            }
            return;
        }
        acceptFailure_ = 0;
        if (clients_[slot].fd >= 0) {
            // The quietest connection makes room, after what it may have sent meanwhile.
            ServeClient(slot, false, handler);
            DropClient(slot);
        }
        clients_[slot] = {fd, now};
        // A sender writes its request right after connecting: it is often there already.
        ServeClient(slot, false, handler);
    }
}

void CommandServer::ServeClient(size_t slot, bool hungUp, CommandHandler& handler) {
    Client& client = clients_[slot];
    if (client.fd < 0) {
        return;
    }
    // A zero-length message and an orderly shutdown both read as 0 bytes; the shutdown also
    // reports POLLRDHUP.
    const ssize_t length = recv(client.fd, message_, sizeof message_, MSG_DONTWAIT | MSG_TRUNC);
    if (length == 0 && hungUp) {
        DropClient(slot);
        return;
    }
    if (length < 0) {
        if (errno != EAGAIN && errno != EINTR) {
            DropClient(slot);
        }
        return;
    }
    uint32_t answer = error::invalidParameter;
    uint32_t replyLength = 0;
    if (length >= 4 && static_cast<size_t>(length) <= commandMessageMax) {
        const uint32_t code = GetLittleEndian(message_);
        const auto payloadLength = static_cast<uint32_t>(length - 4);
        if (code >= firstQueryCode) {
            answer = handler.HandleQuery(code, message_ + 4, payloadLength, reply_ + 4,
                                         queryReplyMax, replyLength);
            replyLength = replyLength <= queryReplyMax ? replyLength : 0;
        } else {
            answer = handler.HandleCommand(code, message_ + 4, payloadLength);
        }
    }
    uint8_t number[4];
    PutLittleEndian(number, answer);
    std::memcpy(reply_, number, sizeof number);
    const size_t replySize = sizeof number + replyLength;
    if (send(client.fd, reply_, replySize, MSG_DONTWAIT | MSG_NOSIGNAL) !=
        static_cast<ssize_t>(replySize)) {
        DropClient(slot); // it does not read its answers
        return;
    }
    client.lastActivityMs = MonotonicMs();
}

void CommandServer::DropClient(size_t slot) {
    CloseIfOpen(clients_[slot].fd);
    clients_[slot].lastActivityMs = 0;
}

uint32_t RemoveStaleSocket(const ComDirectory& directory) {
    char lockPath[comPathCapacity];
    char socketPath[comPathCapacity];
    if (!directory.IsValid() ||
        std::snprintf(lockPath, sizeof lockPath, "%s/%s", directory.Path(), lockName) >=
            static_cast<int>(sizeof lockPath) ||
        std::snprintf(socketPath, sizeof socketPath, "%s/%s", directory.Path(), hubWindowTitle) >=
            static_cast<int>(sizeof socketPath)) {
        return error::badPathName;
    }
    const int lock = open(lockPath, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) != 0) {
        close(lock);
        return error::alreadyExists;
    }
    struct stat info {};
    if (lstat(socketPath, &info) == 0 && S_ISSOCK(info.st_mode)) {
        unlink(socketPath);
    }
    if (lock >= 0) {
        close(lock);
    }
    return error::success;
}

bool HubListens(const ComDirectory& directory, int* pid) {
    sockaddr_un address{};
    int directoryFd = -1;
    bool listens = false;
    if (pid != nullptr) {
        *pid = 0;
    }
    if (directory.IsValid() && SocketAddress(directory, address, directoryFd)) {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        listens = fd >= 0 &&
                  connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (listens && pid != nullptr &&
            getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
            *pid = peer.pid;
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    CloseIfOpen(directoryFd);
    return listens;
}

uint32_t SendHubCommand(const ComDirectory& directory, uint32_t code, const void* payload,
                        uint32_t length, uint32_t& answer, int timeoutMs) {
    uint32_t ignored = 0;
    return QueryHub(directory, code, payload, length, answer, nullptr, 0, ignored, timeoutMs);
}

uint32_t QueryHub(const ComDirectory& directory, uint32_t code, const void* payload,
                  uint32_t length, uint32_t& answer, uint8_t* reply, uint32_t capacity,
                  uint32_t& replyLength, int timeoutMs) {
    answer = 0;
    replyLength = 0;
    if (length > commandPayloadMax || (payload == nullptr && length != 0)) {
        return error::invalidParameter;
    }
    if (!directory.IsValid()) {
        return error::badPathName;
    }
    sockaddr_un address{};
    int directoryFd = -1;
    if (!SocketAddress(directory, address, directoryFd)) {
        CloseIfOpen(directoryFd);
        return error::badPathName;
    }
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        CloseIfOpen(directoryFd);
        return ErrorFromErrno(errno);
    }
    const int64_t deadline = MonotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    timeval sendTimeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    const int connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int connectError = errno;
    CloseIfOpen(directoryFd);
    if (connected != 0) {
        close(fd);
        return connectError == ECONNREFUSED || connectError == ENOENT
                   ? error::fileNotFound
                   : ErrorFromErrno(connectError);
    }
    uint8_t header[4];
    PutLittleEndian(header, code);
    iovec parts[2] = {{header, sizeof header}, {const_cast<void*>(payload), length}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = length != 0 ? 2 : 1;
    const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(sizeof header + length)) {
        const uint32_t failure = sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)
                                     ? error::semTimeout
                                     : ErrorFromErrno(errno);
        close(fd);
        return sent < 0 ? failure : error::genFailure;
    }
    uint32_t result = error::semTimeout;
    for (;;) {
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0) {
            break;
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        uint8_t received[4 + queryReplyMax + 1];
        const ssize_t got = recv(fd, received, sizeof received, 0);
        if (got >= 4 && (got == 4 || reply != nullptr)) {
            answer = GetLittleEndian(received);
            replyLength = static_cast<uint32_t>(got - 4) <= capacity
                              ? static_cast<uint32_t>(got - 4)
                              : capacity;
            if (replyLength != 0) {
                std::memcpy(reply, received + 4, replyLength);
            }
            result = error::success;
        } else {
            result = error::genFailure; // the hub closed the connection or answered garbage
        }
        break;
    }
    close(fd);
    return result;
}

} // namespace tavro::platform::posix
