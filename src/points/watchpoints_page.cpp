#include "points/watchpoints_page.hpp"

#include <cctype>
#include <cstring>

#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "settings/preferences_page.hpp"

Watchpoint watchpoint_table[30];
uint32_t watchpoint_count = 0;
int32_t watchpoint_selected_row = -1;

GtkWidget *watchpoint_list = NULL;
GtkWidget *remove_watchpoint_button = NULL;
GtkWidget *remove_all_watchpoints_button = NULL;
ButtonGroup *watchpoint_kind_group = NULL;
GtkWidget *watchpoint_entry = NULL;
GtkWidget *add_watchpoint_button = NULL;

static const char *const kind_names[2] = {"Read", "Write"};

void build_watchpoints_page(GtkWidget *page) {
  GtkWidget *row = add_hbox(page, 1);
  static const char *const titles[4] = {"Last Stop", "Type", "Watchpoint", "Value"};
  watchpoint_list = add_list(row, 4, titles);
  GtkCList *list = GTK_CLIST(watchpoint_list);
  gtk_clist_column_titles_show(list);
  gtk_clist_set_column_justification(list, 0, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, 1, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, 2, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, 3, GTK_JUSTIFY_LEFT);
  connect_signal(watchpoint_list, "select_row", VUM_SIGNAL_FUNC(watchpoint_row_selected), NULL);
  connect_signal(watchpoint_list, "unselect_row", VUM_SIGNAL_FUNC(watchpoint_row_unselected), NULL);

  GtkWidget *side = add_vbox(row, 0);
  GtkWidget *buttons = add_hbox(side, 0);
  remove_watchpoint_button = add_button(buttons, 1, " Remove ");
  connect_signal(remove_watchpoint_button, "clicked", VUM_SIGNAL_FUNC(remove_watchpoint), NULL);
  remove_all_watchpoints_button = add_button(buttons, 1, " Remove All ");
  connect_signal(remove_all_watchpoints_button, "clicked", VUM_SIGNAL_FUNC(remove_all_watchpoints),
                 NULL);
  add_separator(side, 0, 0);

  static const char *const kinds[2] = {" Read ", " Write "};
  watchpoint_kind_group = add_button_group(add_hbox(side, 0), 1, 0, 2, kinds);

  add_label(side, 0, "Physical address", 0);
  watchpoint_entry = add_entry(side, 0, 145);
  connect_signal(watchpoint_entry, "activate", VUM_SIGNAL_FUNC(add_watchpoint), GINT_TO_POINTER(1));
  add_watchpoint_button = add_button(side, 0, " Add ");
  connect_signal(add_watchpoint_button, "clicked", VUM_SIGNAL_FUNC(add_watchpoint),
                 GINT_TO_POINTER(1));

  add_label(side, 0, "Bochs 2.0 does not support", 0);
  add_label(side, 0, "remove, it might be supported", 1);
  add_label(side, 0, "in newer versions.", 1);
  add_label(side, 0, "Remove All does work.", 1);

  watchpoint_selected_row = -1;
  watchpoint_count = 0;
}

// True when the word just read ended where its field did: the next character
// is a blank or the end of the stream. Leaves that character unread.
static bool word_ended(FILE *in) {
  int c = fgetc(in);
  if (c == EOF) return true;
  ungetc(c, in);
  return isspace(c) != 0;
}

// True when the `length` bytes just read into `word` are all text: a NUL
// byte in the reply would otherwise cut the word short unseen.
static bool whole_word(const char *word, int length) {
  return length > 0 && strlen(word) == (size_t)length;
}

bool scan_watchpoint_list(FILE *in, Watchpoint table[30], uint32_t *count) {
  for (int i = 0; i < 30; i++) table[i].in_use = 0;
  *count = 0;

  for (int i = 0; i < 30; i++) {
    Watchpoint &w = table[i];
    // Everything up to an 'r' or 'w' (an entry) or a '<' (the prompt) is dropped.
    int c;
    do c = fgetc(in);
    while (c != EOF && c != 'r' && c != 'w' && c != '<');
    if (c == EOF) return false;
    ungetc(c, in);
    if (c == '<') return true;

    // The kind word has room for 5 characters and the value token for 15;
    // a longer word or token does not fit the list and ends it.
    char kind[6];
    int length = 0;
    if (fscanf(in, "%5s%n", kind, &length) < 1 || !word_ended(in) || !whole_word(kind, length))
      return true;
    if (fscanf(in, " %x", &w.address) < 1) return true;
    char token[16];
    int start = 0, end = 0;
    if (fscanf(in, " ( %n%15s%n", &start, token, &end) < 1 || !word_ended(in) ||
        !whole_word(token, end - start))
      return true;

    if (strcmp(kind, "read") == 0)
      w.kind = 0;
    else if (strcmp(kind, "write") == 0)
      w.kind = 1;
    else
      return true;

    // The token is the value and its closing ')'.
    size_t digits = strlen(token) - 1;
    token[digits] = '\0';
    if (digits == 4)
      w.width = 2;
    else if (digits == 8)
      w.width = 4;
    else
      return true;
    sscanf(token, "%x", &w.value);

    (*count)++;
    w.in_use = 1;
  }
  return true;
}

void query_watchpoints() {
  if (reply_stream == NULL) return;
  send_command("%s", command_watch_list);
  if (scan_watchpoint_list(reply_stream, watchpoint_table, &watchpoint_count)) wait_for_prompt();
}

void refresh_watchpoints(int skip_query) {
  if (debugger_offline) return;
  if (!skip_query) query_watchpoints();

  GtkCList *list = GTK_CLIST(watchpoint_list);
  gtk_clist_freeze(list);
  gtk_clist_clear(list);
  watchpoint_selected_row = -1;
  gtk_widget_set_sensitive(remove_watchpoint_button, FALSE);
  gtk_widget_set_sensitive(remove_all_watchpoints_button, watchpoint_count != 0);
  for (int i = 0; i < 30 && watchpoint_table[i].in_use; i++) {
    const Watchpoint &w = watchpoint_table[i];
    char address[18], value[16];
    snprintf(address, sizeof address, "%.8X", w.address);
    if (w.width == 2)
      snprintf(value, sizeof value, "%.4X", w.value);
    else
      snprintf(value, sizeof value, "%.8X", w.value);
    const char *cells[4] = {"", w.kind < 2 ? kind_names[w.kind] : "", address, value};
    gtk_clist_append(list, const_cast<gchar **>(cells));
  }
  gtk_clist_thaw(list);
}

void add_watchpoint(GtkWidget *, gpointer refresh) {
  uint32_t kind = watchpoint_kind_group->selected;
  if (kind >= 2) return;
  // The text goes as it was typed; send_command makes sure that it can only
  // ever be one command line.
  send_command(watch_commands[kind], gtk_entry_get_text(GTK_ENTRY(watchpoint_entry)));
  wait_for_prompt();
  if (GPOINTER_TO_INT(refresh)) refresh_watchpoints(0);
  gtk_entry_set_text(GTK_ENTRY(watchpoint_entry), "");
}

void remove_watchpoint(GtkWidget *, gpointer) {
  int32_t row = watchpoint_selected_row;
  if (row < 0 || row >= 30 || !watchpoint_table[row].in_use) return;
  const Watchpoint &w = watchpoint_table[row];
  if (w.kind >= 2) return;
  send_command(unwatch_commands[w.kind], w.address);
  wait_for_prompt();
  refresh_watchpoints(0);
}

void remove_all_watchpoints(GtkWidget *, gpointer) {
  send_command("%s", command_unwatch_all);
  wait_for_prompt();
  refresh_watchpoints(0);
}

void watchpoint_row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer) {
  watchpoint_selected_row = row;
  gtk_widget_set_sensitive(remove_watchpoint_button, TRUE);
}

void watchpoint_row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer) {
  watchpoint_selected_row = -1;
  gtk_widget_set_sensitive(remove_watchpoint_button, FALSE);
}

void set_watchpoints_sensitive(int on) {
  if (watchpoint_list == NULL) return;
  gtk_widget_set_sensitive(watchpoint_list, on ? TRUE : FALSE);
  gtk_widget_set_sensitive(add_watchpoint_button, on ? TRUE : FALSE);
  gtk_widget_set_sensitive(watchpoint_entry, on ? TRUE : FALSE);
  gtk_widget_set_sensitive(remove_watchpoint_button, on && watchpoint_selected_row != -1);
  gtk_widget_set_sensitive(remove_all_watchpoints_button, on && watchpoint_count != 0);
}

void reload_watchpoints_now() {
  if (reload_watchpoints) {
    for (int i = 0; i < 30 && watchpoint_table[i].in_use; i++) {
      const Watchpoint &w = watchpoint_table[i];
      if (w.kind >= 2) continue;
      char text[18];
      snprintf(text, sizeof text, "0x%.8X", w.address);
      gtk_entry_set_text(GTK_ENTRY(watchpoint_entry), text);
      send_command(watch_commands[w.kind], text);
      wait_for_prompt();
      gtk_entry_set_text(GTK_ENTRY(watchpoint_entry), "");
    }
  }
  refresh_watchpoints(0);
}

void mark_watchpoint_hit(uint32_t kind, uint32_t address) {
  for (int i = 0; i < 30; i++) {
    const Watchpoint &w = watchpoint_table[i];
    if (!w.in_use) return;
    if (w.kind != kind || w.address != address) continue;
    GtkCList *list = GTK_CLIST(watchpoint_list);
    if (i >= list->rows) return;
    gtk_clist_set_text(list, i, 0, "X");
    gtk_clist_select_row(list, i, 0);
    return;
  }
}
