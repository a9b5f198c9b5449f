// Feltro.exe as the user sees it, against a running Tavro.exe whose receiver is gps-sim: the
// dialog without a hub, then with it: the receiver's answers in the lists, the line-load
// estimate, the fix status, the signal graph, "Set NMEA" and "Set Baud Rate", and the exit.
// The script checks the receiver's log for the sentences.
//
// TavroFeltroSmoke.exe <path of Tavro.exe> <path of Feltro.exe> <receiver COM>
#include "common/GpsSharedStatus.h"
#include "common/HubCommand.h"
#include "tests/windows/support/HubProcess.h"
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>

using namespace tavro;
using namespace tavro::wintest;

namespace {

constexpr char dialogTitle[] = "Brindle - MTK2 Setup";
constexpr DWORD windowTimeoutMs = 15000;
constexpr DWORD dataTimeoutMs = 20000;

void EndProgram(PROCESS_INFORMATION& process) {
    if (process.hProcess == nullptr) {
        return;
    }
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = PROCESS_INFORMATION{};
}

// The status block, mapped for reading only (not counted: the counts are checked).
class BlockView {
public:
    ~BlockView() {
        if (block_ != nullptr) {
            UnmapViewOfFile(block_);
        }
        if (mapping_ != nullptr) {
            CloseHandle(mapping_);
        }
    }
    bool Open() {
        mapping_ = OpenFileMappingA(FILE_MAP_READ, FALSE, statusBlockName);
        if (mapping_ != nullptr) {
            block_ = static_cast<const uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
        }
        return block_ != nullptr;
    }
    uint8_t Byte(size_t offset) const {
        return reinterpret_cast<volatile const uint8_t*>(block_)[offset];
    }
    uint32_t Word(size_t offset) const {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            value = value << 8 | Byte(offset + i);
        }
        return value;
    }
    uint16_t UsedEntries() const {
        return static_cast<uint16_t>(Byte(offsetof(GpsSharedStatus, usedEntries)) |
                                     Byte(offsetof(GpsSharedStatus, usedEntries) + 1) << 8);
    }
    int EntryPrn(int k) const { return EntryValue(k, 0); }
    int EntrySnr(int k) const { return EntryValue(k, 6); }
    uint8_t RefCount() const { return Byte(offsetof(GpsSharedStatus, refCount)); }
    uint32_t Baud() const { return Word(offsetof(GpsSharedStatus, baudRate)); }
    int32_t RmcCount() const {
        return static_cast<int32_t>(Word(offsetof(GpsSharedStatus, rmcCount)));
    }

private:
    int EntryValue(int k, size_t at) const {
        const size_t entry = offsetof(GpsSharedStatus, satellites) + 8 * static_cast<size_t>(k);
        return static_cast<int16_t>(Byte(entry + at) | Byte(entry + at + 1) << 8);
    }

    HANDLE mapping_ = nullptr;
    const uint8_t* block_ = nullptr;
};

// Dialog 101 in the other process, driven as the user would.
class SetupDialog {
public:
    bool Find() {
        window_ = FindWindowA(nullptr, dialogTitle);
        return window_ != nullptr;
    }
    std::string Text(int control) const {
        char text[128] = {};
        SendMessageA(GetDlgItem(window_, control), WM_GETTEXT, sizeof text,
                     reinterpret_cast<LPARAM>(text));
        return text;
    }
    int Selection(int control) const {
        return static_cast<int>(SendDlgItemMessageA(window_, control, CB_GETCURSEL, 0, 0));
    }
    int Count(int control) const {
        return static_cast<int>(SendDlgItemMessageA(window_, control, CB_GETCOUNT, 0, 0));
    }
    // A new selection, with the notification the list would send.
    void Choose(int control, int index) const {
        HWND list = GetDlgItem(window_, control);
        SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(control, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
    }
    void Click(int control) const {
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window_, control)));
    }
    // A pixel of the signal graph as the screen shows it (another process's window DC cannot
    // be read back under every system; the screen can).
    COLORREF GraphPixel(int x, int y) const {
        POINT point{x, y};
        ClientToScreen(GetDlgItem(window_, 1015), &point);
        HDC screen = GetDC(nullptr);
        const COLORREF colour = GetPixel(screen, point.x, point.y);
        ReleaseDC(nullptr, screen);
        return colour;
    }
    RECT GraphClient() const {
        RECT client{};
        GetClientRect(GetDlgItem(window_, 1015), &client);
        return client;
    }
    void Close() const { PostMessageA(window_, WM_CLOSE, 0, 0); }
    HWND Handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

// Saves what the screen shows of `window` as a 24-bit BMP, for people to look at.
bool SaveScreenshot(HWND window, const char* path) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) {
        return false;
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string pixels(stride * static_cast<DWORD>(height), '\0');
    const int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), &pixels[0],
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (lines != height) {
        return false;
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    const bool written = fwrite(&file, sizeof file, 1, out) == 1 &&
                         fwrite(&info, sizeof info, 1, out) == 1 &&
                         fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    return fclose(out) == 0 && written;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

// Waits for the program to end; its exit code, or STILL_ACTIVE.
DWORD ExitCode(PROCESS_INFORMATION& process, DWORD timeoutMs) {
    WaitForSingleObject(process.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

} // namespace

int main(int argc, char** argv) {
    TestReport report("TavroFeltroSmoke");
    if (argc != 4) {
        printf("usage: TavroFeltroSmoke <Tavro.exe> <Feltro.exe> <receiver COM>\n");
        return 2;
    }
    const char* hubPath = argv[1];
    const char* feltroPath = argv[2];
    const DWORD receiverCom = static_cast<DWORD>(atoi(argv[3]));

    report.Section("without a hub");
    PROCESS_INFORMATION feltro{};
    if (!report.Check(StartProgram(feltroPath, feltro), "Feltro.exe started")) {
        return report.Finish();
    }
    SetupDialog dialog;
    report.Check(WaitUntil([&] { return dialog.Find(); }, windowTimeoutMs), "dialog \"%s\" found",
                 dialogTitle);
    report.Check(WaitUntil([&] { return StartsWith(dialog.Text(1005), "Fix: "); }, 5000),
                 "the first tick came");
    report.Check(dialog.Text(1005) == "Fix: No GPS   Fix counter: 0", "fix status \"%s\"",
                 dialog.Text(1005).c_str());
    report.Check(dialog.Text(1004) == "MTK2 commands not supported by this GPS.",
                 "line load shows the notice \"%s\"", dialog.Text(1004).c_str());
    report.Check(dialog.Count(1000) == 6 && dialog.Count(1001) == 5 && dialog.Count(1011) == 6,
                 "lists of 6 speeds, 5 fix rates, rates 0-5");
    report.Check(dialog.Selection(1000) == -1 && dialog.Selection(1011) == -1,
                 "nothing selected without a hub");
    dialog.Close();
    report.Check(ExitCode(feltro, 10000) == 0, "it closes with its close box");
    EndProgram(feltro);

    report.Section("with the hub and an MTK receiver on COM%lu", receiverCom);
    report.Check(WriteHubSettings(receiverCom), "hub settings written");
    PROCESS_INFORMATION hub{};
    if (!report.Check(StartProgram(hubPath, hub), "Tavro.exe started")) {
        return report.Finish();
    }
    BlockView block;
    report.Check(WaitUntil([&] { return FindWindowA(nullptr, hubWindowTitle) != nullptr; },
                           windowTimeoutMs) &&
                     block.Open(),
                 "the hub's window and status block");
    report.Check(WaitUntil(
                     [&] {
                         return block.Byte(0) == static_cast<uint8_t>(StreamState::NmeaStream) &&
                                block.RmcCount() > 0;
                     },
                     dataTimeoutMs),
                 "the hub decodes the receiver");
    if (!report.Check(StartProgram(feltroPath, feltro), "Feltro.exe started again")) {
        EndProgram(hub);
        return report.Finish();
    }
    report.Check(WaitUntil([&] { return dialog.Find(); }, windowTimeoutMs), "dialog found");
    // Each value is read once the wait is over: the arguments of a call have no order.
    bool done = WaitUntil([&] { return block.RefCount() == 2; }, 5000);
    report.Check(done, "Feltro counts itself in refCount (%u)", block.RefCount());
    // The receiver's defaults, GLL, RMC, VTG, GGA, GSA and GSV each fix: 575 of 480 bytes/s.
    done = WaitUntil([&] { return dialog.Text(1004) == "Bandwidth: 119%"; }, dataTimeoutMs);
    report.Check(done, "the receiver's rates arrived: \"%s\"", dialog.Text(1004).c_str());
    // The hub's first frames may be cut or precede the first GGA (fix state Invalid).
    done = WaitUntil([&] { return StartsWith(dialog.Text(1005), "Fix: 3D   Fix counter: "); },
                     dataTimeoutMs);
    report.Check(done, "fix status \"%s\"", dialog.Text(1005).c_str());
    report.Check(dialog.Selection(1000) == 0, "speed 4800 selected (%d)", dialog.Selection(1000));
    report.Check(dialog.Selection(1001) == 0, "1Hz 1000ms selected (%d)", dialog.Selection(1001));
    report.Check(dialog.Selection(1006) == 1 && dialog.Selection(1007) == 1 &&
                     dialog.Selection(1011) == 1 && dialog.Selection(1024) == 0,
                 "sentence lists at the receiver's rates (GLL %d, RMC %d, GSV %d, CHN %d)",
                 dialog.Selection(1006), dialog.Selection(1007), dialog.Selection(1011),
                 dialog.Selection(1024));

    // The graph on the screen. The receiver tracks GPS, GLONASS, Galileo and BeiDou, so the
    // hub marks the used satellites entries and the graph has a column per entry: the outline,
    // and a satellite of another constellation than GPS, used with a good signal, as a green
    // bar under grey. The dialog goes on top first: windows an earlier program left (a tray)
    // may cover part of it.
    const RECT graph = dialog.GraphClient();
    const int pitch = (graph.right - 1) / 12;
    int shown = -1;
    WaitUntil(
        [&] {
            shown = -1;
            for (int k = 0; k < 12 && shown < 0; ++k) {
                const int prn = block.EntryPrn(k);
                const int snr = block.EntrySnr(k);
                if ((block.UsedEntries() >> k & 1) != 0 && prn > 32 && snr >= 20 && snr <= 45) {
                    shown = k;
                }
            }
            return shown >= 0;
        },
        dataTimeoutMs);
    SetWindowPos(dialog.Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    Sleep(500); // a tick or two to draw the sky just read
    const COLORREF corner = dialog.GraphPixel(0, 0);
    report.Check(corner == RGB(0, 0, 0), "the graph's outline is black (%06lx, client %ldx%ld)",
                 static_cast<unsigned long>(corner), graph.right, graph.bottom);
    const int x = 2 + shown * pitch;
    const COLORREF top = dialog.GraphPixel(x, 2);
    const COLORREF bar = dialog.GraphPixel(x, graph.bottom - 3);
    report.Check(shown >= 0 && top == RGB(176, 176, 176) && bar == RGB(0, 255, 0),
                 "entry %d, satellite %d used with SNR %d, is a green bar under grey (%06lx, "
                 "%06lx)",
                 shown, shown >= 0 ? block.EntryPrn(shown) : 0,
                 shown >= 0 ? block.EntrySnr(shown) : 0, static_cast<unsigned long>(bar),
                 static_cast<unsigned long>(top));

    const char* screenshot = "C:\\tavro-tests\\Feltro-dialog.bmp";
    report.Note("screenshot %s: %s", screenshot,
                SaveScreenshot(dialog.Handle(), screenshot) ? "saved" : "not saved");

    report.Section("the user sets sentence rates and a new line speed");
    dialog.Choose(1006, 2); // GLL every second fix: 547 bytes a fix
    report.Check(dialog.Text(1004) == "Bandwidth: 113%", "GLL=2 lowers the estimate: \"%s\"",
                 dialog.Text(1004).c_str());
    dialog.Click(1025); // the script finds $PMTK314,2,1,1,1,1,1,... in the receiver's log
    Sleep(1500);
    dialog.Choose(1000, 1);
    report.Check(dialog.Text(1004) == "Bandwidth: 56%", "at 9600: \"%s\"",
                 dialog.Text(1004).c_str());
    const int32_t before = block.RmcCount();
    dialog.Click(1002);
    done = WaitUntil([&] { return block.Baud() == 9600; }, dataTimeoutMs);
    report.Check(done, "the hub re-opened the receiver's port at 9600 (%lu)",
                 static_cast<unsigned long>(block.Baud()));
    done = WaitUntil([&] { return block.RmcCount() > before + 2; }, dataTimeoutMs);
    report.Check(done, "and decodes at 9600 (%ld RMC)", static_cast<long>(block.RmcCount()));
    done = WaitUntil([&] { return dialog.Selection(1000) == 1; }, 1000);
    report.Check(done && dialog.Text(1004) == "Bandwidth: 56%", "the dialog still shows 9600");

    report.Section("exit");
    dialog.Close();
    report.Check(ExitCode(feltro, 10000) == 0, "Feltro.exe ended with 0");
    done = WaitUntil([&] { return block.RefCount() == 1; }, 5000);
    report.Check(done, "and counted itself out (%u)", block.RefCount());
    EndProgram(feltro);
    EndProgram(hub);
    return report.Finish();
}
