// The control bar: where the CPU stands, and the Go, Stop, Step and Next
// buttons. Its buttons call run control; what run control publishes reaches
// the bar through the shell.
#pragma once

#include <gtk/gtk.h>

#include "exec/run_control.hpp"

void build_control_bar(GtkWidget *box);

// The link came up or went down.
void set_control_bar_sensitive(bool online);

// The target started or stopped running.
void control_bar_running(bool running);

// A stop was read: the bar shows its place and instruction (or, when the
// report did not read, the last place known).
void control_bar_stopped(const Stop &stop);

// Symbols were loaded: the symbol entry shows the name of the last place,
// and is shown at all only while there are symbols.
void control_bar_symbols_changed();

// The bar's widgets, for the shell's keys and menus and for tests.
struct ControlBar {
  GtkWidget *physical_entry;
  GtkWidget *location_entry;
  GtkWidget *symbol_entry;  // "name+0x1f" of the place; hidden while no symbol is loaded
  GtkWidget *instruction_entry;
  GtkWidget *go_button;
  GtkWidget *stop_button;
  GtkWidget *step_button;
  GtkWidget *next_button;
};
const ControlBar &control_bar();
