// The time export of Tavro.exe as the Windows build of ntpd reads it: the mapping
// "Global\NTP<unit>" ("Local\NTP<unit>" below 2) holds the shmTime layout (96 bytes with 64-bit
// seconds), written with mode 1, and every sample read with the count/valid protocol is a valid
// fix's time with the moment it arrived: whole milliseconds (gps-sim's fractions), moving on one
// fix at a time, the arrival after the fix by less than two seconds, the count moved by two per
// sample.
//
// TavroTimeReader.exe <unit> <samples>
#include "platform/NtpShmLayout.h"
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

using namespace tavro;
using namespace tavro::wintest;

int main(int argc, char** argv) {
    TestReport report("TavroTimeReader");
    if (argc != 3) {
        fprintf(stderr, "usage: TavroTimeReader.exe <unit> <samples>\n");
        return 2;
    }
    const int unit = atoi(argv[1]);
    const int wanted = atoi(argv[2]);
    char name[32];
    snprintf(name, sizeof name, unit < 2 ? "Local\\NTP%d" : "Global\\NTP%d", unit);

    report.Section("the mapping %s", name);
    HANDLE mapping = nullptr;
    for (int i = 0; i < 300 && mapping == nullptr; ++i) {
        mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
        if (mapping == nullptr) {
            Sleep(100);
        }
    }
    if (!report.Check(mapping != nullptr, "Tavro.exe made %s (error %lu)", name,
                      static_cast<unsigned long>(mapping != nullptr ? 0 : GetLastError()))) {
        return report.Finish();
    }
    const auto* shm = static_cast<const platform::NtpShmTime*>(
        MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(platform::NtpShmTime)));
    MEMORY_BASIC_INFORMATION region{};
    if (!report.Check(shm != nullptr && VirtualQuery(shm, &region, sizeof region) != 0 &&
                          region.RegionSize >= sizeof(platform::NtpShmTime),
                      "it maps with room for the 96-byte layout")) {
        return report.Finish();
    }

    report.Section("samples read with the count/valid protocol");
    int read = 0;
    int torn = 0;
    platform::TimeSample last{};
    int32_t lastCount = 0;
    bool ordered = true;
    bool whole = true;
    bool arrived = true;
    bool counted = true;
    bool fields = true;
    for (int i = 0; i < 3000 && read < wanted; ++i) {
        platform::TimeSample sample;
        const int32_t count = shm->count;
        if (!platform::ReadNtpSample(*shm, sample)) {
            torn += shm->valid != 0 ? 1 : 0;
            Sleep(10);
            continue;
        }
        if (read > 0 && sample.clock.seconds == last.clock.seconds &&
            sample.clock.nanoseconds == last.clock.nanoseconds) {
            Sleep(10);
            continue; // the same sample again: the hub has not written the next
        }
        fields = fields && shm->mode == 1 && sample.precision == -10 && sample.samples == 3 &&
                 sample.leap == 0 &&
                 shm->clockTimeStampUSec == static_cast<int32_t>(sample.clock.nanoseconds / 1000);
        whole = whole && sample.clock.nanoseconds % 1000000 == 0;
        const int64_t lagNs = (sample.receive.seconds - sample.clock.seconds) * 1000000000 +
                              sample.receive.nanoseconds - sample.clock.nanoseconds;
        arrived = arrived && lagNs >= 0 && lagNs < 2000000000;
        counted = counted && count % 2 == 0;
        if (read > 0) {
            ordered = ordered && sample.clock.seconds > last.clock.seconds;
            counted = counted && count - lastCount >= 2;
        }
        report.Note("sample %d: clock %lld.%09u, received %.3f ms later, count %d", read + 1,
                    static_cast<long long>(sample.clock.seconds), sample.clock.nanoseconds,
                    static_cast<double>(lagNs) / 1e6, static_cast<int>(count));
        last = sample;
        lastCount = count;
        ++read;
        Sleep(10);
    }
    report.Check(read >= wanted, "%d samples read (%d asked for, %d torn reads)", read, wanted,
                 torn);
    report.Check(fields, "mode 1, precision -10, 3 samples, leap 0, microseconds beside ns");
    report.Check(whole, "each clock time is the fix's whole millisecond");
    report.Check(ordered, "each sample is a later fix");
    report.Check(arrived, "each arrived after its fix, by less than 2 s");
    report.Check(counted, "count is even between writes and moves by 2 per sample");
    UnmapViewOfFile(shm);
    CloseHandle(mapping);
    return report.Finish();
}
