// The Code page: the disassembly around the current instruction (or around
// an address asked for), read with the debugger's "u /N 0xADDR", with the
// current instruction and the breakpoints marked, breakpoints toggled and
// Run to Here from the listing; and the loader of symbol files.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

#include "exec/run_control.hpp"
#include "kit/list_sizer.hpp"
#include "kit/widget_kit.hpp"
#include "text/disasm_scan.hpp"
#include "text/point_lists.hpp"

void build_code_page(GtkWidget *box);
// Once every page is built: the reports of symbols loaded by the
// configuration file go to the History.
void code_page_after_build();
void set_code_page_sensitive(bool on);
void code_page_starting();
// After every stop: a Run to Here's temporary breakpoint is deleted, and the
// listing is read again around the current instruction once the main loop
// is idle, while the page is shown (when hidden, once it is shown).
void code_page_stopped(const Stop &stop);

// Loads a symbol file (no offset): the loader behind File > Load Symbols...
// and --symbols. The report ("Loaded N symbols from
// FILE" or the error with its line) goes to the History and standard output,
// and the listing, the control bar and the breakpoint list show the names.
void load_symbols_file(const char *path);

// Run to Here on the selected row: a temporary breakpoint there, then Go;
// the breakpoint is deleted at the next stop, whatever caused it.
void run_to_here();
// True for the temporary breakpoint of a Run to Here not yet reached.
bool code_page_own_breakpoint(uint32_t number);
bool run_to_here_possible();
// The Run to Here button, sensitive exactly when it is possible (the Run
// menu's item follows it).
GtkWidget *code_run_to_button();

// Sets a breakpoint on the row, or deletes the one there (F9, the button,
// a double-click).
void toggle_breakpoint_at(int row);

// The listing around a linear address, or around the current instruction
// again.
void show_code_at(uint32_t linear);
void show_current_instruction();

// What the page reports. Every member may be left empty.
struct CodeEvents {
  void (*message)(const char *text);  // for the History
  void (*breakpoints_changed)();      // the page set or deleted a breakpoint
  void (*symbols_changed)();          // symbols were loaded
};
extern CodeEvents code_events;

// One row of the listing.
struct CodeRow {
  DisasmLine line;
  bool physical_known;  // paging off, or the page of the current instruction
  uint32_t physical;
  bool offset_known;    // within the code segment
  uint32_t offset;
  bool current;         // the current instruction
  bool breakpoint;      // a breakpoint of the debugger's list is here
  uint32_t breakpoint_number;
};

// The page's state: one record (the test seam).
struct CodePage {
  GtkWidget *box;
  GtkWidget *list;
  GtkWidget *toggle_button;
  GtkWidget *run_to_button;
  GtkWidget *current_button;
  GtkWidget *symbols_label;
  GtkWidget *entry;
  ButtonGroup *kind_group;  // Linear, Physical
  GtkWidget *go_to_button;
  GtkWidget *message_label;
  std::vector<CodeRow> rows;
  int32_t selected_row;     // -1 when none
  bool sensitive;
  bool follow;              // the listing is around the current instruction
  uint32_t target;          // the linear address the listing is around
  bool stale;               // it must be read again when the page is shown
  bool listing_waiting;     // a stop's listing is read once the main loop is idle
  bool stop_known;
  StopLocation at;          // the last stop
  CpuState cpu;
  Breakpoint breakpoints[point_table_size];
  uint32_t breakpoint_count;
  bool run_to_pending;      // Run to Here's breakpoint waits for the next stop
  uint32_t run_to_number;
};
CodePage &code_page();
