// The one link to the debugger: the child process, its two streams, the
// framing of the dialogue (one command line out, one reply ending in a
// prompt back), deadlines on every wait for a reply, and the end of the
// child. The link knows no page: it reports what happens through
// link_events, which the shell connects at start-up.
#pragma once

#include <gdk/gdk.h>
#include <csignal>
#include <cstdint>
#include <cstdio>

#include "link/reply_reader.hpp"

extern int32_t child_pid;        // last child's process id; 0 before the first start
extern FILE *command_stream;     // write end of the command pipe (the child's stdin)
extern ReplyReader reply_stream; // read end of the reply pipe (the child's stderr)
extern uint32_t reply_watch;     // tag of the watch on the reply stream, 0 when none
extern bool target_running;      // the target runs and its stop report is awaited
extern bool debugger_offline;    // no dialogue is possible
extern volatile sig_atomic_t child_starting;  // inside the start window
extern bool child_lost;          // the child ended while the link was up
extern uint32_t prompt_number;   // N of the last prompt read

// Longest silence accepted while a reply is awaited, in milliseconds; past
// it the debugger is taken for hung, ended, and the link is lost. The text
// before the first prompt may take longer (the emulator starts up).
extern int reply_deadline_ms;
extern int startup_deadline_ms;

// What the link reports. Every member may be left empty.
struct LinkEvents {
  void (*starting)();                 // a start begins
  void (*online)(bool on);            // the link came up or went down
  void (*started)();                  // the first step has been sent; its reply is due
  GdkInputFunction reply_ready;       // the reply watch fired
  void (*lost)();                     // the child ended or stopped answering
  void (*failed_to_run)(const char *message);  // the debugger could not be run at all
  void (*message)(const char *text);  // a message for the history
};
extern LinkEvents link_events;

void init_link_state();
bool spawn_debugger(const char *command);
void start_debugger();
void stop_debugger();
void wait_for_prompt();
void watch_replies();
void unwatch_replies();
void on_child_exit();

// Sends one command line: the formatted text up to its first control
// character, then "\n", in one write. Nothing is sent without a stream, or
// once the replies have ended (a debugger that stopped answering is not fed
// more commands).
void send_command(const char *format, ...) G_GNUC_PRINTF(1, 2);

// Makes sure a child ends and is reaped: a short wait for its own exit, then
// SIGTERM, another wait, then SIGKILL.
void end_child(int32_t pid);

// True while the child with this process id has not been reaped.
bool child_alive(int32_t pid);
