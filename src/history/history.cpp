#include "history/history.hpp"

#include "exec/stop_reports.hpp"
#include "settings/preferences_page.hpp"
#include "shell/widget_kit.hpp"

GtkWidget *history_list = NULL;
FILE *history_log = NULL;
uint32_t last_physical = 0;
uint32_t repeat_count = 0;
uint32_t history_rows = 0;

static const char *const log_file_name = "__vum.log__";

static void open_log() {
  history_log = fopen(log_file_name, "w");
  if (history_log == NULL) g_print("VUM: Unable to access history log file, logging disabled.\n");
}

void build_history_page(GtkWidget *box) {
  last_physical = 0;
  repeat_count = 0;
  history_rows = 0;
  open_log();
  static const char *const titles[4] = {"Physical", "Virtual", "Bytes", "Instruction"};
  history_list = add_list(box, 4, titles);
  GtkCList *list = GTK_CLIST(history_list);
  gtk_clist_column_titles_show(list);
  gtk_clist_set_column_justification(list, 0, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, 1, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, 2, GTK_JUSTIFY_LEFT);
  gtk_clist_set_column_justification(list, 3, GTK_JUSTIFY_LEFT);
}

static void remove_oldest_rows() {
  while (history_rows > history_length) {
    gtk_clist_remove(GTK_CLIST(history_list), 0);
    history_rows--;
  }
}

// The common tail of both kinds of row; `cells` holds the four column texts.
static void add_row(const char *cells[4], bool instruction) {
  if (history_list == NULL) return;
  GtkCList *list = GTK_CLIST(history_list);
  gtk_clist_append(list, const_cast<gchar **>(cells));
  history_rows++;
  if (history_log) {
    if (instruction)
      fprintf(history_log, "%s  %s  [%s]  %s\n", cells[0], cells[1], cells[2], cells[3]);
    else
      fprintf(history_log, ": %s\n", cells[3]);
  }
  remove_oldest_rows();
  if (history_rows == 0) return;
  gtk_clist_moveto(list, (gint)history_rows - 1, 0, 1.0, 0.0);
  if (instruction) gtk_clist_select_row(list, (gint)history_rows - 1, 0);
}

void history_flush_repeats() {
  if (repeat_count == 0) return;
  char text[40];
  snprintf(text, sizeof text, "repeated %u times", repeat_count);
  repeat_count = 0;
  history_message(text);
}

void history_message(const char *text) {
  history_flush_repeats();
  const char *cells[4] = {"", "", "", text};
  add_row(cells, false);
}

void history_add_instruction() {
  const StopLocation &at = stop_location;
  if (at.physical_address == last_physical) {
    repeat_count++;
    return;
  }
  last_physical = at.physical_address;
  history_flush_repeats();
  char physical[18], virt[24];
  snprintf(physical, sizeof physical, "%.8X", at.physical_address);
  snprintf(virt, sizeof virt, "%.4X:%.8X", at.cs, at.eip);
  const char *cells[4] = {physical, virt, at.bytes, at.text};
  add_row(cells, true);
}

void history_reset_repeats() {
  last_physical = 0;
  repeat_count = 0;
}

void history_trim() { remove_oldest_rows(); }

void history_close() {
  history_flush_repeats();
  if (history_log) {
    fclose(history_log);
    history_log = NULL;
  }
}

void history_clear(GtkWidget *, gpointer) {
  gtk_clist_clear(GTK_CLIST(history_list));
  history_rows = 0;
  history_flush_repeats();
  if (history_log) {
    fclose(history_log);
    history_log = NULL;
  }
  last_physical = 0;
  repeat_count = 0;
  history_rows = (uint32_t)GTK_CLIST(history_list)->rows;
  open_log();
}
