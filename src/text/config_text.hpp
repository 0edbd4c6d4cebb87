// The text of the configuration file ".vumrc", apart from reading the file
// and applying what it says: blocks of settings and structure and list
// definitions, scanned in place. Also the number reading of the Preferences
// page's entries.
#pragma once

#include <cstdint>

#include "text/struct_defs.hpp"

// The settings a file gave, each with whether it gave one, as stored by the
// blocks in file order (a later block overwrites an earlier one).
struct ConfigSettings {
  bool history_length_set;
  uint32_t history_length;
  bool stack_above_set;
  uint32_t stack_above;
  bool stack_below_set;
  uint32_t stack_below;
  bool tabs_set;  // a "tabs" block named one of the four positions
  uint32_t tabs;  // 0 bottom, 1 top, 2 left, 3 right
  bool reload_breakpoints_set;
  uint32_t reload_breakpoints;
  bool reload_watchpoints_set;
  uint32_t reload_watchpoints;
};

const uint32_t tab_position_count = 4;

// A "symbols" block: {symbols FILE [OFFSET]}, FILE one word (relative to the
// configuration file's directory), OFFSET hexadecimal, added to every
// address of the file.
const int most_symbol_files = 8;
const int symbol_file_name_size = 256;
struct ConfigSymbols {
  char file[symbol_file_name_size];
  uint32_t offset;
};

// How the scan of a file ended.
enum class ConfigEnd {
  end_of_text,    // every block was read
  stopped,        // a missing token, a failed conversion, a name too long, no
                  // memory, a ninth symbols block, or the end of the text
                  // inside a block: silently
  unknown_block,  // a keyword that is none of the seven
};

struct ConfigScan {
  ConfigSettings settings;
  ConfigEnd end;
  const char *unknown_keyword;  // the keyword token, inside the text
  ConfigSymbols symbols[most_symbol_files];  // the symbols blocks, in file order
  uint32_t symbol_files;
};

// Scans the text of a configuration file (modified in place: each token is
// cut out with next_token). The settings go into out->settings; every
// complete structure or list definition is appended to `defs` in file order.
// Whatever was stored before an error stays.
void scan_config(char *text, ConfigScan *out, StructDefList *defs = &struct_defs);

// One struct block (is_struct) or list block, from the token after its
// keyword: NAME, BASE ("%x"), for a list ELEMENTS ("%u"), then pairs of a
// field name and a size ("%u") up to a token that is exactly "}". True when
// the definition was complete and appended to `defs`; on false nothing was
// appended. The position is advanced past the tokens taken.
bool parse_struct_block(char *text, uint32_t *position, bool is_struct,
                        StructDefList *defs = &struct_defs);

// Reads an entry's text as atoi does: white space, an optional sign, the
// decimal digits up to the first other character; no digits give 0. The
// value is kept within +-2^62 (far beyond what an entry holds).
int64_t entry_number(const char *text);
