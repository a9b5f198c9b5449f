// Runs a piece of a test out of file descriptors: the process's limit is lowered to 256 and
// every free descriptor below it taken, until Release (or the end of the scope) gives them
// back and restores the limit.
#pragma once

#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace tavro::testing {

class DescriptorsTaken {
public:
    DescriptorsTaken() {
        lowered_ = getrlimit(RLIMIT_NOFILE, &saved_) == 0;
        rlimit low = saved_;
        low.rlim_cur = 256;
        lowered_ = lowered_ && setrlimit(RLIMIT_NOFILE, &low) == 0;
        for (int fd = dup(0); lowered_ && fd >= 0; fd = dup(0)) {
            taken_.push_back(fd);
        }
    }
    ~DescriptorsTaken() { Release(); }
    DescriptorsTaken(const DescriptorsTaken&) = delete;
    DescriptorsTaken& operator=(const DescriptorsTaken&) = delete;

    // False when the limit could not be lowered: the test cannot run out of descriptors.
    bool Taken() const { return lowered_ && !taken_.empty(); }

    void Release() {
        for (const int fd : taken_) {
            close(fd);
        }
        taken_.clear();
        if (lowered_) {
            setrlimit(RLIMIT_NOFILE, &saved_);
            lowered_ = false;
        }
    }

private:
    rlimit saved_{};
    bool lowered_ = false;
    std::vector<int> taken_;
};

} // namespace tavro::testing
