#include "text/config_text.hpp"

#include <cstdlib>
#include <cstring>

#include "text/reply_scan.hpp"

// Names of definitions and fields fill 128-byte fields: at most 127 characters.
static const int32_t longest_name = 127;

// The next token converted with "%u" or "%x"; false when there is no token
// or it does not convert.
static bool next_unsigned(char *text, uint32_t *position, uint32_t *value) {
  char *token;
  if (next_token(text, position, &token) == 0) return false;
  int taken;
  return scan_unsigned(token, value, &taken);
}

static bool next_hex(char *text, uint32_t *position, uint32_t *value) {
  char *token;
  if (next_token(text, position, &token) == 0) return false;
  int taken;
  return scan_hex(token, value, &taken);
}

bool parse_struct_block(char *text, uint32_t *position, bool is_struct, StructDefList *defs) {
  StructDef *def = static_cast<StructDef *>(calloc(1, sizeof(StructDef)));
  if (def == nullptr) return false;
  char *token;
  int32_t length = next_token(text, position, &token);
  bool ok = length > 0 && length <= longest_name;
  if (ok) memcpy(def->name, token, (size_t)length + 1);
  ok = ok && next_hex(text, position, &def->base);
  if (ok && is_struct)
    def->elements = 1;
  else
    ok = ok && next_unsigned(text, position, &def->elements);
  while (ok) {
    length = next_token(text, position, &token);
    if (length == 0 || length > longest_name) break;
    if (strcmp(token, "}") == 0) {
      def->window = nullptr;
      append_struct_def(defs, def);
      return true;
    }
    StructField *field = static_cast<StructField *>(calloc(1, sizeof(StructField)));
    if (field == nullptr) break;
    memcpy(field->name, token, (size_t)length + 1);
    append_struct_field(def, field);  // freed with the definition on failure
    ok = next_unsigned(text, position, &field->size);
  }
  free_struct_def(def);
  return false;
}

// A settings block: its values, one after the other, each stored as soon as
// it has been converted. False when a value is missing or does not convert.
static bool scan_settings_block(char *text, uint32_t *position, const char *keyword,
                                ConfigSettings *s) {
  uint32_t a, b;
  if (same_word(keyword, "history")) {
    if (!next_unsigned(text, position, &a)) return false;
    s->history_length = a;
    s->history_length_set = true;
  } else if (same_word(keyword, "stack")) {
    if (!next_unsigned(text, position, &a)) return false;
    s->stack_above = a;
    s->stack_above_set = true;
    if (!next_unsigned(text, position, &b)) return false;
    s->stack_below = b;
    s->stack_below_set = true;
  } else if (same_word(keyword, "tabs")) {
    if (!next_unsigned(text, position, &a)) return false;
    if (a < tab_position_count) {  // any other value changes nothing
      s->tabs = a;
      s->tabs_set = true;
    }
  } else {  // "reload"
    if (!next_unsigned(text, position, &a)) return false;
    s->reload_breakpoints = a;
    s->reload_breakpoints_set = true;
    if (!next_unsigned(text, position, &b)) return false;
    s->reload_watchpoints = b;
    s->reload_watchpoints_set = true;
  }
  return true;
}

// A symbols block: the file's name, then an offset when a hexadecimal number
// follows (the block may end right after the name, with or without a blank
// before its "}"). False when the name is missing or too long, or there are
// more blocks than the scan keeps.
static bool scan_symbols_block(char *text, uint32_t *position, ConfigScan *out) {
  char *file;
  int32_t length = next_token(text, position, &file);
  bool closed = length > 0 && file[length - 1] == '}';
  if (closed) file[--length] = '\0';
  if (length <= 0 || length >= symbol_file_name_size || out->symbol_files >= (uint32_t)most_symbol_files)
    return false;
  ConfigSymbols &block = out->symbols[out->symbol_files++];
  memcpy(block.file, file, (size_t)length + 1);
  block.offset = 0;
  if (closed) return true;
  uint32_t p = *position;
  while (is_white(text[p])) p++;
  if (text[p] == '}') {
    *position = p + 1;
    return true;
  }
  uint32_t value;
  int taken;
  if (text[p] == '\0' || !scan_hex(text + p, &value, &taken) || text[p] == '+' || text[p] == '-') return true;
  char *offset;
  next_token(text, position, &offset);
  block.offset = value;
  return true;
}

void scan_config(char *text, ConfigScan *out, StructDefList *defs) {
  memset(out, 0, sizeof *out);
  out->end = ConfigEnd::end_of_text;
  uint32_t p = 0;
  for (;;) {
    // Text outside blocks is passed over up to the next "{".
    while (text[p] != '\0' && text[p] != '{') p++;
    if (text[p] == '\0') return;
    p++;
    char *keyword;
    if (next_token(text, &p, &keyword) == 0) {
      out->end = ConfigEnd::stopped;
      return;
    }
    bool ok;
    if (same_word(keyword, "history") || same_word(keyword, "stack") ||
        same_word(keyword, "tabs") || same_word(keyword, "reload")) {
      ok = scan_settings_block(text, &p, keyword, &out->settings);
    } else if (same_word(keyword, "struct")) {
      ok = parse_struct_block(text, &p, true, defs);
    } else if (same_word(keyword, "list")) {
      ok = parse_struct_block(text, &p, false, defs);
    } else if (same_word(keyword, "symbols")) {
      ok = scan_symbols_block(text, &p, out);
    } else {
      out->end = ConfigEnd::unknown_block;
      out->unknown_keyword = keyword;
      return;
    }
    if (!ok) {
      out->end = ConfigEnd::stopped;
      return;
    }
  }
}

int64_t entry_number(const char *text) {
  const char *p = text;
  while (is_white(*p)) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const int64_t limit = (int64_t)1 << 62;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) value = value >= limit / 10 ? limit : value * 10 + (*p - '0');
  return negative ? -value : value;
}
