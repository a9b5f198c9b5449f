// A client program for the end-to-end tests: opens a virtual port as an application would
// (raw), appends every byte it receives to a file, and writes to the port whatever arrives on
// its standard input. Ends on SIGTERM or at the end of its input.
//
//     tavro_test_client DEVICE OUTPUT
//
// OUTPUT is created only once the port is open, so its existence tells that the client is in
// place. Exit codes: 0 ended, 2 usage, 3 the port did not open.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

bool WriteAll(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        const ssize_t count = write(fd, bytes, length);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            pollfd entry{fd, POLLOUT, 0};
            poll(&entry, 1, 100);
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes += count;
        length -= static_cast<size_t>(count);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: tavro_test_client DEVICE OUTPUT\n", stderr);
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    const int port = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port < 0) {
        std::perror(argv[1]);
        return 3;
    }
    termios settings{};
    if (tcgetattr(port, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(port, TCSANOW, &settings);
    }
    const int output = open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (output < 0) {
        std::perror(argv[2]);
        return 3;
    }
    bool inputOpen = true;
    char buffer[4096];
    while (!stopRequested) {
        pollfd entries[2] = {{port, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(entries, inputOpen ? 2 : 1, 200) < 0) {
            continue;
        }
        if (entries[0].revents & POLLIN) {
            const ssize_t count = read(port, buffer, sizeof buffer);
            if (count > 0 && !WriteAll(output, buffer, static_cast<size_t>(count))) {
                return 3;
            }
        } else if (entries[0].revents & (POLLHUP | POLLERR)) {
            break; // the hub took the port away
        }
        if (inputOpen && (entries[1].revents & (POLLIN | POLLHUP))) {
            const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
            if (count > 0) {
                WriteAll(port, buffer, static_cast<size_t>(count));
            } else {
                inputOpen = false;
            }
        }
    }
    close(port);
    close(output);
    return 0;
}
