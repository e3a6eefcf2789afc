// sparkloom.exe: the window on Windows. A video named on the command line is
// taken as if chosen with the video "Browse".
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/WideText_win.h"
#include "win32/MainWindow.h"
#include "workflow/WindowModel.h"

namespace {

// The arguments after the program's name, each as a full path.
std::vector<std::string> GivenPaths() {
    std::vector<std::string> paths;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return paths;
    }
    for (int i = 1; i < count; ++i) {
        std::wstring full(MAX_PATH, L'\0');
        DWORD length =
            GetFullPathNameW(arguments[i], static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length >= full.size()) {
            full.resize(length);
            length = GetFullPathNameW(arguments[i], static_cast<DWORD>(full.size()), full.data(),
                                      nullptr);
        }
        // One that names no path at all is handed on as given, to be refused.
        full.resize(length > 0 && length < full.size() ? length : 0);
        paths.push_back(sparkloom::platform::Utf8OfWide(full.empty() ? arguments[i] : full));
    }
    LocalFree(arguments);
    return paths;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // The shell's dialogs and the picture decoder are COM objects.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    int status = 1;
    {
        sparkloom::win32::MainWindow window(instance);
        sparkloom::WindowModel model(window);
        if (window.Create(model)) {
            model.StartUp();
            window.Show(showCommand);
            model.OpenGivenPaths(GivenPaths());
            MSG message;
            BOOL got = 0;
            while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
                if (!window.TranslateDialogKeys(message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            status = got == 0 ? static_cast<int>(message.wParam) : 1;
        }
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return status;
}
