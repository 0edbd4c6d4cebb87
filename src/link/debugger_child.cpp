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

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_commands.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "views/dump_windows.hpp"
#include "views/struct_windows.hpp"

int32_t child_pid = 0;
FILE *command_stream = NULL;
FILE *reply_stream = NULL;
uint32_t reply_watch = 0;
int target_running = 0;
int debugger_offline = 1;
volatile sig_atomic_t child_starting = 0;
int child_lost = 0;
uint32_t prompt_number = 0;

// ---------------------------------------------------------------------------
// The reply stream. Scanners read it as a stdio stream (fgetc, fgets, fscanf,
// ungetc), and the watch on it must fire exactly when the next read has bytes
// to get. With an unbuffered stream every byte costs a system call; instead
// the stream keeps its buffer and the watch looks at the buffer first: bytes
// already taken from the pipe make it fire at once (as an idle call), and
// only an empty buffer waits on the descriptor. Where the buffer cannot be
// inspected, the stream is made unbuffered.

namespace {

#ifdef __GLIBC__
const bool reply_stream_buffered = true;

// Bytes taken from the pipe that the stream has not handed out yet: the rest
// of its buffer, and of the area that holds characters pushed back.
size_t reply_readahead(FILE *f) {
  size_t n = (size_t)(f->_IO_read_end - f->_IO_read_ptr);
  if (f->_flags & 0x100 /* _IO_IN_BACKUP */) n += (size_t)(f->_IO_save_end - f->_IO_save_base);
  return n;
}

bool reply_line_in_buffer(FILE *f) {
  if (f->_flags & 0x100) return false;
  return memchr(f->_IO_read_ptr, '\n', (size_t)(f->_IO_read_end - f->_IO_read_ptr)) != NULL;
}
#else
const bool reply_stream_buffered = false;
size_t reply_readahead(FILE *) { return 0; }
bool reply_line_in_buffer(FILE *) { return false; }
#endif

const size_t reply_buffer_size = 65536;

// Releases the streams of the last child (after a lost child, or when the
// child ended inside the start window). Never called while a read is under way.
void release_streams() {
  if (reply_stream) fclose(reply_stream);
  if (command_stream) fclose(command_stream);
  reply_stream = NULL;
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
int wake_pipe[2] = {-1, -1};
int child_ended_while_starting = 0;        // on_child_exit's view of exit_in_start

void sigchld_handler(int) {
  int saved = errno;
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
      ssize_t ignored = write(wake_pipe[1], "x", 1);
      (void)ignored;
    }
  }
  errno = saved;
}

gboolean child_exit_ready(GIOChannel *, GIOCondition, gpointer) {
  char drain[64];
  while (read(wake_pipe[0], drain, sizeof drain) > 0) {
  }
  if (exit_recorded && watched_pid != 0) {
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
}

void remember_child(pid_t pid) {
  for (int i = 0; i < max_children; i++)
    if (children[i] == 0) {
      children[i] = pid;
      return;
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

}  // namespace

// ---------------------------------------------------------------------------

void init_link_state() {
  target_running = 0;
  debugger_offline = 1;
  child_lost = 0;
  // A write to a child that has gone must fail quietly, not end VUM.
  signal(SIGPIPE, SIG_IGN);
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
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
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
  reply_stream = fdopen(reply_pipe[0], "r");
  command_stream = fdopen(command_pipe[1], "w");
  if (reply_stream == NULL || command_stream == NULL) {
    // The child runs but cannot be talked to; it ends when its pipes close.
    if (reply_stream) fclose(reply_stream); else close(reply_pipe[0]);
    if (command_stream) fclose(command_stream); else close(command_pipe[1]);
    reply_stream = NULL;
    command_stream = NULL;
    close(command_pipe[0]);
    close(reply_pipe[1]);
    watched_pid = 0;
    return false;
  }
  close(command_pipe[0]);
  close(reply_pipe[1]);
  return true;
}

void start_debugger() {
  history_reset_repeats();
  g_print("START-%d\n", child_pid);
  child_starting = 1;
  install_child_exit_reaction();
  release_streams();
  if (!spawn_debugger(debugger_command)) {
    child_starting = 0;
    watched_pid = 0;
    history_message("BOCHS FAILED TO START");
    return;
  }
  start_pause();
  child_starting = 0;
  if (exit_recorded && exit_in_start) {
    // The debugger did not run; on_child_exit ends VUM from the main loop.
    release_streams();
    return;
  }
  if (reply_stream_buffered)
    setvbuf(reply_stream, NULL, _IOFBF, reply_buffer_size);
  else
    setbuf(reply_stream, NULL);
  setbuf(command_stream, NULL);
  debugger_offline = 0;
  g_print("START-OK-%d\n", child_pid);
  set_debugger_controls_sensitive(1);
  history_message("Starting Bochs");
  wait_for_prompt();
  send_command("%s", command_step);
  refresh_after_stop();
  reload_breakpoints_now();
  reload_watchpoints_now();
}

void stop_debugger() {
  // From here on the end of the child is not reported; a recorded end that
  // has not been handled yet is dropped.
  watched_pid = 0;
  exit_recorded = 0;
  if (target_running) {
    unwatch_replies();
    if (!child_lost) kill(child_pid, SIGINT);
    target_running = 0;
  }
  if (child_lost) {
    history_message("Lost connection to Bochs");
    child_lost = 0;
  } else if (!debugger_offline) {
    history_message("Terminating Bochs");
    send_command("%s", command_quit);
    release_streams();
  }
  set_debugger_controls_sensitive(0);
  debugger_offline = 1;
}

void wait_for_prompt() {
  if (debugger_offline || reply_stream == NULL) return;
  int c;
  do c = getc_unlocked(reply_stream);  // one thread reads the replies
  while (c != EOF && c != '<');
  if (c == EOF) return;
  if (fscanf(reply_stream, "bochs:%u>", &prompt_number) == EOF) return;
}

namespace {
bool watch_is_idle = false;  // the watch is an idle call for bytes already read

gboolean reply_ready_idle(gpointer) {
  reply_watch = 0;
  reply_ready(NULL, -1, GDK_INPUT_READ);
  return FALSE;
}
}  // namespace

bool reply_buffered() { return reply_stream != NULL && reply_readahead(reply_stream) > 0; }

bool reply_line_buffered() { return reply_stream != NULL && reply_line_in_buffer(reply_stream); }

void watch_replies() {
  if (reply_stream == NULL) return;
  unwatch_replies();
  watch_is_idle = reply_buffered();
  if (watch_is_idle)
    reply_watch = g_idle_add(reply_ready_idle, NULL);
  else
    reply_watch = (uint32_t)gdk_input_add(fileno(reply_stream), GDK_INPUT_READ, reply_ready, NULL);
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
  if (command_stream == NULL) return;
  char line[256];
  char *text = line;
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line, format, args);
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

void set_debugger_controls_sensitive(int on) {
  set_control_bar_sensitive(on);
  set_breakpoints_sensitive(on);
  set_watchpoints_sensitive(on);
  set_memory_sensitive(on);
  set_structs_sensitive(on);
  if (trace_button) gtk_widget_set_sensitive(trace_button, on ? TRUE : FALSE);
  if (refresh_all_button) gtk_widget_set_sensitive(refresh_all_button, on ? TRUE : FALSE);
}

void start_clicked(GtkWidget *button, gpointer) {
  if (debugger_offline) {
    g_print("bochs on\n");
    start_debugger();
    gtk_object_set(GTK_OBJECT(button), "label", " Kill Bochs ", NULL);
    if (debugger_offline) {
      set_toggle_quietly(start_button, &start_button_handler, VUM_SIGNAL_FUNC(start_clicked), NULL,
                         FALSE);
      gtk_object_set(GTK_OBJECT(button), "label", " Start Bochs ", NULL);
    }
  } else {
    g_print("bochs off\n");
    stop_debugger();
    gtk_object_set(GTK_OBJECT(button), "label", " Start Bochs ", NULL);
  }
}

void on_child_exit() {
  g_print("DEAD-%d\n", child_pid);
  if (child_ended_while_starting) {
    quit_program("Couldn't find Bochs");
    return;
  }
  child_lost = 1;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(start_button), FALSE);
}
