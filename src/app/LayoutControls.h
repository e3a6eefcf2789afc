#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QWidget>

#include "workflow/WindowLayout.h"

namespace sparkloom {

// A layout row's place in pixels at 96 dpi.
QRect Twips(const ControlLayout& layout);
void Colour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);
// The Qt widget for a layout row, with its caption and colours.
QWidget* MakeControl(const ControlLayout& layout, QWidget* parent, const QFont& windowFont);

}  // namespace sparkloom
