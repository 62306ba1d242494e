#pragma once
class QWidget;

// Places a top-level window in the middle of its screen, frame included, as
// the program's windows appear.
void CentreWindowOnScreen(QWidget* window);
