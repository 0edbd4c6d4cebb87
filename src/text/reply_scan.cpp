#include "text/reply_scan.hpp"

#include <cstring>

bool is_white(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_hex_digit(char c) { return hex_digit(c) >= 0; }

void skip_field(const char *text, uint32_t *position) {
  uint32_t p = *position;
  if (text[p] == '\0') return;
  while (text[p] != '\0' && !is_white(text[p])) p++;
  while (is_white(text[p])) p++;
  *position = p;
}

int32_t next_token(char *text, uint32_t *position, char **token) {
  uint32_t p = *position;
  while (is_white(text[p])) p++;
  uint32_t start = p;
  *token = text + start;
  while (text[p] != '\0' && !is_white(text[p])) p++;
  int32_t length = (int32_t)(p - start);
  if (text[p] != '\0') {
    text[p] = '\0';
    p++;
  }
  *position = p;
  return length;
}

static char fold(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

bool same_word(const char *a, const char *b) {
  for (;; a++, b++) {
    if (fold(*a) != fold(*b)) return false;
    if (*a == '\0') return true;
  }
}

void trim_trailing_space(char *text) {
  if (text[0] == '\0' || text[1] == '\0') return;
  char *p = text;
  while (p[1] != '\0') p++;
  while (p != text && is_white(*p)) *p-- = '\0';
}

void copy_until(const char *source, char destination[128], char delimiter) {
  int i = 0;
  while (i < 127 && source[i] != '\0' && source[i] != delimiter) {
    destination[i] = source[i];
    i++;
  }
  destination[i] = '\0';
}

bool scan_hex(const char *text, uint32_t *value, int *consumed) {
  const char *p = text;
  while (is_white(*p)) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  bool prefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (prefix) p += 2;
  // As strtoul: the magnitude in 64 bits, the largest value on overflow.
  uint64_t magnitude = 0;
  bool overflow = false, digits = false;
  for (int d; (d = hex_digit(*p)) >= 0; p++) {
    digits = true;
    if (magnitude > (UINT64_MAX >> 4)) overflow = true;
    magnitude = (magnitude << 4) | (uint64_t)d;
  }
  if (!digits && !prefix) return false;
  uint64_t result = overflow ? UINT64_MAX : negative ? (uint64_t)0 - magnitude : magnitude;
  *value = (uint32_t)result;
  *consumed = (int)(p - text);
  return true;
}

char *format_hex(char *out, uint32_t value, int digits, char separator) {
  if (separator) *out++ = separator;
  char reversed[8];
  int n = 0;
  do {
    reversed[n++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (int i = n; i < digits; i++) *out++ = '0';
  while (n > 0) *out++ = reversed[--n];
  *out = '\0';
  return out;
}


bool scan_unsigned(const char *text, uint32_t *value, int *consumed) {
  const char *p = text;
  while (is_white(*p)) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; p++) {
    uint64_t digit = (uint64_t)(*p - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) overflow = true;
    magnitude = magnitude * 10 + digit;
  }
  uint64_t result = overflow ? UINT64_MAX : negative ? (uint64_t)0 - magnitude : magnitude;
  *value = (uint32_t)result;
  *consumed = (int)(p - text);
  return true;
}

int scan_pattern(const char *text, const char *pattern, uint32_t *const targets[]) {
  const char *in = text;
  int stored = 0;
  // The text ran out: a failure of input, which counts as -1 before anything
  // was stored.
  auto ran_out = [&]() { return stored > 0 ? stored : -1; };
  for (const char *p = pattern; *p != '\0'; p++) {
    if (is_white(*p)) {
      while (is_white(*in)) in++;
      continue;
    }
    if (*p == '%' && (p[1] == 'x' || p[1] == 'u')) {
      while (is_white(*in)) in++;
      if (*in == '\0') return ran_out();
      uint32_t value;
      int taken;
      bool ok = p[1] == 'x' ? scan_hex(in, &value, &taken) : scan_unsigned(in, &value, &taken);
      if (!ok) return stored;
      *targets[stored++] = value;
      in += taken;
      p++;
      continue;
    }
    if (*in == '\0') return ran_out();
    if (*in != *p) return stored;
    in++;
  }
  return stored;
}

void printable_excerpt(const std::string &whole, char *out) {
  const char *text = whole.data();
  size_t length = whole.size();
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) length--;
  size_t n = 0;
  for (; n < length && n < 40; n++) {
    unsigned char c = (unsigned char)text[n];
    out[n] = c >= 0x20 && c < 0x7f ? (char)c : c == '\n' ? ' ' : '?';
  }
  if (n < length) {
    memcpy(out + n, "...", 3);
    n += 3;
  }
  out[n] = '\0';
}
