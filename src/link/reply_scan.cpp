#include "link/reply_scan.hpp"

bool is_white(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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
