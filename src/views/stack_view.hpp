// The stack around ESP, in the CPU state panel.
#pragma once

#include <gtk/gtk.h>

#include "text/cpu_scan.hpp"

// The label's titles, for a stack of doublewords and of words (the label
// keeps the width of the longer).
const char *const stack_title_wide = "32bit Stack";
const char *const stack_title_narrow = "16bit Stack";

// Reads the elements around the registers' ESP (the stack_above and
// stack_below settings, at most stack_walk_limit on either side) and shows
// them in the list, marking the values that changed since the previous stop.
void refresh_stack_view(const CpuState &cpu, GtkWidget *label, GtkWidget *list);

// The values read at the previous stop, to mark the ones that changed:
// note_stack_stop at every stop, forget_stack_stops for a new debugger.
void note_stack_stop();
void forget_stack_stops();

// The colour of what changed since the previous stop.
extern const GdkColor changed_colour;
