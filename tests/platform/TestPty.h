// Test helpers: a pseudo-terminal pair standing in for a serial device, and a private COM
// directory per test.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace tavro::testing {

class TestPty {
public:
    TestPty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        slavePath_ = ptsname(master_);
        // Raw from the start, as the simulator makes its line: no echo, no line editing.
        termios settings{};
        tcgetattr(master_, &settings);
        cfmakeraw(&settings);
        tcsetattr(master_, TCSANOW, &settings);
    }
    ~TestPty() {
        if (master_ >= 0) {
            close(master_);
        }
    }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    bool Valid() const { return master_ >= 0 && !slavePath_.empty(); }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Writes all of `bytes` to the master side (the device "sends" them).
    bool Send(const std::string& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t count = write(master_, bytes.data() + done, bytes.size() - done);
            if (count <= 0) {
                return false;
            }
            done += static_cast<size_t>(count);
        }
        return true;
    }

    // Collects what arrives on the master side until `size` bytes are there or `timeout`
    // passes (the device "receives").
    std::string Receive(size_t size, std::chrono::milliseconds timeout) const {
        std::string received;
        const auto end = std::chrono::steady_clock::now() + timeout;
        char buffer[4096];
        while (received.size() < size && std::chrono::steady_clock::now() < end) {
            const ssize_t count = read(master_, buffer, sizeof buffer);
            if (count > 0) {
                received.append(buffer, static_cast<size_t>(count));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        return received;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

// A fresh COM directory named by TAVRO_DEVDIR for the life of the object.
class TestComDirectory {
public:
    TestComDirectory() {
        char pattern[] = "/tmp/tavro-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
        const char* previous = std::getenv("TAVRO_DEVDIR");
        hadPrevious_ = previous != nullptr;
        previous_ = previous != nullptr ? previous : "";
        setenv("TAVRO_DEVDIR", path_.c_str(), 1);
    }
    ~TestComDirectory() {
        if (hadPrevious_) {
            setenv("TAVRO_DEVDIR", previous_.c_str(), 1);
        } else {
            unsetenv("TAVRO_DEVDIR");
        }
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TestComDirectory(const TestComDirectory&) = delete;
    TestComDirectory& operator=(const TestComDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string Link(unsigned comNumber) const {
        return path_ + "/COM" + std::to_string(comNumber);
    }
    bool AddLink(unsigned comNumber, const std::string& target) const {
        return symlink(target.c_str(), Link(comNumber).c_str()) == 0;
    }

private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Polls `condition` until it holds or `timeout` passes; the pseudo-terminal hands bytes over
// asynchronously, so counts settle a moment after a write.
template <typename Condition>
bool Eventually(Condition condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace tavro::testing
