#include "text/dump_scan.hpp"

#include <cstring>

#include "text/reply_scan.hpp"

void dump_line_to_row(char *line, DumpRow *row, uint32_t *base, bool *have_base) {
  uint32_t position = 0;
  char *word;
  next_token(line, &position, &word);
  uint32_t address;
  int taken;
  if (scan_hex(word, &address, &taken)) {
    *base = address;
    *have_base = true;
  }
  if (*have_base)
    format_hex(row->base, *base, 8);
  else
    row->base[0] = '\0';
  next_token(line, &position, &word);
  size_t length = strlen(word);
  if (length > 16) length = 16;
  memcpy(row->offset, word, length);
  row->offset[length] = '\0';
  row->values = line + position;
  if (row->offset[0] == 'r' || row->offset[0] == 'd') {
    row->base[0] = '\0';
    row->offset[0] = '\0';
  }
}

void scan_dump_reply(const std::string &text, std::vector<DumpRow> *rows) {
  char line[dump_line_size + 1];
  int n = 0;
  uint32_t base = 0;
  bool have_base = false;
  auto store = [&](char c) {
    if (n < dump_line_size) line[n++] = c;
  };
  const size_t size = text.size();
  for (size_t i = 0; i < size; i++) {
    char c = text[i];
    if (c == ' ' || c == '\t') {
      if (n == 0 || line[n - 1] != ' ') store(' ');
    } else if (c == '\n') {
      line[n] = '\0';
      rows->emplace_back();
      dump_line_to_row(line, &rows->back(), &base, &have_base);
      n = 0;
    } else if (c == '<') {
      for (const char *p = "bogus"; *p && i + 1 < size && text[i + 1] == *p; p++) i++;
    } else if (c == '>') {
      i++;
    } else {
      store(c);
    }
  }
}
