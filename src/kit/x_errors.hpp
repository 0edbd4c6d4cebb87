// X errors that say no more than that a window went away while it was being
// looked at. Windows come and go on a shared display (other programs', and
// the toolkit's own dialogs as they close), and the toolkit can ask for the
// pointer or the geometry of a window in the moment after it was destroyed;
// its own handler ends the program for that, and with it the debugging
// session. Those few read-only questions are let pass; every other error
// goes to the toolkit's handler as before (and to its error traps).
#pragma once

// Once the toolkit has opened its display; calling it again changes nothing.
void tolerate_vanished_windows();

// How many such errors were let pass since then.
int vanished_window_errors();
