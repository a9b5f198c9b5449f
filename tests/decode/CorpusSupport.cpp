#include "tests/decode/CorpusSupport.h"

#include "hub/decode/FrameCutter.h"
#include "tests/support/Corpus.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace tavro::testing {

std::string CorpusDir() {
    return CorpusRoot();
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

size_t HeaderLength(std::string_view recording) {
    size_t at = 0;
    while (at < recording.size() && recording[at] == '#') {
        const size_t end = recording.find('\n', at);
        if (end == std::string_view::npos) {
            return recording.size();
        }
        at = end + 1;
    }
    return at;
}

std::vector<CutFrame> CutLikePoll(std::string_view stream, size_t readSize, uint8_t* streamState,
                                  bool multiGnss) {
    std::vector<CutFrame> frames;
    FrameCutter cutter;
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    for (size_t readStart = 0; readStart < stream.size(); readStart += readSize) {
        const size_t count = std::min(readSize, stream.size() - readStart);
        const uint8_t* read = bytes + readStart;
        for (size_t j = 0; j < count; ++j) {
            switch (RecogniseStreamStart(read, count, j, multiGnss)) {
            case StreamStart::Nmea:
                cutter.terminator = nmeaTerminator;
                if (streamState != nullptr) {
                    *streamState = static_cast<uint8_t>(StreamState::NmeaStream);
                }
                break;
            case StreamStart::Sirf:
                cutter.terminator = sirfTerminator;
                if (streamState != nullptr) {
                    *streamState = static_cast<uint8_t>(StreamState::SirfStream);
                }
                break;
            case StreamStart::None:
                break;
            }
            if (const uint32_t length = cutter.Append(read[j])) {
                const size_t end = readStart + j + 1;
                frames.push_back({end - length, std::string(stream.substr(end - length, length))});
            }
        }
    }
    return frames;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

namespace {

size_t FindMember(std::string_view json, std::string_view key) {
    const std::string quoted = "\"" + std::string(key) + "\":";
    const size_t at = json.find(quoted);
    return at == std::string_view::npos ? at : at + quoted.size();
}

} // namespace

std::optional<double> JsonNumber(std::string_view json, std::string_view key) {
    const size_t at = FindMember(json, key);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string text(json.substr(at, 40));
    char* end = nullptr;
    const double value = strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> JsonString(std::string_view json, std::string_view key) {
    const size_t at = FindMember(json, key);
    if (at == std::string_view::npos || at >= json.size() || json[at] != '"') {
        return std::nullopt;
    }
    const size_t end = json.find('"', at + 1);
    return std::string(json.substr(at + 1, end - at - 1));
}

std::vector<std::string_view> JsonObjects(std::string_view json, std::string_view key) {
    std::vector<std::string_view> objects;
    size_t at = FindMember(json, key);
    if (at == std::string_view::npos || json[at] != '[') {
        return objects;
    }
    const size_t end = json.find(']', at);
    while (true) {
        const size_t open = json.find('{', at);
        if (open == std::string_view::npos || open > end) {
            return objects;
        }
        const size_t close = json.find('}', open);
        objects.push_back(json.substr(open, close - open + 1));
        at = close + 1;
    }
}

std::optional<std::string> TsvMember(std::string_view fields, std::string_view key) {
    const std::string prefix = std::string(key) + "=";
    size_t at = 0;
    while (at < fields.size()) {
        size_t end = fields.find(' ', at);
        if (end == std::string_view::npos) {
            end = fields.size();
        }
        const std::string_view member = fields.substr(at, end - at);
        if (member.substr(0, prefix.size()) == prefix) {
            return std::string(member.substr(prefix.size()));
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (true) {
        const size_t end = text.find(separator, at);
        parts.emplace_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) {
            return parts;
        }
        at = end + 1;
    }
}

} // namespace tavro::testing
