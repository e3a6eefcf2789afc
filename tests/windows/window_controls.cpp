// What a person sees of the running sparkloom.exe, for the scripted run under
// Wine (window-test.sh): one line per control of the layout, tab separated:
// form name, centre on the screen (x, y), 1 when enabled, its text, then its
// width, height and centre in the client area, and for a combo box its entries,
// separated by "|". A first line "window" gives the client area's size and
// whether it takes input. With --frames or --preview, the same for the open
// "Frames…" or "Preview" dialog (a slider's text is its position). With
// --message, the text of the program's open message box instead. Exits 1
// while there is none to read, or it is not shown yet.
// What Windows sends and Wine cannot: --dpi N [--frames], the window (or the
// open "Frames…" dialog) moved to a screen of N dpi (WM_DPICHANGED with the
// rectangle Windows would suggest);
// --end-session, a log-off (WM_QUERYENDSESSION, then WM_ENDSESSION), printing
// "query" and the answer, and the reason the window gave for waiting.
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/WideText_win.h"
#include "win32/ControlIds.h"

using namespace sparkloom;

namespace {

std::string TextOf(HWND control) {
    // WM_GETTEXT, unlike GetWindowText, reads an edit field of another process.
    wchar_t text[4096] = L"";
    DWORD_PTR length = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &length);
    std::string utf8 = platform::Utf8OfWide(text);
    for (char& c : utf8) {
        if (c == '\r' || c == '\n' || c == '\t') {
            c = ' ';
        }
    }
    return utf8;
}

std::string EntriesOf(HWND combo) {
    std::string entries;
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t entry[1024] = L"";
        if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) <
            static_cast<LRESULT>(std::size(entry))) {
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(entry));
        }
        entries += (i == 0 ? "" : "|") + platform::Utf8OfWide(entry);
    }
    return entries;
}

// 1 while window is still hidden: it is shown once its controls are made.
template <std::size_t N>
int PrintControls(HWND window, const std::array<ControlLayout, N>& layout,
                  int (*idOf)(std::string_view)) {
    if (!IsWindowVisible(window)) {
        return 1;
    }
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    std::printf("window\t%ld\t%ld\t%d\t\n", client.right, client.bottom,
                IsWindowEnabled(window) ? 1 : 0);
    for (const ControlLayout& row : layout) {
        HWND control = GetDlgItem(window, idOf(row.name));
        if (control == nullptr) {
            continue;
        }
        RECT box{};
        GetWindowRect(control, &box);
        const std::string text = row.kind == ControlLayout::Kind::Slider
                                     ? std::to_string(SendMessageW(control, TBM_GETPOS, 0, 0))
                                     : TextOf(control);
        std::printf("%.*s\t%ld\t%ld\t%d\t%s\t%ld\t%ld\t%ld\t%ld", static_cast<int>(row.name.size()),
                    row.name.data(), (box.left + box.right) / 2, (box.top + box.bottom) / 2,
                    IsWindowEnabled(control) ? 1 : 0, text.c_str(), box.right - box.left,
                    box.bottom - box.top, (box.left + box.right) / 2 - origin.x,
                    (box.top + box.bottom) / 2 - origin.y);
        if (row.kind == ControlLayout::Kind::Combo) {
            std::printf("\t%s", EntriesOf(control).c_str());
        }
        std::printf("\n");
    }
    return 0;
}

}  // namespace

// WM_DPICHANGED carries a pointer to the suggested rectangle, which must lie
// in the window's own process.
int MoveToDpi(HWND window, UINT dpi) {
    RECT now{};
    GetWindowRect(window, &now);
    const UINT was = GetDpiForWindow(window);
    const RECT suggested{now.left, now.top,
                         now.left + MulDiv(now.right - now.left, dpi, was ? was : 96),
                         now.top + MulDiv(now.bottom - now.top, dpi, was ? was : 96)};
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr) {
        return 1;
    }
    void* there = VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
    const bool written = there != nullptr &&
                         WriteProcessMemory(process, there, &suggested, sizeof suggested, nullptr);
    DWORD_PTR result = 0;
    const bool sent = written && SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                                                     reinterpret_cast<LPARAM>(there),
                                                     SMTO_ABORTIFHUNG, 10000, &result) != 0;
    if (there != nullptr) {
        VirtualFreeEx(process, there, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return sent ? 0 : 1;
}

int EndSession(HWND window) {
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                            10000, &answer) == 0) {
        return 1;
    }
    // Wine has no ShutdownBlockReasonQuery: the reason then stays empty.
    using QueryFunction = BOOL(WINAPI*)(HWND, LPWSTR, DWORD*);
    const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "ShutdownBlockReasonQuery")));
    wchar_t reason[MAX_STR_BLOCKREASON] = L"";
    DWORD length = std::size(reason);
    if (query == nullptr || !query(window, reason, &length)) {
        reason[0] = L'\0';
    }
    std::printf("query\t%d\t%s\n", answer ? 1 : 0, platform::Utf8OfWide(reason).c_str());
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                               60000, &ignored) != 0
               ? 0
               : 1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wstring_view(argv[1]) == L"--message") {
        // A message box is a dialog whose text is control 0xFFFF.
        HWND box = FindWindowW(L"#32770", L"Sparkloom");
        HWND text = box != nullptr ? GetDlgItem(box, 0xFFFF) : nullptr;
        if (text == nullptr) {
            return 1;
        }
        std::printf("%s\n", TextOf(text).c_str());
        return 0;
    }
    HWND dialog = FindWindowW(L"#32770", platform::WideOf(kFramesCaption).c_str());
    if (argc > 3 && std::wstring_view(argv[1]) == L"--dpi" &&
        std::wstring_view(argv[3]) == L"--frames") {
        return dialog == nullptr ? 1 : MoveToDpi(dialog, static_cast<UINT>(_wtoi(argv[2])));
    }
    if (argc > 1 && std::wstring_view(argv[1]) == L"--frames") {
        if (dialog == nullptr) {
            return 1;
        }
        return PrintControls(dialog, kFramesLayout,
                             [](std::string_view name) { return win32::FramesControlIdOf(name); });
    }
    if (argc > 1 && std::wstring_view(argv[1]) == L"--preview") {
        HWND preview = FindWindowW(L"#32770", platform::WideOf(kPreviewCaption).c_str());
        if (preview == nullptr) {
            return 1;
        }
        return PrintControls(preview, kPreviewLayout,
                             [](std::string_view name) { return win32::PreviewControlIdOf(name); });
    }
    HWND window = FindWindowW(win32::kWindowClass, nullptr);
    if (window == nullptr) {
        return 1;
    }
    if (argc > 2 && std::wstring_view(argv[1]) == L"--dpi") {
        return MoveToDpi(window, static_cast<UINT>(_wtoi(argv[2])));
    }
    if (argc > 1 && std::wstring_view(argv[1]) == L"--end-session") {
        return EndSession(window);
    }
    return PrintControls(window, kWindowLayout,
                         [](std::string_view name) { return win32::ControlIdOf(name); });
}
