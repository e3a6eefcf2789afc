#pragma once

#include <windows.h>

#include <string>

#include "workflow/WindowView.h"

namespace sparkloom::win32 {

// The system's open and save dialogs; the full path chosen, or "" when the
// user cancelled. Paths are UTF-8 with Windows' backslashes.
std::string ChooseFileNative(HWND owner, const FileRequest& request);

// The system's folder picker, opening at initialFolder when that is a folder,
// with a line under the list that shows the path of the highlighted folder.
// The chosen folder without trailing backslash, or "".
std::string BrowseForFolderNative(HWND owner, const std::string& initialFolder,
                                  const std::string& title);

// "A|*.a|B|*.b" as the dialogs want it: NUL between the parts, two NULs after.
std::wstring DialogFilter(const std::string& filter);

// Windows' line breaks for edit controls and message boxes.
std::wstring WithCrLf(const std::string& text);

}  // namespace sparkloom::win32
