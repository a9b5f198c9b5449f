// tavro: the POSIX edition of the hub, and the tools that go with it.
#include "hub/posix/Verbs.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char help[] =
    "usage: tavro VERB [ARGUMENTS]\n"
    "\n"
    "  run [--hide]               run the hub in the foreground until SIGINT or SIGTERM\n"
    "                             (--hide is accepted; there is no window to hide)\n"
    "  status [--json]            the hub's status line, or the status block as JSON\n"
    "  config list                all settings\n"
    "  config get NAME            one setting\n"
    "  config set NAME VALUE      change a setting (read by the hub when it starts)\n"
    "  link COM<n> DEVICE [--force]\n"
    "                             make COM<n> name a serial device (e.g. /dev/ttyUSB0)\n"
    "  unlink COM<n>              remove COM<n> from the COM directory\n"
    "  send COMMAND [ARGUMENT]    send a command to the running hub and wait for its answer:\n"
    "       hold | release        hold or release the relay of receiver data\n"
    "       inject SENTENCE       decode and relay SENTENCE as if the receiver had sent it\n"
    "       write TEXT            write TEXT to the receiver\n"
    "                             (inject and write add CR LF when TEXT has no line end)\n"
    "       baud SPEED            ask for a new line speed (applied at the next frame)\n"
    "       toggle                message 1025: toggle the main window\n"
    "       raw CODE [HEX]        any request code with a payload given in hex\n"
    "  find [--apply]             search every COM port and speed for a GPS receiver (not\n"
    "                             while a hub runs); --apply makes it the input port\n"
    "  help                       this text\n"
    "\n"
    "Settings: Port, Baud, Logging, Sync, LogPath, Version, Sum, VSyncDelay, Bluetooth,\n"
    "Port0..Port7 (the COM numbers of virtual ports 1-8), and the options \"NMEA Filter\",\n"
    "\"Battery Saver\", \"Read Only (2-8)\", \"Auto Time Sync\", \"Video Reset\" (on/off; also\n"
    "written nmea-filter, battery-saver, read-only, auto-time-sync, video-reset).\n"
    "\n"
    "Environment: TAVRO_DEVDIR (the COM directory; default $XDG_RUNTIME_DIR/tavro, else\n"
    "/tmp/tavro-$UID), XDG_CONFIG_HOME (settings in $XDG_CONFIG_HOME/tavro), TAVRO_SHM (name\n"
    "of the status block's shared memory, default TavroGPS).\n"
    "\n"
    "Exit codes: 0 done; 1 failed (status: hub not running; find: no receiver); 2 usage;\n"
    "5 the settings file cannot be read or written (the reason is printed).\n";

} // namespace

int main(int argc, char** argv) {
    using namespace tavro::posixhub;
    if (argc < 2) {
        std::fputs(help, stderr);
        return exitUsage;
    }
    const char* verb = argv[1];
    struct Entry {
        const char* name;
        int (*run)(int, char**);
    };
    static constexpr Entry verbs[] = {
        {"run", RunVerb},       {"status", StatusVerb}, {"config", ConfigVerb}, {"link", LinkVerb},
        {"unlink", UnlinkVerb}, {"send", SendVerb},     {"find", FindVerb},
    };
    for (const Entry& entry : verbs) {
        if (std::strcmp(verb, entry.name) == 0) {
            return entry.run(argc - 2, argv + 2);
        }
    }
    if (std::strcmp(verb, "help") == 0 || std::strcmp(verb, "--help") == 0 ||
        std::strcmp(verb, "-h") == 0) {
        std::fputs(help, stdout);
        return exitOk;
    }
    std::fprintf(stderr, "tavro: unknown verb \"%s\" (tavro help lists them)\n", verb);
    return exitUsage;
}
