// The Memory page and its memory dump windows.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "kit/widget_kit.hpp"

struct DumpWindow {
  GtkWidget *window;
  GtkWidget *close_button;
  GtkWidget *refresh_button;
  GtkWidget *list;
  uint32_t destroy_handler;
  uint32_t address;
  uint32_t units;
  uint32_t address_space;  // 0 physical, 1 linear
  uint32_t unit_size;      // 0 byte, 1 word, 2 doubleword, 3 quadword
  uint32_t unit_format;    // 0 hex, 1 decimal, 2 unsigned, 3 binary, 4 octal
  DumpWindow *prev;
  DumpWindow *next;
};

struct DumpWindowList {
  DumpWindow *first;
  DumpWindow *last;
};

extern DumpWindowList dump_windows;

extern GtkWidget *dump_address_entry;
extern GtkWidget *dump_units_entry;
extern ButtonGroup *address_space_group;
extern ButtonGroup *unit_size_group;
extern ButtonGroup *unit_format_group;
extern GtkWidget *dump_button;

void build_memory_page(GtkWidget *page);
void open_dump_window(GtkWidget *widget = NULL, gpointer data = NULL);
void refresh_dump_window(DumpWindow *window);
void close_dump_window(GtkWidget *widget, DumpWindow *window);
void set_memory_sensitive(bool on);
