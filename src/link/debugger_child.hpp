// The one link to the debugger: the child process, its two streams, the
// framing of the dialogue (one command line out, one reply ending in a
// prompt back), deadlines on every wait for a reply, and the end of the
// child. The link knows no page: it reports what happens through
// link_events, which the shell connects at start-up.
//
// Pages ask the debugger through exchange() alone. Only run control reads a
// running target's replies line by line (the run reader's calls below).
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>

// What the link reports. Every member may be left empty.
struct LinkEvents {
  void (*starting)();                 // a start begins
  void (*online)(bool on);            // the link came up or went down
  void (*started)();                  // the first prompt has come: the debugger waits
  void (*reply_ready)();              // the reply watch fired (a running target wrote)
  void (*lost)();                     // the child ended or stopped answering
  void (*message)(const char *text);  // a message for the history
  // What the guest printed (the child's standard output), as it comes.
  void (*guest_output)(const char *bytes, size_t length);
};
extern LinkEvents link_events;

void init_link_state();

// Starts the debugger and waits for its first prompt (the start-up
// deadline applies). A debugger that ends first, or sends no prompt within
// the deadline, did not start: its last words are reported, and the link
// stays offline.
void start_debugger();
void stop_debugger();

// The emulator's configuration file the debugger is started with ("-f
// FILE" after "bochs -q"); none (NULL or "") leaves the choice to the
// debugger, as before. The line the next start runs through /bin/sh -c:
std::string debugger_command_line();
void set_bochsrc(const char *path);

// The state of the link, as pages see it.
bool debugger_online();   // a dialogue is possible
bool target_running();    // the target runs and its stop report is awaited
bool debugger_waits();    // online, stopped, replies open: a command may be sent

// ---------------------------------------------------------------------------
// The one exchange.

// The most reply text an exchange keeps (the rest is read and dropped): a
// line keeps 4096 bytes and its newline, a reply 1 MiB, or `limit`.
const size_t exchange_line_limit = 4096;
const size_t exchange_reply_limit = 1 << 20;

// Sends one command and reads its whole reply up to the prompt, which is
// consumed. *reply gets the text before the prompt (cleared first). False,
// with nothing sent, unless the debugger waits at its prompt; false too when
// the replies ended before a prompt (the deadline passed, or the debugger
// went: the loss is reported as usual, once the main loop runs).
bool exchange(std::string *reply, const char *format, ...) G_GNUC_PRINTF(2, 3);
bool exchange_long(std::string *reply, size_t limit, const char *format, ...) G_GNUC_PRINTF(3, 4);

// As exchange, but a debugger that has sent nothing for `patience_ms` is
// interrupted (SIGINT) once, and its reply read as usual: a step on a CPU
// halted with interrupts off never ends by itself. *interrupted tells
// whether it was.
bool exchange_with_patience(std::string *reply, int patience_ms, bool *interrupted, const char *format,
                            ...) G_GNUC_PRINTF(4, 5);

// ---------------------------------------------------------------------------
// Run control's side: a target that runs.

// Sends one command line without reading its reply: the formatted text up to
// its first control character, then "\n", in one write. Nothing is sent
// without a stream, or once the replies have ended (a debugger that stopped
// answering is not fed more commands).
void send_command(const char *format, ...) G_GNUC_PRINTF(1, 2);

void set_target_running(bool running);

// Watches the replies of a running target: link_events.reply_ready runs on
// the main loop when bytes come (at once for bytes already read).
void watch_replies();
void unwatch_replies();

// One line of a running target's replies, as fgets reads it into `size`
// bytes; it also ends before a '<', which stays unread (a prompt that ends
// the run). False, with an empty line, when the replies ended.
bool read_run_line(char *line, size_t size);

// True when a whole line of the replies waits, already read from the pipe.
bool run_line_waiting();

// The rest of a running target's reply, through its prompt (as exchange
// reads a reply). False when the replies ended first.
bool read_rest_of_reply(std::string *text);

// SIGINT to the debugger: stops a running target.
void interrupt_debugger();

// Makes sure a child ends and is reaped: a short wait for its own exit, then
// SIGTERM, another wait, then SIGKILL.
void end_child(int32_t pid);

// True while the child with this process id has not been reaped.
bool child_alive(int32_t pid);
