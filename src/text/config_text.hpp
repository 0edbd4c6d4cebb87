// The text of the configuration file ".vumrc", apart from reading the file
// and applying what it says: blocks of settings and structure and list
// definitions, scanned in place. Also the number reading of the Preferences
// page's entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// An error of the file: the line it is on (from 1) and what was expected.
struct ConfigError {
  uint32_t line;
  std::string message;
};

struct ConfigScan {
  ConfigSettings settings;
  std::vector<ConfigError> errors;  // in file order; none for a good file
  ConfigSymbols symbols[most_symbol_files];  // the symbols blocks, in file order
  uint32_t symbol_files;
};

// Scans the text of a configuration file (modified in place: each token is
// cut out with next_token). The settings go into out->settings; every
// complete structure or list definition is appended to `defs` in file order.
// A block with an error gives no setting or definition (what it stored
// before the error stays), the error is recorded, and the scan reads on from
// the next '{' after the erroneous block's own: the blocks after it are kept.
void scan_config(char *text, ConfigScan *out, StructDefList *defs = &struct_defs);

// One struct block (is_struct) or list block, from the token after its
// keyword: NAME, BASE ("%x"), for a list ELEMENTS ("%u"), then pairs of a
// field name and a size ("%u") up to a token that is exactly "}". True when
// the definition was complete and appended to `defs`; on false nothing was
// appended, and *error (when given) says what was expected, *error_at where
// (a byte offset into the text; UINT32_MAX: the block as a whole, which was
// not ended). The position is
// advanced past the tokens taken.
bool parse_struct_block(char *text, uint32_t *position, bool is_struct, StructDefList *defs = &struct_defs,
                        std::string *error = nullptr, uint32_t *error_at = nullptr);

// Reads an entry's text as atoi does: white space, an optional sign, the
// decimal digits up to the first other character; no digits give 0. The
// value is kept within +-2^62 (far beyond what an entry holds).
int64_t entry_number(const char *text);
