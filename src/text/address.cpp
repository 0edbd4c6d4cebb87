#include "text/address.hpp"

#include <cstdio>
#include <cstring>

#include "text/reply_scan.hpp"

namespace {

bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.' || c == '$'; }
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9') || c == '@' || c == '?'; }

// The text without the blanks around it, into `out` (cut at `size` - 1).
void trimmed(const char *text, char *out, size_t size) {
  while (is_blank(*text)) text++;
  size_t n = strlen(text);
  while (n > 0 && is_blank(text[n - 1])) n--;
  if (n >= size) n = size - 1;
  memcpy(out, text, n);
  out[n] = '\0';
}

// A short form of the text for a message: at most 24 characters, anything
// outside printable ASCII shown as '?'.
void quoted(const char *text, char out[32]) {
  size_t n = 0;
  for (; text[n] != '\0' && n < 24; n++) {
    unsigned char c = (unsigned char)text[n];
    out[n] = c >= 0x20 && c < 0x7f ? (char)c : '?';
  }
  if (text[n] != '\0') {
    memcpy(out + n, "...", 3);
    n += 3;
  }
  out[n] = '\0';
}

enum class Number { ok, empty, not_hex, too_big };

// Hexadecimal digits, with or without 0x, of at most `bits` bits (leading
// zeros allowed).
Number read_hex(const char *text, int bits, uint32_t *value) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  if (*text == '\0') return Number::empty;
  uint64_t v = 0;
  for (const char *p = text; *p; p++) {
    if (!is_hex_digit(*p)) return Number::not_hex;
    int digit = *p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10;
    v = (v << 4) | (uint64_t)digit;
    if (v >> bits) return Number::too_big;
  }
  *value = (uint32_t)v;
  return Number::ok;
}

bool is_name(const char *text) {
  if (!is_name_start(text[0])) return false;
  for (const char *p = text + 1; *p; p++)
    if (!is_name_char(*p)) return false;
  return true;
}

// One part of an address (`what`: "address", "segment", "offset"):
// hexadecimal, or a name the resolver knows.
bool read_part(const char *part, int bits, const char *what, SymbolResolver resolve, uint32_t *value,
               bool *from_symbol, char message[address_message_size]) {
  char shown[32];
  quoted(part, shown);
  switch (read_hex(part, bits, value)) {
    case Number::ok:
      return true;
    case Number::too_big:
      snprintf(message, address_message_size, "The %s \"%s\" does not fit in %d bits", what, shown, bits);
      return false;
    case Number::empty:
      snprintf(message, address_message_size, "Type the %s in hexadecimal, such as 7c00 or 0x7c00", what);
      return false;
    case Number::not_hex:
      break;
  }
  if (resolve != NULL && is_name(part) && resolve(part, value)) {
    *from_symbol = true;
    return true;
  }
  snprintf(message, address_message_size, "\"%s\" is no %s: type hexadecimal, such as 7c00 or 0x7c00%s",
           shown, what, resolve != NULL ? ", or a symbol's name" : "");
  return false;
}

}  // namespace

bool parse_address(const char *text, AddressForm form, SymbolResolver resolve, TypedAddress *out) {
  out->segment = 0;
  out->offset = 0;
  out->from_symbol = false;
  out->message[0] = '\0';
  char typed[256];
  trimmed(text, typed, sizeof typed);
  if (typed[0] == '\0') {
    snprintf(out->message, address_message_size, "Type %s first, in hexadecimal, such as %s",
             form == AddressForm::segmented ? "SEGMENT:OFFSET" : "an address",
             form == AddressForm::segmented ? "0000:7c00" : "7c00 or 0x7c00");
    return false;
  }
  char *colon = strchr(typed, ':');
  if (form == AddressForm::plain) {
    if (colon != NULL) {
      snprintf(out->message, address_message_size,
               "Type a plain address here, without a segment (SEGMENT:OFFSET is for virtual breakpoints)");
      return false;
    }
    return read_part(typed, 32, "address", resolve, &out->offset, &out->from_symbol, out->message);
  }
  if (colon == NULL) {
    snprintf(out->message, address_message_size,
             "A virtual address needs its segment: SEGMENT:OFFSET, such as 0000:7c00");
    return false;
  }
  *colon = '\0';
  char segment[256], offset[256];
  trimmed(typed, segment, sizeof segment);
  trimmed(colon + 1, offset, sizeof offset);
  if (strchr(offset, ':') != NULL) {
    snprintf(out->message, address_message_size, "Type one colon only: SEGMENT:OFFSET, such as 0000:7c00");
    return false;
  }
  if (read_hex(segment, 16, &out->segment) != Number::ok) {
    bool unused = false;
    read_part(segment, 16, "segment", NULL, &out->segment, &unused, out->message);
    return false;
  }
  return read_part(offset, 32, "offset", resolve, &out->offset, &out->from_symbol, out->message);
}

namespace {

enum class Decimal { ok, empty, not_digits, too_big };

// Decimal digits, all of them, up to `most`.
Decimal read_decimal(const char *digits, uint32_t most, uint32_t *value) {
  if (digits[0] == '\0') return Decimal::empty;
  uint64_t v = 0;
  for (const char *p = digits; *p; p++)
    if (*p < '0' || *p > '9') return Decimal::not_digits;
  for (const char *p = digits; *p; p++) {
    v = v * 10 + (uint64_t)(*p - '0');
    if (v > most) return Decimal::too_big;
  }
  *value = (uint32_t)v;
  return Decimal::ok;
}

}  // namespace

bool parse_count(const char *text, uint32_t most, const char *what, uint32_t *count,
                 char message[address_message_size]) {
  char typed[64], shown[32];
  trimmed(text, typed, sizeof typed);
  quoted(typed, shown);
  uint32_t v = 0;
  switch (read_decimal(typed, most, &v)) {
    case Decimal::empty:
      snprintf(message, address_message_size, "Type the number of %s, from 1 to %u", what, most);
      return false;
    case Decimal::not_digits:
      snprintf(message, address_message_size, "\"%s\" is no number of %s: type decimal digits, from 1 to %u",
               shown, what, most);
      return false;
    case Decimal::too_big:
      v = 0;
      break;
    case Decimal::ok:
      break;
  }
  if (v == 0) {
    snprintf(message, address_message_size, "The number of %s must be from 1 to %u", what, most);
    return false;
  }
  *count = v;
  message[0] = '\0';
  return true;
}

bool parse_setting(const char *text, uint32_t most, const char *what, uint32_t *value,
                   char message[address_message_size]) {
  char typed[64], shown[32];
  trimmed(text, typed, sizeof typed);
  quoted(typed, shown);
  if (typed[0] == '-') {
    snprintf(message, address_message_size, "The %s cannot be negative", what);
    return false;
  }
  switch (read_decimal(typed[0] == '+' ? typed + 1 : typed, most, value)) {
    case Decimal::empty:
      snprintf(message, address_message_size, "Type the %s, a number from 0 to %u", what, most);
      return false;
    case Decimal::not_digits:
      snprintf(message, address_message_size, "\"%s\" is no number: type the %s in decimal digits", shown, what);
      return false;
    case Decimal::too_big:
      snprintf(message, address_message_size, "The %s is at most %u", what, most);
      return false;
    case Decimal::ok:
      break;
  }
  message[0] = '\0';
  return true;
}
