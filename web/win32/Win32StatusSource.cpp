// The Windows hub tells the dashboard what its status block holds and, asked by a report
// request (common/HubReportBlock.h), what `tavro status --json` tells of a POSIX hub: its
// ports, input and network output. The request goes to its window with a time-out, so it also
// tells whether the hub runs and takes messages; a hub older than the request still answers
// WM_COPYDATA, and the page then shows the status block alone.
#include "web/StatusSource.h"

#include "common/GpsSharedStatus.h"
#include "common/HubCommand.h"
#include "hub/decode/StatusBlock.h"
#include "hub/ui/ReportRequest.h"
#include "hub/ui/WindowsWording.h"
#include "platform/SharedMemory.h"
#include "platform/win32/Win32RunningHub.h"

#include <windows.h>

namespace tavro::web {
namespace {

// The system's message for a Win32 code, without its line end and full stop.
std::string SystemWords(uint32_t code) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string words(text, length);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' ||
                              words.back() == ' ')) {
        words.pop_back();
    }
    return words.empty() ? "error " + std::to_string(code) : words;
}

class Win32StatusSource final : public StatusSource {
public:
    std::string Snapshot() override {
        using Presence = platform::Win32RunningHub::Presence;
        const Presence presence =
            request_.Prepare() ? platform::Win32RunningHub::SendCommand(
                                     static_cast<uint32_t>(HubCommand::ReportStatus),
                                     request_.Payload(), sizeof(uint32_t), windowsAnswerTimeoutMs)
                               : platform::Win32RunningHub::Probe(windowsAnswerTimeoutMs);
        StatusFacts facts;
        facts.running = presence != Presence::absent;
        facts.responding = presence != Presence::notResponding;
        facts.hasReport = presence == Presence::responding && request_.Take(facts.report);
        if (facts.hasReport) {
            facts.pid = static_cast<int>(facts.report.pid);
        }
        facts.blockTorn = PeekStatusBlock(platform::SystemSharedMemory(), platform::SystemTiming(),
                                          facts.block) == PeekResult::Torn;
        const char* hub = presence == Presence::absent       ? "notRunning"
                          : presence == Presence::responding ? "running"
                                                             : "notResponding";
        return std::string("{\"hub\":\"") + hub +
               "\",\"edition\":\"windows\",\"status\":" + StatusJson(facts, wording_) + "}";
    }

private:
    ReportRequest request_{platform::SystemSharedMemory(),
                           static_cast<uint32_t>(GetCurrentProcessId())};
    WindowsWording wording_{SystemWords};
};

} // namespace

std::unique_ptr<StatusSource> MakeStatusSource() {
    return std::make_unique<Win32StatusSource>();
}

} // namespace tavro::web
