// libFuzzer target: any byte stream, cut into frames as the input port cuts it and handed to
// ParseFrame under every combination of options and port state, with "Multi GNSS" off and on.
// The first byte chooses the combination; each frame is copied into a buffer of exactly its
// length plus the zero byte, so the sanitizers see any read or write outside it.
#include "hub/decode/FrameCutter.h"
#include "hub/decode/ParseFrame.h"
#include "tests/decode/FakeParserHost.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

using tavro::testing::FakeParserHost;

void ParseCopy(FakeParserHost& host, const uint8_t* frame, uint32_t length, bool injected) {
    std::vector<uint8_t> copy(frame, frame + length);
    copy.push_back(0);
    const size_t relayedBefore = host.relayed.size();
    tavro::ParseFrame(host, copy.data(), length, injected);
    // Only this frame, unchanged, may be relayed (with "Multi GNSS" on, its sentence: the
    // frame from a "$" or "!" on), and the frame must stay as it was.
    if (host.relayed.size() > relayedBefore + 1 || memcmp(copy.data(), frame, length) != 0 ||
        copy[length] != 0) {
        abort();
    }
    if (host.relayed.size() == relayedBefore + 1) {
        const std::string& relayed = host.relayed.back();
        const size_t skipped = length - relayed.size();
        if (relayed.size() > length ||
            (skipped != 0 && (!host.multiGnss || (relayed[0] != '$' && relayed[0] != '!'))) ||
            memcmp(relayed.data(), frame + skipped, relayed.size()) != 0) {
            abort();
        }
    }
}

void Run(const uint8_t* data, size_t size, bool multiGnss) {
    const uint8_t choice = data[0];
    FakeParserHost host;
    host.multiGnss = multiGnss;
    host.optionFlags = (choice & 0x01 ? tavro::optionNmeaFilter : 0) |
                       (choice & 0x02 ? tavro::optionAutoTimeSync : 0);
    host.relayHeld = choice & 0x04 ? 1 : 0;
    const bool injected = (choice & 0x08) != 0;
    host.requestedBaud = choice & 0x10 ? 9600 : 0;
    host.sirfMode = choice & 0x20 ? 1 : 0;
    host.block.fixValid = choice & 0x40 ? 1 : 0;
    host.checksumErrors = choice & 0x80 ? 5 : 0;
    host.block.fixState = 3;

    // Reads of up to 510 bytes with stream recognition, as the input port makes them.
    tavro::FrameCutter cutter;
    const uint8_t* stream = data + 1;
    const size_t streamSize = size - 1;
    for (size_t start = 0; start < streamSize; start += tavro::FrameCutter::maxFrameLength) {
        const size_t count =
            std::min<size_t>(tavro::FrameCutter::maxFrameLength, streamSize - start);
        for (size_t j = 0; j < count; ++j) {
            switch (tavro::RecogniseStreamStart(stream + start, count, j, host.multiGnss)) {
            case tavro::StreamStart::Nmea:
                cutter.terminator = tavro::nmeaTerminator;
                break;
            case tavro::StreamStart::Sirf:
                cutter.terminator = tavro::sirfTerminator;
                break;
            case tavro::StreamStart::None:
                break;
            }
            if (const uint32_t length = cutter.Append(stream[start + j])) {
                host.tick += 100; // a better talker's hold runs out now and then
                ParseCopy(host, cutter.Frame(), length, injected);
            }
        }
    }
    // The unfinished rest as one more frame, so that any short input is also a whole frame.
    if (cutter.PendingLength() != 0) {
        ParseCopy(host, cutter.Frame(), cutter.PendingLength(), injected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    Run(data, size, false);
    Run(data, size, true);
    return 0;
}
