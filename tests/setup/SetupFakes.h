// Stand-ins for the setup tool's surroundings: a hub that records its commands, a view that
// keeps what it was told, and a status block mapping held by a pretend hub.
#pragma once

#include "common/GpsSharedStatus.h"
#include "platform/ErrorCodes.h"
#include "platform/SharedMemory.h"
#include "setup/HubLink.h"
#include "setup/SetupTables.h"
#include "setup/SetupView.h"

#include <array>
#include <string>
#include <vector>

namespace tavro::setup::testing {

struct SentCommand {
    HubCommand code;
    std::string payload; // every byte, the NUL included
};

class RecordingHubLink final : public HubLink {
public:
    uint32_t FindHub() override {
        ++finds;
        return running ? error::success : error::fileNotFound;
    }
    uint32_t Send(HubCommand code, const void* payload, uint32_t length) override {
        sent.push_back({code, std::string(static_cast<const char*>(payload), length)});
        return sendResult;
    }

    // The WriteToReceiver sentences without their CR LF and NUL.
    std::vector<std::string> Sentences() const {
        std::vector<std::string> sentences;
        for (const SentCommand& command : sent) {
            if (command.code == HubCommand::WriteToReceiver) {
                sentences.push_back(command.payload.substr(0, command.payload.find('\r')));
            }
        }
        return sentences;
    }

    bool running = true;
    uint32_t sendResult = error::success;
    int finds = 0;
    std::vector<SentCommand> sent;
};

class RecordingView final : public SetupView {
public:
    RecordingView() { sentenceSelections.fill(-2); }

    void ShowFixStatus(const char* text) override { fixStatus = text; }
    void ShowLineLoad(const char* text) override {
        lineLoad = text;
        ++lineLoadUpdates;
    }
    void SelectSpeed(int index) override { speedSelection = index; }
    void SelectFixRate(int index) override {
        fixRateSelection = index;
        ++fixRateSelections;
    }
    void SelectSentenceRate(size_t slot, int index) override {
        sentenceSelections.at(slot) = index;
        ++sentenceSelectionCalls;
    }
    void DrawSignalGraph(const GpsSharedStatus&) override { ++graphDrawings; }

    std::string fixStatus = "No Connection";
    std::string lineLoad;
    int lineLoadUpdates = 0;
    int speedSelection = -2; // -2: never told
    int fixRateSelection = -2;
    int fixRateSelections = 0;
    std::array<int, sentenceSlotCount> sentenceSelections{};
    int sentenceSelectionCalls = 0;
    int graphDrawings = 0;
};

// The mapping "TavroGPS" as a running hub would hold it, or none.
class HubMapping final : public platform::SharedMemory {
public:
    uint32_t CreateOrOpen(const char*, uint32_t, platform::SharedView& view) override {
        view = platform::SharedView{};
        return error::accessDenied; // readers never create
    }
    uint32_t Open(const char*, platform::SharedView& view) override {
        view = platform::SharedView{};
        if (!exists) {
            return error::fileNotFound;
        }
        ++openViews;
        view.data = &block;
        view.size = sizeof block;
        view.handle = 1;
        return error::success;
    }
    void Close(platform::SharedView& view) override {
        if (view.handle != 0) {
            --openViews;
        }
        view = platform::SharedView{};
    }

    bool exists = true;
    int openViews = 0;
    GpsSharedStatus block{};
};

} // namespace tavro::setup::testing
