#include "text/config_text.hpp"

#include <cstdlib>
#include <cstring>

#include "text/reply_scan.hpp"

// Names of definitions and fields fill 128-byte fields: at most 127 characters.
static const int32_t longest_name = 127;

namespace {

// What the next token gives as a count ("%u", a minus sign refused).
enum class Count { ok, missing, negative };

Count next_count(char *text, uint32_t *position, uint32_t *value, uint32_t *at) {
  char *token;
  uint32_t before = *position;
  while (is_white(text[before])) before++;
  *at = before;
  if (next_token(text, position, &token) == 0) return Count::missing;
  if (token[0] == '-') return Count::negative;
  int taken;
  return scan_unsigned(token, value, &taken) ? Count::ok : Count::missing;
}

bool next_hex(char *text, uint32_t *position, uint32_t *value, uint32_t *at) {
  char *token;
  uint32_t before = *position;
  while (is_white(text[before])) before++;
  *at = before;
  if (next_token(text, position, &token) == 0) return false;
  int taken;
  return scan_hex(token, value, &taken);
}

void fail(std::string *error, uint32_t *error_at, const std::string &message, uint32_t at) {
  if (error) *error = message;
  if (error_at) *error_at = at;
}

}  // namespace

bool parse_struct_block(char *text, uint32_t *position, bool is_struct, StructDefList *defs, std::string *error,
                        uint32_t *error_at) {
  const std::string kind = is_struct ? "struct" : "list";
  StructDef *def = static_cast<StructDef *>(calloc(1, sizeof(StructDef)));
  if (def == nullptr) {
    fail(error, error_at, kind + ": no memory for the definition", *position);
    return false;
  }
  char *token;
  uint32_t at = *position;
  while (is_white(text[at])) at++;
  int32_t length = next_token(text, position, &token);
  if (length == 0) {
    fail(error, error_at, kind + ": expected a name", at);
  } else if (length > longest_name) {
    fail(error, error_at, kind + ": a name has at most 127 characters", at);
  } else {
    memcpy(def->name, token, (size_t)length + 1);
    const std::string named = kind + " " + def->name;
    uint32_t count;
    Count got;
    if (!next_hex(text, position, &def->base, &at)) {
      fail(error, error_at, named + ": expected its address, in hexadecimal", at);
    } else if (!is_struct && (got = next_count(text, position, &count, &at)) != Count::ok) {
      fail(error, error_at,
           named + (got == Count::negative ? ": the number of elements cannot be negative"
                                           : ": expected the number of elements"),
           at);
    } else {
      def->elements = is_struct ? 1 : count;
      for (;;) {
        at = *position;
        while (is_white(text[at])) at++;
        length = next_token(text, position, &token);
        if (length == 0) {
          fail(error, error_at, named + ": expected a '}' standing apart to end it", UINT32_MAX);
          break;
        }
        if (strcmp(token, "}") == 0) {
          def->window = nullptr;
          append_struct_def(defs, def);
          return true;
        }
        if (token[0] == '{') {
          fail(error, error_at, named + ": expected a '}' standing apart to end it before the next block",
               UINT32_MAX);
          break;
        }
        if (length > longest_name) {
          fail(error, error_at, named + ": a field's name has at most 127 characters", at);
          break;
        }
        StructField *field = static_cast<StructField *>(calloc(1, sizeof(StructField)));
        if (field == nullptr) {
          fail(error, error_at, named + ": no memory for a field", at);
          break;
        }
        memcpy(field->name, token, (size_t)length + 1);
        append_struct_field(def, field);  // freed with the definition on failure
        got = next_count(text, position, &field->size, &at);
        if (got != Count::ok) {
          fail(error, error_at,
               named + (got == Count::negative ? ": the size of field '" + std::string(field->name) +
                                                     "' cannot be negative"
                                               : ": expected the size of field '" + std::string(field->name) + "'"),
               at);
          break;
        }
      }
    }
  }
  free_struct_def(def);
  return false;
}

// A settings block: its values, one after the other, each stored as soon as
// it has been converted. False, with the error, when a value is missing,
// does not convert or is out of range.
static bool scan_settings_block(char *text, uint32_t *position, const char *keyword, ConfigSettings *s,
                                std::string *error, uint32_t *error_at) {
  uint32_t a, b;
  Count got;
  if (same_word(keyword, "history")) {
    if ((got = next_count(text, position, &a, error_at)) != Count::ok) {
      *error = got == Count::negative ? "history: the length cannot be negative"
                                      : "history: expected the most rows the History page keeps, a number";
      return false;
    }
    s->history_length = a;
    s->history_length_set = true;
  } else if (same_word(keyword, "stack")) {
    const char *expected = "stack: expected two numbers, the values shown above and below ESP";
    if ((got = next_count(text, position, &a, error_at)) != Count::ok) {
      *error = got == Count::negative ? "stack: the counts cannot be negative" : expected;
      return false;
    }
    s->stack_above = a;
    s->stack_above_set = true;
    if ((got = next_count(text, position, &b, error_at)) != Count::ok) {
      *error = got == Count::negative ? "stack: the counts cannot be negative" : expected;
      return false;
    }
    s->stack_below = b;
    s->stack_below_set = true;
  } else if (same_word(keyword, "tabs")) {
    if (next_count(text, position, &a, error_at) != Count::ok || a >= tab_position_count) {
      *error = "tabs: expected 0 (bottom), 1 (top), 2 (left) or 3 (right)";
      return false;
    }
    s->tabs = a;
    s->tabs_set = true;
  } else {  // "reload"
    const char *expected = "reload: expected two switches, 0 (off) or 1 (on), for breakpoints and watchpoints";
    if (next_count(text, position, &a, error_at) != Count::ok) {
      *error = expected;
      return false;
    }
    s->reload_breakpoints = a;
    s->reload_breakpoints_set = true;
    if (next_count(text, position, &b, error_at) != Count::ok) {
      *error = expected;
      return false;
    }
    s->reload_watchpoints = b;
    s->reload_watchpoints_set = true;
  }
  return true;
}

// A symbols block: the file's name, then an offset when a hexadecimal number
// follows (the block may end right after the name, with or without a blank
// before its "}"). False, with the error, when the name is missing or too
// long, or there are more blocks than the scan keeps.
static bool scan_symbols_block(char *text, uint32_t *position, ConfigScan *out, std::string *error,
                               uint32_t *error_at) {
  char *file;
  uint32_t at = *position;
  while (is_white(text[at])) at++;
  *error_at = at;
  int32_t length = next_token(text, position, &file);
  bool closed = length > 0 && file[length - 1] == '}';
  if (closed) file[--length] = '\0';
  if (length <= 0) {
    *error = "symbols: expected the name of a symbol file";
    return false;
  }
  if (length >= symbol_file_name_size) {
    *error = "symbols: a file's name has at most " + std::to_string(symbol_file_name_size - 1) + " characters";
    return false;
  }
  if (out->symbol_files >= (uint32_t)most_symbol_files) {
    *error = "symbols: at most " + std::to_string(most_symbol_files) + " symbol files are read";
    return false;
  }
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
  out->settings = ConfigSettings();
  out->errors.clear();
  out->symbol_files = 0;
  // Where the lines begin, before the tokens are cut out of the text.
  const uint32_t length = (uint32_t)strlen(text);
  const std::string original(text, length);  // to read on after an error, tokens uncut
  std::vector<uint32_t> line_starts = {0};
  for (uint32_t i = 0; i < length; i++)
    if (text[i] == '\n') line_starts.push_back(i + 1);
  auto line_of = [&](uint32_t at) {
    uint32_t line = 0;
    while (line + 1 < line_starts.size() && line_starts[line + 1] <= at) line++;
    return line + 1;
  };
  uint32_t p = 0;
  for (;;) {
    // Text outside blocks is passed over up to the next "{".
    while (p < length && text[p] != '{') p++;
    if (p >= length) return;
    const uint32_t block = ++p;  // just past the block's '{'
    std::string error;
    uint32_t error_at = length;
    char *keyword;
    while (is_white(text[p])) p++;
    uint32_t keyword_at = p;
    bool ok;
    if (next_token(text, &p, &keyword) == 0) {
      error = "expected a block's keyword after '{'";
      error_at = block - 1;
      ok = false;
    } else if (same_word(keyword, "history") || same_word(keyword, "stack") ||
               same_word(keyword, "tabs") || same_word(keyword, "reload")) {
      ok = scan_settings_block(text, &p, keyword, &out->settings, &error, &error_at);
    } else if (same_word(keyword, "struct")) {
      ok = parse_struct_block(text, &p, true, defs, &error, &error_at);
    } else if (same_word(keyword, "list")) {
      ok = parse_struct_block(text, &p, false, defs, &error, &error_at);
    } else if (same_word(keyword, "symbols")) {
      ok = scan_symbols_block(text, &p, out, &error, &error_at);
    } else {
      std::string shown(keyword, strnlen(keyword, 40));
      error = "Unknown block type '" + shown + "': expected history, stack, tabs, reload, struct, list or symbols";
      error_at = keyword_at;
      ok = false;
    }
    if (!ok) {
      // The error's place; at the end of the text, for an unended block, or
      // where the next block begins, the erroneous block's own.
      if (error_at < length && original[error_at] == '{') error_at = UINT32_MAX;
      out->errors.push_back({line_of(error_at < length ? error_at : block - 1), error});
      // Read on from the next '{' after this block's, in the text as it was.
      memcpy(text + block, original.data() + block, length - block);
      p = block;
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
