// What the verbs measure with: delay summaries, a reader thread that stamps every line, numbered
// sentences, and the check that a reader got a stream whole and in order.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdint.h>
#include <string>
#include <thread>
#include <vector>

namespace tavro::bench {

// Delays in nanoseconds and their summary.
struct Delays {
    std::vector<uint64_t> values;
    uint32_t missing = 0;
    // Milliseconds; NAN without values.
    double Percentile(double p) const;
    double Max() const;
    void Print(const char* name) const;
};

void PrintHeader();

// Reads the given descriptors on a thread of its own and stamps every line feed.
class Collector {
public:
    using LineHandler = void (*)(void* context, size_t reader, const std::string& line,
                                 uint64_t at);
    Collector(std::vector<int> fds, LineHandler handler, void* context);
    ~Collector() { Stop(); }
    void Stop();
    uint64_t Bytes(size_t reader) const { return bytes_[reader].load(); }

private:
    void Run();

    std::vector<int> fds_;
    std::vector<std::string> lines_;
    std::unique_ptr<std::atomic<uint64_t>[]> bytes_;
    LineHandler handler_;
    void* context_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// "$GPTXT,01,01,02,SEQ nnnnnn,..." carries its number.
std::string Numbered(uint32_t sequence, size_t padTo = 0);
int64_t SequenceOf(const std::string& line);

// Every reader's lines against the stream the receiver got (a Collector's handler): how far
// each matched, how many lines differed, and when each numbered line arrived.
struct StreamRun {
    StreamRun(const std::string& sent, size_t readers)
        : stream(&sent), offsets(readers, 0), mismatch(readers, 0), arrivals(readers) {}
    const std::string* stream;
    std::vector<size_t> offsets;
    std::vector<uint32_t> mismatch;
    std::mutex lock;
    std::vector<std::map<int64_t, uint64_t>> arrivals; // [reader][sequence]
    // Reader `reader` got exactly the stream.
    bool Complete(size_t reader) const {
        return offsets[reader] == stream->size() && mismatch[reader] == 0;
    }
};
void CheckStream(void* context, size_t reader, const std::string& line, uint64_t at);

} // namespace tavro::bench
