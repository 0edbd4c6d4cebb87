// The configuration file ".vumrc": settings and structure definitions.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

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

void load_config();
bool parse_struct_block(char *text, uint32_t *position, bool is_struct);
