#pragma once
// The pictures of the command buttons and the window icon, drawn in code so
// that no image files need to ship. QIcon derives each disabled form.
#include <QIcon>

namespace pictures {
QIcon retry();    // Start
QIcon no();       // STOP
QIcon close();    // Exit
QIcon exportData();
QIcon analyze();
QIcon setup();
QIcon ok();
QIcon cancel();
QIcon windowIcon(); // 32 x 32, a bench meter with its display
} // namespace pictures
