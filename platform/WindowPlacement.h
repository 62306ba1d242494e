#pragma once
// Where the program's windows appear: in the middle of the screen, or of the
// window they belong to, frame included.
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// The top-left corner that centres a window of `outer` size (frame included)
// on `over`, moved into `area` as far as it fits; a window larger than the
// area keeps its top-left corner in it, so its title bar stays reachable.
QPoint centredPosition(const QRect& over, const QSize& outer, const QRect& area);

// Centres `window` on its screen's available area now, and again when the
// window system puts its frame round it, which it does only after the window
// appears (and with a frame its outer size is another one).
void CentreWindowOnScreen(QWidget* window);

enum class Centring { FirstShow, EveryShow };

// Centres `window` each time the program shows it (or the first time only),
// as CentreWindowOnScreen does; over `owner`'s window when one is given and
// is visible at that moment, otherwise on the screen. A window the window
// system shows again (restored, another desktop) stays where it is. Qt's own
// placement of a dialog guesses a frame of 10 x 40 pixels before it knows
// the real one and does not centre on a parent that is not shown yet.
void CentreWhenShown(QWidget* window, Centring when, QWidget* owner = nullptr);
