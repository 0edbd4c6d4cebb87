// Memory dump replies ("x" and "xp" with a unit count, size and format), as
// text up to the prompt, split into rows of address, label and values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>


struct DumpRow {
  char base[18];    // "%.8X" of the line's address, or empty
  char offset[17];  // the line's second word, at most 16 characters
  std::string values;
};

// Longest line kept, in characters; the rest of a longer line is dropped.
const int dump_line_size = 512;

// Scans the text of one dump reply (up to its prompt) and appends one row
// per complete line:
//   - a run of blanks (spaces, tabs) is kept as one space;
//   - a '<' is dropped with as much of "bogus" as follows it;
//   - a '>' is dropped with the character after it, whatever it is (so a
//     newline after it joins the next line to this one);
//   - text after the last newline makes no row.
void scan_dump_reply(const std::string &text, std::vector<DumpRow> *rows);

// Splits one complete line (changed in place) into a row. The address of a
// line whose first word is not hexadecimal is the one of the line before it
// in the same reply (*base, *have_base carry it); with none before it, the
// Base cell is empty. A label that begins with 'r' or 'd' (a word like
// "read" or "dump" of an error text) empties Base and Offset.
void dump_line_to_row(char *line, DumpRow *row, uint32_t *base, bool *have_base);
