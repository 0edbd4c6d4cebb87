#include "points/point_page.hpp"

#include "link/debugger_child.hpp"
#include "text/point_lists.hpp"
#include "text/symbols.hpp"

GtkWidget *build_point_page(const PointPage &page, GtkWidget *box) {
  GtkWidget *row = add_hbox(box, 1);
  page.w->list = add_list(row, page.columns, page.titles);
  GtkCList *list = GTK_CLIST(page.w->list);
  gtk_clist_column_titles_show(list);
  for (int c = 0; c < page.columns; c++)
    gtk_clist_set_column_justification(list, c, page.justifications[c]);
  connect_signal(page.w->list, "select_row", page.row_selected, NULL);
  connect_signal(page.w->list, "unselect_row", page.row_unselected, NULL);

  GtkWidget *side = add_vbox(row, 0);
  GtkWidget *buttons = add_hbox(side, 0);
  page.w->remove_button = add_button(buttons, 1, " Remove ");
  connect_signal(page.w->remove_button, "clicked", page.remove, NULL);
  page.w->remove_all_button = add_button(buttons, 1, " Remove All ");
  connect_signal(page.w->remove_all_button, "clicked", page.remove_all, NULL);
  add_separator(side, 0, 0);

  page.w->kind_group = add_button_group(add_hbox(side, 0), 1, 0, page.kinds, page.kind_labels);

  if (page.entry_label) add_label(side, 0, page.entry_label, 0);
  page.w->entry = add_entry(side, 0, 145);
  use_monospace(page.w->entry);
  connect_signal(page.w->entry, "activate", page.add, GINT_TO_POINTER(1));
  page.w->add_button = add_button(side, 0, " Add ");
  page.w->message = add_label(side, 0, "", 1);
  gtk_misc_set_alignment(GTK_MISC(page.w->message), 0, 0);
  gtk_widget_set_size_request(page.w->message, 145, -1);
  connect_signal(page.w->add_button, "clicked", page.add, GINT_TO_POINTER(1));

  page.w->selected_row = -1;
  page.w->count = 0;
  return side;
}

void query_point_list(const char *command, void (*scan)(const std::string &text, bool at_prompt)) {
  if (!debugger_waits()) return;
  std::string text;
  bool at_prompt = exchange(&text, "%s", command);
  scan(text, at_prompt);
}

void fill_point_list(const PointPage &page, bool (*cells)(int entry, const char *out[4], char room[2][point_cell_size])) {
  GtkCList *list = GTK_CLIST(page.w->list);
  gtk_clist_freeze(list);
  gtk_clist_clear(list);
  page.w->selected_row = -1;
  gtk_widget_set_sensitive(page.w->remove_button, FALSE);
  gtk_widget_set_sensitive(page.w->remove_all_button, page.w->count != 0);
  for (int i = 0; i < point_table_size; i++) {
    const char *row[4];
    char room[2][point_cell_size];
    if (!cells(i, row, room)) break;
    gtk_clist_append(list, const_cast<gchar **>(row));
  }
  gtk_clist_thaw(list);
}

bool add_point(const PointPage &page, const char *format, AddressForm form) {
  const char *typed = gtk_entry_get_text(GTK_ENTRY(page.w->entry));
  TypedAddress address;
  // A symbol's name is an address once symbols are loaded (before, the
  // message does not offer names).
  SymbolResolver names = symbol_count() > 0 ? symbol_address : NULL;
  if (!parse_address(typed, form, names, &address)) {
    gtk_label_set_text(GTK_LABEL(page.w->message), address.message);
    return false;
  }
  gtk_label_set_text(GTK_LABEL(page.w->message), "");
  // What was typed goes as it was typed, blanks around it left out: it is
  // hexadecimal and nothing else. A name goes as its address.
  std::string text;
  if (address.from_symbol) {
    char name_address[40];
    if (form == AddressForm::segmented)
      snprintf(name_address, sizeof name_address, "0x%X:0x%X", address.segment, address.offset);
    else
      snprintf(name_address, sizeof name_address, "0x%X", address.offset);
    text = name_address;
  } else {
    text = typed;
    text.erase(0, text.find_first_not_of(" \t"));
    text.erase(text.find_last_not_of(" \t") + 1);
  }
  std::string reply;
  exchange(&reply, format, text.c_str());
  return true;
}

void reload_point(const PointPage &page, const char *format, const char *address) {
  gtk_entry_set_text(GTK_ENTRY(page.w->entry), address);
  std::string reply;
  exchange(&reply, format, address);
  gtk_entry_set_text(GTK_ENTRY(page.w->entry), "");
}

void select_point_row(const PointPage &page, gint row) {
  page.w->selected_row = row;
  gtk_widget_set_sensitive(page.w->remove_button, TRUE);
}

void unselect_point_row(const PointPage &page) {
  page.w->selected_row = -1;
  gtk_widget_set_sensitive(page.w->remove_button, FALSE);
}

void set_point_page_sensitive(const PointPage &page, bool on) {
  if (page.w->list == NULL) return;
  gtk_widget_set_sensitive(page.w->list, on);
  gtk_widget_set_sensitive(page.w->add_button, on);
  gtk_widget_set_sensitive(page.w->entry, on);
  gtk_widget_set_sensitive(page.w->remove_button, on && page.w->selected_row != -1);
  gtk_widget_set_sensitive(page.w->remove_all_button, on && page.w->count != 0);
}

void mark_point_row(const PointPage &page, int row) {
  GtkCList *list = GTK_CLIST(page.w->list);
  if (row >= list->rows) return;
  gtk_clist_set_text(list, row, 0, "X");
  gtk_clist_select_row(list, row, 0);
}
