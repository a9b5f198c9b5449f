// A receiver recording to replay: the corpus format (leading "#" comment lines, then the
// receiver's bytes as they came), cut into units that are never split by inserted answers:
// NMEA lines through their LF, whole SiRF binary frames.
#pragma once

#include <stddef.h>
#include <string>
#include <vector>

namespace tavro::gpssim {

class Recording {
public:
    // Reads a file; false with a message in `error` when it cannot be read or holds no data.
    static bool Load(const std::string& path, Recording& recording, std::string& error);

    // The same from bytes in memory.
    static bool FromBytes(std::string bytes, Recording& recording, std::string& error);

    size_t UnitCount() const { return units_.size(); }
    const std::string& Unit(size_t index) const { return units_[index]; }
    size_t HeaderBytes() const { return headerBytes_; }
    size_t DataBytes() const { return dataBytes_; }

private:
    static constexpr size_t maxUnit = 1024;

    std::vector<std::string> units_;
    size_t headerBytes_ = 0;
    size_t dataBytes_ = 0;
};

// Plays a recording unit by unit, from the start again after the last.
class ReplayCursor {
public:
    explicit ReplayCursor(const Recording& recording) : recording_(recording) {}
    const std::string& Next();
    size_t Laps() const { return laps_; }
    // The last unit of a lap has been given out.
    bool LapDone() const { return next_ >= recording_.UnitCount(); }

private:
    const Recording& recording_;
    size_t next_ = 0;
    size_t laps_ = 0;
};

} // namespace tavro::gpssim
