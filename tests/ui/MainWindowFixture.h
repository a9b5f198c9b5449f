// The main window on a whole hub in memory: the hub engine with its driver installer (the
// program file, the service control manager and Tavro.sys in process, from InstallerFixture),
// a scripted serial port map and serial ports, deterministic search threads that run when the
// test says so, and the window itself as a record of its controls that a test can click.
#pragma once

#include "hub/engine/GpsPort.h"
#include "hub/engine/HubEngine.h"
#include "hub/engine/TrackLog.h"
#include "hub/settings/SettingsStore.h"
#include "hub/ui/MainWindowController.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeThreads.h"
#include "platform/testing/FakeTiming.h"
#include "platform/testing/RecordingSound.h"
#include "platform/testing/RecordingSystemClock.h"
#include "platform/testing/RecordingTray.h"
#include "tests/engine/HubEngineFixture.h"
#include "tests/engine/SearchScripts.h"
#include "tests/install/InstallerFixture.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavro::testing {

// Records every lamp drawn, in order.
class RecordingLampPainter final : public LampPainter {
public:
    void Paint(uint32_t lamp, const LampDrawing& drawing) override {
        painted.emplace_back(lamp, drawing);
    }
    // The drawing of `lamp` in the last round of nine; null when it was not drawn.
    const LampDrawing* Last(uint32_t lamp) const {
        for (auto it = painted.rbegin(); it != painted.rend(); ++it) {
            if (it->first == lamp) {
                return &it->second;
            }
        }
        return nullptr;
    }
    std::vector<std::pair<uint32_t, LampDrawing>> painted;
};

class FakeDeviceList final : public DeviceListSource {
public:
    // A device with the class GUID's first byte `guid` and device instance `devInst`.
    void Add(const std::string& description, const std::string& service, uint8_t guid,
             uint32_t devInst, bool described = true) {
        DeviceListEntry entry;
        entry.described = described;
        strncpy(entry.description, description.c_str(), sizeof entry.description - 1);
        strncpy(entry.service, service.c_str(), sizeof entry.service - 1);
        entry.device.classGuid[0] = guid;
        entry.device.devInst = devInst;
        devices.push_back(entry);
    }
    bool ReadDevice(uint32_t index, DeviceListEntry& entry) override {
        if (index >= devices.size()) {
            return false;
        }
        entry = devices[index];
        return true;
    }
    std::vector<DeviceListEntry> devices;
};

// Records what the input port asks of its log, and which directories the window makes.
class WindowTrackLog final : public TrackLog {
public:
    bool LogOpen() const override { return open; }
    void OpenLog(GpsPort&) override { open = true; }
    void FlushLog(GpsPort&) override {}
    void CloseLog(GpsPort&) override {
        open = false;
        ++closes;
    }
    void CreateLogDirectories(const char* path) override { directories.push_back(path); }

    bool open = false;
    uint32_t closes = 0;
    std::vector<std::string> directories;
};

// Dialog 105 as a record: the engine opens and closes it (MainWindow), the controller fills it
// (MainWindowView), and a test clicks it like a user, which sends the controller the command
// the dialog would.
class FakeMainWindow final : public MainWindow, public MainWindowView {
public:
    struct List {
        std::vector<std::string> entries;
        int32_t selected = -1;
    };
    struct Row {
        std::string text;
        bool ticked;
    };

    MainWindowController* controller = nullptr;

    // ---- MainWindow (the engine's side) ----
    bool Exists() const override { return exists; }
    void Create() override {
        if (exists) {
            return;
        }
        lists.clear();
        checked.clear();
        disabled.clear();
        shown.clear();
        texts.clear();
        rows.clear();
        posted.clear();
        exists = true;
        ++creates;
        if (controller != nullptr) {
            controller->InitDialog();
        }
    }
    void Destroy() override { Close(); }
    void PostBaudChanged() override { ++baudChangesPosted; }

    // ---- MainWindowView (the controller's side) ----
    void ClearList(uint32_t id) override { lists[id] = List{}; }
    void AddListEntry(uint32_t id, const char* text) override { lists[id].entries.push_back(text); }
    void SelectListEntry(uint32_t id, int32_t index) override {
        List& list = lists[id];
        list.selected = index >= 0 && static_cast<size_t>(index) < list.entries.size() ? index : -1;
    }
    int32_t SelectedListEntry(uint32_t id) override { return lists[id].selected; }
    void EnableControl(uint32_t id, bool enabled) override { disabled[id] = !enabled; }
    void ShowControl(uint32_t id) override { ++shown[id]; }
    void SetChecked(uint32_t id, bool value) override { checked[id] = value; }
    void SetText(uint32_t id, const char* text) override {
        texts[id] = text;
        ++textWrites[id];
    }
    void GetText(uint32_t id, char* text, uint32_t size) override {
        const std::string& value = texts[id];
        const size_t length = std::min<size_t>(value.size(), size - 1);
        memcpy(text, value.data(), length);
        text[length] = '\0';
    }
    void PrepareDeviceList() override { ++devicePreparations; }
    void InsertDeviceRow(const char* text, bool ticked) override {
        rows.insert(rows.begin(), Row{text, ticked});
    }
    bool DeviceRowTicked(uint32_t row) override { return row < rows.size() && rows[row].ticked; }
    void PostCommand(uint32_t id) override { posted.push_back(id); }
    void StartTimer(uint32_t periodMs) override { timerPeriod = periodMs; }
    void Close() override {
        if (!exists) {
            return;
        }
        if (controller != nullptr) {
            controller->Destroyed();
        }
        exists = false;
        ++closes;
    }
    void EndHub() override { ++quits; }

    // ---- What a user and the system do ----
    // Delivers the commands the window posted to itself.
    void Pump() {
        std::vector<uint32_t> due;
        due.swap(posted);
        for (uint32_t id : due) {
            Command(id, notification::clicked);
        }
    }
    void Command(uint32_t id, uint32_t code) {
        if (exists && controller != nullptr) {
            controller->Command(id, code);
        }
    }
    // Clicks a button or an auto check box (which ticks or unticks itself first).
    void Click(uint32_t id) {
        checked[id] = !checked[id];
        Command(id, notification::clicked);
    }
    // Picks the entry with `text` in a drop-down list.
    void Choose(uint32_t id, const std::string& text) {
        List& list = lists[id];
        auto found = std::find(list.entries.begin(), list.entries.end(), text);
        ASSERT_NE(found, list.entries.end()) << text << " is not offered in list " << id;
        list.selected = static_cast<int32_t>(found - list.entries.begin());
        Command(id, notification::selChange);
    }
    // Types into an edit box (the box notifies the change).
    void Type(uint32_t id, const std::string& text) {
        texts[id] = text;
        Command(id, 0x300); // EN_CHANGE
    }
    void Tick() {
        if (exists && controller != nullptr) {
            controller->Tick();
        }
    }

    std::string Selected(uint32_t id) {
        const List& list = lists[id];
        return list.selected < 0 ? "(none)" : list.entries[static_cast<size_t>(list.selected)];
    }
    std::vector<std::string> Entries(uint32_t id) { return lists[id].entries; }
    std::string Text(uint32_t id) { return texts[id]; }
    bool Checked(uint32_t id) { return checked[id]; }
    bool Disabled(uint32_t id) { return disabled[id]; }

    bool exists = false;
    uint32_t creates = 0;
    uint32_t closes = 0;
    uint32_t quits = 0;
    uint32_t baudChangesPosted = 0;
    uint32_t timerPeriod = 0;
    uint32_t devicePreparations = 0;
    std::map<uint32_t, List> lists;
    std::map<uint32_t, bool> checked;
    std::map<uint32_t, bool> disabled;
    std::map<uint32_t, uint32_t> shown; // how often each hidden control was shown
    std::map<uint32_t, std::string> texts;
    std::map<uint32_t, uint32_t> textWrites;
    std::vector<Row> rows;
    std::vector<uint32_t> posted;
};

// "COM<n>" for each number.
inline std::vector<std::string> ComEntries(std::initializer_list<uint32_t> numbers) {
    std::vector<std::string> entries;
    for (uint32_t n : numbers) {
        entries.push_back("COM" + std::to_string(n));
    }
    return entries;
}

class MainWindowFixture : public InstallerFixture {
protected:
    MainWindowFixture()
        : threads_(platform::testing::FakeThreads::Start::Deferred),
          engine_(HubServices{{ports_, driver_, memory_, clock_, timing_},
                              registry_,
                              portMap_,
                              tray_,
                              sound_,
                              notifier_,
                              window_,
                              mainWindow_,
                              &trackLog_,
                              &threads_,
                              &setup_}),
          reporter_(engine_, memory_, 1, "test"),
          controller_(MainWindowServices{engine_, reporter_, mainWindow_, painter_, devices_,
                                         portMap_, notifier_}) {
        mainWindow_.controller = &controller_;
    }

    ~MainWindowFixture() override {
        EndFakeThreads(threads_, engine_.Context().search);
        // The engine outlives the controller: from here on a closing window saves nothing.
        mainWindow_.controller = nullptr;
    }

    void StoreSetting(const char* name, uint32_t value) {
        platform::ScopedRegistryKey key(memoryRegistry_);
        ASSERT_EQ(memoryRegistry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath,
                                            key.Receive()),
                  error::success);
        ASSERT_EQ(
            memoryRegistry_.SetValue(key.Get(), name, platform::regDword, &value, sizeof value),
            error::success);
    }

    // A DWORD under the settings key; -1 when it is missing.
    int64_t StoredNumber(const char* name) {
        platform::ScopedRegistryKey key(memoryRegistry_);
        if (memoryRegistry_.OpenKey(platform::RegistryKey::currentUser, settingsKeyPath,
                                    key.Receive()) != error::success) {
            return -1;
        }
        uint32_t value = 0;
        uint32_t size = sizeof value;
        if (memoryRegistry_.QueryValue(key.Get(), name, nullptr, &value, &size) != error::success) {
            return -1;
        }
        return value;
    }

    // Whether the settings key holds a value `name`, of any type.
    bool Stored(const char* name) {
        platform::ScopedRegistryKey key(memoryRegistry_);
        if (memoryRegistry_.OpenKey(platform::RegistryKey::currentUser, settingsKeyPath,
                                    key.Receive()) != error::success) {
            return false;
        }
        uint8_t data[256];
        uint32_t size = sizeof data;
        return memoryRegistry_.QueryValue(key.Get(), name, nullptr, data, &size) == error::success;
    }

    // A stored hub that is not on its first run: input port COM3 at 4800.
    void StoreUsualSettings() {
        StoreSetting("Port", 3);
        StoreSetting("Baud", 4800);
    }

    // The static start-up and the message window's start: without a driver and not hidden,
    // the engine opens the main window.
    void Start(bool hidden = false) {
        engine_.SetStartHidden(hidden);
        engine_.StaticAttach();
        ASSERT_EQ(engine_.InitDialog(), 1);
    }

    // "Find GPS", then the engine's tick once the closed input port has settled.
    void FindGps() {
        mainWindow_.Click(control::findGps);
        timing_.Advance(100);
        engine_.Tick();
    }

    void EngineTicks(uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            engine_.Tick();
        }
    }

    HubContext& Hub() { return engine_.Context(); }
    GpsSharedStatus& Block() { return engine_.Status(); }

    DriverSetup setup_{files_, services_};
    platform::testing::FakeSerialPorts ports_;
    InMemorySharedMemory memory_;
    platform::RecordingSystemClock clock_;
    platform::testing::FakeTiming timing_;
    platform::testing::FakeSerialPortMap portMap_;
    platform::testing::RecordingTray tray_;
    platform::testing::RecordingSound sound_;
    RecordingMessageWindow window_;
    FakeMainWindow mainWindow_;
    WindowTrackLog trackLog_;
    platform::testing::FakeThreads threads_;
    RecordingLampPainter painter_;
    FakeDeviceList devices_;
    HubEngine engine_;
    HubReporter reporter_;
    MainWindowController controller_;
};

} // namespace tavro::testing
