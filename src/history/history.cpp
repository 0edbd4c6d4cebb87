#include "history/history.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>

#include "exec/stop_reports.hpp"
#include "kit/widget_kit.hpp"
#include "link/reply_scan.hpp"

uint32_t history_length = 50;
GtkWidget *history_list = NULL;
FILE *history_log = NULL;
uint32_t last_physical = 0;
uint32_t repeat_count = 0;
uint32_t history_rows = 0;

static const char *const log_file_name = "__vum.log__";

// ---------------------------------------------------------------------------
// Column widths. The list's columns are auto-resized: each column is as wide
// as its widest cell (and its title). Left to the toolkit, that lays out
// every cell text anew with Pango at each append and removal, and walks the
// rows when the widest one goes, which made a history row cost several times
// a whole exchange with the debugger. The history measures each distinct text
// once instead and keeps the widest cell of each column as rows come and go
// (rows are only added at the bottom and removed at the top), with the
// toolkit's own sizing blocked around its changes. A change of style (font)
// is resized by the toolkit itself and measured here again.

namespace {

typedef std::array<int, 4> RowWidths;

GHashTable *measured_texts = NULL;  // text -> width in pixels + 1
std::deque<RowWidths> row_widths;   // one entry per row, top to bottom
// For each column, the candidates for its widest cell: (row serial, width),
// widths strictly falling from the front.
std::deque<std::pair<uint64_t, int>> widest[4];
uint64_t first_serial = 0, next_serial = 0;

const guint measured_texts_limit = 4096;

int text_width(const char *text) {
  if (text == NULL || text[0] == '\0') return 0;
  if (measured_texts == NULL)
    measured_texts = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, NULL);
  gpointer known = g_hash_table_lookup(measured_texts, text);
  if (known != NULL) return GPOINTER_TO_INT(known) - 1;
  // As the list lays out a cell: its own Pango context and font.
  PangoLayout *layout = gtk_widget_create_pango_layout(history_list, text);
  pango_layout_set_font_description(layout, history_list->style->font_desc);
  PangoRectangle logical;
  pango_layout_get_pixel_extents(layout, NULL, &logical);
  g_object_unref(layout);
  if (g_hash_table_size(measured_texts) >= measured_texts_limit)
    g_hash_table_remove_all(measured_texts);
  g_hash_table_insert(measured_texts, g_strdup(text), GINT_TO_POINTER(logical.width + 1));
  return logical.width;
}

// The width the toolkit gives an auto-resized column that holds no cell:
// its title's, less the spacing the list adds around a cell.
int title_width(GtkCList *list, int column) {
  const int cell_spacing = 1, column_inset = 3;  // as the list lays out its cells
  if (!GTK_CLIST_SHOW_TITLES(list) || list->column[column].button == NULL) return 0;
  return list->column[column].button->requisition.width - (cell_spacing + 2 * column_inset);
}

void forget_widths() {
  row_widths.clear();
  for (auto &w : widest) w.clear();
  first_serial = next_serial = 0;
}

// Records the widths of a row added at the bottom; widens its columns.
void add_row_widths(GtkCList *list, const char *const cells[4]) {
  RowWidths widths;
  uint64_t serial = next_serial++;
  for (int c = 0; c < 4; c++) {
    int w = widths[c] = text_width(cells[c]);
    while (!widest[c].empty() && widest[c].back().second <= w) widest[c].pop_back();
    widest[c].push_back(std::make_pair(serial, w));
    if (w > list->column[c].width) gtk_clist_set_column_width(list, c, w);
  }
  row_widths.push_back(widths);
}

// Forgets the top row's widths; a column whose widest cell it held narrows
// to the widest cell left, or its title.
void remove_top_row_widths(GtkCList *list) {
  if (row_widths.empty()) return;
  RowWidths gone = row_widths.front();
  row_widths.pop_front();
  uint64_t serial = first_serial++;
  for (int c = 0; c < 4; c++) {
    if (!widest[c].empty() && widest[c].front().first == serial) widest[c].pop_front();
    int width = list->column[c].width;
    if (gone[c] == 0 || gone[c] != width) continue;
    int left = widest[c].empty() ? 0 : widest[c].front().second;
    int narrowed = MAX(left, title_width(list, c));
    if (narrowed < width) gtk_clist_set_column_width(list, c, MAX(narrowed, list->column[c].min_width));
  }
}

// The toolkit has resized every column for a new style: measure again.
void history_style_set(GtkWidget *, GtkStyle *, gpointer) {
  if (measured_texts) g_hash_table_remove_all(measured_texts);
  forget_widths();
  if (history_list == NULL) return;
  GtkCList *list = GTK_CLIST(history_list);
  for (int r = 0; r < list->rows; r++) {
    RowWidths widths;
    uint64_t serial = next_serial++;
    for (int c = 0; c < 4; c++) {
      gchar *text = NULL;
      if (!gtk_clist_get_text(list, r, c, &text)) text = NULL;
      int w = widths[c] = text_width(text);
      while (!widest[c].empty() && widest[c].back().second <= w) widest[c].pop_back();
      widest[c].push_back(std::make_pair(serial, w));
    }
    row_widths.push_back(widths);
  }
}

}  // namespace

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
  forget_widths();
  connect_signal(history_list, "style_set", VUM_SIGNAL_FUNC(history_style_set), NULL);
  // Rows still waiting when the window goes (at quit) are not shown.
  connect_signal(history_list, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &history_list);
}

// ---------------------------------------------------------------------------
// Rows. A row is logged when it is added; the list shows it once the main
// loop is idle (show_rows), so that many rows in a row, as from a trace,
// cost one update of the list. Until then the list is behind by the rows
// waiting at its bottom and the rows to go from its top; history_rows always
// counts the rows as they will be shown.

namespace {

struct Row {
  char cells[4][128];  // as the stop location holds them: at most 127 characters
};

std::deque<Row> waiting_rows;  // to be appended at the bottom
uint32_t rows_to_remove = 0;   // to be removed from the top
const int no_selection_change = -1, clear_selection = -2;
int row_to_select = no_selection_change;  // counted as history_rows counts
bool scroll_to_last = false;

// The rows the list holds now, before the waiting changes.
uint32_t listed_rows() { return (uint32_t)GTK_CLIST(history_list)->rows; }

void show_rows() {
  if (history_list == NULL) return;
  GtkCList *list = GTK_CLIST(history_list);
  if (rows_to_remove > 0 || !waiting_rows.empty()) {
    gtk_clist_freeze(list);
    GTK_CLIST_SET_FLAG(list, CLIST_AUTO_RESIZE_BLOCKED);
    for (; rows_to_remove > 0; rows_to_remove--) {
      gtk_clist_remove(list, 0);
      remove_top_row_widths(list);
    }
    for (const Row &row : waiting_rows) {
      const char *cells[4] = {row.cells[0], row.cells[1], row.cells[2], row.cells[3]};
      gtk_clist_append(list, const_cast<gchar **>(cells));
      add_row_widths(list, cells);
    }
    GTK_CLIST_UNSET_FLAG(list, CLIST_AUTO_RESIZE_BLOCKED);
    waiting_rows.clear();
    gtk_clist_thaw(list);
  }
  if (list->rows > 0) {
    if (scroll_to_last) gtk_clist_moveto(list, list->rows - 1, 0, 1.0, 0.0);
    if (row_to_select >= 0) gtk_clist_select_row(list, row_to_select, 0);
  }
  if (row_to_select == clear_selection) gtk_clist_unselect_all(list);
  row_to_select = no_selection_change;
  scroll_to_last = false;
}

// Drops the oldest rows beyond history_length.
void remove_oldest_rows() {
  while (history_rows > history_length) {
    if (listed_rows() > rows_to_remove)
      rows_to_remove++;
    else
      waiting_rows.pop_front();
    history_rows--;
    // The row to select moves up with the others, or goes with the top row.
    if (row_to_select >= 0 && --row_to_select < 0) row_to_select = clear_selection;
  }
  defer_display_update(show_rows);
}

void forget_waiting_rows() {
  waiting_rows.clear();
  rows_to_remove = 0;
  row_to_select = no_selection_change;
  scroll_to_last = false;
}

}  // namespace

// The row's line in the log: "%s  %s  [%s]  %s\n" for an instruction, ": %s\n"
// for a message. Put together by hand, as every step and trace line writes one.
static void write_log_line(const char *const cells[4], bool instruction) {
  char line[4 * 128 + 16];
  for (int c = instruction ? 0 : 3; c < 4; c++)
    if (strlen(cells[c]) >= 128) {  // longer than any cell the list keeps
      if (instruction)
        fprintf(history_log, "%s  %s  [%s]  %s\n", cells[0], cells[1], cells[2], cells[3]);
      else
        fprintf(history_log, ": %s\n", cells[3]);
      return;
    }
  size_t n = 0;
  auto put = [&](const char *text) {
    size_t length = strlen(text);
    memcpy(line + n, text, length);
    n += length;
  };
  if (instruction) {
    put(cells[0]);
    put("  ");
    put(cells[1]);
    put("  [");
    put(cells[2]);
    put("]  ");
  } else {
    put(": ");
  }
  put(cells[3]);
  line[n++] = '\n';
  fwrite_unlocked(line, 1, n, history_log);
}

// Lines reach the disk once the main loop is idle: many rows in a row (a
// trace) cost one write, and no row shown is ever missing from the file.
static void flush_history_log() {
  if (history_log) fflush(history_log);
}

// The common tail of both kinds of row; `cells` holds the four column texts.
static void add_row(const char *cells[4], bool instruction) {
  if (history_list == NULL) return;
  if (history_log) {
    write_log_line(cells, instruction);
    defer_display_update(flush_history_log);
  }
  waiting_rows.emplace_back();
  for (int c = 0; c < 4; c++) g_strlcpy(waiting_rows.back().cells[c], cells[c], 128);
  history_rows++;
  // The newest row is scrolled into view; an instruction row is selected.
  scroll_to_last = true;
  if (instruction) row_to_select = (int)history_rows - 1;
  remove_oldest_rows();
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
  format_hex(physical, at.physical_address, 8);
  format_hex(format_hex(virt, at.cs, 4), at.eip, 8, ':');
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
  forget_widths();
  forget_waiting_rows();
  history_rows = 0;
  history_flush_repeats();
  if (history_log) {
    fclose(history_log);
    history_log = NULL;
  }
  last_physical = 0;
  repeat_count = 0;
  open_log();
}
