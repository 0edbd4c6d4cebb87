// What the Breakpoints and Watchpoints pages have in common: a list of the
// debugger's entries beside the controls that add and remove them, the
// selection, the sensitivity, the reload after a restart and the mark of the
// entry that was hit. Each page describes itself with a PointPage.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "kit/widget_kit.hpp"
#include "text/address.hpp"

// Room for one cell text a page makes: an address with the name of the
// symbol there ("0008:00000100 <name+0x1f>").
const int point_cell_size = 96;

// The widgets and the state both pages have.
struct PointWidgets {
  GtkWidget *list;
  GtkWidget *remove_button;
  GtkWidget *remove_all_button;
  ButtonGroup *kind_group;
  GtkWidget *entry;
  GtkWidget *add_button;
  GtkWidget *message;    // why the typed text was refused, under the entry
  int32_t selected_row;  // -1 when none
  uint32_t count;        // live entries of the last list read
};

struct PointPage {
  PointWidgets *w;  // the page's own

  // Its layout.
  int columns;
  const char *const *titles;
  const GtkJustification *justifications;
  uint32_t kinds;
  const char *const *kind_labels;
  const char *entry_label;  // above the entry, or none

  // Its handlers.
  GtkSignalFunc add, remove, remove_all, row_selected, row_unselected;
};

// Builds the page into the box; returns the column of controls, for any
// further labels.
GtkWidget *build_point_page(const PointPage &page, GtkWidget *box);

// Asks for the list and hands the reply's text, up to its prompt (or the end
// of the replies), to the scanner.
void query_point_list(const char *command, void (*scan)(const std::string &text, bool at_prompt));

// Rebuilds the list: one row per cell row that `cells` gives for the live
// entries 0, 1, ... (false ends them), at most 30; no row selected.
void fill_point_list(const PointPage &page, bool (*cells)(int entry, const char *out[4], char room[2][point_cell_size]));

// Sends the add command of the entry's text, when it is an address of the
// form asked for (a known symbol's name goes as its address); otherwise the
// page says why, sends nothing and keeps the text. True when sent.
bool add_point(const PointPage &page, const char *format, AddressForm form);

// Adds one point of an earlier list again: its address text shown in the
// entry while the command is sent.
void reload_point(const PointPage &page, const char *format, const char *address);

void select_point_row(const PointPage &page, gint row);
void unselect_point_row(const PointPage &page);
void set_point_page_sensitive(const PointPage &page, bool on);

// Marks the row as the one last hit and selects it.
void mark_point_row(const PointPage &page, int row);
