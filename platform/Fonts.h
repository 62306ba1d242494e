#pragma once
// The windows name the fonts of the system they were drawn on. Where those
// are missing, map them to metric twins so that texts fit their labels.
void InstallFontSubstitutions();

#include <QFont>
// A font of the family at a character height given in pixels, as the
// windows state their fonts.
QFont pixelFont(const QString& family, int pixels);
