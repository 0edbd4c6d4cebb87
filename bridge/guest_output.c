/* vum-bridge-e9.so: preloaded into Bochs 2.7 (bochs-bin) by the bridge, it
 * sends what the guest writes to I/O port 0xE9 to a descriptor of its own
 * instead of Bochs's standard output, where the debugger's replies go.
 *
 * With `port_e9_hack: enabled=1`, Bochs's "unmapped" device plugin
 * (libbx_unmapped.so) writes each byte with putc(value, stdout) and then
 * fflush(stdout), through the plugin's PLT; no other plugin and not
 * bochs-bin itself import putc, but libraries Bochs loads do (readline, which
 * echoes commands and draws the prompt with it; tinfo, X11, libstdc++). So a
 * putc defined here sees every guest byte, and tells it from the others by
 * the module that called it. The bytes go,
 * one write each as Bochs wrote them, to the descriptor named by
 * VUM_BRIDGE_GUEST_FD; every other call goes on to the C library's putc.
 *
 * It also lets Bochs write its replies a line at a time. Its debugger makes
 * standard output unbuffered (setbuf(stdout, NULL) in bx_dbg_main), so a
 * reply comes in a write per printf and a write per byte of readline's echo
 * and prompt, some two hundred for a step and a register dump, each one
 * waking the bridge. Here standard output is line buffered instead: a line
 * is one write, and what is left without a newline (the prompt, a
 * question) is written before Bochs waits for input: the library flushes
 * standard output whenever Bochs, or readline in it, reads its standard
 * input or waits for it (read, pselect, select, fgets).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

static int guest_fd = -1;
static int (*next_putc)(int, FILE *);
static void (*next_setbuf)(FILE *, char *);
static ssize_t (*next_read)(int, void *, size_t);
static int (*next_pselect)(int, fd_set *, fd_set *, fd_set *, const struct timespec *, const sigset_t *);
static int (*next_select)(int, fd_set *, fd_set *, fd_set *, struct timeval *);
static char *(*next_fgets)(char *, int, FILE *);

/* Call sites already looked at: the one of the port 0xE9 handler, and a few
 * others (readline's), so that dladdr runs once per site. */
static void *e9_site;
static void *other_sites[8];
static unsigned other_count;

__attribute__((constructor)) static void take_descriptor(void) {
  const char *text = getenv("VUM_BRIDGE_GUEST_FD");
  if (text != NULL && *text != '\0') {
    char *end = NULL;
    long fd = strtol(text, &end, 10);
    if (*end == '\0' && fd > 2 && fd < 1024) guest_fd = (int)fd;
  }
  /* Programs Bochs might start do not inherit either. */
  unsetenv("VUM_BRIDGE_GUEST_FD");
  unsetenv("LD_PRELOAD");
  next_setbuf = (void (*)(FILE *, char *))dlsym(RTLD_NEXT, "setbuf");
  next_read = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
  next_pselect = (int (*)(int, fd_set *, fd_set *, fd_set *, const struct timespec *, const sigset_t *))dlsym(
      RTLD_NEXT, "pselect");
  next_select = (int (*)(int, fd_set *, fd_set *, fd_set *, struct timeval *))dlsym(RTLD_NEXT, "select");
  next_fgets = (char *(*)(char *, int, FILE *))dlsym(RTLD_NEXT, "fgets");
}

/* Standard output a line at a time where Bochs asks for no buffer at all. */
void setbuf(FILE *stream, char *buffer) {
  if (stream == stdout && buffer == NULL) {
    setvbuf(stream, NULL, _IOLBF, BUFSIZ);
    return;
  }
  if (next_setbuf != NULL) next_setbuf(stream, buffer);
}

/* What standard output holds goes before Bochs waits for its input. */
static void flush_output(void) {
  int saved = errno;
  fflush(stdout);
  errno = saved;
}

ssize_t read(int fd, void *buffer, size_t count) {
  if (fd == 0) flush_output();
  if (next_read == NULL) {
    errno = ENOSYS;
    return -1;
  }
  return next_read(fd, buffer, count);
}

int pselect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds, const struct timespec *timeout,
            const sigset_t *sigmask) {
  if (readfds != NULL && nfds > 0 && FD_ISSET(0, readfds)) flush_output();
  if (next_pselect == NULL) {
    errno = ENOSYS;
    return -1;
  }
  return next_pselect(nfds, readfds, writefds, exceptfds, timeout, sigmask);
}

int select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds, struct timeval *timeout) {
  if (readfds != NULL && nfds > 0 && FD_ISSET(0, readfds)) flush_output();
  if (next_select == NULL) {
    errno = ENOSYS;
    return -1;
  }
  return next_select(nfds, readfds, writefds, exceptfds, timeout);
}

char *fgets(char *text, int size, FILE *stream) {
  if (stream == stdin) flush_output();
  if (next_fgets == NULL) return NULL;
  return next_fgets(text, size, stream);
}

static int from_port_e9(void *site) {
  if (site == e9_site) return 1;
  for (unsigned i = 0; i < other_count; i++)
    if (other_sites[i] == site) return 0;
  Dl_info info;
  const char *name = NULL;
  if (dladdr(site, &info) != 0 && info.dli_fname != NULL) {
    name = strrchr(info.dli_fname, '/');
    name = name != NULL ? name + 1 : info.dli_fname;
  }
  if (name != NULL && strncmp(name, "libbx_unmapped.so", 17) == 0) {
    e9_site = site;
    return 1;
  }
  if (other_count < sizeof other_sites / sizeof other_sites[0]) other_sites[other_count++] = site;
  return 0;
}

int putc(int c, FILE *stream) {
  void *site = __builtin_return_address(0);
  if (guest_fd >= 0 && stream == stdout && from_port_e9(site)) {
    unsigned char byte = (unsigned char)c;
    int saved = errno;
    for (;;) {
      ssize_t n = write(guest_fd, &byte, 1);
      if (n == 1 || (n < 0 && errno != EINTR)) break;
    }
    errno = saved;
    return byte;
  }
  if (next_putc == NULL) {
    next_putc = (int (*)(int, FILE *))dlsym(RTLD_NEXT, "putc");
    if (next_putc == NULL) return EOF;
  }
  return next_putc(c, stream);
}
