// Structure and list definitions, as the configuration file gives them: the
// layouts that structure and list windows read from memory.
#pragma once

#include <cstdint>

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
