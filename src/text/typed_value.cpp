#include "text/typed_value.hpp"

#include <cstdio>
#include <cstring>

#include "text/reply_scan.hpp"

namespace {


std::string trimmed(const char *text) {
  while (is_blank(*text)) text++;
  size_t n = strlen(text);
  while (n > 0 && is_blank(text[n - 1])) n--;
  return std::string(text, n);
}

// At most 24 characters of the text, printable, for a message.
std::string shown(const std::string &text) {
  std::string s;
  for (char ch : text) {
    if (s.size() == 24) return s + "...";
    unsigned char c = (unsigned char)ch;
    s += c >= 0x20 && c < 0x7f ? (char)c : '?';
  }
  return s;
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

enum class Digits { ok, empty, bad_digit, too_big };

// Digits of `radix`, the whole text, at most `most`.
Digits read_digits(const std::string &text, unsigned radix, uint64_t most, uint64_t *value) {
  if (text.empty()) return Digits::empty;
  uint64_t v = 0;
  bool big = false;
  for (char c : text) {
    int d = digit_value(c);
    if (d >= (int)radix) return Digits::bad_digit;
    if (v > (most - (uint64_t)d) / radix) big = true;
    if (!big) v = v * radix + (uint64_t)d;
  }
  if (big) return Digits::too_big;
  *value = v;
  return Digits::ok;
}

const RegisterEntry settable[] = {entry_eax, entry_ebx, entry_ecx, entry_edx, entry_esi,
                                  entry_edi, entry_ebp, entry_esp, entry_eip, entry_eflags};
const char *const settable_names[] = {"eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "esp", "eip", "eflags"};

}  // namespace

const char *settable_register(RegisterEntry entry) {
  for (size_t i = 0; i < sizeof settable / sizeof settable[0]; i++)
    if (settable[i] == entry) return settable_names[i];
  return NULL;
}

bool parse_register_value(RegisterEntry entry, const char *text, uint32_t *value, char message[address_message_size]) {
  message[0] = '\0';
  const char *label = entry >= 0 && entry < register_entries ? register_labels[entry] : "?";
  if (settable_register(entry) == NULL) {
    snprintf(message, address_message_size,
             "%s cannot be set here: only EAX, EBX, ECX, EDX, ESI, EDI, EBP, ESP, EIP and EFLAGS", label);
    return false;
  }
  std::string typed = trimmed(text);
  std::string digits = typed;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
  uint64_t v = 0;
  switch (read_digits(digits, 16, 0xFFFFFFFFu, &v)) {
    case Digits::ok:
      *value = (uint32_t)v;
      return true;
    case Digits::empty:
      snprintf(message, address_message_size, "Type a value for %s in hexadecimal, such as 1f or 0x1f", label);
      return false;
    case Digits::bad_digit:
      snprintf(message, address_message_size, "\"%s\" is no value for %s: type hexadecimal, such as 1f or 0x1f",
               shown(typed).c_str(), label);
      return false;
    case Digits::too_big:
      snprintf(message, address_message_size, "The value \"%s\" does not fit in %s's 32 bits", shown(typed).c_str(),
               label);
      return false;
  }
  return false;
}

bool parse_memory_value(const char *text, unsigned unit_bytes, char format, uint64_t *value,
                        char message[address_message_size]) {
  message[0] = '\0';
  if (unit_bytes != 1 && unit_bytes != 2 && unit_bytes != 4 && unit_bytes != 8) {
    snprintf(message, address_message_size, "A unit of %u bytes cannot be written", unit_bytes);
    return false;
  }
  const unsigned bits = unit_bytes * 8;
  const uint64_t most = bits == 64 ? ~0ull : (1ull << bits) - 1;
  std::string typed = trimmed(text);
  std::string digits = typed;
  unsigned radix = 16;
  const char *kind = "hexadecimal", *example = "1f or 0x1f";
  bool negative = false;
  switch (format) {
    case 'x':
      if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
      break;
    case 'd':
      radix = 10, kind = "decimal", example = "-5 or 42";
      if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits = digits.substr(1);
      }
      break;
    case 'u':
      radix = 10, kind = "decimal", example = "42";
      break;
    case 't':
      radix = 2, kind = "binary", example = "101";
      break;
    case 'o':
      radix = 8, kind = "octal", example = "017";
      break;
    default:
      snprintf(message, address_message_size, "Values in this format cannot be written");
      return false;
  }
  uint64_t v = 0;
  uint64_t top = negative ? 1ull << (bits - 1) : most;
  switch (read_digits(digits, radix, top, &v)) {
    case Digits::ok:
      *value = (negative ? 0 - v : v) & most;
      return true;
    case Digits::empty:
      if (typed.empty()) {
        snprintf(message, address_message_size, "Type a value in %s, such as %s", kind, example);
        return false;
      }
      // A sign or a 0x alone: no digits.
      snprintf(message, address_message_size, "\"%s\" is no value: type %s, such as %s", shown(typed).c_str(), kind,
               example);
      return false;
    case Digits::bad_digit:
      snprintf(message, address_message_size, "\"%s\" is no value: type %s, such as %s", shown(typed).c_str(), kind,
               example);
      return false;
    case Digits::too_big:
      snprintf(message, address_message_size, "The value \"%s\" does not fit in %u byte%s", shown(typed).c_str(),
               unit_bytes, unit_bytes == 1 ? "" : "s");
      return false;
  }
  return false;
}

int memory_writes(uint32_t address, unsigned unit_bytes, uint64_t value, bool split_at_pages, MemoryWrite writes[8]) {
  if (unit_bytes != 1 && unit_bytes != 2 && unit_bytes != 4 && unit_bytes != 8) return 0;
  int n = 0;
  unsigned done = 0;
  while (done < unit_bytes) {
    // The part up to the end of the unit, or of a doubleword of it, or of the page.
    unsigned part = unit_bytes - done;
    if (part > 4) part = 4;
    uint32_t at = address + done;
    if (split_at_pages) {
      uint32_t to_page_end = 0x1000 - (at & 0xFFF);
      if (part > to_page_end) part = to_page_end;
    }
    unsigned size = part >= 4 ? 4 : part >= 2 ? 2 : 1;
    uint32_t bits = (uint32_t)(value >> (8 * done));
    if (size < 4) bits &= (1u << (8 * size)) - 1;
    writes[n++] = {at, size, bits};
    done += size;
  }
  return n;
}

bool setting_refused(const std::string &reply, char message[address_message_size]) {
  message[0] = '\0';
  size_t start = reply.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return false;
  size_t end = reply.find('\n', start);
  std::string line = reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  std::string s;
  for (char ch : line) {
    if (s.size() == 100) {
      s += "...";
      break;
    }
    unsigned char c = (unsigned char)ch;
    s += c >= 0x20 && c < 0x7f ? (char)c : '?';
  }
  snprintf(message, address_message_size, "%s", s.c_str());
  return true;
}
