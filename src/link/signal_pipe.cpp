#include "link/signal_pipe.hpp"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int wake_pipe[2] = {-1, -1};
void (*in_handlers[NSIG])(int);
void (*reactions[NSIG])(int);

void handler(int sig) {
  int saved = errno;
  if (sig > 0 && sig < NSIG && in_handlers[sig] != NULL) in_handlers[sig](sig);
  raise_on_main_loop(sig);
  errno = saved;
}

gboolean pipe_ready(GIOChannel *, GIOCondition, gpointer) {
  unsigned char signals[64];
  bool came[NSIG] = {};
  ssize_t n;
  while ((n = read(wake_pipe[0], signals, sizeof signals)) > 0)
    for (ssize_t i = 0; i < n; i++)
      if (signals[i] < NSIG) came[signals[i]] = true;
  for (int sig = 1; sig < NSIG; sig++)
    if (came[sig] && reactions[sig] != NULL) reactions[sig](sig);
  return TRUE;
}

bool open_pipe() {
  if (wake_pipe[0] >= 0) return true;
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  GIOChannel *channel = g_io_channel_unix_new(wake_pipe[0]);
  g_io_add_watch(channel, G_IO_IN, pipe_ready, NULL);
  g_io_channel_unref(channel);
  return true;
}

}  // namespace

void raise_on_main_loop(int sig) {
  if (wake_pipe[1] < 0) return;
  unsigned char byte = (unsigned char)sig;
  ssize_t ignored = write(wake_pipe[1], &byte, 1);
  (void)ignored;
}

void react_to_signal(int sig, void (*in_handler)(int), void (*reaction)(int), bool restart) {
  if (sig <= 0 || sig >= NSIG || !open_pipe()) return;
  in_handlers[sig] = in_handler;
  reactions[sig] = reaction;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sa.sa_flags = (restart ? SA_RESTART : 0) | (sig == SIGCHLD ? SA_NOCLDSTOP : 0);
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, NULL);
}
