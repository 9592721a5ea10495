#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace fa {

// The windows' fixed layouts were drawn for a 9-point font at 96 dpi: 12
// pixels.
inline constexpr int kLayoutFontPixels = 12;

// Readies the running QApplication before any window exists: Qt's own texts
// (dialog buttons, the file dialog) in Simplified Chinese whatever the
// system's language, and the program's font at the desktop's size in whole
// pixels, never smaller than kLayoutFontPixels. Safe to call more than once.
void setUpApplication();

// A window's layout, kept in twips as it was drawn (15 to a pixel at
// kLayoutFontPixels), in pixels for the window's font: with a larger desktop
// font every box grows as much as the text in it, and the window keeps its
// proportions. Never smaller than drawn, where the styles' fixed frames and
// margins would leave the text too little room.
class Twips
{
public:
    explicit Twips(const QWidget &window);
    int operator()(int twips) const;
    QRect operator()(int left, int top, int width, int height) const;

private:
    double m_scale = 1;
};

// The system database the operator chose in the file dialog this session
// because none was at the default place, once it opened: later refreshes use
// it again rather than ask anew. Empty until then.
QString ChosenSystemDatabase();
void setChosenSystemDatabase(const QString &path);

// The font the desktop gave the program before setUpApplication replaced it;
// window frames draw their titles in about this size.
QFont desktopFont();

} // namespace fa
