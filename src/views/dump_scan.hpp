// Memory dump replies ("x" and "xp" with a unit count, size and format), read
// character by character and split into rows of address, label and values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/reply_reader.hpp"

struct DumpRow {
  char base[18];    // "%.8X" of the line's address, or empty
  char offset[17];  // the line's second word, at most 16 characters
  std::string values;
};

// Longest line kept, in characters; the rest of a longer line is dropped.
const int dump_line_size = 512;

// Reads one dump reply from the reader up to and including its prompt (a
// '<' that begins a line; the prompt number goes to *prompt_number), or up to
// the end of the replies, and appends one row per complete line:
//   - a run of blanks (spaces, tabs) is kept as one space;
//   - a '<' anywhere else is dropped with as much of "bogus" as follows it;
//   - a '>' is dropped with the character after it, whatever it is (so a
//     newline after it joins the next line to this one).
void read_dump_reply(ReplyReader &reader, std::vector<DumpRow> *rows, uint32_t *prompt_number);

// Splits one complete line (changed in place) into a row. The address of a
// line whose first word is not hexadecimal is the one of the line before it
// in the same reply (*base, *have_base carry it); with none before it, the
// Base cell is empty. A label that begins with 'r' or 'd' (a word like
// "read" or "dump" of an error text) empties Base and Offset.
void dump_line_to_row(char *line, DumpRow *row, uint32_t *base, bool *have_base);
