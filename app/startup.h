#pragma once

#include <QFont>

namespace fa {

// The windows' fixed layouts were drawn for a 9-point font at 96 dpi: 12
// pixels, whatever the desktop's font and resolution are.
inline constexpr int kLayoutFontPixels = 12;

// Readies the running QApplication before any window exists: Qt's own texts
// (dialog buttons, the file dialog) in Simplified Chinese whatever the
// system's language, and the program's font at kLayoutFontPixels. Safe to
// call more than once.
void setUpApplication();

// The font the desktop gave the program before setUpApplication replaced it;
// window frames draw their titles in about this size.
QFont desktopFont();

} // namespace fa
