// The History page: instruction and message rows, repeat folding, the
// length limit and the log file.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>
#include <cstdio>

// The most rows the list keeps; a setting of the Preferences page.
extern uint32_t history_length;

extern GtkWidget *history_list;
extern FILE *history_log;
extern uint32_t last_physical;
extern uint32_t repeat_count;
extern uint32_t history_rows;

void build_history_page(GtkWidget *box);
void history_add_instruction();
void history_message(const char *text);
void history_flush_repeats();
void history_reset_repeats();
void history_trim();
void history_close();
void history_clear(GtkWidget *widget = NULL, gpointer data = NULL);
