// A minimal stand-in for the debugger until the simulated PC lands: start-up
// text, numbered prompts, "s" and "q"; every command line is recorded in the
// file named by VUM_SIM_TRANSCRIPT.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
  (void)argc;
  (void)argv;
  signal(SIGPIPE, SIG_IGN);
  FILE *transcript = NULL;
  if (const char *t = getenv("VUM_SIM_TRANSCRIPT")) transcript = fopen(t, "a");
  printf("stand-in debugger\n");
  fflush(stdout);
  fprintf(stderr, "Bochs stand-in\nNext at t=0\n(0) [0x000ffff0] f000:fff0 (unk. ctxt): jmp far f000:e05b ; ea5be000f0\n");
  unsigned n = 1, t = 0, ip = 0x7c00;
  char line[512];
  for (;;) {
    fprintf(stderr, "<bochs:%u> ", n++);
    fflush(stderr);
    if (!fgets(line, sizeof line, stdin)) return 0;
    if (transcript) {
      fputs(line, transcript);
      fflush(transcript);
    }
    if (strcmp(line, "q\n") == 0) return 0;
    if (strcmp(line, "s\n") == 0) {
      fprintf(stderr, "Next at t=%u\n(0) [0x%08x] 0000:%04x (unk. ctxt): nop ; 90\n", ++t, ip, ip);
      ip++;
    }
  }
}
