// What a person sees of the running sparkloom.exe, for the scripted run under
// Wine (window-test.sh): one line per control of the layout, tab separated:
// form name, centre on the screen (x, y), 1 when enabled, its text. A first
// line "window" gives the client area's size and whether it takes input. With
// --frames, the same for the open "Frames…" dialog, a combo box's entries
// after its text, separated by "|". With --message, the text of the program's
// open message box instead. Exits 1 while there is none to read.
#include <windows.h>

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

template <std::size_t N>
void PrintControls(HWND window, const std::array<ControlLayout, N>& layout,
                   int (*idOf)(std::string_view)) {
    RECT client{};
    GetClientRect(window, &client);
    std::printf("window\t%ld\t%ld\t%d\t\n", client.right, client.bottom,
                IsWindowEnabled(window) ? 1 : 0);
    for (const ControlLayout& row : layout) {
        HWND control = GetDlgItem(window, idOf(row.name));
        if (control == nullptr) {
            continue;
        }
        RECT box{};
        GetWindowRect(control, &box);
        std::printf("%.*s\t%ld\t%ld\t%d\t%s", static_cast<int>(row.name.size()), row.name.data(),
                    (box.left + box.right) / 2, (box.top + box.bottom) / 2,
                    IsWindowEnabled(control) ? 1 : 0, TextOf(control).c_str());
        if (row.kind == ControlLayout::Kind::Combo) {
            std::printf("\t%s", EntriesOf(control).c_str());
        }
        std::printf("\n");
    }
}

}  // namespace

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
    if (argc > 1 && std::wstring_view(argv[1]) == L"--frames") {
        HWND dialog = FindWindowW(L"#32770", platform::WideOf(kFramesCaption).c_str());
        if (dialog == nullptr) {
            return 1;
        }
        PrintControls(dialog, kFramesLayout,
                      [](std::string_view name) { return win32::FramesControlIdOf(name); });
        return 0;
    }
    HWND window = FindWindowW(win32::kWindowClass, nullptr);
    if (window == nullptr) {
        return 1;
    }
    PrintControls(window, kWindowLayout,
                  [](std::string_view name) { return win32::ControlIdOf(name); });
    return 0;
}
