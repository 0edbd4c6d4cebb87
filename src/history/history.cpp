#include "history/history.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "kit/row_stream.hpp"
#include "kit/widget_kit.hpp"
#include "text/reply_scan.hpp"
#include "text/settings.hpp"
#include "text/symbol_places.hpp"

namespace {

HistoryPage page = {};
RowStream stream;

const char *const log_file_name = "__vum.log__";

}  // namespace

HistoryPage &history_page() { return page; }

static void open_log() {
  page.log = fopen(log_file_name, "w");
  if (page.log == NULL) g_print("VUM: Unable to access history log file, logging disabled.\n");
}

void build_history_page(GtkWidget *box) {
  reset_fold(&page.fold);
  page.rows = 0;
  open_log();
  static const char *const titles[4] = {"Physical", "Virtual", "Bytes", "Instruction"};
  static const GtkJustification justify[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER, GTK_JUSTIFY_LEFT,
                                              GTK_JUSTIFY_LEFT};
  // Up to 99,999 rows: a list that costs no more per Step when long (see
  // kit/row_stream.hpp).
  page.list = stream.build(box, 4, titles, justify);
  // Rows still waiting when the window goes (at quit) are not shown.
  connect_signal(page.list, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &page.list);
}

// ---------------------------------------------------------------------------
// Rows. A row is logged when it is added; the list shows it once the main
// loop is idle (show_rows), so that many rows in a row, as from a trace,
// cost one update of the list. Until then the list is behind by the rows
// waiting at its bottom and the rows to go from its top; page.rows always
// counts the rows as they will be shown.

namespace {

struct Row {
  char cells[4][128];  // as the stop location holds them: at most 127 characters
};

std::deque<Row> waiting_rows;  // to be appended at the bottom
uint32_t rows_to_remove = 0;   // to be removed from the top
const int no_selection_change = -1, clear_selection = -2;
int row_to_select = no_selection_change;  // counted as page.rows counts
bool scroll_to_last = false;

// The rows the list holds now, before the waiting changes.
uint32_t listed_rows() { return (uint32_t)stream.rows(); }

void show_rows() {
  if (page.list == NULL) return;
  // Rows that go from the top as others come at the bottom, as at every Step
  // once the list is at its length: one change.
  size_t paired = MIN((size_t)rows_to_remove, waiting_rows.size());
  if (paired > 0) {
    std::vector<std::array<const char *, RowStream::most_columns>> rolled(paired);
    for (size_t i = 0; i < paired; i++)
      for (int c = 0; c < 4; c++) rolled[i][c] = waiting_rows[i].cells[c];
    stream.roll(rolled);
    waiting_rows.erase(waiting_rows.begin(), waiting_rows.begin() + (long)paired);
    rows_to_remove -= (uint32_t)paired;
  }
  for (; rows_to_remove > 0; rows_to_remove--) stream.remove_first();
  for (const Row &row : waiting_rows) {
    const char *cells[4] = {row.cells[0], row.cells[1], row.cells[2], row.cells[3]};
    stream.append(cells);
  }
  waiting_rows.clear();
  if (stream.rows() > 0) {
    if (scroll_to_last) stream.scroll_to_last();
    if (row_to_select >= 0) stream.select(row_to_select);
  }
  if (row_to_select == clear_selection) stream.select(-1);
  row_to_select = no_selection_change;
  scroll_to_last = false;
}

// Drops the oldest rows beyond the history length.
void remove_oldest_rows() {
  while (page.rows > settings.history_length) {
    if (listed_rows() > rows_to_remove)
      rows_to_remove++;
    else
      waiting_rows.pop_front();
    page.rows--;
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
        fprintf(page.log, "%s  %s  [%s]  %s\n", cells[0], cells[1], cells[2], cells[3]);
      else
        fprintf(page.log, ": %s\n", cells[3]);
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
  fwrite_unlocked(line, 1, n, page.log);
}

// Lines reach the disk once the main loop is idle: many rows in a row (a
// trace) cost one write, and no row shown is ever missing from the file.
static void flush_history_log() {
  if (page.log) fflush(page.log);
}

// The common tail of both kinds of row; `cells` holds the four column texts.
static void add_row(const char *cells[4], bool instruction) {
  if (page.list == NULL) return;
  if (page.log) {
    write_log_line(cells, instruction);
    defer_display_update(flush_history_log);
  }
  waiting_rows.emplace_back();
  for (int c = 0; c < 4; c++) g_strlcpy(waiting_rows.back().cells[c], cells[c], 128);
  page.rows++;
  // The newest row is scrolled into view; an instruction row is selected.
  scroll_to_last = true;
  if (instruction) row_to_select = (int)page.rows - 1;
  remove_oldest_rows();
}

void history_flush_repeats() {
  char text[repeat_message_size];
  if (take_repeat_message(&page.fold, text)) history_message(text);
}

void history_message(const char *text) {
  history_flush_repeats();
  const char *cells[4] = {"", "", "", text};
  add_row(cells, false);
}

void history_add_instruction(const StopLocation &at) {
  if (fold_instruction(&page.fold, at.physical_address)) return;
  history_flush_repeats();
  // The Virtual column names the place when a symbol does: "0000:00007C13 <count>".
  char physical[12], virt[128];
  format_stop_location(at, physical, virt);
  append_location_symbol(at, virt, sizeof virt);
  const char *cells[4] = {physical, virt, at.bytes, at.text};
  add_row(cells, true);
}

void history_stopped(const Stop &stop) {
  if (!stop.report.lost && stop.readable) history_add_instruction(stop.report.location);
}

void history_reset_repeats() { reset_fold(&page.fold); }

void history_trim() { remove_oldest_rows(); }

void history_close() {
  history_flush_repeats();
  if (page.log) {
    fclose(page.log);
    page.log = NULL;
  }
}

void history_clear() {
  stream.clear();
  forget_waiting_rows();
  page.rows = 0;
  history_flush_repeats();
  if (page.log) {
    fclose(page.log);
    page.log = NULL;
  }
  reset_fold(&page.fold);
  open_log();
}
