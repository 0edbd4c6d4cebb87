#include "points/breakpoints_page.hpp"

#include <cctype>

#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "settings/preferences_page.hpp"

Breakpoint breakpoint_table[30];
uint32_t breakpoint_count = 0;
int32_t breakpoint_selected_row = -1;

GtkWidget *breakpoint_list = NULL;
GtkWidget *remove_breakpoint_button = NULL;
GtkWidget *remove_all_breakpoints_button = NULL;
ButtonGroup *breakpoint_kind_group = NULL;
GtkWidget *breakpoint_entry = NULL;
GtkWidget *add_breakpoint_button = NULL;

static const char *const kind_names[3] = {"Physical", "Linear", "Virtual"};

void build_breakpoints_page(GtkWidget *page) {
  GtkWidget *row = add_hbox(page, 1);
  static const char *const titles[3] = {"Last Stop", "Type", "Breakpoint"};
  breakpoint_list = add_list(row, 3, titles);
  GtkCList *list = GTK_CLIST(breakpoint_list);
  gtk_clist_column_titles_show(list);
  gtk_clist_set_column_justification(list, 0, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, 1, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, 2, GTK_JUSTIFY_LEFT);
  connect_signal(breakpoint_list, "select_row", VUM_SIGNAL_FUNC(breakpoint_row_selected), NULL);
  connect_signal(breakpoint_list, "unselect_row", VUM_SIGNAL_FUNC(breakpoint_row_unselected), NULL);

  GtkWidget *side = add_vbox(row, 0);
  GtkWidget *buttons = add_hbox(side, 0);
  remove_breakpoint_button = add_button(buttons, 1, " Remove ");
  connect_signal(remove_breakpoint_button, "clicked", VUM_SIGNAL_FUNC(remove_breakpoint), NULL);
  remove_all_breakpoints_button = add_button(buttons, 1, " Remove All ");
  connect_signal(remove_all_breakpoints_button, "clicked", VUM_SIGNAL_FUNC(remove_all_breakpoints),
                 NULL);
  add_separator(side, 0, 0);

  static const char *const kinds[3] = {" Physical ", " Linear ", " Virtual "};
  breakpoint_kind_group = add_button_group(add_hbox(side, 0), 1, 0, 3, kinds);

  breakpoint_entry = add_entry(side, 0, 145);
  connect_signal(breakpoint_entry, "activate", VUM_SIGNAL_FUNC(add_breakpoint), GINT_TO_POINTER(1));
  add_breakpoint_button = add_button(side, 0, " Add ");
  connect_signal(add_breakpoint_button, "clicked", VUM_SIGNAL_FUNC(add_breakpoint),
                 GINT_TO_POINTER(1));

  breakpoint_selected_row = -1;
  breakpoint_count = 0;
}

// Skips blanks; the result is the next character, left unread, or EOF.
static int peek_past_blanks(FILE *in) {
  int c;
  do c = fgetc(in);
  while (c != EOF && isspace(c));
  if (c != EOF) ungetc(c, in);
  return c;
}

bool scan_breakpoint_list(FILE *in, Breakpoint table[30], uint32_t *count) {
  for (int i = 0; i < 30; i++) table[i].enabled = 0;
  *count = 0;

  // Whatever precedes the first entry (the column titles) holds no digit.
  int c;
  do c = fgetc(in);
  while (c != EOF && !isdigit(c) && c != '<');
  if (c == EOF) return false;
  ungetc(c, in);

  for (int i = 0; i < 30; i++) {
    Breakpoint &b = table[i];
    c = peek_past_blanks(in);
    if (c == EOF) return false;
    if (!isdigit(c)) return true;  // the prompt, or text that is no entry

    // Number, then the type word, of which only the first letter counts.
    char type = 0;
    if (fscanf(in, "%u %c%*s ", &b.number, &type) < 2) return true;
    switch (type) {
      case 'p': b.kind = 0; break;
      case 'l': b.kind = 1; break;
      case 'v': b.kind = 2; break;
      default: return true;
    }
    // The disposition word, then the enabled letter.
    char enabled = 0;
    if (fscanf(in, "%*s %c ", &enabled) < 1) return true;
    // A single address, or segment:offset.
    if (fscanf(in, "%x", &b.segment) < 1) return true;
    if (fscanf(in, ":%x", &b.offset) < 1) {
      b.offset = b.segment;
      b.segment = 0;
    }
    // The flag also makes the entry live, so it is set only once the entry
    // has been read whole: an entry cut short never shows an old address.
    b.enabled = enabled == 'y' ? 1 : 0;
    (*count)++;
  }
  return true;
}

void query_breakpoints() {
  if (reply_stream == NULL) return;
  send_command("%s", command_info_break);
  if (scan_breakpoint_list(reply_stream, breakpoint_table, &breakpoint_count)) wait_for_prompt();
}

void refresh_breakpoints(int skip_query) {
  if (debugger_offline) return;
  if (!skip_query) query_breakpoints();

  GtkCList *list = GTK_CLIST(breakpoint_list);
  gtk_clist_freeze(list);
  gtk_clist_clear(list);
  breakpoint_selected_row = -1;
  gtk_widget_set_sensitive(remove_breakpoint_button, FALSE);
  gtk_widget_set_sensitive(remove_all_breakpoints_button, breakpoint_count != 0);
  for (int i = 0; i < 30 && breakpoint_table[i].enabled; i++) {
    const Breakpoint &b = breakpoint_table[i];
    char address[18];
    if (b.kind == 2)
      snprintf(address, sizeof address, "%.4X:%.8X", b.segment, b.offset);
    else
      snprintf(address, sizeof address, "%.8X", b.offset);
    const char *cells[3] = {"", b.kind < 3 ? kind_names[b.kind] : "", address};
    gtk_clist_append(list, const_cast<gchar **>(cells));
  }
  gtk_clist_thaw(list);
}

void add_breakpoint(GtkWidget *, gpointer refresh) {
  uint32_t kind = breakpoint_kind_group->selected;
  if (kind >= 3) return;
  // The text goes as it was typed; send_command makes sure that it can only
  // ever be one command line.
  send_command(breakpoint_commands[kind], gtk_entry_get_text(GTK_ENTRY(breakpoint_entry)));
  wait_for_prompt();
  if (GPOINTER_TO_INT(refresh)) refresh_breakpoints(0);
  gtk_entry_set_text(GTK_ENTRY(breakpoint_entry), "");
}

void remove_breakpoint(GtkWidget *, gpointer) {
  int32_t row = breakpoint_selected_row;
  if (row < 0 || row >= 30 || !breakpoint_table[row].enabled) return;
  send_command(format_delete_breakpoint, breakpoint_table[row].number);
  wait_for_prompt();
  refresh_breakpoints(0);
}

void remove_all_breakpoints(GtkWidget *, gpointer) {
  // Entry 0 is deleted and the list read again until it is gone; a debugger
  // that will not delete it gets 30 tries a click.
  for (int sent = 0; sent < 30 && breakpoint_table[0].enabled; sent++) {
    send_command(format_delete_breakpoint, breakpoint_table[0].number);
    wait_for_prompt();
    refresh_breakpoints(0);
  }
}

void breakpoint_row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer) {
  breakpoint_selected_row = row;
  gtk_widget_set_sensitive(remove_breakpoint_button, TRUE);
}

void breakpoint_row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer) {
  breakpoint_selected_row = -1;
  gtk_widget_set_sensitive(remove_breakpoint_button, FALSE);
}

void set_breakpoints_sensitive(int on) {
  if (breakpoint_list == NULL) return;
  gtk_widget_set_sensitive(breakpoint_list, on ? TRUE : FALSE);
  gtk_widget_set_sensitive(add_breakpoint_button, on ? TRUE : FALSE);
  gtk_widget_set_sensitive(breakpoint_entry, on ? TRUE : FALSE);
  gtk_widget_set_sensitive(remove_breakpoint_button, on && breakpoint_selected_row != -1);
  gtk_widget_set_sensitive(remove_all_breakpoints_button, on && breakpoint_count != 0);
}

void reload_breakpoints_now() {
  if (reload_breakpoints) {
    for (int i = 0; i < 30 && breakpoint_table[i].enabled; i++) {
      const Breakpoint &b = breakpoint_table[i];
      if (b.kind >= 3) continue;
      // Room for any segment the list may have shown, so that a reloaded
      // address is never cut short.
      char text[24];
      if (b.kind == 2)
        snprintf(text, sizeof text, "0x%.4X:0x%.8X", b.segment, b.offset);
      else
        snprintf(text, sizeof text, "0x%.8X", b.offset);
      gtk_entry_set_text(GTK_ENTRY(breakpoint_entry), text);
      send_command(breakpoint_commands[b.kind], text);
      wait_for_prompt();
      gtk_entry_set_text(GTK_ENTRY(breakpoint_entry), "");
    }
  }
  refresh_breakpoints(0);
}

void mark_breakpoint_hit(uint32_t number) {
  for (int i = 0; i < 30; i++) {
    const Breakpoint &b = breakpoint_table[i];
    if (!b.enabled) return;
    if (b.number != number) continue;
    GtkCList *list = GTK_CLIST(breakpoint_list);
    if (i >= list->rows) return;
    gtk_clist_set_text(list, i, 0, "X");
    gtk_clist_select_row(list, i, 0);
    return;
  }
}
