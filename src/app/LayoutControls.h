#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QWidget>
#include <string>
#include <string_view>

#include "workflow/WindowLayout.h"

namespace sparkloom {

// Names and captions window, gives it the window's font and the fixed client
// size of its layout table; returns that font for its controls.
QFont DressLayoutWindow(QWidget* window, const char* objectName, std::string_view caption,
                        int widthTwips, int heightTwips);
// A layout row's place in pixels at 96 dpi.
QRect Twips(const ControlLayout& layout);
void Colour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);
// The Qt widget for a layout row, with its caption and colours.
QWidget* MakeControl(const ControlLayout& layout, QWidget* parent, const QFont& windowFont);
// The text a box, combo box, status box, button or label shows, as the
// workflow reads and sets it; "" and nothing for any other widget.
std::string TextOf(const QWidget* widget);
void SetTextOf(QWidget* widget, const std::string& text);

}  // namespace sparkloom
