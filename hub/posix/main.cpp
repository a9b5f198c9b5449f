// tavro: the POSIX edition of the hub, and the tools that go with it.
#include "hub/posix/cli/Verbs.h"
#include "hub/posix/config/ConfigCommand.h"
#include "hub/posix/host/LinkGuardian.h"
#include "platform/systemd/ServiceManager.h"

#include <cstdio>
#include <cstring>

namespace {

using namespace tavro::posixhub;

struct Verb {
    const char* name;
    int (*run)(int, char**);
    const char* summary; // one line of the overview
    const char* help;    // `tavro VERB --help`; null: made from the settings table
};

constexpr Verb verbs[] = {
    {"run", RunVerb, "run the hub in the foreground until SIGINT or SIGTERM",
     "usage: tavro run\n"
     "\n"
     "Runs the hub in the foreground: opens the input port (\"Port\" at \"Baud\"), makes the\n"
     "virtual ports (\"Port0\"..\"Port7\") and relays the receiver's bytes to them, until SIGINT\n"
     "or SIGTERM. What happens is logged on standard error, each line with the local time\n"
     "(without it when journald reads the stream). One hub per COM directory and status\n"
     "block: a second start hands over to the running hub and ends with 0 (with 1 when that\n"
     "hub does not answer: it is stopped or hung).\n"
     "\n"
     "SIGHUP: in a terminal it ends the hub; ignored at start (nohup) it stays ignored; under\n"
     "a service manager, or without a terminal, it makes the hub read its settings again.\n"
     "Under systemd (Type=notify) the hub reports ready, stopping and reloading, feeds the\n"
     "watchdog, and keeps its virtual ports' terminals in the descriptor store, so that a\n"
     "restart does not disturb their programs.\n"
     "\n"
     "Exit codes: 0 stopped by a signal, or handed over; 1 could not run (the COM directory\n"
     "cannot be made or was taken over, the command socket cannot be made, the running hub\n"
     "does not answer); 2 usage.\n"},
    {"status", StatusVerb, "what the hub does, and why the input port is closed",
     "usage: tavro status [--json] [--watch]\n"
     "\n"
     "The hub's state. First the main window's status line (\"NMEA Stream | 3D Fix | 9 SVs :07\",\n"
     "\"Port Doesn't Exist\", \"Hub not running\"), then the input port (COM number, speed,\n"
     "device, why it is closed and what to do about it), each virtual port (its link and\n"
     "terminal, how many programs have it open, bytes relayed and dropped), the options in\n"
     "effect and warnings.\n"
     "\n"
     "  --json    the same as one JSON object: numbers as short as they read back exactly,\n"
     "            time in ISO 8601 UTC, values the receiver has not reported yet null\n"
     "  --watch   show it again every second, in place on a terminal, until Ctrl-C (with\n"
     "            --json: one object per line)\n"
     "\n"
     "A hub that does not answer within a second (stopped or hung) is reported as \"hub not\n"
     "responding, pid N\" (--json: \"responding\": false).\n"
     "\n"
     "Exit codes: 0 hub running, input port open; 3 hub running, input port closed; 4 hub\n"
     "not running; 6 hub not responding; 2 usage.\n"},
    // Its help lists the settings from their table (ConfigHelp).
    {"config", ConfigVerb, "read and change the settings", nullptr},
    {"link", LinkVerb, "make COM<n> name a serial device",
     "usage: tavro link COM<n> DEVICE [--force]\n"
     "\n"
     "Makes COM<n> (n from 1 to 255) in the COM directory name DEVICE, a serial device such as\n"
     "/dev/ttyUSB0, /dev/ttyACM0 or a /dev/serial/by-id/ path (which keeps naming the same\n"
     "receiver after it is plugged in again). What is not a terminal device is refused.\n"
     "--force replaces a link to another device.\n"
     "\n"
     "Exit codes: 0 done; 1 failed; 2 usage.\n"},
    {"unlink", UnlinkVerb, "remove COM<n> from the COM directory",
     "usage: tavro unlink COM<n>\n"
     "\n"
     "Removes the link COM<n> from the COM directory. A virtual port of the running hub is\n"
     "refused: the hub would make it again (set its Port0..Port7 to 0 instead).\n"
     "\n"
     "Exit codes: 0 done; 1 no such link, or a virtual port of the running hub; 2 usage.\n"},
    {"send", SendVerb, "send a request to the running hub",
     "usage: tavro send COMMAND [ARGUMENT]\n"
     "\n"
     "Sends one request to the running hub and waits for its answer:\n"
     "  hold | release     hold or release the relay of receiver data to the virtual ports\n"
     "  inject SENTENCE    decode and relay SENTENCE as if the receiver had sent it (a\n"
     "                     sentence the hub cannot verify is reported and not relayed)\n"
     "  write TEXT         write TEXT to the receiver\n"
     "                     (inject and write add CR LF when TEXT has no line end)\n"
     "  baud SPEED         ask for a new line speed, one that \"Baud\" takes (applied at\n"
     "                     the next frame, and stored as \"Baud\")\n"
     "  raw CODE [HEX]     any request code with a payload given in hexadecimal\n"
     "\n"
     "Exit codes: 0 done; 1 failed (hub not running, request refused); 2 usage.\n"},
    {"find", FindVerb, "search every COM port and speed for a GPS receiver",
     "usage: tavro find [--apply]\n"
     "\n"
     "Tries every port of the COM directory at every speed, one thread per port, and reports\n"
     "the receiver (\"GPS on COM1 at 38400\"). --apply stores it as \"Port\" and \"Baud\". Not\n"
     "while a hub runs (it holds the receiver's port).\n"
     "\n"
     "Exit codes: 0 found; 1 no receiver found, or a hub runs; 2 usage.\n"},
    {"clean", CleanVerb, "remove what a hub that did not stop cleanly left behind",
     "usage: tavro clean\n"
     "\n"
     "Removes the virtual port links and the command socket that a hub which was killed left in\n"
     "the COM directory (they already lead nowhere). Links made by others, such as a\n"
     "receiver's, are kept. Does nothing while a hub runs there. The service's stop step runs\n"
     "it.\n"
     "\n"
     "Exit codes: 0 done (or a hub runs); 1 failed; 2 usage.\n"},
};

void PrintOverview(FILE* stream) {
    std::fputs("usage: tavro VERB [ARGUMENTS]\n"
               "       tavro VERB --help | --help | --version\n"
               "\n",
               stream);
    for (const Verb& verb : verbs) {
        std::fprintf(stream, "  %-8s %s\n", verb.name, verb.summary);
    }
    std::fputs(
        "\n"
        "Environment: TAVRO_DEVDIR (the COM directory; default $XDG_RUNTIME_DIR/tavro, else\n"
        "/tmp/tavro-$UID), XDG_CONFIG_HOME (settings in $XDG_CONFIG_HOME/tavro), TAVRO_SHM (name\n"
        "of the status block's shared memory, default TavroGPS).\n"
        "\n"
        "Exit codes: 0 done; 1 failed; 2 usage; 5 the settings file cannot be read or written\n"
        "(the reason is printed); status also 3 (input port closed), 4 (hub not running) and 6\n"
        "(hub not responding).\n",
        stream);
}

bool IsHelp(const char* argument) {
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintOverview(stderr);
        return exitUsage;
    }
    const char* name = argv[1];
    if (std::strcmp(name, "--version") == 0 || std::strcmp(name, "version") == 0) {
        std::printf("tavro %s\n", TAVRO_VERSION);
        return exitOk;
    }
    const bool helpVerb = std::strcmp(name, "help") == 0;
    if (IsHelp(name) || (helpVerb && argc == 2)) {
        PrintOverview(stdout);
        return exitOk;
    }
    if (std::strcmp(name, guardVerbName) == 0) {
        return GuardVerb(argc - 2, argv + 2);
    }
    // `tavro help VERB` is `tavro VERB --help`.
    if (helpVerb) {
        name = argv[2];
    }
    for (const Verb& verb : verbs) {
        if (std::strcmp(name, verb.name) != 0) {
            continue;
        }
        bool help = helpVerb;
        // Options end at "--": what follows is a value, even one that reads "--help".
        for (int i = 2; i < argc && !help && std::strcmp(argv[i], "--") != 0; ++i) {
            help = IsHelp(argv[i]);
        }
        if (help) {
            std::fputs(verb.help != nullptr ? verb.help : tavro::ConfigHelp().c_str(), stdout);
            if (verb.run == RunVerb && !tavro::platform::posix::ServiceManager::Built()) {
                std::printf("\nThis build has no systemd support: what the hub does under systemd "
                            "is %s.\n",
                            tavro::platform::posix::notAvailableHere);
            }
            return exitOk;
        }
        return verb.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "tavro: unknown verb \"%s\" (tavro --help lists them)\n", name);
    return exitUsage;
}
