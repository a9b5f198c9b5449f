#include "platform/posix/CommandSocket.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/PosixErrors.h"

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

void PutLittleEndian(uint8_t (&bytes)[4], uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetLittleEndian(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The socket's address. A COM directory whose path is too long for sun_path (108 bytes) is
// reached through /proc/self/fd and a descriptor of the directory, kept open in `directoryFd`
// until the caller has bound or connected.
bool SocketAddress(const ComDirectory& directory, sockaddr_un& address, int& directoryFd) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    directoryFd = -1;
    int written = std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s",
                                directory.Path(), hubWindowTitle);
    if (written > 0 && static_cast<size_t>(written) < sizeof address.sun_path) {
        return true;
    }
    directoryFd = open(directory.Path(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) {
        return false;
    }
    written = std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%s",
                            directoryFd, hubWindowTitle);
    return written > 0 && static_cast<size_t>(written) < sizeof address.sun_path;
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
    uint32_t result = directory.Create();
    if (result != error::success) {
        return result;
    }
    char lockPath[comPathCapacity];
    if (std::snprintf(lockPath, sizeof lockPath, "%s/%s", directory.Path(), lockName) >=
            static_cast<int>(sizeof lockPath) ||
        std::snprintf(socketPath_, sizeof socketPath_, "%s/%s", directory.Path(), hubWindowTitle) >=
            static_cast<int>(sizeof socketPath_)) {
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
    if (!SocketAddress(directory, address, directoryFd)) {
        CloseIfOpen(directoryFd);
        Close();
        return error::badPathName;
    }
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const bool bound =
        listener_ >= 0 &&
        bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        chmod(socketPath_, 0600) == 0 && listen(listener_, static_cast<int>(clientCapacity)) == 0;
    const int failure = errno;
    CloseIfOpen(directoryFd);
    if (!bound) {
        Close();
        return ErrorFromErrno(failure);
    }
    return error::success;
}

void CommandServer::Close() {
    for (size_t slot = 0; slot < clientCapacity; ++slot) {
        DropClient(slot);
    }
    if (listener_ >= 0) {
        CloseIfOpen(listener_);
        unlink(socketPath_);
    }
    // The lock file stays: removing it would let two hubs lock two different files.
    CloseIfOpen(lock_);
    socketPath_[0] = '\0';
}

size_t CommandServer::ClientCount() const {
    size_t count = 0;
    for (const int client : clients_) {
        count += client >= 0 ? 1 : 0;
    }
    return count;
}

size_t CommandServer::AddToPollSet(pollfd* entries, size_t count, size_t capacity) const {
    if (listener_ >= 0 && count < capacity) {
        entries[count++] = {listener_, POLLIN, 0};
    }
    for (const int client : clients_) {
        if (client >= 0 && count < capacity) {
            entries[count++] = {client, static_cast<short>(POLLIN | POLLRDHUP), 0};
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
            if (clients_[slot] != entry.fd) {
                continue;
            }
            if (entry.revents & POLLIN) {
                // A zero-length message and an orderly shutdown both read as 0 bytes; the
                // shutdown also reports POLLRDHUP.
                const bool hungUp = (entry.revents & (POLLRDHUP | POLLHUP)) != 0;
                const ssize_t length =
                    recv(clients_[slot], message_, sizeof message_, MSG_DONTWAIT | MSG_TRUNC);
                if (length == 0 && hungUp) {
                    DropClient(slot);
                } else if (length < 0) {
                    if (errno != EAGAIN && errno != EINTR) {
                        DropClient(slot);
                    }
                } else {
                    uint32_t answer = error::invalidParameter;
                    uint32_t replyLength = 0;
                    if (length >= 4 && static_cast<size_t>(length) <= commandMessageMax) {
                        const uint32_t code = GetLittleEndian(message_);
                        const auto payloadLength = static_cast<uint32_t>(length - 4);
                        if (code >= firstQueryCode) {
                            answer = handler.HandleQuery(code, message_ + 4, payloadLength,
                                                         reply_ + 4, queryReplyMax, replyLength);
                            replyLength = replyLength <= queryReplyMax ? replyLength : 0;
                        } else {
                            answer = handler.HandleCommand(code, message_ + 4, payloadLength);
                        }
                    }
                    uint8_t number[4];
                    PutLittleEndian(number, answer);
                    std::memcpy(reply_, number, sizeof number);
                    const size_t replySize = sizeof number + replyLength;
                    if (send(clients_[slot], reply_, replySize, MSG_DONTWAIT | MSG_NOSIGNAL) !=
                        static_cast<ssize_t>(replySize)) {
                        DropClient(slot); // it does not read its answers
                    }
                }
            } else if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                DropClient(slot);
            }
            break;
        }
    }
    // Last, so that a number freed above and reused by accept is not mistaken for the old
    // connection within this call.
    if (pendingAccept) {
        Accept();
    }
}

void CommandServer::Accept() {
    for (;;) {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            return;
        }
        size_t slot = 0;
        while (slot < clientCapacity && clients_[slot] >= 0) {
            ++slot;
        }
        if (slot == clientCapacity) {
            close(client); // the sender sees the connection end without an answer
            continue;
        }
        clients_[slot] = client;
    }
}

void CommandServer::DropClient(size_t slot) {
    CloseIfOpen(clients_[slot]);
}

bool HubListens(const ComDirectory& directory) {
    sockaddr_un address{};
    int directoryFd = -1;
    bool listens = false;
    if (directory.IsValid() && SocketAddress(directory, address, directoryFd)) {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        listens = fd >= 0 &&
                  connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
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
