// The MTK command set as the simulated receiver understands it: commands arrive as bytes from
// the line, answers go back as framed sentences.
//
//   $PMTK000            test           -> $PMTK001,0,3
//   $PMTK220,ms / 300,ms,...  fix interval 100..10000 ms -> $PMTK001,<cmd>,3 (2 if refused)
//   $PMTK251,baud       line speed (0 = the start speed) -> $PMTK001,251,3, then the switch
//   $PMTK314,r0,...,r18 sentence rates 0..5 (fewer values: the rest 0; "-1": the defaults)
//                                                    -> $PMTK001,314,3 (2 if refused)
//   $PMTK400            fix interval query  -> $PMTK500,<ms>,0,0,0,0
//   $PMTK414            sentence rate query -> $PMTK514,<19 rates>
//   $PMTK607            EPO status query    -> $PMTK707,0,0,0,0,0,0,0,0,0 (no EPO data)
//   any other $PMTKnnn  -> $PMTK001,nnn,1 (unsupported)
// Sentences with a missing or wrong checksum and non-MTK sentences are ignored, as a receiver
// ignores them.
#pragma once

#include "tools/gps-sim/SentenceRates.h"

#include <stdint.h>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::gpssim {

struct MtkReply {
    std::string command;                // the verified command body, for logs
    std::vector<std::string> sentences; // framed answers, in order
    uint32_t switchBaud = 0;            // new line speed once the answers are sent
};

class MtkReceiver {
public:
    // `defaults`: the rates the receiver starts with and "$PMTK314,-1" restores.
    MtkReceiver(uint32_t startBaud, uint32_t fixIntervalMs,
                const SentenceRates& defaults = defaultSentenceRates);

    // Collects bytes into lines and answers every complete command.
    void Feed(std::string_view bytes, std::vector<MtkReply>& replies);

    // Answers one received line; false when it is not a valid MTK command.
    bool Handle(std::string_view line, MtkReply& reply);

    uint32_t FixIntervalMs() const { return fixIntervalMs_; }
    const SentenceRates& Rates() const { return rates_; }

    static bool IsSupportedBaud(uint32_t baud);

private:
    static constexpr size_t maxLine = 256;

    uint32_t startBaud_;
    uint32_t fixIntervalMs_;
    SentenceRates defaults_;
    SentenceRates rates_;
    std::string line_;
    bool discarding_ = false; // an over-long line is dropped up to its end
};

} // namespace tavro::gpssim
