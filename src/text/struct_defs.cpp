#include "text/struct_defs.hpp"

#include <algorithm>
#include <cstdlib>

#include "text/debugger_commands.hpp"
#include "text/reply_scan.hpp"

StructDefList struct_defs = {nullptr, nullptr};

const char *const invalid_size_text = "<invalid size>";
const char *const unreadable_value_text = "<unreadable>";
const char *const no_elements_text = "<no elements>";

void append_struct_def(StructDefList *list, StructDef *def) {
  def->prev = list->last;
  def->next = nullptr;
  if (list->last)
    list->last->next = def;
  else
    list->first = def;
  list->last = def;
}

void append_struct_field(StructDef *def, StructField *field) {
  field->prev = def->last_field;
  field->next = nullptr;
  if (def->last_field)
    def->last_field->next = field;
  else
    def->first_field = field;
  def->last_field = field;
  def->field_count++;
}

void free_struct_def(StructDef *def) {
  if (def == nullptr) return;
  for (StructField *f = def->first_field; f != nullptr;) {
    StructField *next = f->next;
    free(f);
    f = next;
  }
  free(def);
}

void free_struct_defs(StructDefList *list) {
  for (StructDef *d = list->first; d != nullptr;) {
    StructDef *next = d->next;
    free_struct_def(d);
    d = next;
  }
  list->first = list->last = nullptr;
}

bool is_separator(const StructField *field) {
  return field->name[0] == '\\' && field->name[1] == '\\';
}

uint32_t element_size(const StructDef *def) {
  uint32_t size = 0;
  for (const StructField *f = def->first_field; f != nullptr; f = f->next) size += f->size;
  return size;
}

const char *field_read_format(uint32_t size) {
  switch (size) {
    case 1: return format_examine_byte;
    case 2: return format_examine_half;
    case 4: return format_examine_word;
    case 8: return format_examine_two_words;
    default: return nullptr;
  }
}

// White space as scanf sees it (is_white, inlined for the thousands of
// replies a long list reads).
static inline bool white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// " %*s": white space, then one word; false at the end of the text.
static bool skip_word(const char *&p) {
  while (white(*p)) p++;
  if (*p == '\0') return false;
  while (*p != '\0' && !white(*p)) p++;
  return true;
}

// " 0x%X": white space, the literal "0x", a hexadecimal number.
static bool take_hex(const char *&p, uint32_t *value) {
  while (white(*p)) p++;
  if (p[0] != '0' || p[1] != 'x') return false;
  p += 2;
  int taken = 0;
  if (!scan_hex(p, value, &taken)) return false;
  p += taken;
  return true;
}

bool scan_field_reply(const char *text, uint32_t values[2], int count) {
  const char *p = text;
  if (!skip_word(p) || !skip_word(p)) return false;
  for (int i = 0; i < count; i++)
    if (!take_hex(p, &values[i])) return false;
  return true;
}

void format_field_value(char out[field_value_size], uint32_t size, const uint32_t values[2]) {
  out[0] = '=';
  out[1] = ' ';
  switch (size) {
    case 1: format_hex(out + 2, values[0], 2); break;
    case 2: format_hex(out + 2, values[0], 4); break;
    case 8: format_hex(format_hex(out + 2, values[1], 8), values[0], 8); break;
    default: format_hex(out + 2, values[0], 8); break;
  }
}

StructRange struct_range(uint32_t elements, const char *start_text, const char *total_text) {
  StructRange r = {0, elements, false, false};
  int taken;
  if (!scan_unsigned(start_text, &r.start, &taken)) r.start = 0;
  if (!scan_unsigned(total_text, &r.total, &taken)) r.total = elements;
  if (r.total == 0 || r.total > elements) {
    r.total = elements;
    r.total_changed = true;
  }
  if (r.start >= elements) {
    r.start = 0;
    r.start_changed = true;
  }
  // start < elements here (or both 0), so the difference cannot wrap; the sum
  // could.
  if (r.total > elements - r.start) {
    r.total = elements - r.start;
    r.total_changed = true;
  }
  return r;
}
