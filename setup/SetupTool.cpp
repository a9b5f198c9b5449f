#include "setup/SetupTool.h"

#include "platform/ErrorCodes.h"
#include "setup/StatusText.h"

namespace tavro::setup {

uint32_t SetupTool::Attach() {
    const uint32_t result = status_.AttachReader();
    attached_ = true;
    const int index = LineSpeedIndex(Block().baudRate);
    // A hub speed the list does not offer selects nothing; "Set Baud Rate" then waits for a
    // choice rather than sending 0, which an MTK receiver takes as "back to your default".
    selectedSpeed_ = index >= 0 ? lineSpeeds[index] : 0;
    view_.SelectSpeed(index);
    return result;
}

uint32_t SetupTool::Start() {
    const uint32_t result = Attach();
    status_.Block().replyFlags = 0; // the readers' own bits (StatusSequence.h)
    SendReceiverCommand(hub_, ReceiverCommandKind::QueryFixRate, 0, sentenceRates_);
    SendReceiverCommand(hub_, ReceiverCommandKind::QuerySentenceRates, 0, sentenceRates_);
    return result;
}

void SetupTool::Tick() {
    const GpsSharedStatus& block = Block();
    char text[statusTextCapacity];
    FixStatusText(block, text);
    view_.ShowFixStatus(text);

    const int16_t interval = block.fixInterval;
    if (interval != lastInterval_) {
        rateIndex_ = FixRateIndexForInterval(interval);
        lastInterval_ = interval;
        view_.SelectFixRate(static_cast<int>(rateIndex_));
        // The estimate shown is for the fix rate shown.
        RecomputeLineLoad();
    }

    const uint8_t replies = block.replyFlags;
    if (!ratesLoaded_ && (replies & replyNmeaRates) != 0) {
        ratesLoaded_ = true;
        for (size_t slot = 0; slot < sentenceSlotCount; ++slot) {
            sentenceRates_[slot] = block.nmeaRates[slot];
        }
        SelectRates(sentenceRates_);
        RecomputeLineLoad();
    } else if (replies == 0 && !noticeShown_) {
        view_.ShowLineLoad(unsupportedNotice);
        noticeShown_ = true;
    }

    view_.DrawSignalGraph(block);
}

void SetupTool::SpeedChanged(int index) {
    if (index < 0 || static_cast<size_t>(index) >= lineSpeedCount) {
        return;
    }
    selectedSpeed_ = lineSpeeds[index];
    RecomputeLineLoad();
}

void SetupTool::FixRateChanged(int index) {
    if (index < 0 || static_cast<size_t>(index) >= fixRateCount) {
        return;
    }
    rateIndex_ = static_cast<size_t>(index);
    RecomputeLineLoad();
}

void SetupTool::SentenceRateChanged(size_t slot, int index) {
    if (!SlotHasList(slot) || index < 0 || index > maxListedRate) {
        return;
    }
    sentenceRates_[slot] = static_cast<uint8_t>(index);
    RecomputeLineLoad();
}

uint32_t SetupTool::SetBaudRate() {
    if (selectedSpeed_ == 0) {
        return error::invalidParameter;
    }
    return SendReceiverCommand(hub_, ReceiverCommandKind::Speed, selectedSpeed_, sentenceRates_);
}

uint32_t SetupTool::SetUpdateRate() {
    return SendReceiverCommand(hub_, ReceiverCommandKind::FixRate,
                               static_cast<uint32_t>(fixIntervals[rateIndex_]), sentenceRates_);
}

uint32_t SetupTool::SetNmea() {
    // A list the user never touched holds the rate last loaded, reset or chosen for its slot
    // (0 when none): sending its "no selection" as -1 would make the receiver refuse the whole
    // command. The lists then show what the receiver was sent.
    const uint32_t result =
        SendReceiverCommand(hub_, ReceiverCommandKind::SetSentenceRates, 0, sentenceRates_);
    SelectRates(sentenceRates_);
    return result;
}

uint32_t SetupTool::ResetNmea() {
    const uint32_t result =
        SendReceiverCommand(hub_, ReceiverCommandKind::DefaultSentenceRates, 0, sentenceRates_);
    sentenceRates_ = DefaultSentenceRates();
    SelectRates(sentenceRates_);
    RecomputeLineLoad();
    return result;
}

void SetupTool::Finish() {
    if (attached_) {
        status_.DetachReader();
        attached_ = false;
    }
}

void SetupTool::RecomputeLineLoad() {
    char text[statusTextCapacity];
    // Without a speed there is nothing to estimate, and whatever 1004 shows stays.
    if (BandwidthText(selectedSpeed_, rateIndex_, sentenceRates_, text)) {
        view_.ShowLineLoad(text);
    }
}

void SetupTool::SelectRates(const SentenceRates& rates) {
    for (const size_t slot : listedSlots) {
        view_.SelectSentenceRate(slot, rates[slot] <= maxListedRate ? rates[slot] : -1);
    }
}

} // namespace tavro::setup
