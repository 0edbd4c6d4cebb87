// Structure and list definitions, as the configuration file gives them: the
// layouts that structure and list windows read from memory. Also the text
// those windows work with, apart from drawing: the reply to a read of one
// field, the field's value text and the range of elements a list shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>


typedef struct _GtkWidget GtkWidget;

struct StructField {
  char name[128];
  uint32_t size;
  StructField *prev;
  StructField *next;
};

struct StructDef {
  GtkWidget *window;
  GtkWidget *close_button;
  GtkWidget *refresh_button;
  GtkWidget *start_entry;
  GtkWidget *total_entry;
  GtkWidget *list;
  char name[128];
  uint32_t base;
  uint32_t elements;
  uint32_t field_count;
  StructField *first_field;
  StructField *last_field;
  StructDef *prev;
  StructDef *next;
};

struct StructDefList {
  StructDef *first;
  StructDef *last;
};

extern StructDefList struct_defs;

// Appends at the end of the list.
void append_struct_def(StructDefList *list, StructDef *def);
void append_struct_field(StructDef *def, StructField *field);

// Frees a definition and its fields, or every definition of a list (which is
// left empty). The program keeps its definitions for the whole run; these
// serve a parser that drops an unfinished definition, and the tests.
void free_struct_def(StructDef *def);
void free_struct_defs(StructDefList *list);

// A field whose name begins with two backslashes separates rows: no value.
bool is_separator(const StructField *field);

// The sum of the sizes of all fields, separators included (32-bit, wrapping).
uint32_t element_size(const StructDef *def);

// The read command of a field size ("x /1bx 0x%X\n" and so on), or none for a
// size other than 1, 2, 4 and 8.
const char *field_read_format(uint32_t size);

// Scans the text of a reply to a read of `count` words (1, or 2 for an
// 8-byte field) as " %*s %*s 0x%X" (then " 0x%X") does: two words, then
// "0x" and a hexadecimal number each. True only when all `count` numbers were
// read; the values are stored as they are read.
bool scan_field_reply(const char *text, uint32_t values[2], int count);

// The value text of a field of a valid size: "= %.2X", "= %.4X", "= %.8X", or
// for 8 bytes "= %.8X%.8X" with values[1] (the higher word) first.
const int field_value_size = 24;
void format_field_value(char out[field_value_size], uint32_t size, const uint32_t values[2]);

// Shown in place of a value: a size the windows cannot read, a reply that
// gave no value, and the one row of a list without elements.
extern const char *const invalid_size_text;    // "<invalid size>"
extern const char *const unreadable_value_text;  // "<unreadable>"
extern const char *const no_elements_text;     // "<no elements>"

// The range of elements a list window shows, from the texts of its "Start"
// and "Total" entries: each converted with "%u" (start 0 and total
// `elements` when they do not convert), then, in this order, a total of 0 or
// above `elements` becomes `elements`; a start not below `elements` becomes
// 0; a range that runs past the last element ends at it. The flags tell
// which entry must show its new value.
struct StructRange {
  uint32_t start;
  uint32_t total;
  bool start_changed;
  bool total_changed;
};
StructRange struct_range(uint32_t elements, const char *start_text, const char *total_text);
