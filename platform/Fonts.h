#pragma once
// The windows name the fonts of the system they were drawn on. Where those
// are missing, map them to metric twins so that texts fit their labels.
void InstallFontSubstitutions();
