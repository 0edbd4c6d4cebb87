// The Memory page and its memory dump windows.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "kit/list_sizer.hpp"
#include "kit/widget_kit.hpp"

class DumpRead;

struct DumpWindow {
  GtkWidget *window;
  GtkWidget *close_button;
  GtkWidget *refresh_button;
  GtkWidget *list;
  GtkWidget *progress_box;  // where a long read shows its progress and Cancel
  DumpRead *reading;        // the read under way, or none
  uint32_t destroy_handler;
  uint32_t address;
  uint32_t units;
  uint32_t address_space;  // 0 physical, 1 linear
  uint32_t unit_size;      // 0 byte, 1 word, 2 doubleword, 3 quadword
  uint32_t unit_format;    // 0 hex, 1 decimal, 2 unsigned, 3 binary, 4 octal
  DumpWindow *prev;
  DumpWindow *next;
  ListSizer sizer;
};

struct DumpWindowList {
  DumpWindow *first;
  DumpWindow *last;
};

// The most memory one window dumps: more units than fit are held to it.
const uint32_t largest_dump_bytes = 1 << 20;
// A dump is asked for in commands of at most this many bytes, read one by
// one from the main loop when they take long.
const uint32_t dump_command_bytes = 64 << 10;

void build_memory_page(GtkWidget *page);
// Reads the window's memory again: at once when that is quick, otherwise in
// parts from the main loop (a progress bar and Cancel show after a while).
// Nothing while the debugger cannot answer, or while the window is read.
void refresh_dump_window(DumpWindow *window);
// Every open dump window, in the order they were opened.
void refresh_dump_windows();
void close_dump_window(GtkWidget *widget, DumpWindow *window);
void set_memory_sensitive(bool on);

// The page's state: one record (the test seam).
struct MemoryPage {
  DumpWindowList windows;
  GtkWidget *address_entry;
  GtkWidget *units_entry;
  ButtonGroup *address_space_group;
  ButtonGroup *unit_size_group;
  ButtonGroup *unit_format_group;
  GtkWidget *dump_button;
};
MemoryPage &memory_page();
