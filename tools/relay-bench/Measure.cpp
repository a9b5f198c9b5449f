#include "tools/relay-bench/Measure.h"

#include "tools/relay-bench/Bench.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/epoll.h>
#include <unistd.h>

namespace tavro::bench {

double Delays::Percentile(double p) const {
    if (values.empty()) {
        return NAN;
    }
    std::vector<uint64_t> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const size_t index =
        std::min(sorted.size() - 1, static_cast<size_t>(std::ceil(p * sorted.size()) - 1));
    return sorted[index] / 1e6;
}

double Delays::Max() const {
    return values.empty() ? NAN : *std::max_element(values.begin(), values.end()) / 1e6;
}

void Delays::Print(const char* name) const {
    std::printf("%-34s %8.3f %8.3f %8.3f   %6zu", name, Percentile(0.5), Percentile(0.99), Max(),
                values.size());
    if (missing != 0) {
        std::printf("  (%u missing)", missing);
    }
    std::printf("\n");
}

void PrintHeader() {
    std::printf("%-34s %8s %8s %8s   %6s\n", "path", "p50 ms", "p99 ms", "max ms", "count");
}

Collector::Collector(std::vector<int> fds, LineHandler handler, void* context)
    : fds_(std::move(fds)), lines_(fds_.size()),
      bytes_(std::make_unique<std::atomic<uint64_t>[]>(fds_.size())), handler_(handler),
      context_(context) {
    thread_ = std::thread([this] { Run(); });
}

void Collector::Stop() {
    stop_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Collector::Run() {
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    for (size_t i = 0; i < fds_.size(); ++i) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, fds_[i], &event);
    }
    epoll_event events[16];
    char buffer[65536];
    while (!stop_.load()) {
        const int ready = epoll_wait(epoll, events, 16, 50);
        for (int k = 0; k < ready; ++k) {
            const size_t reader = events[k].data.u64;
            for (;;) {
                const ssize_t count = read(fds_[reader], buffer, sizeof buffer);
                if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
                    // The far end is gone: nothing more comes (and the wait would not rest).
                    epoll_ctl(epoll, EPOLL_CTL_DEL, fds_[reader], nullptr);
                }
                if (count <= 0) {
                    break;
                }
                const uint64_t at = NowNs();
                bytes_[reader] += static_cast<uint64_t>(count);
                std::string& line = lines_[reader];
                for (ssize_t j = 0; j < count; ++j) {
                    line += buffer[j];
                    if (buffer[j] == '\n') {
                        handler_(context_, reader, line, at);
                        line.clear();
                    }
                }
            }
        }
    }
    close(epoll);
}

std::string Numbered(uint32_t sequence, size_t padTo) {
    char body[64];
    std::snprintf(body, sizeof body, "GPTXT,01,01,02,SEQ %06u,", sequence);
    std::string text = body;
    while (padTo != 0 && text.size() + 6 < padTo) {
        text += 'x';
    }
    return Sentence(text);
}

int64_t SequenceOf(const std::string& line) {
    const size_t at = line.find("SEQ ");
    return at == std::string::npos ? -1 : std::atoll(line.c_str() + at + 4);
}

void CheckStream(void* context, size_t reader, const std::string& line, uint64_t at) {
    auto* run = static_cast<StreamRun*>(context);
    std::lock_guard guard(run->lock);
    size_t& offset = run->offsets[reader];
    if (offset > run->stream->size() || run->stream->compare(offset, line.size(), line) != 0) {
        ++run->mismatch[reader];
    }
    offset += line.size();
    const int64_t sequence = SequenceOf(line);
    if (sequence >= 0) {
        run->arrivals[reader].emplace(sequence, at);
    }
}

} // namespace tavro::bench
