// The link's state: one record, one instance, kept by the link. Pages never
// see it; the link's tests reach it through link_seam().
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "link/reply_reader.hpp"

struct LinkState {
  int32_t child_pid = 0;         // last child's process id; 0 before the first start
  FILE *command_stream = NULL;   // write end of the command pipe (the child's stdin)
  ReplyReader reply_stream;      // read end of the reply pipe (the child's stderr)
  uint32_t reply_watch = 0;      // the watch on the replies, 0 when none
  int guest_fd = -1;             // read end of the child's standard output (the guest's console)
  uint32_t guest_watch = 0;      // the watch on it, 0 when none
  bool watch_is_idle = false;    // the watch is an idle call for bytes already read
  bool target_running = false;   // the target runs and its stop report is awaited
  bool debugger_offline = true;  // no dialogue is possible
  bool child_lost = false;       // the child ended while the link was up
  bool given_up = false;         // the debugger stopped answering: nothing more is sent
  uint32_t prompt_number = 0;    // N of the last prompt read
  std::string bochsrc;           // given on the command line: passed as "-f FILE"

  // Longest silence accepted while a reply is awaited, in milliseconds; past
  // it the debugger is taken for hung, ended, and the link is lost. The text
  // before the first prompt may take longer (the emulator starts up).
  int reply_deadline_ms = 5000;
  int startup_deadline_ms = 10000;

  // Shared with the SIGCHLD handler, which reaps every child VUM has started
  // and records the end of the watched one.
  static const int max_children = 64;
  volatile pid_t children[max_children] = {};  // started and not yet reaped
  volatile pid_t watched_pid = 0;              // the child whose end is reported
  volatile sig_atomic_t exit_recorded = 0;     // its end waits for the main loop
  volatile sig_atomic_t loss_recorded = 0;     // the link was given up, waiting likewise
};

// The one instance, for tests that drive the link by hand.
LinkState &link_seam();
