#include "link/debugger_child.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/debugger_commands.hpp"

int32_t child_pid = 0;
FILE *command_stream = NULL;
ReplyReader reply_stream;
uint32_t reply_watch = 0;
bool target_running = false;
bool debugger_offline = true;
volatile sig_atomic_t child_starting = 0;
bool child_lost = false;
uint32_t prompt_number = 0;

int reply_deadline_ms = 5000;
int startup_deadline_ms = 10000;

LinkEvents link_events = {};

namespace {

void report(const char *text) {
  if (link_events.message) link_events.message(text);
}

// The debugger stopped answering, or closed its replies while it ran on: it
// has been ended, and nothing more is sent to it.
bool link_given_up = false;

// Releases the streams of the last child (after a lost child, or when the
// child ended inside the start window). Never called while a read is under way.
void release_streams() {
  reply_stream.close();
  if (command_stream) fclose(command_stream);
  command_stream = NULL;
}

// ---------------------------------------------------------------------------
// The end of the child. The signal handler reaps every child VUM has started
// and, while the exit of the current child is watched, records it and wakes
// the main loop through a pipe; on_child_exit then runs on the main loop.

const int max_children = 64;
volatile pid_t children[max_children];     // started and not yet reaped
volatile pid_t watched_pid = 0;            // the child whose end is reported
volatile sig_atomic_t exit_recorded = 0;   // its end is waiting for the main loop
volatile sig_atomic_t exit_in_start = 0;   // it ended inside the start window
volatile sig_atomic_t loss_recorded = 0;   // the link was given up, waiting likewise
int wake_pipe[2] = {-1, -1};
bool child_ended_while_starting = false;   // on_child_exit's view of exit_in_start

void wake_main_loop() {
  ssize_t ignored = write(wake_pipe[1], "x", 1);
  (void)ignored;
}

// Reaps every ended child; safe in the signal handler.
void reap_children() {
  for (int i = 0; i < max_children; i++) {
    pid_t pid = children[i];
    if (pid <= 0) continue;
    int status;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == 0) continue;
    children[i] = 0;
    if (r == pid && pid == watched_pid && !exit_recorded) {
      exit_in_start = child_starting;
      exit_recorded = 1;
      wake_main_loop();
    }
  }
}

void sigchld_handler(int) {
  int saved = errno;
  reap_children();
  errno = saved;
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

gboolean child_exit_ready(GIOChannel *, GIOCondition, gpointer) {
  char drain[64];
  while (read(wake_pipe[0], drain, sizeof drain) > 0) {
  }
  if (loss_recorded) {
    loss_recorded = 0;
    child_ended_while_starting = false;
    on_child_exit();
  } else if (exit_recorded && watched_pid != 0) {
    exit_recorded = 0;
    watched_pid = 0;
    child_ended_while_starting = exit_in_start;
    on_child_exit();
  }
  return TRUE;
}

void install_child_exit_reaction() {
  if (wake_pipe[0] < 0) {
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    GIOChannel *channel = g_io_channel_unix_new(wake_pipe[0]);
    g_io_add_watch(channel, G_IO_IN, child_exit_ready, NULL);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = sigchld_handler;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGCHLD, &sa, NULL);
  }
  exit_recorded = 0;
  loss_recorded = 0;
}

void remember_child(pid_t pid) {
  for (int i = 0; i < max_children; i++)
    if (children[i] == 0) {
      children[i] = pid;
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

// The one-second start pause; an end of the child inside it ends it early.
void start_pause() {
  struct timespec wait = {1, 0}, rest;
  while (nanosleep(&wait, &rest) != 0 && errno == EINTR) {
    if (exit_recorded) return;
    wait = rest;
  }
}

// The replies stopped coming while the link is up. A child that has ended
// closes its pipe: its end is reported as usual. One that stopped answering,
// or closed its replies and runs on, is ended here and the link goes down
// the same way, once the main loop runs again.
void reply_stream_ended(ReplyReader::End why) {
  if (debugger_offline || watched_pid == 0 || exit_recorded) return;
  pid_t pid = watched_pid;
  if (why != ReplyReader::End::silence && wait_for_exit(pid, 300)) return;
  char text[128];
  switch (why) {
    case ReplyReader::End::silence:
      snprintf(text, sizeof text, "No reply from Bochs within %g seconds: ending it",
               reply_stream.deadline() / 1000.0);
      break;
    case ReplyReader::End::end_of_file:
      snprintf(text, sizeof text, "Bochs closed its reply stream: ending it");
      break;
    default:
      snprintf(text, sizeof text, "Reading Bochs's replies failed: ending it");
      break;
  }
  report(text);
  watched_pid = 0;  // its end is no longer reported: the loss is
  link_given_up = true;
  end_child(pid);
  loss_recorded = 1;
  wake_main_loop();
}

}  // namespace

// ---------------------------------------------------------------------------

void init_link_state() {
  target_running = false;
  debugger_offline = true;
  child_lost = false;
  // A write to a child that has gone must fail quietly, not end VUM.
  signal(SIGPIPE, SIG_IGN);
  reply_stream.set_end_handler(reply_stream_ended);
}

bool child_alive(int32_t pid) {
  if (pid <= 0) return false;
  for (int i = 0; i < max_children; i++)
    if (children[i] == pid) return true;
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

bool spawn_debugger(const char *command) {
  int command_pipe[2], reply_pipe[2];
  if (pipe2(command_pipe, O_CLOEXEC) != 0) return false;
  if (pipe2(reply_pipe, O_CLOEXEC) != 0) {
    close(command_pipe[0]);
    close(command_pipe[1]);
    return false;
  }
  fflush(stdout);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &old);
  pid_t pid = fork();
  if (pid < 0) {
    sigprocmask(SIG_SETMASK, &old, NULL);
    for (int fd : {command_pipe[0], command_pipe[1], reply_pipe[0], reply_pipe[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    g_print("CHILD-%d\n", 0);
    dup2(command_pipe[0], 0);
    dup2(reply_pipe[1], 2);
    for (int fd : {command_pipe[0], command_pipe[1], reply_pipe[0], reply_pipe[1]}) close(fd);
    if (freopen("/dev/null", "a", stdout) == NULL) _exit(1);
    // The child starts from the default reactions, whatever VUM set up.
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    sigprocmask(SIG_SETMASK, &old, NULL);
    // The shell must run the debugger in its own process, so that child_pid
    // is the debugger's: SIGINT has to reach it, and its end has to close the
    // pipes. Some shells (dash) fork for a lone command; "exec" makes them all
    // run it in place.
    char line[512];
    snprintf(line, sizeof line, "exec %s", command);
    const char *args[] = {"sh", "-c", line, NULL};
    execv("/bin/sh", const_cast<char *const *>(args));
    _exit(1);
  }
  child_pid = pid;
  remember_child(pid);
  watched_pid = pid;
  sigprocmask(SIG_SETMASK, &old, NULL);
  g_print("PARENT-%d\n", pid);
  close(command_pipe[0]);
  close(reply_pipe[1]);
  reply_stream.attach(reply_pipe[0]);
  reply_stream.set_deadline(startup_deadline_ms);
  command_stream = fdopen(command_pipe[1], "w");
  if (command_stream == NULL) {
    // The child runs but cannot be talked to; it ends when its pipes close.
    close(command_pipe[1]);
    reply_stream.close();
    watched_pid = 0;
    return false;
  }
  setbuf(command_stream, NULL);
  return true;
}

void start_debugger() {
  if (link_events.starting) link_events.starting();
  g_print("START-%d\n", child_pid);
  child_starting = 1;
  install_child_exit_reaction();
  release_streams();
  link_given_up = false;
  if (!spawn_debugger(debugger_command)) {
    child_starting = 0;
    watched_pid = 0;
    report("BOCHS FAILED TO START");
    return;
  }
  start_pause();
  child_starting = 0;
  if (exit_recorded && exit_in_start) {
    // The debugger did not run; on_child_exit ends VUM from the main loop.
    release_streams();
    return;
  }
  debugger_offline = false;
  g_print("START-OK-%d\n", child_pid);
  if (link_events.online) link_events.online(true);
  report("Starting Bochs");
  wait_for_prompt();  // the start-up text and the first prompt
  reply_stream.set_deadline(reply_deadline_ms);
  send_command("%s", command_step);
  if (link_events.started) link_events.started();
}

void stop_debugger() {
  // From here on the end of the child is not reported; a recorded end that
  // has not been handled yet is dropped.
  watched_pid = 0;
  exit_recorded = 0;
  loss_recorded = 0;
  if (target_running) {
    unwatch_replies();
    if (!child_lost) kill(child_pid, SIGINT);
    target_running = false;
  }
  if (child_lost) {
    report("Lost connection to Bochs");
    child_lost = false;
  } else if (!debugger_offline) {
    report("Terminating Bochs");
    send_command("%s", command_quit);
    release_streams();
    // A debugger that ignores the interrupt and the quit command is ended.
    end_child(child_pid);
  }
  if (link_events.online) link_events.online(false);
  debugger_offline = true;
}

void wait_for_prompt() {
  if (debugger_offline || !reply_stream.is_open()) return;
  skip_to_prompt(reply_stream, &prompt_number);
}

namespace {
bool watch_is_idle = false;  // the watch is an idle call for bytes already read

gboolean reply_ready_idle(gpointer) {
  reply_watch = 0;
  if (link_events.reply_ready) link_events.reply_ready(NULL, reply_stream.fd(), GDK_INPUT_READ);
  return FALSE;
}
}  // namespace

void watch_replies() {
  if (!reply_stream.is_open() || link_events.reply_ready == NULL) return;
  unwatch_replies();
  // Bytes already read, or replies that have ended, are handled at once; the
  // descriptor is watched only when the next read has to wait for it.
  watch_is_idle = reply_stream.buffered() || reply_stream.ended();
  if (watch_is_idle)
    reply_watch = g_idle_add(reply_ready_idle, NULL);
  else
    reply_watch =
        (uint32_t)gdk_input_add(reply_stream.fd(), GDK_INPUT_READ, link_events.reply_ready, NULL);
}

void unwatch_replies() {
  if (reply_watch == 0) return;
  if (watch_is_idle)
    g_source_remove(reply_watch);
  else
    gdk_input_remove((gint)reply_watch);
  reply_watch = 0;
}

void send_command(const char *format, ...) {
  if (command_stream == NULL || link_given_up) return;
  char line[256];
  char *text = line;
  va_list args;
  va_start(args, format);
  int length;
  if (strcmp(format, "%s") == 0) {
    // A constant command, as every step sends: copied, not formatted.
    const char *constant = va_arg(args, const char *);
    length = (int)strlen(constant);
    if ((size_t)length < sizeof line) memcpy(line, constant, (size_t)length + 1);
  } else {
    length = vsnprintf(line, sizeof line, format, args);
  }
  va_end(args);
  if (length < 0) return;
  if ((size_t)length >= sizeof line) {  // a long text typed into an entry
    va_start(args, format);
    text = g_strdup_vprintf(format, args);
    va_end(args);
  }
  // One command line: nothing past the first control character is sent, so
  // text typed into an entry can never carry a second command.
  size_t n = 0;
  while (text[n] != '\0' && (unsigned char)text[n] >= 0x20 && text[n] != 0x7f) n++;
  text[n] = '\n';
  if (fwrite(text, 1, n + 1, command_stream) != n + 1) clearerr(command_stream);
  if (text != line) g_free(text);
}

void on_child_exit() {
  g_print("DEAD-%d\n", child_pid);
  if (child_ended_while_starting) {
    if (link_events.failed_to_run) link_events.failed_to_run("Couldn't find Bochs");
    return;
  }
  child_lost = true;
  if (link_events.lost) link_events.lost();
}
