// In-place text routines for debugger replies and the configuration file.
// A position is a byte index into a NUL-terminated text, advanced by the call.
#pragma once

#include <cstdint>
#include <string>

// White space is exactly space, \t, \n, \v, \f and \r; bytes of 0x80 and above
// are ordinary characters.
bool is_white(char c);
// A blank within a line: space or \t.
bool is_blank(char c);
// 0-9, a-f, A-F, and the digit's value (-1 for any other character).
bool is_hex_digit(char c);
int hex_digit(char c);

// Moves the position past one field and the white space after it.
void skip_field(const char *text, uint32_t *position);

// Cuts the next word out of the text: the byte after it becomes NUL. The
// token points at the word (or at the terminating NUL); the result is its length.
int32_t next_token(char *text, uint32_t *position, char **token);

// Equal length and equal bytes with A-Z folded to a-z.
bool same_word(const char *a, const char *b);

// Removes trailing white space, never the first byte.
void trim_trailing_space(char *text);

// Copies up to the delimiter, the end of the source or 127 bytes, and ends
// the 128-byte destination with NUL.
void copy_until(const char *source, char destination[128], char delimiter);

// Reads a hexadecimal number at the start of the text exactly as the scanf
// conversion "%x" does: white space skipped, an optional sign, an optional
// "0x" or "0X", the digits. Returns false where "%x" converts nothing;
// otherwise stores the value and the number of characters taken.
bool scan_hex(const char *text, uint32_t *value, int *consumed);

// Writes the value as "%.NX" does (upper-case hex, at least `digits` digits),
// after the separator character when one is given, and ends it with NUL.
// Returns the end of the text.
char *format_hex(char *out, uint32_t value, int digits, char separator = '\0');

// Reads a decimal number at the start of the text as the scanf conversion
// "%u" does: white space skipped, an optional sign, the digits (a minus sign
// negates, an overflow gives the largest value). False where "%u" converts
// nothing; otherwise stores the value and the number of characters taken.
bool scan_unsigned(const char *text, uint32_t *value, int *consumed);

// Scans the text against a pattern of literal characters, white space and
// the conversions "%x" and "%u" only, storing into targets[0], targets[1],
// ... in order, exactly as sscanf does with the same pattern: the result is
// the number of values stored, or -1 when the text ends before the first
// conversion or mismatch.
int scan_pattern(const char *text, const char *pattern, uint32_t *const targets[]);

// The start of a text as it can be shown in one line: at most 40 characters,
// a line break as a blank and any other byte outside printable ASCII (NUL
// too) as '?', "..." after a longer text; a trailing line break is left out.
// `out` holds at least 44 bytes.
void printable_excerpt(const std::string &text, char *out);
