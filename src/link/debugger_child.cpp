#include "link/debugger_child.hpp"

#include <fcntl.h>
#include <gdk/gdk.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <vector>

#include "link/link_state.hpp"
#include "link/signal_pipe.hpp"
#include "text/debugger_commands.hpp"

LinkEvents link_events = {};

namespace {

LinkState L;

void report(const char *text) {
  if (link_events.message) link_events.message(text);
}

// Releases the streams of the last child (after a lost child, or when the
// child ended inside the start window). Never called while a read is under way.
void release_streams() {
  L.reply_stream.close();
  if (L.command_stream) fclose(L.command_stream);
  L.command_stream = NULL;
}

// ---------------------------------------------------------------------------
// The guest's console: the child's standard output, read as it comes by a
// watch of the main loop, never blocking. A read takes at most one buffer,
// so that a guest that prints without pause leaves the main loop its turns.

// What the guest printed last is handed on (at most a megabyte) before the
// pipe is closed.
void close_guest_output() {
  if (L.guest_watch != 0) g_source_remove(L.guest_watch);
  L.guest_watch = 0;
  if (L.guest_fd < 0) return;
  char bytes[65536];
  ssize_t n;
  for (int reads = 0; reads < 16 && (n = read(L.guest_fd, bytes, sizeof bytes)) > 0; reads++)
    if (link_events.guest_output) link_events.guest_output(bytes, (size_t)n);
  close(L.guest_fd);
  L.guest_fd = -1;
}

gboolean guest_output_ready(GIOChannel *, GIOCondition, gpointer) {
  char bytes[65536];
  ssize_t n = read(L.guest_fd, bytes, sizeof bytes);
  if (n > 0) {
    if (link_events.guest_output) link_events.guest_output(bytes, (size_t)n);
    return TRUE;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return TRUE;
  // The end of the guest's output (the child has gone): the watch goes.
  L.guest_watch = 0;
  close(L.guest_fd);
  L.guest_fd = -1;
  return FALSE;
}

void watch_guest_output(int fd) {
  close_guest_output();
  L.guest_fd = fd;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  GIOChannel *channel = g_io_channel_unix_new(fd);
  L.guest_watch = g_io_add_watch(channel, (GIOCondition)(G_IO_IN | G_IO_HUP | G_IO_ERR), guest_output_ready, NULL);
  g_io_channel_unref(channel);
}

// ---------------------------------------------------------------------------
// The end of the child. The SIGCHLD handler reaps every child VUM has
// started and, while the exit of the current child is watched, records it;
// the main loop then reports it.

// Reaps every ended child; safe in the signal handler.
void reap_children(int = 0) {
  for (int i = 0; i < LinkState::max_children; i++) {
    pid_t pid = L.children[i];
    if (pid <= 0) continue;
    int status;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == 0) continue;
    L.children[i] = 0;
    if (r == pid && pid == L.watched_pid && !L.exit_recorded) L.exit_recorded = 1;
  }
}

// The same, from the main loop, without the handler cutting in.
void reap_children_now() {
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &old);
  reap_children();
  sigprocmask(SIG_SETMASK, &old, NULL);
}

void on_child_exit() {
  g_print("DEAD-%d\n", L.child_pid);
  L.child_lost = true;
  if (link_events.lost) link_events.lost();
}

// On the main loop: a recorded end of the child, or a loss of the link.
void child_exit_ready(int) {
  if (L.loss_recorded) {
    L.loss_recorded = 0;
    on_child_exit();
  } else if (L.exit_recorded && L.watched_pid != 0) {
    L.exit_recorded = 0;
    L.watched_pid = 0;
    on_child_exit();
  }
}

void install_child_exit_reaction() {
  static bool installed = false;
  if (!installed) {
    react_to_signal(SIGCHLD, reap_children, child_exit_ready);
    installed = true;
  }
  L.exit_recorded = 0;
  L.loss_recorded = 0;
}

void remember_child(pid_t pid) {
  for (int i = 0; i < LinkState::max_children; i++)
    if (L.children[i] == 0) {
      L.children[i] = pid;
      return;
    }
}

void sleep_ms(long ms) {
  struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&wait, NULL);
}

// Waits up to `ms` for the child to end (or for its end to be recorded);
// true when it has.
bool wait_for_exit(pid_t pid, long ms) {
  for (long waited = 0;; waited += 2) {
    reap_children_now();
    if (!child_alive(pid)) return true;
    if (waited >= ms) return false;
    sleep_ms(2);
  }
}

// The replies stopped coming while the link is up. A child that has ended
// closes its pipe: its end is reported as usual. One that stopped answering,
// or closed its replies and runs on, is ended here and the link goes down
// the same way, once the main loop runs again.
void reply_stream_ended(ReplyReader::End why) {
  if (L.debugger_offline || L.watched_pid == 0 || L.exit_recorded) return;
  pid_t pid = L.watched_pid;
  if (why != ReplyReader::End::silence && wait_for_exit(pid, 300)) return;
  char text[128];
  switch (why) {
    case ReplyReader::End::silence:
      snprintf(text, sizeof text, "No reply from Bochs within %g seconds: ending it",
               L.reply_stream.deadline() / 1000.0);
      break;
    case ReplyReader::End::end_of_file:
      snprintf(text, sizeof text, "Bochs closed its reply stream: ending it");
      break;
    default:
      snprintf(text, sizeof text, "Reading Bochs's replies failed: ending it");
      break;
  }
  report(text);
  L.watched_pid = 0;  // its end is no longer reported: the loss is
  L.given_up = true;
  end_child(pid);
  L.loss_recorded = 1;
  raise_on_main_loop(SIGCHLD);
}

bool spawn_debugger(const char *command) {
  int command_pipe[2], reply_pipe[2], guest_pipe[2];
  if (pipe2(command_pipe, O_CLOEXEC) != 0) return false;
  if (pipe2(reply_pipe, O_CLOEXEC) != 0) {
    close(command_pipe[0]);
    close(command_pipe[1]);
    return false;
  }
  if (pipe2(guest_pipe, O_CLOEXEC) != 0) {
    for (int fd : {command_pipe[0], command_pipe[1], reply_pipe[0], reply_pipe[1]}) close(fd);
    return false;
  }
  // The shell must run the debugger in its own process, so that child_pid
  // is the debugger's: SIGINT has to reach it, and its end has to close the
  // pipes. Some shells (dash) fork for a lone command; "exec" makes them all
  // run it in place. The line is made before the fork: the child only execs.
  std::string line = std::string("exec ") + command;
  fflush(stdout);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &old);
  pid_t pid = fork();
  if (pid < 0) {
    sigprocmask(SIG_SETMASK, &old, NULL);
    for (int fd : {command_pipe[0], command_pipe[1], reply_pipe[0], reply_pipe[1], guest_pipe[0], guest_pipe[1]})
      close(fd);
    return false;
  }
  if (pid == 0) {
    g_print("CHILD-%d\n", 0);
    fflush(stdout);
    dup2(command_pipe[0], 0);
    dup2(guest_pipe[1], 1);
    dup2(reply_pipe[1], 2);
    for (int fd : {command_pipe[0], command_pipe[1], reply_pipe[0], reply_pipe[1], guest_pipe[0], guest_pipe[1]})
      close(fd);
    // The child starts from the default reactions, whatever VUM set up.
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    sigprocmask(SIG_SETMASK, &old, NULL);
    const char *args[] = {"sh", "-c", line.c_str(), NULL};
    execv("/bin/sh", const_cast<char *const *>(args));
    _exit(1);
  }
  L.child_pid = pid;
  remember_child(pid);
  L.watched_pid = pid;
  sigprocmask(SIG_SETMASK, &old, NULL);
  g_print("PARENT-%d\n", pid);
  close(command_pipe[0]);
  close(reply_pipe[1]);
  close(guest_pipe[1]);
  watch_guest_output(guest_pipe[0]);
  L.reply_stream.attach(reply_pipe[0]);
  L.reply_stream.set_deadline(L.startup_deadline_ms);
  L.command_stream = fdopen(command_pipe[1], "w");
  if (L.command_stream == NULL) {
    // The child runs but cannot be talked to; it ends when its pipes close.
    close(command_pipe[1]);
    L.reply_stream.close();
    L.watched_pid = 0;
    return false;
  }
  setbuf(L.command_stream, NULL);
  return true;
}

void send_command_v(const char *format, va_list args) {
  if (L.command_stream == NULL || L.given_up) return;
  char line[256];
  char *text = line;
  va_list again;
  va_copy(again, args);
  int length;
  if (strcmp(format, "%s") == 0) {
    // A constant command, as every step sends: copied, not formatted.
    const char *constant = va_arg(args, const char *);
    length = (int)strlen(constant);
    if ((size_t)length < sizeof line) memcpy(line, constant, (size_t)length + 1);
  } else {
    length = vsnprintf(line, sizeof line, format, args);
  }
  if (length >= 0 && (size_t)length >= sizeof line)  // a long text typed into an entry
    text = g_strdup_vprintf(format, again);
  va_end(again);
  if (length < 0) return;
  // One command line: nothing past the first control character is sent, so
  // text typed into an entry can never carry a second command.
  size_t n = 0;
  while (text[n] != '\0' && (unsigned char)text[n] >= 0x20 && text[n] != 0x7f) n++;
  text[n] = '\n';
  if (fwrite(text, 1, n + 1, L.command_stream) != n + 1) clearerr(L.command_stream);
  if (text != line) g_free(text);
}

void interrupt_now() {
  if (L.child_pid > 0) kill(L.child_pid, SIGINT);
}

bool exchange_v(std::string *reply, size_t limit, const char *format, va_list args) {
  reply->clear();
  if (!debugger_waits()) return false;
  send_command_v(format, args);
  return L.reply_stream.read_reply(reply, &L.prompt_number, exchange_line_limit, limit);
}

gboolean reply_ready_idle(gpointer) {
  L.reply_watch = 0;
  if (link_events.reply_ready) link_events.reply_ready();
  return FALSE;
}

void reply_ready_input(gpointer, gint, GdkInputCondition) {
  if (link_events.reply_ready) link_events.reply_ready();
}

}  // namespace

LinkState &link_seam() { return L; }

// ---------------------------------------------------------------------------

void init_link_state() {
  L.target_running = false;
  L.debugger_offline = true;
  L.child_lost = false;
  // A write to a child that has gone must fail quietly, not end VUM.
  signal(SIGPIPE, SIG_IGN);
  L.reply_stream.set_end_handler(reply_stream_ended);
}

void set_bochsrc(const char *path) { L.bochsrc = path ? path : ""; }

std::string debugger_command_line() {
  std::string line = debugger_command;
  if (L.bochsrc.empty()) return line;
  // Quoted for the shell, so that no character of the name (a quote, a
  // semicolon, "$(...)") is read as more than one word of the file name.
  gchar *quoted = g_shell_quote(L.bochsrc.c_str());
  line += " -f ";
  line += quoted;
  g_free(quoted);
  return line;
}

bool debugger_online() { return !L.debugger_offline; }
bool target_running() { return L.target_running; }
bool debugger_waits() {
  return !L.debugger_offline && !L.target_running && L.reply_stream.is_open() && !L.given_up;
}

bool child_alive(int32_t pid) {
  if (pid <= 0) return false;
  for (int i = 0; i < LinkState::max_children; i++)
    if (L.children[i] == pid) return true;
  return false;
}

void end_child(int32_t pid) {
  if (!child_alive(pid)) return;
  if (wait_for_exit(pid, 500)) return;
  kill(pid, SIGTERM);
  if (wait_for_exit(pid, 500)) return;
  kill(pid, SIGKILL);
  wait_for_exit(pid, 5000);
}

namespace {

// The debugger did not come to its first prompt: its last words (the last
// lines of its start-up text) say why. It is ended if it still runs, and
// nothing more is reported of it.
void start_failed(const std::string &text, ReplyReader::End why) {
  pid_t pid = L.child_pid;
  L.watched_pid = 0;
  if (why == ReplyReader::End::silence || !wait_for_exit(pid, 500)) end_child(pid);
  L.exit_recorded = 0;
  release_streams();
  // The last lines with words in them, at most three, as they can be shown.
  std::vector<std::string> lines;
  for (size_t end = text.size(); end > 0 && lines.size() < 3;) {
    size_t start = text.rfind('\n', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    std::string line = text.substr(start, end - start);
    end = start > 0 ? start - 1 : 0;
    for (char &c : line)
      if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7f) c = ' ';
    size_t first = line.find_first_not_of(' '), last = line.find_last_not_of(' ');
    bool words = false;
    for (char c : line) words = words || g_ascii_isalnum(c);
    if (first == std::string::npos || !words) continue;  // blank, or a rule of '='s
    line = line.substr(first, last - first + 1);
    if (line.size() > 160) line = line.substr(0, 157) + "...";
    lines.insert(lines.begin(), line);
  }
  if (why == ReplyReader::End::silence) {
    char said[96];
    snprintf(said, sizeof said, "No prompt from Bochs within %g seconds", L.startup_deadline_ms / 1000.0);
    lines.push_back(said);
  } else if (lines.empty()) {
    lines.push_back("Couldn't find Bochs");
  }
  report("Bochs did not start:");
  for (const std::string &line : lines) report(line.c_str());
  g_print("VUM: Bochs did not start: %s\n", lines.back().c_str());
}

}  // namespace

void start_debugger() {
  if (link_events.starting) link_events.starting();
  g_print("START-%d\n", L.child_pid);
  install_child_exit_reaction();
  release_streams();
  L.given_up = false;
  if (!spawn_debugger(debugger_command_line().c_str())) {
    L.watched_pid = 0;
    report("BOCHS FAILED TO START");
    return;
  }
  // The debugger is ready when its first prompt comes: the start-up text,
  // then the prompt.
  std::string startup_text;
  if (!L.reply_stream.read_reply(&startup_text, &L.prompt_number)) {
    start_failed(startup_text, L.reply_stream.end());
    return;
  }
  L.debugger_offline = false;
  g_print("START-OK-%d\n", L.child_pid);
  if (link_events.online) link_events.online(true);
  report("Starting Bochs");
  L.reply_stream.set_deadline(L.reply_deadline_ms);
  if (link_events.started) link_events.started();
}

void stop_debugger() {
  // From here on the end of the child is not reported; a recorded end that
  // has not been handled yet is dropped.
  L.watched_pid = 0;
  L.exit_recorded = 0;
  L.loss_recorded = 0;
  if (L.target_running) {
    unwatch_replies();
    if (!L.child_lost) kill(L.child_pid, SIGINT);
    L.target_running = false;
  }
  close_guest_output();
  if (L.child_lost) {
    report("Lost connection to Bochs");
    L.child_lost = false;
  } else if (!L.debugger_offline) {
    report("Terminating Bochs");
    send_command("%s", command_quit);
    release_streams();
    // A debugger that ignores the interrupt and the quit command is ended.
    end_child(L.child_pid);
  }
  if (link_events.online) link_events.online(false);
  L.debugger_offline = true;
}

bool exchange(std::string *reply, const char *format, ...) {
  va_list args;
  va_start(args, format);
  bool ok = exchange_v(reply, exchange_reply_limit, format, args);
  va_end(args);
  return ok;
}

bool exchange_long(std::string *reply, size_t limit, const char *format, ...) {
  va_list args;
  va_start(args, format);
  bool ok = exchange_v(reply, limit, format, args);
  va_end(args);
  return ok;
}

bool exchange_with_patience(std::string *reply, int patience_ms, bool *interrupted, const char *format, ...) {
  va_list args;
  va_start(args, format);
  L.reply_stream.set_nudge(patience_ms, interrupt_now);
  bool ok = exchange_v(reply, exchange_reply_limit, format, args);
  *interrupted = L.reply_stream.nudged();
  L.reply_stream.set_nudge(ReplyReader::no_deadline, NULL);
  va_end(args);
  return ok;
}

void send_command(const char *format, ...) {
  va_list args;
  va_start(args, format);
  send_command_v(format, args);
  va_end(args);
}

void set_target_running(bool running) { L.target_running = running; }

void watch_replies() {
  if (!L.reply_stream.is_open() || link_events.reply_ready == NULL) return;
  unwatch_replies();
  // Bytes already read, or replies that have ended, are handled at once; the
  // descriptor is watched only when the next read has to wait for it.
  L.watch_is_idle = L.reply_stream.buffered() || L.reply_stream.ended();
  if (L.watch_is_idle)
    L.reply_watch = g_idle_add(reply_ready_idle, NULL);
  else
    L.reply_watch = (uint32_t)gdk_input_add(L.reply_stream.fd(), GDK_INPUT_READ, reply_ready_input, NULL);
}

void unwatch_replies() {
  if (L.reply_watch == 0) return;
  if (L.watch_is_idle)
    g_source_remove(L.reply_watch);
  else
    gdk_input_remove((gint)L.reply_watch);
  L.reply_watch = 0;
}

bool read_run_line(char *line, size_t size) {
  if (!L.reply_stream.is_open()) {
    line[0] = '\0';
    return false;
  }
  return L.reply_stream.read_line(line, size, true);
}

bool run_line_waiting() { return L.reply_stream.line_buffered(); }

bool read_rest_of_reply(std::string *text) {
  text->clear();
  if (!L.reply_stream.is_open()) return false;
  return L.reply_stream.read_reply(text, &L.prompt_number);
}

void interrupt_debugger() {
  if (L.child_pid > 0) kill(L.child_pid, SIGINT);
}
