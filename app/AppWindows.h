#pragma once
// The program's four long-lived windows, created once in a fixed order and
// reached through their single global instances.
class MeterDriver;
class Texpsel;

extern Texpsel* expsel;

// Creates the main window, the About box, the System Setup dialog and the
// export choice dialog, in this order.
void CreateWindows(MeterDriver& driver);
// Destroys them in the reverse order.
void DestroyWindows();
