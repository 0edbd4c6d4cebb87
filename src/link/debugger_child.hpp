// The one link to the debugger: the child process, its two streams, the
// framing of the dialogue (one command line out, one reply ending in a
// prompt back), the end of the child, and the sensitivity fan-out.
#pragma once

#include <gtk/gtk.h>
#include <csignal>
#include <cstdint>
#include <cstdio>

extern int32_t child_pid;        // last child's process id; 0 before the first start
extern FILE *command_stream;     // write end of the command pipe (the child's stdin)
extern FILE *reply_stream;       // read end of the reply pipe (the child's stderr)
extern uint32_t reply_watch;     // tag of the watch on the reply stream, 0 when none
extern int target_running;       // the target runs and its stop report is awaited
extern int debugger_offline;     // no dialogue is possible
extern volatile sig_atomic_t child_starting;  // inside the start window
extern int child_lost;           // the child ended while the link was up
extern uint32_t prompt_number;   // N of the last prompt read

void init_link_state();
bool spawn_debugger(const char *command);
void start_debugger();
void stop_debugger();
void wait_for_prompt();
void watch_replies();
void unwatch_replies();
void set_debugger_controls_sensitive(int on);
void start_clicked(GtkWidget *button, gpointer data);
void on_child_exit();

// Sends one command line: the formatted text up to its first control
// character, then "\n", in one write. Nothing is sent without a stream.
void send_command(const char *format, ...) G_GNUC_PRINTF(1, 2);

// True when reply bytes have been taken from the pipe and not yet consumed.
bool reply_buffered();

// True when a whole line (up to its newline) waits among those bytes, so
// that reading it cannot block.
bool reply_line_buffered();
