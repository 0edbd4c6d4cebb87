// The Structures page and the structure and list windows.
#pragma once

#include <gtk/gtk.h>

#include "views/struct_defs.hpp"

extern GtkWidget *structs_list;

void build_structures_page(GtkWidget *box);
void fill_struct_list();
void refresh_struct_window(StructDef *def);
void set_structs_sensitive(bool on);
