// What a user may type where VUM asks for an address or a count, and the
// one message for what it refuses. Every entry of VUM goes through these
// rules, so that typed text is never sent to the debugger unchecked: an
// address is hexadecimal (with or without 0x), at most 32 bits, or the name
// of a known symbol; a virtual address is SEGMENT:OFFSET, the segment at
// most 16 bits.
#pragma once

#include <cstdint>

// Looks a symbol's name up; false when no symbol has that name.
typedef bool (*SymbolResolver)(const char *name, uint32_t *address);

const int address_message_size = 128;

struct TypedAddress {
  uint32_t segment;   // SEGMENT:OFFSET only
  uint32_t offset;    // the address, or the offset within the segment
  bool from_symbol;   // a name was typed (the text goes to the debugger as 0x%X)
  char message[address_message_size];  // why the text was refused, when it was
};

enum class AddressForm {
  plain,      // an address
  segmented,  // SEGMENT:OFFSET (a virtual breakpoint)
};

// Reads the typed text. Blanks around it are allowed. True when it is an
// address of the form asked for; otherwise `out->message` says why not.
bool parse_address(const char *text, AddressForm form, SymbolResolver resolve, TypedAddress *out);

// A decimal count of 1 to `most` (a number of units, elements or values):
// true with *count, or false with the message.
bool parse_count(const char *text, uint32_t most, const char *what, uint32_t *count,
                 char message[address_message_size]);

// A setting's number typed into its entry: decimal digits (a plus sign
// allowed), 0 included, at most `most`. True with *value, or false with the
// message; `what` names the setting.
bool parse_setting(const char *text, uint32_t most, const char *what, uint32_t *value,
                   char message[address_message_size]);
