// The Structures page and the structure and list windows: each definition of
// the configuration file opens a window that reads every field of the shown
// elements from memory through the debugger, one command per field.
#pragma once

#include <gtk/gtk.h>

#include "exec/run_control.hpp"
#include "text/struct_defs.hpp"

// The Structures page's list of definitions.
GtkWidget *structures_list();

void build_structures_page(GtkWidget *box);
void fill_struct_list();

// "select_row" of structs_list: opens the row's window (the row is
// unselected at once, so that it can be clicked again).
void open_struct_window(GtkWidget *list, gint row, gint column, GdkEvent *event, gpointer data);

// Reads the shown elements again; nothing while the debugger is offline or
// the target runs, or when the definition's window is closed. Also the
// handler of the window's " Refresh " ("clicked", the definition as data).
void refresh_struct_window(StructDef *def);

// " Close " ("clicked") and the window's "destroy", with the definition's row
// in structs_list as data.
void close_struct_window(GtkWidget *widget, gpointer row);

// Every open window, in the order of the definitions.
void refresh_struct_windows();

void set_structs_sensitive(bool on);

// A stop was read: the windows whose "Refresh at each stop" is on are read
// again from an idle call, once the stop has been drawn.
void structs_stopped(const Stop &stop);
void structs_quit();
// The window's "Refresh at each stop" check button; none while it is closed.
GtkWidget *struct_follow_button(const StructDef *def);
