#include "hub/posix/host/SystemEvents.h"

#include "hub/engine/GpsPort.h"
#include "platform/ErrorCodes.h"

#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>

namespace tavro::posixhub {
namespace {

// WM_POWERBROADCAST's values for the power path.
constexpr uintptr_t powerSuspend = 4;       // PBT_APMSUSPEND
constexpr uintptr_t powerResumeSuspend = 7; // PBT_APMRESUMESUSPEND

constexpr char serialById[] = "/dev/serial/by-id";

// The folder `path` lies in ("/dev/serial/by-id" for "/dev/serial/by-id/usb-...").
void FolderOf(const char* path, char (&folder)[platform::posix::comPathCapacity]) {
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr) {
        folder[0] = '\0';
    } else if (slash == folder) {
        folder[1] = '\0';
    } else {
        *slash = '\0';
    }
}

} // namespace

void ReceiverWatch::Refresh() {
    const uint32_t port = engine_.Context().settings.port;
    char device[platform::posix::comPathCapacity] = {};
    char folder[platform::posix::comPathCapacity] = {};
    bool present = false;
    if (port != 0 && directory_.Resolve(port, device, present) == error::success) {
        FolderOf(device, folder);
    }
    struct stat info {};
    const char* hotPlug = stat(serialById, &info) == 0 ? serialById : "/dev";
    // A link to a program's own terminal cannot be watched: it goes with the program, and the
    // link stays; the re-open finds out.
    const bool watchable = platform::posix::FolderWatch::CanWatch(folder);
    const char* folders[] = {directory_.Path(), watchable ? folder : nullptr, hotPlug};
    watch_.WatchFolders(folders, std::size(folders));
}

void ReceiverWatch::Changed() {
    HubContext& hub = engine_.Context();
    GpsPort* input = hub.inputPort.get();
    const uint32_t port = hub.settings.port;
    // A network source is no device here: the serial port's comings and goings are not its.
    if (input == nullptr || port == 0 || hub.search.scanning.load() != 0 || !hub.SourceIsSerial()) {
        return;
    }
    char device[platform::posix::comPathCapacity];
    bool present = false;
    const bool linked = directory_.Resolve(port, device, present) == error::success;
    if (!(linked && present)) {
        if (input->IsOpen()) {
            // Unplugged: the port is gone now, not at the next failed read.
            input->Close();
            hub.loop.lastStatus = refreshStatus;
        }
        return;
    }
    const bool batterySaverKeepsItClosed =
        (hub.settings.optionFlags & OptionFlags::batterySaver) != 0 && hub.loop.prevUsers <= 1;
    if (!input->IsOpen() && !batterySaverKeepsItClosed) {
        // Back: open it now, as the idle re-open would 7.5 s later.
        hub.loop.idleTicks = 0;
        hub.loop.dataTicks = 0;
        input->Open();
        hub.loop.lastStatus = refreshStatus;
    }
    if (!input->IsOpen()) {
        engine_.DeviceChanged(); // a search 0.5 s after the last change, as on Windows
    }
}

void ReceiverWatch::OnReady() {
    if (watch_.TakeChanges()) {
        Refresh();
        Changed();
    }
}

void SleepWatch::PrepareForSleep(bool sleeping) {
    if (sleeping) {
        engine_.PowerBroadcast(powerSuspend);
        signal_.ReleaseDelay(); // the port is closed: the system may sleep
    } else {
        engine_.PowerBroadcast(powerResumeSuspend);
        signal_.TakeDelay();
    }
}

void SystemEventSources::Start(EventLoop& loop) {
    loop_ = &loop;
    receiver_.Refresh();
    if (receiver_.Fd() >= 0) {
        loop.Watch(receiver_.Fd(), POLLIN, *this);
    }
    sleepWatched_ = sleep_.Start() && loop.Watch(sleep_.Fd(), sleep_.Events(), *this);
}

void SystemEventSources::Ticked() {
    if (sleepWatched_) {
        sleep_.OnReady();
        loop_->Rewatch(sleep_.Fd(), sleep_.Events());
    }
}

void SystemEventSources::FdReady(int fd, short) {
    if (fd == receiver_.Fd()) {
        receiver_.OnReady();
    } else if (sleepWatched_ && fd == sleep_.Fd()) {
        sleep_.OnReady();
        loop_->Rewatch(sleep_.Fd(), sleep_.Events());
    }
}

} // namespace tavro::posixhub
