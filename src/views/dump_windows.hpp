// The Memory page and its memory dump windows.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

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

void build_memory_page(GtkWidget *page);
void refresh_dump_window(DumpWindow *window);
void set_memory_sensitive(bool on);
