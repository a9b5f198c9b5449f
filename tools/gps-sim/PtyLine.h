// The receiver's end of the line: the master side of a pseudo-terminal whose slave is linked
// into the COM directory as COM<n>. Its client sets the line speed on the slave; the master
// reads the same settings.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string>

namespace tavro::gpssim {

class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Creates the pseudo-terminal: raw, 8 bits, at `baud`. False with a message in `error`.
    bool Open(uint32_t baud, std::string& error);

    const std::string& SlavePath() const { return slavePath_; }

    // Waits up to `timeoutMs` for bytes from the client. `connected` tells whether any
    // program has the slave open; while none has, nothing is read or written.
    void Wait(int timeoutMs, bool& readable, bool& connected) const;

    // Reads what the client wrote (0 when nothing is there).
    size_t Read(char* buffer, size_t size) const;

    // Writes without blocking; returns how much the line took (less when the client does not
    // read and the terminal's buffers are full).
    size_t Write(const uint8_t* data, size_t size) const;

    // The line speed the client set; 0 when it cannot be read.
    uint32_t LineBaud() const;

private:
    int master_ = -1;
    std::string slavePath_;
};

} // namespace tavro::gpssim
