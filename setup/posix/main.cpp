// feltro: the receiver setup tool of the POSIX edition. It configures an MTK receiver through
// the running hub `tavro`, which owns the receiver's port.
#include "setup/posix/FeltroVerbs.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char help[] =
    "usage: feltro VERB [ARGUMENTS] [--wait SECONDS]\n"
    "\n"
    "Configures a receiver with a MediaTek (MTK) chipset through the running hub (tavro run).\n"
    "\n"
    "  status                 fix status, line speed, fix rate, sentence rates (when the\n"
    "                         receiver has reported them), line-load estimate, signal graph\n"
    "  query                  ask the receiver for its fix rate and sentence rates ($PMTK400,\n"
    "                         $PMTK414) and print its answers ($PMTK500, $PMTK514); waits up\n"
    "                         to 5 s\n"
    "  baud SPEED             switch the receiver and the hub to SPEED ($PMTK251): 4800, 9600,\n"
    "                         19200, 38400, 57600 or 115200; waits up to 10 s for the hub\n"
    "  rate RATE              set the fix rate ($PMTK300): 1-5 (Hz), 1Hz-5Hz, or the interval\n"
    "                         1000, 500, 333, 250, 200 (ms)\n"
    "  nmea NAME=RATE ...     set sentence output rates ($PMTK314), RATE 0 (off) to 5 (every\n"
    "                         fifth fix), NAME one of GLL RMC VTG GGA GSA GSV GRS GST ZDA CHN;\n"
    "                         sentences not named keep the receiver's rates (asked first,\n"
    "                         up to 3 s), or get their defaults when it does not answer\n"
    "  reset-nmea             restore the receiver's default sentence rates ($PMTK314,-1)\n"
    "  help, --help           this text\n"
    "\n"
    "  --wait SECONDS         how long query, baud and nmea wait for the receiver or the hub\n"
    "\n"
    "Environment: TAVRO_DEVDIR (the hub's COM directory, with its command socket), TAVRO_SHM\n"
    "(name of the status block's shared memory), as for tavro.\n"
    "\n"
    "Exit codes: 0 done; 1 failed (hub not running, no answer); 2 usage.\n";

} // namespace

int main(int argc, char** argv) {
    using namespace tavro::feltro;
    std::vector<std::string> words;
    int waitMs = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--wait") == 0) {
            if (i + 1 >= argc || !ParseWaitSeconds(argv[i + 1], waitMs)) {
                std::fputs("feltro: --wait takes seconds from 0 to 60\n", stderr);
                return exitUsage;
            }
            ++i;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(help, stdout);
            return exitOk;
        } else {
            words.emplace_back(argv[i]);
        }
    }
    if (words.empty()) {
        std::fputs(help, stderr);
        return exitUsage;
    }
    const std::string verb = words.front();
    words.erase(words.begin());
    if (verb == "help") {
        std::fputs(help, stdout);
        return exitOk;
    }
    return RunVerb(verb, words, waitMs);
}
