#include "shell/command_line.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <gtk/gtk.h>

static CommandLine given;

CommandLine &command_line() { return given; }

// Empty when the file can be opened for reading and is no directory, else
// why not. A FIFO is not waited on.
static std::string unreadable(const char *path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return g_strerror(errno);
  struct stat st;
  int err = fstat(fd, &st) != 0 ? errno : 0;
  close(fd);
  if (err) return g_strerror(err);
  if (S_ISDIR(st.st_mode)) return g_strerror(EISDIR);
  return "";
}

CommandLineResult read_command_line(int *argc, char ***argv, std::string *text) {
  gchar *bochsrc = NULL, *symbols = NULL, *config = NULL;
  gboolean version = FALSE;
  GOptionEntry entries[] = {
      {"bochsrc", 'f', 0, G_OPTION_ARG_FILENAME, &bochsrc,
       "Start Bochs with this configuration file (bochs -q -f FILE)", "FILE"},
      {"symbols", 0, 0, G_OPTION_ARG_FILENAME, &symbols, "Load symbols from this file", "FILE"},
      {"config", 0, 0, G_OPTION_ARG_FILENAME, &config, "Read this file in place of ./.vumrc", "FILE"},
      {"version", 0, 0, G_OPTION_ARG_NONE, &version, "Print VUM's version and exit", NULL},
      {NULL, 0, 0, G_OPTION_ARG_NONE, NULL, NULL, NULL},
  };
  GOptionContext *context = g_option_context_new("- debug a PC emulated by Bochs");
  g_option_context_set_summary(context,
                               "A graphical front end for the debugger of the Bochs x86 emulator.\n"
                               "Without --bochsrc, the emulator's configuration is $VUM_BOCHSRC or the\n"
                               "one Bochs finds itself.");
  g_option_context_add_main_entries(context, entries, NULL);
  g_option_context_set_help_enabled(context, TRUE);
  // The toolkit's options (--display, --sync, --name, ...) are read here
  // too; the display is opened later, by gtk_init.
  g_option_context_add_group(context, gtk_get_option_group(FALSE));

  GError *error = NULL;
  CommandLineResult result = CommandLineResult::run;
  given = CommandLine();
  text->clear();
  if (!g_option_context_parse(context, argc, argv, &error)) {
    *text = std::string("vum: ") + error->message + "\n";
    g_error_free(error);
    result = CommandLineResult::exit_failure;
  } else if (version) {
    *text = "vum " VUM_VERSION "\n";
    result = CommandLineResult::exit_success;
  } else if (*argc > 1) {
    *text = std::string("vum: Unexpected argument ") + (*argv)[1] + "\n";
    result = CommandLineResult::exit_failure;
  } else {
    struct Named {
      const char *option;
      gchar *path;
      std::string *kept;
    } named[] = {{"--bochsrc", bochsrc, &given.bochsrc},
                 {"--symbols", symbols, &given.symbols},
                 {"--config", config, &given.config}};
    for (const Named &n : named) {
      if (n.path == NULL) continue;
      std::string why = unreadable(n.path);
      if (!why.empty()) {
        *text += std::string("vum: ") + n.option + " " + n.path + ": " + why + "\n";
        result = CommandLineResult::exit_failure;
      }
      *n.kept = n.path;
    }
  }
  if (result == CommandLineResult::exit_failure) *text += "Try \"vum --help\" for the options.\n";
  g_free(bochsrc);
  g_free(symbols);
  g_free(config);
  g_option_context_free(context);
  return result;
}

// The file name `bochs` on PATH stands for once every link is followed:
// "vum-sim" for the simulated PC's link in sim-bin, "vum-bridge" for the
// bridge's; empty when there is none.
static std::string bochs_program() {
  gchar *found = g_find_program_in_path("bochs");
  if (found == NULL) return "";
  char resolved[PATH_MAX];
  std::string name;
  if (realpath(found, resolved) != NULL) {
    gchar *base = g_path_get_basename(resolved);
    name = base;
    g_free(base);
  }
  g_free(found);
  return name;
}

std::string debugged_target() {
  if (!given.bochsrc.empty()) return given.bochsrc;
  const char *from_environment = getenv("VUM_BOCHSRC");
  if (from_environment && *from_environment) return from_environment;
  std::string program = bochs_program();
  if (program == "vum-sim") return "simulated PC";
  for (const char *name : {"bochsrc", ".bochsrc", "bochsrc.txt"})
    if (g_file_test(name, G_FILE_TEST_IS_REGULAR)) return name;
  if (program == "vum-bridge") return "demo floppy";
  return "Bochs, no bochsrc";
}
