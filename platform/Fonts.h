#pragma once
// The windows name the fonts of the system they were drawn on. Where those
// are missing, map them to metric twins so that texts fit their labels.
void InstallFontSubstitutions();

#include <QFont>
// A font of the family at a character height given in pixels, as the
// windows state their fonts.
QFont pixelFont(const QString& family, int pixels);

// The font of the status bar's record-count panel: 50 pixels must hold
// "Total:" and the five digits of a day's recording at one reading a
// second, which the usual stand-ins for "MS Sans Serif" draw too wide.
QFont countPanelFont();
