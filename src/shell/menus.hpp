// The menu bar: File, Run, View and Help, made of the toolkit's actions and
// UI manager. An item that does what a button of the window does clicks
// that button and is sensitive exactly when the button is; the keys are the
// actions' accelerators, so a key does nothing while its button is greyed
// out, and one press clicks once. Help has the keys and the About box.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <utility>
#include <vector>

#include "shell/pages.hpp"

struct MenuBar {
  GtkUIManager *ui;  // holds the actions; released when the window goes
  GtkActionGroup *actions;
  GtkWidget *widget;  // the bar, for the caller to pack
  std::vector<std::string> order;  // the actions' names in menu order
};

// Builds the menu bar of `window` (its keys work anywhere in it) over the
// main window's buttons, the control bar's, and the pages of `rows` (the
// table of pages): one View item per page with a title, and the pages' own
// items. Run > Run to Here stays insensitive until a page provides it.
MenuBar build_menu_bar(GtkWidget *window, const PageRow *rows, int count);

// The keys the menu bar answers to, in menu order, each with the name of
// its item: {"F5", "Go"}, {"Shift+F5", "Stop"}, ...
std::vector<std::pair<std::string, std::string>> menu_keys(const MenuBar &bar);

// Help > Keys, Help > About, File > Load Symbols...: each opens its window
// (or brings it to the front), which goes when it is answered.
void show_keys_window();
void show_about_box();
void show_symbols_chooser();
