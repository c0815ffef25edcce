#pragma once

class QSize;
class QWidget;

namespace aquilevel {

// How much larger than on a 1920 x 1080 screen a window is drawn on a screen of `screenSize` (in Qt's pixels): 1 up to that
// size (a 1024 x 768 lab monitor keeps the windows as they are), 2 on an unscaled
// 3840 x 2160 one. A desktop that scales by itself (150 %, 200 %) already has Qt draw
// larger, and its screen measures that much less here.
double screenScale(const QSize& screenSize);

// Draws a window of the session screenScale() times larger on its screen: its fonts (also
// those its controls choose for themselves), the sizes its controls ask for, the spaces of
// its layouts, and its own size. Done once per window; nothing changes at a factor of 1.
void fitToScreen(QWidget* window);
// The same by a given factor.
void enlarge(QWidget* window, double factor);

} // namespace aquilevel
