// The Linux event sources of the engine's existing reactions:
//
// - ReceiverWatch: the receiver's link and the folders it leads into are watched (inotify),
//   so that a receiver unplugged and plugged in again is noticed at once instead of at the
//   next re-open 7.5 s later. When the link leads to a device again and the input port is
//   closed, it is opened at once; while it stays closed, the device-change path runs as on
//   Windows (a GPS search 0.5 s after the last change). When the device goes while the port
//   is open, the port is closed at once. Battery Saver's choice to keep the port closed is
//   left alone.
// - SleepWatch: logind's PrepareForSleep drives the power path: going to sleep closes the
//   input port and stops the restart devices (before the delay lock is let go), waking
//   starts them and re-opens the port 1.5 s later.
//
// Each gives the event loop a descriptor; OnReady handles what it reported.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/posix/host/EventLoop.h"
#include "platform/linux/FolderWatch.h"
#include "platform/posix/ComDirectory.h"
#include "platform/systemd/SleepSignal.h"

#include <stdint.h>

namespace tavro::posixhub {

class ReceiverWatch {
public:
    ReceiverWatch(HubEngine& engine, const platform::posix::ComDirectory& directory)
        : engine_(engine), directory_(directory) {}

    int Fd() const { return watch_.Fd(); }

    // Watches the COM directory, the folder the input port's link leads into, and
    // /dev/serial/by-id (or /dev, until that exists). Again whenever "Port" or the link changed.
    void Refresh();

    // Looks at the input port's link now and acts on what it finds.
    void Changed();

    // The descriptor is readable.
    void OnReady();

private:
    HubEngine& engine_;
    platform::posix::ComDirectory directory_;
    platform::posix::FolderWatch watch_;
};

class SleepWatch final : private platform::posix::SleepSignal::Listener {
public:
    explicit SleepWatch(HubEngine& engine) : engine_(engine) {}

    // Listens on the system bus; false when there is none (nothing arrives then).
    bool Start() { return signal_.Connect(*this); }

    int Fd() const { return signal_.Fd(); }
    short Events() const { return signal_.Events(); }

    // The descriptor is ready, or a tick passed (the bus's own time-outs).
    void OnReady() { signal_.Process(); }

private:
    void PrepareForSleep(bool sleeping) override;

    HubEngine& engine_;
    platform::posix::SleepSignal signal_;
};

// Both sources on the event loop.
class SystemEventSources final : public FdHandler {
public:
    SystemEventSources(HubEngine& engine, const platform::posix::ComDirectory& directory)
        : receiver_(engine, directory), sleep_(engine) {}

    // Once the hub runs: the watches start (without a system bus, only the receiver's).
    void Start(EventLoop& loop);
    // After every tick: the bus's own time-outs.
    void Ticked();
    // "Port" or the COM directory changed: other folders to watch.
    void Refresh() { receiver_.Refresh(); }

    void FdReady(int fd, short revents) override;

private:
    EventLoop* loop_ = nullptr;
    ReceiverWatch receiver_;
    SleepWatch sleep_;
    bool sleepWatched_ = false;
};

} // namespace tavro::posixhub
