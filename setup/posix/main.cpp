// feltro: the receiver setup tool of the POSIX edition. It configures an MTK receiver through
// the running hub `tavro`, which owns the receiver's port.
#include "setup/posix/FeltroVerbs.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char overview[] =
    "usage: feltro VERB [ARGUMENTS] [--wait SECONDS]\n"
    "       feltro VERB --help | --help | --version\n"
    "\n"
    "Configures a receiver with a MediaTek (MTK) chipset through the running hub (tavro run).\n"
    "\n"
    "  status                 fix status, line speed, fix rate, sentence rates (when the\n"
    "                         receiver has reported them), line-load estimate, signal graph\n"
    "  query                  ask the receiver for its fix rate and sentence rates\n"
    "  baud SPEED             switch the receiver and the hub to SPEED\n"
    "  rate RATE              set the fix rate\n"
    "  nmea NAME=RATE ...     set sentence output rates\n"
    "  reset-nmea             restore the receiver's default sentence rates\n"
    "\n"
    "  --wait SECONDS         how long query, baud and nmea wait for the receiver or the hub\n"
    "\n"
    "Environment: TAVRO_DEVDIR (the hub's COM directory, with its command socket), TAVRO_SHM\n"
    "(name of the status block's shared memory), as for tavro.\n"
    "\n"
    "Exit codes: 0 done; 1 failed (hub not running, no answer); 2 usage.\n";

struct VerbHelp {
    const char* verb;
    const char* text;
};

constexpr VerbHelp verbHelp[] = {
    {"status", "usage: feltro status [--wait SECONDS]\n"
               "\n"
               "Fix status, line speed, fix rate, sentence rates (once the receiver has reported\n"
               "them), line-load estimate and a signal bar graph of the satellites in the fix.\n"
               "Waits up to 1.5 s for the receiver's answers.\n"
               "\n"
               "Exit codes: 0 shown; 1 hub not running; 2 usage.\n"},
    {"query", "usage: feltro query [--wait SECONDS]\n"
              "\n"
              "Asks the receiver for its fix rate and sentence rates ($PMTK400, $PMTK414) and\n"
              "prints its answers ($PMTK500, $PMTK514); waits up to 5 s.\n"
              "\n"
              "Exit codes: 0 both answered; 1 hub not running or no answer; 2 usage.\n"},
    {"baud",
     "usage: feltro baud SPEED [--wait SECONDS]\n"
     "\n"
     "Switches the receiver ($PMTK251) and then the hub to SPEED: 4800, 9600, 19200, 38400,\n"
     "57600 or 115200. Waits up to 10 s for the hub to read the receiver at it.\n"
     "\n"
     "Exit codes: 0 switched; 1 hub not running, or the hub still reads the old speed;\n"
     "2 usage.\n"},
    {"rate",
     "usage: feltro rate RATE\n"
     "\n"
     "Sets the fix rate ($PMTK300): 1-5 (Hz), 1Hz-5Hz, or the interval 1000, 500, 333, 250,\n"
     "200 (ms).\n"
     "\n"
     "Exit codes: 0 sent; 1 hub not running, or its receiver port is closed; 2 usage.\n"},
    {"nmea",
     "usage: feltro nmea NAME=RATE ... [--wait SECONDS]\n"
     "\n"
     "Sets sentence output rates ($PMTK314), RATE 0 (off) to 5 (every fifth fix), NAME one\n"
     "of GLL RMC VTG GGA GSA GSV GRS GST ZDA CHN. Sentences not named keep the receiver's\n"
     "rates (asked first, up to 3 s), or get their defaults when it does not answer.\n"
     "\n"
     "Exit codes: 0 sent; 1 hub not running, or its receiver port is closed; 2 usage.\n"},
    {"reset-nmea", "usage: feltro reset-nmea\n"
                   "\n"
                   "Restores the receiver's default sentence rates ($PMTK314,-1).\n"
                   "\n"
                   "Exit codes: 0 sent; 1 hub not running, or its receiver port is closed; 2 "
                   "usage.\n"},
};

} // namespace

int main(int argc, char** argv) {
    using namespace tavro::feltro;
    std::vector<std::string> words;
    int waitMs = -1;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--wait") == 0) {
            if (i + 1 >= argc || !ParseWaitSeconds(argv[i + 1], waitMs)) {
                std::fputs("feltro: --wait takes seconds from 0 to 60\n", stderr);
                return exitUsage;
            }
            ++i;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            help = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("feltro %s\n", TAVRO_VERSION);
            return exitOk;
        } else {
            words.emplace_back(argv[i]);
        }
    }
    // `feltro help VERB` is `feltro VERB --help`.
    if (!words.empty() && words.front() == "help") {
        help = true;
        words.erase(words.begin());
    }
    if (help) {
        for (const VerbHelp& entry : verbHelp) {
            if (!words.empty() && words.front() == entry.verb) {
                std::fputs(entry.text, stdout);
                return exitOk;
            }
        }
        std::fputs(overview, stdout);
        return exitOk;
    }
    if (words.empty()) {
        std::fputs(overview, stderr);
        return exitUsage;
    }
    const std::string verb = words.front();
    words.erase(words.begin());
    return RunVerb(verb, words, waitMs);
}
