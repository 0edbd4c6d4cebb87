// The Memory page and its memory dump windows.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "exec/run_control.hpp"
#include "kit/list_sizer.hpp"
#include "kit/widget_kit.hpp"
#include "text/cpu_scan.hpp"

class DumpRead;

// The small window that changes one value of a dump window.
struct DumpEdit {
  GtkWidget *window;
  GtkWidget *what;     // which value, where: "Byte at physical 00007C03 (hex)"
  GtkWidget *entry;    // the value, in the window's format
  GtkWidget *message;  // why the value was not stored, when it was not
  GtkWidget *store_button;
  GtkWidget *cancel_button;
  uint32_t row, column;  // of the value in its window: row from 0, place in the row from 0
  uint32_t address;      // the value's address, in the window's address space
  bool waiting;          // the message says why Store waits (the target runs, a read is under way)
};

struct DumpWindow {
  GtkWidget *window;
  GtkWidget *close_button;
  GtkWidget *refresh_button;
  GtkWidget *follow_button;  // "Refresh at each stop"
  GtkWidget *note;           // a linear window: where its first byte is in physical memory
  GtkWidget *list;
  GtkWidget *progress_box;  // where a long read shows its progress and Cancel
  DumpRead *reading;        // the read under way, or none
  DumpEdit *edit;           // the open change of a value, or none
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

// The most memory one window dumps: the Units entry refuses more.
const uint32_t largest_dump_bytes = 1 << 20;
// A dump is asked for in commands of at most this many bytes, read one by
// one from the main loop when they take long.
const uint32_t dump_command_bytes = 64 << 10;
// What a window opened from another page (open_dump_at) shows when the
// Units entry holds no count and no window was opened from the page yet.
const uint32_t default_dump_bytes = 256;

void build_memory_page(GtkWidget *page);
// Opens a dump window at the address (physical, or linear) with the
// Memory page's unit size and format, and its units: the count in the
// Units entry when it holds one, else as many bytes as the last window
// opened from the page, else default_dump_bytes. The entries keep their text.
void open_dump_at(uint32_t address, bool linear);
// Reads the window's memory again: at once when that is quick, otherwise in
// parts from the main loop (a progress bar and Cancel show after a while).
// Nothing while the debugger cannot answer, or while the window is read.
void refresh_dump_window(DumpWindow *window);
// Every open dump window, in the order they were opened.
void refresh_dump_windows();
void close_dump_window(GtkWidget *widget, DumpWindow *window);
void set_memory_sensitive(bool on);
// A new debugger starts; a stop was read (the windows that follow stops are
// read again from an idle call, once the stop has been drawn).
void memory_starting();
void memory_stopped(const Stop &stop);
void memory_quit();

// Opens the change of the value at `column` (from 0) of the window's row
// `row` (what a double click on it, or Enter on its row, does). False when
// there is no such value, or the debugger cannot answer now.
bool edit_dump_value(DumpWindow *window, int row, int column);
// Store of the change (Enter in its entry): the typed value is written
// with setpmem (through the page tables for a linear window), then the
// window is read again. False, with the message shown and the text kept,
// when nothing or not all was written.
bool store_dump_value(DumpWindow *window);
void close_dump_edit(DumpWindow *window);

// The page's state: one record (the test seam).
struct MemoryPage {
  DumpWindowList windows;
  GtkWidget *address_entry;
  GtkWidget *units_entry;
  GtkWidget *message;  // why the typed address or count was refused
  ButtonGroup *address_space_group;
  ButtonGroup *unit_size_group;
  ButtonGroup *unit_format_group;
  GtkWidget *dump_button;
  uint32_t last_dump_bytes;  // of the last window opened from the page; 0 none yet
  CpuState cpu;              // the registers at the last stop (the page walk's CR0, CR3, CR4)
  guint follow_source;       // the idle call that reads the windows that follow stops
};
MemoryPage &memory_page();
