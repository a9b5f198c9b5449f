// "Find GPS": finds the COM port and line speed of a receiver without asking the user. Every
// present COM port is tried at once, one thread per port; each thread holds its port
// exclusively and walks through speedTable until what the port delivers holds the start of an
// NMEA sentence or a SiRF binary frame. The first thread to recognise a stream publishes its
// port and speed and the others stop.
//
// The search values (portScanState, scanThreadCount, foundPort/foundBaud...) live in the
// HubContext, where the timer loop and the main window read them; this object starts and
// cancels searches, runs the scanning threads and owns what a search needs while it runs (the
// found event, the thread bodies, ports whose handle a cancel took).
//
// How a main window uses it (all on the hub's main thread):
//
//     "Find GPS" button:     search.FindGps();            // ignored while threads run
//     every tick (engine):   search.FindWhenDue();
//     first run:             hub.search.applySearchResult = 1; search.StartSearch();
//     every 200 ms:          if (search.ThreadsRunning()) {
//                                FormatSearchProgress(hub.search, text);   // show text
//                            } else if (search.ApplySearchResult(outcome)) {
//                                // show outcome.statusText; if outcome.found, select the
//                                // new "Port" and "Baud" in the lists
//                            }
//     close box / Escape:    if (search.ThreadsRunning()) search.CancelSearch();
#pragma once

#include "hub/engine/ComNumbering.h"
#include "hub/engine/HubContext.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortMap.h"
#include "platform/Threads.h"

#include <atomic>
#include <memory>
#include <stdint.h>

namespace tavro {

class GpsPort;

// What applying a finished search did, for the main window's status line.
struct SearchOutcome {
    static constexpr uint32_t textSize = 48;

    bool found = false;             // "Port" and "Baud" now name the receiver
    char statusText[textSize] = {}; // "GPS on COM%d at %d" or "No GPS Found"
};

class GpsSearch {
public:
    // Stack of each scanning thread.
    static constexpr uint32_t scanStackSize = 8192;
    // An open that takes longer than this marks the port as a Bluetooth link.
    static constexpr uint32_t slowOpenMs = 800;
    // At each speed: up to 13 waits of 100 ms, fewer once this many bytes are queued.
    static constexpr uint32_t waitsPerSpeed = 13;
    static constexpr uint32_t waitMs = 100;
    static constexpr uint32_t enoughBytes = 90;
    // Each thread's read buffer, and the most it reads at one speed.
    static constexpr uint32_t readBufferSize = 256;
    static constexpr uint32_t readLimit = 254;
    // "Find GPS" lets the closed input port settle this long before the search.
    static constexpr uint32_t findGpsPause = 100;

    // `threads` null: no thread can be made, so every search ends at once having found nothing.
    GpsSearch(HubContext& hub, platform::SerialPortMap& serialPortMap, platform::Threads* threads);
    // Cancels a running search and waits for its threads (they use the HubContext); a thread
    // inside a slow open (a Bluetooth link) holds this up until its open returns.
    ~GpsSearch();
    GpsSearch(const GpsSearch&) = delete;
    GpsSearch& operator=(const GpsSearch&) = delete;

    // StartSearch: foundPort 0, scanning 1, a new found event; the port map is scanned afresh
    // (portScanState and ComDbBitmap cleared first, then the hook); one thread per present
    // port, the hub's own virtual ports left out while the control device is open (their state
    // stays 1). Returns at once. A port whose thread cannot be made is not counted and shows as
    // given up (state 0). Returns false, changing nothing, while threads of an earlier search
    // still run: they share the per-port values with the new one.
    bool StartSearch();

    // The main window's "Find GPS": ignored (false) while threads run; otherwise closes the
    // input port with its log and asks the tray for a refresh (lastStatus 5). 100 ms later,
    // so that the port settles without a sleep on the loop thread, FindWhenDue sets
    // applySearchResult and starts a search.
    bool FindGps();
    // The timer loop, every tick: the search FindGps asked for once its pause is over; true
    // when it started.
    bool FindWhenDue();

    // Closes every port a scanning thread holds, so that each thread's next read fails and it
    // ends as for a silent port; threads still opening their port end as soon as the open
    // returns. Nothing found after the cancel is published. Returns at once.
    void CancelSearch();

    // scanThreadCount is not 0.
    bool ThreadsRunning() const;

    // Once every thread has ended: releases the found event and the ports left to this object
    // by cancelled threads. Returns whether there was a found event, i.e. whether a search
    // ended since the last call. The timer loop calls it on every tick, so the event of a
    // search whose end no main window saw is released all the same.
    bool ReleaseFinished();

    // The main window's step after a search it asked for (applySearchResult set) has ended:
    // a found receiver becomes "Port", "Baud" and "Bluetooth" (status text "GPS on COM%d at
    // %d"), else "No GPS Found"; then the input port is opened if it is closed and "Port" is
    // not 0 - and opened again when it is open on another port or speed than the result (the
    // idle re-open of the timer loop may have opened the old port meanwhile). Clears
    // applySearchResult. False, doing nothing, while threads run or when no result is asked for.
    bool ApplySearchResult(SearchOutcome& outcome);

    // Whether opening the found port took more than 800 ms. Valid once the threads ended.
    bool FoundSlowOpen() const { return foundSlowOpen_.load() != 0; }

    // Waits until every scanning thread has ended (the hub's shutdown, tests).
    void WaitForThreads();

private:
    class ScanJob final : public platform::ThreadBody {
    public:
        uint32_t Run() override;

        GpsSearch* search = nullptr;
        uint32_t comNumber = 0;
    };

    // ScanPort: the thread procedure for COM<comNumber>. Returns 1.
    uint32_t ScanPort(uint32_t comNumber);
    // The speed walk on an open, prepared port; leaves portScanState as the thread ends it.
    void WalkSpeeds(uint32_t comNumber, platform::SerialPort& port, bool slowOpen);
    void Publish(uint32_t comNumber, uint32_t baud, bool slowOpen);
    // Stop waiting and walking: a receiver was found (here or elsewhere) or the search cancelled.
    bool ShouldStop() const;
    // A thread's very last access to this object.
    void EndThread();
    void LowerThreadCount();
    bool IsOwnVirtualPort(uint32_t comNumber) const;

    HubContext& hub_;
    platform::SerialPortMap& serialPortMap_;
    platform::Threads* threads_;
    bool findWaiting_ = false; // FindGps closed the port; its search is due at
    uint32_t findDue_ = 0;     // this GetTickCount

    // Made anew by each search; threads wait on it, so it is released only when all ended.
    std::unique_ptr<platform::Event> foundEvent_;
    // Set by every ending thread: WaitForThreads waits on it instead of polling.
    std::unique_ptr<platform::Event> threadEnded_;

    ScanJob jobs_[SearchValues::comSlots];
    // The scan port of a thread whose handle CancelSearch took: the cancel may still be closing
    // it when the thread ends, so the thread leaves the object here, and it is destroyed on the
    // main thread once every thread has ended. Written only by the thread of that number.
    std::unique_ptr<GpsPort> retired_[SearchValues::comSlots];
    std::atomic<bool> anyRetired_{false};

    // The COM number of the first thread that recognised a stream, 0 until then: that thread
    // alone publishes foundPort/foundBaud and the slow-open flag, so all three belong to one
    // thread.
    std::atomic<uint32_t> winner_{0};
    std::atomic<uint8_t> foundSlowOpen_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> multiGnss_{true}; // "Multi GNSS" for this search's threads
};

} // namespace tavro
