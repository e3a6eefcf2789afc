#pragma once

#include <array>
#include <string_view>

#include "workflow/WindowLayout.h"

namespace sparkloom {

// The controls of the "Preview" dialog the workflow reads or changes.
enum class PreviewControl {
    picFrame,       // the current frame, fitted with its aspect kept
    cmdPlay,        // "&Play" or "&Pause"
    sldFrame,       // one step a frame, 0 to the last frame
    lblFrame,       // "Fire_00120.jpg, 0:03.97 of 0:40.00"
    picStrip,       // kPreviewStripCells small frames around the current one
    cmdFirstFrame,  // as the first-frame chooser's Browse
    cmdThumbnail,   // as the thumbnail chooser's Browse
    cmdClose,
};

inline constexpr std::string_view kPreviewCaption = "Preview";
inline constexpr int kPreviewClientWidthTwips = 10800;
inline constexpr int kPreviewClientHeightTwips = 8415;
// The strip shows this many frames side by side, the current one in the middle.
inline constexpr int kPreviewStripCells = 7;

inline constexpr std::string_view kPlayCaption = "&Play";
inline constexpr std::string_view kPauseCaption = "&Pause";

// The dialog's layout, in the main window's units and font; the rows are in
// tab order.
inline constexpr std::array<ControlLayout, 8> kPreviewLayout{{
    {"picFrame", ControlLayout::Kind::Canvas, "", "", 120, 120, 10560, 5400, true, false, ""},
    {"cmdPlay", ControlLayout::Kind::Button, "", kPlayCaption, 120, 5640, 1095, 375, true, false,
     "Plays at 30 frames a second, as the host does, and loops"},
    {"sldFrame", ControlLayout::Kind::Slider, "", "", 1320, 5640, 9360, 375, true, false,
     "Left, Right: a frame; Page Up, Page Down: a second; Home, End"},
    {"lblFrame", ControlLayout::Kind::Label, "", "", 120, 6120, 10560, 255, true, false, ""},
    {"picStrip", ControlLayout::Kind::Canvas, "", "", 120, 6480, 10560, 1320, true, false,
     "Click a frame to show it"},
    {"cmdFirstFrame", ControlLayout::Kind::Button, "", "Use as &first frame", 120, 7920, 2415, 375,
     false, false, "The host starts the particle with this frame"},
    {"cmdThumbnail", ControlLayout::Kind::Button, "", "Use as &thumbnail", 2640, 7920, 2415, 375,
     false, false, "Copied as Thumb.jpg and Thumb.png beside the frames"},
    {"cmdClose", ControlLayout::Kind::Button, "", "Close", 9465, 7920, 1215, 375, true, false, ""},
}};

constexpr std::string_view NameOf(PreviewControl control) {
    constexpr std::array<std::string_view, 8> names{"picFrame",     "cmdPlay",  "sldFrame",
                                                    "lblFrame",     "picStrip", "cmdFirstFrame",
                                                    "cmdThumbnail", "cmdClose"};
    return names[static_cast<size_t>(control)];
}

}  // namespace sparkloom
