#include "tests/windows/support/TestReport.h"

#include <stdio.h>

namespace tavro::wintest {

TestReport::TestReport(const char* program) : program(program) {
    printf("=== %s\n", program);
    fflush(stdout);
}

bool TestReport::Check(bool condition, const char* format, ...) {
    ++checks;
    if (!condition) {
        ++failures;
    }
    printf(condition ? "  ok    " : "  FAIL  ");
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    printf("\n");
    fflush(stdout);
    return condition;
}

void TestReport::Section(const char* format, ...) {
    printf("-- ");
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    printf("\n");
    fflush(stdout);
}

void TestReport::Note(const char* format, ...) {
    printf("        ");
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    printf("\n");
    fflush(stdout);
}

int TestReport::Finish() {
    if (failures == 0 && checks > 0) {
        printf("PASS %s (%d checks)\n", program, checks);
    } else {
        printf("FAIL %s (%d of %d checks failed)\n", program, failures, checks);
    }
    fflush(stdout);
    return failures == 0 && checks > 0 ? 0 : 1;
}

} // namespace tavro::wintest
