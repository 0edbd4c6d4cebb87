// The guest's console text as the Guest Output page shows it: bytes as the
// guest printed them (on port 0xE9), made into UTF-8 for the text view.
#pragma once

#include <cstddef>
#include <string>

// Appends the bytes to `out`: printable ASCII, newline and tab as they are;
// carriage returns dropped (a guest's "\r\n" ends one line); other control
// bytes as '.'; bytes of 0x80 and above as the Latin-1 characters of their
// codes (always valid UTF-8).
void append_guest_text(const char *bytes, size_t length, std::string *out);
