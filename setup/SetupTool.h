// The receiver setup tool without its window: what it does at start-up, at every 200 ms tick,
// and for each control, on the status block and through the hub.
#pragma once

#include "hub/decode/StatusBlock.h"
#include "setup/HubLink.h"
#include "setup/ReceiverCommand.h"
#include "setup/SetupTables.h"
#include "setup/SetupView.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro::setup {

inline constexpr unsigned setupTickMs = 200;

class SetupTool {
public:
    SetupTool(StatusBlock& status, HubLink& hub, SetupView& view)
        : status_(status), hub_(hub), view_(view) {}
    ~SetupTool() { Finish(); }

    SetupTool(const SetupTool&) = delete;
    SetupTool& operator=(const SetupTool&) = delete;

    // Attaches to the status block as a reader (a private zero block without a hub) and
    // selects the hub's line speed when the list has it. Returns the attach result. Looks only:
    // the receiver is not asked anything.
    uint32_t Attach();

    // The dialog's start-up: Attach, clear replyFlags, ask the receiver for its fix interval
    // and sentence rates; the replies are picked up by Tick.
    uint32_t Start();

    // Every 200 ms: the fix status, the fix rate the receiver reports, its sentence rates
    // (once per run) or the "not supported" notice, and the signal graph.
    void Tick();

    // Selection changes of the lists (indexes outside a list are ignored).
    void SpeedChanged(int index);
    void FixRateChanged(int index);
    void SentenceRateChanged(size_t slot, int index);

    // The buttons. Each returns SendReceiverCommand's result (the dialog ignores it).
    uint32_t SetBaudRate();
    uint32_t SetUpdateRate();
    uint32_t SetNmea();
    uint32_t ResetNmea();

    // Detaches from the block (refCount - 1 when it was the hub's mapping). Safe twice.
    void Finish();

    // A consistent copy of the block as it is now (the readers' rule of StatusSequence.h).
    const GpsSharedStatus& Block() const {
        status_.Snapshot(copy_);
        return copy_;
    }
    uint32_t SelectedSpeed() const { return selectedSpeed_; }
    size_t RateIndex() const { return rateIndex_; }
    const SentenceRates& Rates() const { return sentenceRates_; }
    bool RatesLoaded() const { return ratesLoaded_; }
    bool NoticeShown() const { return noticeShown_; }

private:
    void RecomputeLineLoad();
    void SelectRates(const SentenceRates& rates);

    StatusBlock& status_;
    mutable GpsSharedStatus copy_{};
    HubLink& hub_;
    SetupView& view_;
    uint32_t selectedSpeed_ = 0;
    size_t rateIndex_ = 0;
    SentenceRates sentenceRates_{};
    int16_t lastInterval_ = 0;
    bool ratesLoaded_ = false;
    bool noticeShown_ = false;
    bool attached_ = false;
};

} // namespace tavro::setup
