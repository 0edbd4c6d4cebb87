// The History page: instruction and message rows, repeat folding, the
// length limit (the history_length setting) and the log file.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <cstdio>

#include "exec/run_control.hpp"
#include "text/history_fold.hpp"
#include "text/stop_scan.hpp"

void build_history_page(GtkWidget *box);

// An instruction the CPU stopped at or traced: a row, or a repeat counted.
void history_add_instruction(const StopLocation &at);
// A stop: the row of its instruction, when the report gave one.
void history_stopped(const Stop &stop);
void history_message(const char *text);
void history_flush_repeats();
void history_reset_repeats();
// Drops the oldest rows beyond the history length.
void history_trim();
void history_close();
void history_clear();

// The page's state: one record (the test seam).
struct HistoryPage {
  GtkWidget *list;
  FILE *log;
  RepeatFold fold;
  uint32_t rows;  // rows as they will be shown, the waiting changes made
};
HistoryPage &history_page();
