#include "text/point_lists.hpp"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

// The lists are read with the C library's scanf rules, field by field, over a
// stream on the reply text: each conversion consumes exactly what scanf would.

namespace {

size_t finish_stream(FILE *in) {
  long at = ftell(in);
  fclose(in);
  return at < 0 ? 0 : (size_t)at;
}

// Skips blanks; the result is the next character, left unread, or EOF.
int peek_past_blanks(FILE *in) {
  int c;
  do c = fgetc(in);
  while (c != EOF && isspace(c));
  if (c != EOF) ungetc(c, in);
  return c;
}

bool read_breakpoints(FILE *in, Breakpoint *table, uint32_t *count) {
  // Whatever precedes the first entry (the column titles) holds no digit.
  int c;
  do c = fgetc(in);
  while (c != EOF && !isdigit(c) && c != '<');
  if (c == EOF) return false;
  ungetc(c, in);

  for (int i = 0; i < point_table_size; i++) {
    Breakpoint &b = table[i];
    c = peek_past_blanks(in);
    if (c == EOF) return false;
    if (!isdigit(c)) return true;  // the prompt, or text that is no entry

    // Number, then the type word, of which only the first letter counts.
    char type = 0;
    if (fscanf(in, "%u %c%*s ", &b.number, &type) < 2) return true;
    switch (type) {
      case 'p': b.kind = breakpoint_physical; break;
      case 'l': b.kind = breakpoint_linear; break;
      case 'v': b.kind = breakpoint_virtual; break;
      default: return true;
    }
    // The disposition word, then the enabled letter.
    char enabled = 0;
    if (fscanf(in, "%*s %c ", &enabled) < 1) return true;
    // A single address, or segment:offset.
    if (fscanf(in, "%x", &b.segment) < 1) return true;
    if (fscanf(in, ":%x", &b.offset) < 1) {
      b.offset = b.segment;
      b.segment = 0;
    }
    // The flag also makes the entry live, so it is set only once the entry
    // has been read whole: an entry cut short never shows an old address.
    b.enabled = enabled == 'y';
    (*count)++;
  }
  return true;
}

// True when the word just read ended where its field did: the next character
// is a blank or the end of the text. Leaves that character unread.
bool word_ended(FILE *in) {
  int c = fgetc(in);
  if (c == EOF) return true;
  ungetc(c, in);
  return isspace(c) != 0;
}

// True when the `length` bytes just read into `word` are all text: a NUL
// byte in the reply would otherwise cut the word short unseen.
bool whole_word(const char *word, int length) {
  return length > 0 && strlen(word) == (size_t)length;
}

bool read_watchpoints(FILE *in, Watchpoint *table, uint32_t *count) {
  for (int i = 0; i < point_table_size; i++) {
    Watchpoint &w = table[i];
    // Everything up to an 'r' or 'w' (an entry) or a '<' (the prompt) is dropped.
    int c;
    do c = fgetc(in);
    while (c != EOF && c != 'r' && c != 'w' && c != '<');
    if (c == EOF) return false;
    ungetc(c, in);
    if (c == '<') return true;

    // The kind word has room for 5 characters and the value token for 15;
    // a longer word or token does not fit the list and ends it.
    char kind[6];
    int length = 0;
    if (fscanf(in, "%5s%n", kind, &length) < 1 || !word_ended(in) || !whole_word(kind, length))
      return true;
    if (fscanf(in, " %x", &w.address) < 1) return true;
    char token[16];
    int start = 0, end = 0;
    if (fscanf(in, " ( %n%15s%n", &start, token, &end) < 1 || !word_ended(in) ||
        !whole_word(token, end - start))
      return true;

    if (strcmp(kind, "read") == 0)
      w.kind = watchpoint_read;
    else if (strcmp(kind, "write") == 0)
      w.kind = watchpoint_write;
    else
      return true;

    // The token is the value and its closing ')'.
    size_t digits = strlen(token) - 1;
    token[digits] = '\0';
    if (digits == 4)
      w.width = 2;
    else if (digits == 8)
      w.width = 4;
    else
      return true;
    sscanf(token, "%x", &w.value);

    (*count)++;
    w.in_use = true;
  }
  return true;
}

}  // namespace

// Runs a reader over the text followed, when a prompt ended it, by the '<'
// that opens the prompt: the scan sees the reply as the debugger wrote it.
template <typename Entry>
static bool scan_list(bool (*read)(FILE *, Entry *, uint32_t *), const char *text, size_t length,
                      bool at_prompt, Entry *table, uint32_t *count, size_t *consumed) {
  if (consumed) *consumed = 0;
  std::string reply(text, length);
  if (at_prompt) reply.push_back('<');
  if (reply.empty()) return false;
  FILE *in = fmemopen(&reply[0], reply.size(), "r");
  if (in == nullptr) return false;
  bool complete = read(in, table, count);
  size_t used = finish_stream(in);
  if (consumed) *consumed = used < length ? used : length;
  return complete;
}

bool scan_breakpoint_list(const char *text, size_t length, bool at_prompt,
                          Breakpoint table[point_table_size], uint32_t *count, size_t *consumed) {
  for (int i = 0; i < point_table_size; i++) table[i].enabled = false;
  *count = 0;
  return scan_list(read_breakpoints, text, length, at_prompt, table, count, consumed);
}

bool scan_watchpoint_list(const char *text, size_t length, bool at_prompt,
                          Watchpoint table[point_table_size], uint32_t *count, size_t *consumed) {
  for (int i = 0; i < point_table_size; i++) table[i].in_use = false;
  *count = 0;
  return scan_list(read_watchpoints, text, length, at_prompt, table, count, consumed);
}
