#include "views/dump_scan.hpp"

#include <cstring>

#include "link/reply_scan.hpp"

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

void read_dump_reply(ReplyReader &reader, std::vector<DumpRow> *rows, uint32_t *prompt_number) {
  char line[dump_line_size + 1];
  int n = 0;
  uint32_t base = 0;
  bool have_base = false;
  auto store = [&](char c) {
    if (n < dump_line_size) line[n++] = c;
  };
  for (;;) {
    int c = reader.get();
    if (c == -1) return;  // the replies ended: no prompt
    if (c == ' ' || c == '\t') {
      if (n == 0 || line[n - 1] != ' ') store(' ');
    } else if (c == '\n') {
      line[n] = '\0';
      DumpRow row;
      dump_line_to_row(line, &row, &base, &have_base);
      rows->push_back(row);
      n = 0;
    } else if (c == '<') {
      if (n == 0) {  // the prompt
        scan_prompt_rest(reader, prompt_number);
        return;
      }
      for (const char *p = "bogus"; *p; p++) {
        int b = reader.get();
        if (b != (unsigned char)*p) {
          reader.unget(b);
          break;
        }
      }
    } else if (c == '>') {
      reader.get();
    } else {
      store((char)c);
    }
  }
}
