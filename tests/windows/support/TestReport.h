// Self-checking output for the Win32 test programs (GoogleTest is not available for the
// cross toolchain): one line per check, a summary line, and the exit code.
#pragma once

#include <stdarg.h>

namespace tavro::wintest {

class TestReport {
public:
    explicit TestReport(const char* program);

    // Prints "  ok    <text>" or "  FAIL  <text>" and returns the condition.
    bool Check(bool condition, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Prints a heading for the checks that follow.
    void Section(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Informational line (timings, codes).
    void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));

    int Failures() const { return failures; }
    // Prints "PASS <program> (n checks)" or "FAIL <program> (k of n checks failed)" and
    // returns the process exit code (0 or 1).
    int Finish();

private:
    const char* program;
    int checks = 0;
    int failures = 0;
};

} // namespace tavro::wintest
