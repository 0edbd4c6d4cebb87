// The CPU state panel: registers, flags and the frame of the stack view.
// What changed since the previous stop is shown in a contrasting colour.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "views/cpu_scan.hpp"

extern CpuState cpu_state;
extern bool state_panel_shown;
extern GtkWidget *stack_label;
extern GtkWidget *stack_list;
extern GtkWidget *flags_list;
extern GtkWidget *register_entry[register_entries];

void build_state_panel(GtkWidget *panel);
void read_cpu_state();
void refresh_cpu_state();
// Handler of " Show State " "clicked": shows or hides the panel and labels
// the button accordingly.
void toggle_state_panel(GtkWidget *button, gpointer data = NULL);

// A new stop: what was read at the last one becomes what the panel and the
// stack view compare with. Called before the views are refreshed at a stop.
void note_new_stop();
// A new debugger: nothing to compare with until its second stop.
void forget_previous_stop();

// The colour of what changed since the previous stop.
extern const GdkColor changed_colour;

// True when the entry, or the row of a list, is drawn in that colour.
bool entry_marked(GtkWidget *entry);
bool row_marked(GtkWidget *list, int row);
