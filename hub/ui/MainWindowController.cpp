#include "hub/ui/MainWindowController.h"

#include "platform/TextBuilder.h"

#include "hub/engine/ComNumbering.h"
#include "hub/engine/GpsPort.h"
#include "hub/engine/SearchProgress.h"

#include <string.h>

namespace tavro {
namespace {

// Without a status to show, "No Data Stream" appears once the input has been quiet this long
// (timer-loop ticks of 50 ms).
constexpr uint32_t quietTicks = 40;

constexpr DropCounts noDrops{};

// The option boxes and their bits of "Sync".
struct OptionBox {
    uint32_t id;
    uint32_t option;
};

constexpr OptionBox optionBoxes[] = {
    {control::videoReset, OptionFlags::videoReset},
    {control::nmeaFilter, OptionFlags::nmeaFilter},
    {control::batterySaver, OptionFlags::batterySaver},
    {control::readOnly, OptionFlags::readOnly},
    {control::autoTimeSync, OptionFlags::autoTimeSync},
};

} // namespace

MainWindowController::MainWindowController(const MainWindowServices& services)
    : engine_(services.engine), reporter_(services.reporter), view_(services.view),
      lampPainter_(services.lampPainter), devices_(services.devices),
      serialPortMap_(services.serialPortMap),
      lists_(services.engine.Context(), services.view, services.notifier) {}

// ---- WM_INITDIALOG ----------------------------------------------------------------------------

void MainWindowController::InitDialog() {
    HubContext& hub = Hub();
    Settings& settings = hub.settings;
    statusShown_[0] = '\0';
    droppedShown_ = DropCounts{};

    // 1. The driver's numbers and counts as they are now.
    if (hub.inputPort != nullptr) {
        hub.inputPort->DriverExchange();
    }

    // 2. Ports that appeared since the hub started join the bitmap (nothing is taken out), then
    // the lists. The search's per-port states are left alone: a search that runs now owns them,
    // and the next one scans afresh.
    SearchValues scratch;
    ScanSerialPorts(serialPortMap_, hub.comDbBitmap, scratch);
    lists_.FillPortLists();

    // 3.
    view_.SetChecked(control::enablePorts, hub.exchange.DeviceOpen());
    lists_.SetVirtualListsEnabled();

    // 4. The front end holds the window's handle.

    // 5.
    deviceRows_.Fill(devices_, view_, engine_.RestartDevices());

    // 6.
    view_.SetText(control::logPath, settings.logPath);
    view_.SetChecked(control::logging, settings.logging != 0);
    for (const OptionBox& box : optionBoxes) {
        view_.SetChecked(box.id, (settings.optionFlags & box.option) != 0);
    }

    // 7. A first run finds the receiver and enables the ports by itself, with the number
    // FillPortLists gave virtual port 1.
    if (settings.firstRun) {
        hub.search.applySearchResult = 1;
        engine_.Search().StartSearch();
        if (!hub.exchange.DeviceOpen()) {
            view_.PostCommand(control::enablePorts);
        }
        settings.firstRun = false;
    }

    // 8.
    view_.StartTimer(mainWindowTickMs);
}

// ---- WM_COMMAND -------------------------------------------------------------------------------

void MainWindowController::Command(uint32_t id, uint32_t notification) {
    const bool clicked = notification == notification::clicked;
    const bool selChange = notification == notification::selChange;
    switch (id) {
    case control::close:
        CloseCommand();
        return;
    case control::enablePorts:
        if (clicked) {
            EnablePortsCommand();
        }
        return;
    case control::inputPort:
    case control::speed:
        if (selChange) {
            InputPortCommand();
        }
        return;
    case control::findGps:
        if (clicked && Hub().SourceIsSerial()) {
            engine_.Search().FindGps(); // ignored while a search runs
        } else if (clicked) {
            ShowText("Find GPS: serial receivers only");
        }
        return;
    case control::logging:
        if (clicked) {
            LoggingCommand();
        }
        return;
    case control::logPath:
        LogPathCommand();
        return;
    default:
        break;
    }
    if (id >= control::firstVirtualPort && id <= control::lastVirtualPort) {
        if (selChange) {
            lists_.AssignVirtualPort(id - control::firstVirtualPort);
        }
        return;
    }
    for (const OptionBox& box : optionBoxes) {
        if (box.id == id && clicked) {
            // The engine reads the bits at its next tick; they are saved when the window
            // closes or the ports are switched.
            Hub().settings.optionFlags ^= box.option;
        }
    }
}

void MainWindowController::CloseCommand() {
    GpsSearch& search = engine_.Search();
    if (search.ThreadsRunning()) {
        search.CancelSearch(); // the window stays
        return;
    }
    view_.Close();
    // Without the ports the hub has nothing to do in the tray: closing the window ends it.
    if (!Hub().exchange.DeviceOpen()) {
        view_.EndHub();
    }
}

void MainWindowController::EnablePortsCommand() {
    HubContext& hub = Hub();
    const bool changed = hub.exchange.DeviceOpen() ? engine_.DisablePorts() : engine_.EnablePorts();
    // False only when the driver image could not be put in place: nothing changed.
    if (changed) {
        lists_.SetVirtualListsEnabled();
        if (hub.exchange.DeviceOpen()) {
            lists_.SyncPortLists();
        }
    }
    // The box always ends up telling the truth, whatever the click made of it.
    view_.SetChecked(control::enablePorts, hub.exchange.DeviceOpen());
}

void MainWindowController::InputPortCommand() {
    HubContext& hub = Hub();
    hub.settings.port = lists_.SelectedInputPort();
    if (hub.settings.port != 0) {
        hub.settings.source[0] = '\0'; // a serial port picked: the receiver is there now
    }
    lists_.SyncPortLists(); // "Baud" from the speed list
    if (hub.inputPort == nullptr) {
        return;
    }
    hub.inputPort->Close();
    hub.loop.lastStatus = refreshStatus;
    if (hub.InputConfigured()) {
        hub.inputPort->Open();
    }
}

void MainWindowController::LoggingCommand() {
    HubContext& hub = Hub();
    Settings& settings = hub.settings;
    settings.logging = settings.logging != 0 ? 0 : 1;
    if (hub.inputPort == nullptr) {
        return;
    }
    if (settings.logging != 0 && settings.logPath[0] != '\0') {
        hub.inputPort->CreateLogDirectories(settings.logPath);
    }
    FinishLog();
}

void MainWindowController::LogPathCommand() {
    HubContext& hub = Hub();
    Settings& settings = hub.settings;
    char text[logPathSize];
    view_.GetText(control::logPath, text, sizeof text);
    text[logPathSize - 1] = '\0';
    // The box notifies also when it gains or loses the focus and when the window fills it;
    // only a new path ends the current log file.
    if (strcmp(text, settings.logPath) == 0) {
        return;
    }
    memcpy(settings.logPath, text, sizeof text);
    if (hub.inputPort == nullptr) {
        return;
    }
    if (settings.logging != 0 && !hub.inputPort->LogOpen() && settings.logPath[0] != '\0') {
        hub.inputPort->CreateLogDirectories(settings.logPath);
    }
    FinishLog();
}

// The current log file is flushed, closed (deleted when empty); the next logged bytes begin a
// new one under the current settings.
void MainWindowController::FinishLog() {
    if (Hub().inputPort != nullptr) {
        Hub().inputPort->CloseLog();
    }
}

// ---- Timer 0 ----------------------------------------------------------------------------------

void MainWindowController::Tick() {
    HubContext& hub = Hub();
    GpsSearch& search = engine_.Search();

    // 1. A search runs: its progress.
    if (search.ThreadsRunning()) {
        char text[searchProgressSize];
        FormatSearchProgress(hub.search, text);
        ShowText(text);
        return;
    }
    search.ReleaseFinished();

    // 2. A search this window asked for has ended: its result.
    if (hub.search.applySearchResult != 0) {
        SearchOutcome outcome;
        if (search.ApplySearchResult(outcome)) {
            ShowText(outcome.statusText);
            if (outcome.found) {
                lists_.SelectCurrentPort();
            }
        }
        return;
    }

    // 3. The lists, the lamps and the status line; the line from the hub's report, taken
    // after the exchange.
    if (hub.exchange.DeviceOpen()) {
        lists_.SyncPortLists();
    } else if (hub.inputPort != nullptr) {
        hub.inputPort->DriverExchange();
    }
    const HubReportBlock& report = reporter_.Refresh();
    lamps_.Update(hub, lampPainter_);
    ShowStatus(report);
    ShowDropped(report);
}

void MainWindowController::ShowStatus(const HubReportBlock& report) {
    HubContext& hub = Hub();
    // While a search has the ports, or before the hub has its input port and status block,
    // there is nothing to report but silence.
    if (report.searching != 0 || hub.inputPort == nullptr) {
        if (hub.loop.idleTicks > quietTicks) {
            ShowText(noDataStreamText);
        }
        return;
    }
    char text[statusTextSize];
    if (report.inputOpen != 0) {
        FormatStreamStatus(engine_.Status(), text);
        // A network source says how its connection is ("| reconnecting").
        if (report.source[0] != '\0') {
            platform::TextBuilder(text + strlen(text), sizeof text - strlen(text))
                .Append(" | ")
                .Append(SourceStateName(static_cast<SourceState>(report.sourceState)));
        }
    } else {
        FormatClosedReason(report.lastOpenError, text);
    }
    // While the hub serves NMEA over TCP: how many network clients it has.
    if (report.listening != 0) {
        char line[statusTextSize];
        platform::TextBuilder(line, sizeof line)
            .Append(text)
            .Append(" | TCP ")
            .AppendUnsigned(report.clientCount);
        ShowText(line);
        return;
    }
    ShowText(text);
}

// The status line is rewritten only when its text changes, so that a selection the user made
// in it survives the ticks.
void MainWindowController::ShowText(const char* text) {
    if (strncmp(text, statusShown_, sizeof statusShown_) == 0) {
        return;
    }
    strncpy(statusShown_, text, sizeof statusShown_ - 1);
    statusShown_[sizeof statusShown_ - 1] = '\0';
    view_.SetText(control::statusLine, text);
}

// Rewritten only when a count changes, as the status line is; shown at the first drop.
void MainWindowController::ShowDropped(const HubReportBlock& report) {
    DropCounts drops;
    memcpy(drops.bytes, report.dropped, sizeof drops.bytes);
    if (memcmp(&drops, &droppedShown_, sizeof drops) == 0) {
        return;
    }
    if (memcmp(&droppedShown_, &noDrops, sizeof noDrops) == 0) {
        view_.ShowControl(control::droppedLine);
    }
    droppedShown_ = drops;
    char text[droppedTextSize];
    platform::TextBuilder line(text, sizeof text);
    line.Append("Dropped: ");
    AppendDropped(drops, line);
    view_.SetText(control::droppedLine, text);
}

// ---- Message 1027 and WM_DESTROY ---------------------------------------------------------------

void MainWindowController::BaudChanged() {
    lists_.SelectCurrentPort();
}

void MainWindowController::Destroyed() {
    DeviceListRow rows[DeviceRows::capacity];
    const uint32_t count = deviceRows_.TickedRows(view_, rows);
    engine_.SaveMainWindowSettings(std::span<const DeviceListRow>(rows, count));
}

} // namespace tavro
