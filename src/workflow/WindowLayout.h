#pragma once

#include <array>
#include <string_view>

#include "workflow/WindowView.h"

namespace sparkloom {

// The window's fixed layout, the same for every toolkit. Positions are in
// twips (15 to a pixel at 96 dpi); a control inside a frame is placed relative
// to its frame.
struct ControlLayout {
    enum class Kind {
        Picture,
        Frame,
        TextBox,
        Button,
        Combo,
        Image,
        Status,
        Progress,
        Label,
        Slider,  // a horizontal track bar
        Canvas,  // an area the dialog paints itself: a frame, a strip of frames
    };
    std::string_view name;
    Kind kind;
    std::string_view frame;    // the enclosing frame's name; "" for the window
    std::string_view caption;  // "&" marks the access key
    int left, top, width, height;
    bool enabled;
    bool red;  // a frame's caption red and bold, or a text box's text red
    std::string_view toolTip;
};

inline constexpr std::string_view kWindowCaption = "Sparkloom v1.0.1";
inline constexpr int kClientWidthTwips = 7995;
inline constexpr int kClientHeightTwips = 9375;
inline constexpr int kTwipsPerPixelAt96Dpi = 15;
inline constexpr std::string_view kWindowFont = "Tahoma";
inline constexpr int kWindowFontPoints = 9;

inline constexpr std::string_view kTemplatesPage = "https://example.org/sparkloom/templates";
inline constexpr std::string_view kDonationPage = "https://example.org/sparkloom/donate";

// From top to bottom, each frame before what it holds.
inline constexpr std::array<ControlLayout, 28> kWindowLayout{{
    {"Picture1", ControlLayout::Kind::Picture, "", "", 0, 0, 7995, 1665, true, false, "Visit Us"},
    {"Frame7", ControlLayout::Kind::Frame, "", "PARTICLE NAME", 120, 1800, 3855, 975, true, true,
     ""},
    {"txtParticleName", ControlLayout::Kind::TextBox, "Frame7", "", 120, 360, 3615, 375, true, true,
     ""},
    {"Frame1", ControlLayout::Kind::Frame, "", "Select Video file", 4080, 1800, 3855, 975, true,
     false, ""},
    {"txtVideoFile", ControlLayout::Kind::TextBox, "Frame1", "", 120, 360, 2535, 375, false, false,
     ""},
    {"cmdProjectFile", ControlLayout::Kind::Button, "Frame1", "Browse", 2760, 360, 975, 375, true,
     false, ""},
    {"Frame8", ControlLayout::Kind::Frame, "", "Folder To Extract To", 120, 2880, 7815, 975, true,
     true, ""},
    {"txtExtractPath", ControlLayout::Kind::TextBox, "Frame8", "", 120, 360, 4455, 375, true, true,
     ""},
    {"cmdFrames", ControlLayout::Kind::Button, "Frame8", "Fra&mes…", 4680, 360, 1215, 375, false,
     false, "Rate, size, part of the clip and quality of the frames"},
    {"cmdExtract", ControlLayout::Kind::Button, "Frame8", "Extract Video", 6000, 360, 1695, 375,
     false, false, ""},
    {"Frame3", ControlLayout::Kind::Frame, "", "Select JPG Thumbnail", 120, 3960, 3855, 975, true,
     false, ""},
    {"txtJPGThumb", ControlLayout::Kind::TextBox, "Frame3", "", 120, 360, 2535, 375, false, false,
     ""},
    {"cmdThumb", ControlLayout::Kind::Button, "Frame3", "Browse", 2760, 360, 975, 375, false, false,
     ""},
    {"Frame4", ControlLayout::Kind::Frame, "", "Select 1st Animation Image", 4080, 3960, 3855, 975,
     true, false, ""},
    {"txtAnimImage", ControlLayout::Kind::TextBox, "Frame4", "", 120, 360, 1335, 375, false, false,
     ""},
    {"cmdPreview", ControlLayout::Kind::Button, "Frame4", "Pre&view…", 1560, 360, 1095, 375, false,
     false, "Play the frames as the host will, and pick the first frame and the thumbnail"},
    {"cmdAnimImage", ControlLayout::Kind::Button, "Frame4", "Browse", 2760, 360, 975, 375, false,
     false, ""},
    {"Frame6", ControlLayout::Kind::Frame, "", "Select Project Type", 120, 5040, 3855, 975, true,
     false, ""},
    {"cboType", ControlLayout::Kind::Combo, "Frame6", "Select", 240, 360, 3375, 330, true, false,
     ""},
    {"Frame2", ControlLayout::Kind::Frame, "", "Express Project Category", 4080, 5040, 3855, 975,
     true, false, ""},
    {"cboCat", ControlLayout::Kind::Combo, "Frame2", "Select", 240, 360, 3375, 330, true, false,
     ""},
    {"Image1", ControlLayout::Kind::Image, "", "", 1440, 6120, 5205, 1005, true, false,
     "Please Click Here And Surprise Me :)"},
    {"Command3", ControlLayout::Kind::Button, "", "&Cancel Process", 840, 7320, 1695, 495, true,
     false, ""},
    {"cmdDZP", ControlLayout::Kind::Button, "", "Build Particle", 2880, 7320, 2535, 495, false,
     false, ""},
    {"cmdExit", ControlLayout::Kind::Button, "", "E&XIT", 5760, 7320, 1335, 495, true, false, ""},
    {"Frame5", ControlLayout::Kind::Frame, "", "RESULTS", 120, 8040, 7695, 855, true, false, ""},
    {"txtStatus", ControlLayout::Kind::Status, "Frame5", "", 120, 240, 7335, 555, false, false, ""},
    {"ProgressBar1", ControlLayout::Kind::Progress, "", "", 120, 9000, 7695, 315, true, false, ""},
}};

// The form name of a control the workflow drives, as the layout names it.
constexpr std::string_view NameOf(WindowControl control) {
    constexpr std::array<std::string_view, 18> names{
        "txtParticleName", "txtVideoFile", "cmdProjectFile", "txtExtractPath", "cmdExtract",
        "txtJPGThumb",     "cmdThumb",     "txtAnimImage",   "cmdAnimImage",   "cboType",
        "cboCat",          "Command3",     "cmdDZP",         "cmdExit",        "txtStatus",
        "ProgressBar1",    "cmdFrames",    "cmdPreview"};
    return names[static_cast<size_t>(control)];
}

}  // namespace sparkloom
