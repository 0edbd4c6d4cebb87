// The CPU state panel: registers, flags and the stack view. What changed
// since the previous stop is shown in a contrasting colour.
#pragma once

#include <gtk/gtk.h>

#include "exec/run_control.hpp"
#include "text/cpu_scan.hpp"

void build_state_panel(GtkWidget *panel);

// A stop: what was read at the last one becomes what the panel compares
// with, and the panel shows the new registers while it is shown.
void state_panel_stopped(const Stop &stop);

// A new debugger: nothing to compare with until its second stop.
void state_panel_starting();

// Shows or hides the panel; shown, it reads the registers and the stack.
void show_state_panel(bool shown);
bool state_panel_shown();

// Reads the stack around ESP again (the counts changed).
void refresh_stack();

// True when the entry, or the row of a list, is drawn in the colour of what
// changed.
bool entry_marked(GtkWidget *entry);
bool row_marked(GtkWidget *list, int row);

// Rows of the stack the panel keeps in view without scrolling.
const int stack_rows_shown = 13;

// What the panel reports.
struct StatePanelEvents {
  void (*register_set)(RegisterEntry entry);  // the user set a register through the debugger
};
extern StatePanelEvents state_panel_events;

// The panel's state: one record (the test seam).
struct StatePanel {
  GtkWidget *box;      // the main window's state panel
  GtkWidget *columns;  // its columns of registers, the stack and the flags
  bool shown;
  CpuState cpu;    // the registers last read
  GtkWidget *stack_label;
  GtkWidget *stack_list;
  GtkWidget *flags_list;
  GtkWidget *register_entry[register_entries];
  GtkWidget *message;  // why a typed value was refused
};
StatePanel &state_panel();
