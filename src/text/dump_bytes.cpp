#include "text/dump_bytes.hpp"

#include <cstring>

namespace {

// White space that does not end the line.
bool is_space_in_line(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int digit_value(char c, unsigned radix) {
  int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'z' ? c - 'a' + 10 : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 99;
  return v < (int)radix ? v : -1;
}

// Digits of `radix` from text[*at] up to a blank or the end; false when
// there are none, a character is no digit, or the value passes `most`.
bool read_digits(const std::string &text, size_t end, size_t *at, unsigned radix, uint64_t most, uint64_t *value) {
  size_t start = *at;
  uint64_t v = 0;
  // v * radix + d stays within `most` while v is below most / radix, or
  // equal to it with d at most most % radix: one division per value, not
  // one per digit (a dump holds hundreds of thousands of digits).
  const uint64_t below = most / radix, last = most % radix;
  while (*at < end && !is_space_in_line(text[*at])) {
    int d = digit_value(text[*at], radix);
    if (d < 0) return false;
    if (v > below || (v == below && (uint64_t)d > last)) return false;
    v = v * radix + (uint64_t)d;
    (*at)++;
  }
  if (*at == start) return false;
  *value = v;
  return true;
}

bool starts_with(const std::string &text, size_t at, const char *prefix) {
  return text.compare(at, strlen(prefix), prefix) == 0;
}

// One value of the dump in its format, as an unsigned number of `bits`.
bool read_value(const std::string &text, size_t end, size_t *at, char format, unsigned bits, uint64_t *value) {
  const uint64_t most = bits == 64 ? ~0ull : (1ull << bits) - 1;
  switch (format) {
    case 'x':
      if (!starts_with(text, *at, "0x")) return false;
      *at += 2;
      return read_digits(text, end, at, 16, most, value);
    case 'u':
      return read_digits(text, end, at, 10, most, value);
    case 't':
      return read_digits(text, end, at, 2, most, value);
    case 'o':
      if (text[*at] != '0') return false;
      return read_digits(text, end, at, 8, most, value);
    case 'd': {
      bool negative = text[*at] == '-';
      if (negative) (*at)++;
      uint64_t magnitude;
      uint64_t top = 1ull << (bits - 1);  // the most a negative value may be
      if (!read_digits(text, end, at, 10, negative ? top : top - 1, &magnitude)) return false;
      *value = (negative ? 0 - magnitude : magnitude) & most;
      return true;
    }
    default:
      return false;
  }
}

// "0x%x <bogus+%u>:" at the start of a line: the line's address and offset;
// *at is left after the colon.
bool read_line_head(const std::string &text, size_t end, size_t *at, uint64_t *address, uint64_t *offset) {
  if (!starts_with(text, *at, "0x")) return false;
  *at += 2;
  size_t start = *at;
  uint64_t a = 0;
  while (*at < end && digit_value(text[*at], 16) >= 0 && *at - start < 16) a = a << 4 | (uint64_t)digit_value(text[(*at)++], 16);
  if (*at == start || *at >= end || !is_space_in_line(text[*at])) return false;
  while (*at < end && is_space_in_line(text[*at])) (*at)++;
  if (!starts_with(text, *at, "<bogus+")) return false;
  *at += 7;
  start = *at;
  uint64_t o = 0;
  while (*at < end && text[*at] >= '0' && text[*at] <= '9' && *at - start < 12) o = o * 10 + (uint64_t)(text[(*at)++] - '0');
  if (*at == start || !starts_with(text, *at, ">:")) return false;
  *at += 2;
  *address = a;
  *offset = o;
  return true;
}

void keep_error_line(const std::string &text, size_t from, size_t end, DumpBytes *out) {
  std::string shown;
  for (size_t i = from; i < end && shown.size() < 160; i++) {
    unsigned char c = (unsigned char)text[i];
    shown += c >= 0x20 && c < 0x7f ? (char)c : c == '\t' ? ' ' : '?';
  }
  out->error_text = shown;
  out->error = DumpError::other;
  static const char reading[] = "Error: reading linear 0x";
  if (starts_with(text, from, reading)) {
    size_t at = from + sizeof reading - 1;
    uint64_t a = 0;
    size_t start = at;
    while (at < end && digit_value(text[at], 16) >= 0 && at - start < 16) a = a << 4 | (uint64_t)digit_value(text[at++], 16);
    if (at > start && starts_with(text, at, ": ")) {
      out->fault_address = (uint32_t)a;
      out->error = starts_with(text, at, ": page not present") ? DumpError::page_not_present : DumpError::unreadable_page;
    }
  } else if (starts_with(text, from, "Error: read past the end of memory")) {
    out->error = DumpError::past_end;
  }
}

}  // namespace

unsigned dump_unit_size(char unit) { return unit == 'b' ? 1 : unit == 'h' ? 2 : unit == 'w' ? 4 : 8; }

char dump_unit_for(uint32_t address, uint32_t length) { return (address % 4 == 0 && length % 4 == 0) ? 'w' : 'b'; }

uint64_t bytes_value(const std::vector<uint8_t> &bytes, size_t at, unsigned size) {
  uint64_t v = 0;
  for (unsigned i = size; i-- > 0;) v = v << 8 | (at + i < bytes.size() ? bytes[at + i] : 0);
  return v;
}

void scan_dump_bytes(const std::string &text, uint32_t address, unsigned unit, char format, DumpBytes *out) {
  out->address = address;
  out->bytes.clear();
  out->error = DumpError::none;
  out->fault_address = 0;
  out->error_text.clear();
  if (unit != 1 && unit != 2 && unit != 4 && unit != 8) {
    out->error = DumpError::malformed;
    return;
  }
  const unsigned bits = unit * 8;
  size_t line = 0;
  while (line < text.size()) {
    size_t end = text.find('\n', line);
    if (end == std::string::npos) end = text.size();
    size_t at = line;
    while (at < end && is_space_in_line(text[at])) at++;
    if (at == end) {  // a blank line
      line = end + 1;
      continue;
    }
    uint64_t line_address, offset;
    size_t head = at;
    if (!read_line_head(text, end, &at, &line_address, &offset)) {
      keep_error_line(text, head, end, out);
      return;
    }
    uint64_t done = out->bytes.size();
    if (offset != done || line_address != ((uint64_t)address + done) % (1ull << 32)) {
      out->error = DumpError::malformed;
      out->error_text = "a dump line out of place";
      return;
    }
    for (;;) {
      while (at < end && is_space_in_line(text[at])) at++;
      if (at == end) break;
      uint64_t value;
      if (!read_value(text, end, &at, format, bits, &value)) {
        out->error = DumpError::malformed;
        out->error_text = "a value that does not read";
        return;
      }
      for (unsigned i = 0; i < unit; i++) out->bytes.push_back((uint8_t)(value >> (8 * i)));
    }
    line = end + 1;
  }
}

bool scan_dump_value(const std::string &reply, uint32_t address, unsigned size, uint64_t *value) {
  if (size != 4 && size != 8) return false;
  DumpBytes d;
  scan_dump_bytes(reply, address, 4, 'x', &d);
  if (d.error != DumpError::none || d.bytes.size() != size) return false;
  *value = bytes_value(d.bytes, 0, size);
  return true;
}

unsigned dump_units_per_line(unsigned unit) { return unit <= 2 ? 8 : unit == 4 ? 4 : 2; }

uint32_t dump_value_address(uint32_t start, unsigned row, unsigned column, unsigned unit) {
  return start + (row * dump_units_per_line(unit) + column) * unit;
}

std::string value_characters_by_format(const std::string &values, char format, size_t most) {
  std::string shown;
  const size_t end = values.size();
  size_t at = 0;
  for (;;) {
    while (at < end && is_space_in_line(values[at])) at++;
    if (at == end) return shown;
    uint64_t value;
    if (shown.size() == most || !read_value(values, end, &at, format, 8, &value)) return "";
    if (at < end && !is_space_in_line(values[at])) return "";
    shown.push_back(value >= 0x20 && value < 0x7f ? (char)value : '.');
  }
}

namespace {

// Hexadecimal bytes ("0x48 0x65 ..."), the values of nearly every dump
// line, read straight through: false for any text it does not take as such,
// which the reader of every format then reads.
bool hex_byte_characters(const std::string &values, size_t most, std::string *shown) {
  const char *p = values.data(), *end = p + values.size();
  for (;;) {
    while (p < end && is_space_in_line(*p)) p++;
    if (p == end) return true;
    if (shown->size() == most || end - p < 3 || p[0] != '0' || p[1] != 'x') return false;
    p += 2;
    unsigned value = 0;
    const char *digits = p;
    for (; p < end && !is_space_in_line(*p); p++) {
      int d = digit_value(*p, 16);
      if (d < 0) return false;
      value = value * 16 + (unsigned)d;
      if (value > 0xff) return false;
    }
    if (p == digits) return false;
    shown->push_back(value >= 0x20 && value < 0x7f ? (char)value : '.');
  }
}

}  // namespace

std::string value_characters(const std::string &values, char format, size_t most) {
  std::string shown;
  if (format == 'x' && hex_byte_characters(values, most, &shown)) return shown;
  return value_characters_by_format(values, format, most);
}

std::string printable_characters(const uint8_t *bytes, size_t length) {
  std::string s(length, '.');
  for (size_t i = 0; i < length; i++)
    if (bytes[i] >= 0x20 && bytes[i] < 0x7f) s[i] = (char)bytes[i];
  return s;
}
