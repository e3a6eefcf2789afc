#pragma once

#include <array>
#include <string_view>

#include "workflow/WindowLayout.h"

namespace sparkloom {

// The controls of the "Frames…" dialog the workflow reads or changes.
enum class FramesControl {
    lblClip,      // the clip's facts
    cboRate,      // editable: an entry or a number
    cboWidth,     // editable
    txtStart,     // a TIME, or empty for the beginning
    txtLength,    // a TIME, or empty for the rest of the clip
    cboQuality,   // editable
    lblEstimate,  // the live estimate; red when it does not fit
    cmdFit,
    cmdOK,
    cmdCancel,
};

inline constexpr std::string_view kFramesCaption = "Frames";
inline constexpr int kFramesClientWidthTwips = 6600;
inline constexpr int kFramesClientHeightTwips = 3735;

// The dialog's layout, in the main window's units and font. Labels carry the
// access keys of the boxes after them; the rows are in tab order.
inline constexpr std::array<ControlLayout, 16> kFramesLayout{{
    {"lblClip", ControlLayout::Kind::Label, "", "", 120, 120, 6360, 255, true, false, ""},
    {"lblRate", ControlLayout::Kind::Label, "", "&Rate:", 120, 555, 1335, 255, true, false, ""},
    {"cboRate", ControlLayout::Kind::Combo, "", "", 1560, 510, 4920, 330, true, false, ""},
    {"lblWidth", ControlLayout::Kind::Label, "", "&Width:", 120, 960, 1335, 255, true, false, ""},
    {"cboWidth", ControlLayout::Kind::Combo, "", "", 1560, 915, 2400, 330, true, false, ""},
    {"lblStart", ControlLayout::Kind::Label, "", "&Start:", 120, 1365, 1335, 255, true, false, ""},
    {"txtStart", ControlLayout::Kind::TextBox, "", "", 1560, 1320, 1455, 330, true, false,
     "Seconds (90, 1.5) or [HH:]MM:SS[.fff]; empty: from the beginning"},
    {"lblLength", ControlLayout::Kind::Label, "", "&Length:", 3240, 1365, 1035, 255, true, false,
     ""},
    {"txtLength", ControlLayout::Kind::TextBox, "", "", 4320, 1320, 1455, 330, true, false,
     "Seconds (90, 1.5) or [HH:]MM:SS[.fff]; empty: to the end"},
    {"lblTimes", ControlLayout::Kind::Label, "", "Empty: from the beginning, to the end.", 1560,
     1710, 4920, 255, true, false, ""},
    {"lblQuality", ControlLayout::Kind::Label, "", "JPEG &quality:", 120, 2145, 1335, 255, true,
     false, ""},
    {"cboQuality", ControlLayout::Kind::Combo, "", "", 1560, 2100, 2400, 330, true, false, ""},
    {"lblEstimate", ControlLayout::Kind::Label, "", "", 120, 2580, 6360, 555, true, false, ""},
    {"cmdFit", ControlLayout::Kind::Button, "", "F&it", 120, 3240, 1095, 375, false, false,
     "The highest rate at or below the chosen one that fits one package"},
    {"cmdOK", ControlLayout::Kind::Button, "", "OK", 3960, 3240, 1215, 375, true, false, ""},
    {"cmdCancel", ControlLayout::Kind::Button, "", "Cancel", 5265, 3240, 1215, 375, true, false,
     ""},
}};

constexpr std::string_view NameOf(FramesControl control) {
    constexpr std::array<std::string_view, 10> names{
        "lblClip",    "cboRate",     "cboWidth", "txtStart", "txtLength",
        "cboQuality", "lblEstimate", "cmdFit",   "cmdOK",    "cmdCancel"};
    return names[static_cast<size_t>(control)];
}

}  // namespace sparkloom
