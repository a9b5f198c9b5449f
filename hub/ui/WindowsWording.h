// SPDX-License-Identifier: Apache-2.0
// The Windows edition's words for its report (ReportJson.h): what to do is said in terms of the
// main window ("Enable Ports", the port lists, "Find GPS") and the registry, where POSIX names
// `tavro` verbs.
#pragma once

#include "hub/ui/ReportJson.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro {

// How long a dashboard waits for the hub's answer before it calls it not responding.
inline constexpr uint32_t windowsAnswerTimeoutMs = 500;

class WindowsWording final : public ReportWording {
public:
    // `errorWords` says a Win32 code in the system's words (FormatMessage).
    explicit WindowsWording(std::string (*errorWords)(uint32_t code)) : errorWords_(errorWords) {}

    std::string ErrorWords(uint32_t code) const override { return errorWords_(code); }
    std::string InputPortFix(const HubReport& report) const override;
    std::vector<std::string> Warnings(const StatusFacts& facts) const override;

private:
    std::string (*errorWords_)(uint32_t code);
};

} // namespace tavro
