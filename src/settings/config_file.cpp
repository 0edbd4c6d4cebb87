#include "settings/config_file.hpp"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "text/cpu_scan.hpp"
#include "text/settings.hpp"
#include "text/symbols.hpp"

static std::string file_name = ".vumrc";

const char *config_file_name() { return file_name.c_str(); }

void set_config_file_name(const char *path) { file_name = path && *path ? path : ".vumrc"; }

std::string stack_count_cut_text(uint32_t count) {
  return "The stack view reads at most " + std::to_string(stack_walk_limit) +
         " values on either side of ESP: " + std::to_string(count) + " is cut to " +
         std::to_string(stack_walk_limit);
}

static void say(const std::string &text);

void apply_config_settings(const ConfigSettings &s, ButtonGroup *tabs) {
  if (s.history_length_set) settings.history_length = MIN(s.history_length, largest_history_length);
  if (s.stack_above_set) settings.stack_above = MIN(s.stack_above, largest_stack_count);
  if (s.stack_below_set) settings.stack_below = MIN(s.stack_below, largest_stack_count);
  if (s.stack_above_set && settings.stack_above > stack_walk_limit)
    say(std::string(config_file_name()) + ": " + stack_count_cut_text(settings.stack_above));
  if (s.stack_below_set && settings.stack_below > stack_walk_limit)
    say(std::string(config_file_name()) + ": " + stack_count_cut_text(settings.stack_below));
  if (s.reload_breakpoints_set) settings.reload_breakpoints = s.reload_breakpoints != 0;
  if (s.reload_watchpoints_set) settings.reload_watchpoints = s.reload_watchpoints != 0;
  if (s.tabs_set) {
    settings.tabs = s.tabs;
    // Moves the tabs at once, through the group's callback.
    if (tabs != NULL) button_group_select(tabs, s.tabs);
  }
}

// The whole file as one NUL-terminated text, or none (with the reason) when
// it is no regular file, it cannot be read, or there is no memory for it. It
// is opened without waiting: a FIFO of that name must never block start-up.
static char *read_whole_file(const char *path, std::string *why) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = g_strerror(errno);
    return NULL;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    *why = "not a regular file";
    close(fd);
    return NULL;
  }
  size_t size = (size_t)st.st_size;
  char *text = static_cast<char *>(g_try_malloc(size + 1));
  if (text == NULL) {
    *why = "no memory for it";
    close(fd);
    return NULL;
  }
  // A file that changed since its size was taken is read as far as it goes.
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, text + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += (size_t)n;
  }
  close(fd);
  text[got] = '\0';
  return text;
}

// Messages for the user: printed at once, and kept for the history, which
// is built after the file has been read.
static std::vector<std::string> messages_kept;

static void say(const std::string &text) {
  g_print("VUM: %s\n", text.c_str());
  messages_kept.push_back(text);
}

std::vector<std::string> take_config_messages() {
  std::vector<std::string> out;
  out.swap(messages_kept);
  return out;
}

// The symbols blocks: each file is loaded, a relative name taken from the
// configuration file's directory; each load is reported.
static void load_config_symbols(const ConfigScan &scan) {
  for (uint32_t i = 0; i < scan.symbol_files; i++) {
    const ConfigSymbols &block = scan.symbols[i];
    std::string path = block.file;
    if (path[0] != '/') {
      gchar *directory = g_path_get_dirname(config_file_name());
      path = std::string(directory) + "/" + path;
      g_free(directory);
    }
    say(describe_symbol_load(block.file, load_symbols(path.c_str(), block.offset)));
  }
}

void load_config(ButtonGroup *tabs) {
  struct stat st;
  if (stat(config_file_name(), &st) != 0 && errno == ENOENT) {
    g_print("VUM: %s file not found, using defaults\n", config_file_name());
    return;
  }
  std::string why;
  char *text = read_whole_file(config_file_name(), &why);
  if (text == NULL) {
    say(std::string("Couldn't process ") + config_file_name() + " (" + why + "), using defaults");
    return;
  }
  ConfigScan scan;
  scan_config(text, &scan, &struct_defs);
  apply_config_settings(scan.settings, tabs);
  for (const ConfigError &e : scan.errors)
    say(std::string(config_file_name()) + ":" + std::to_string(e.line) + ": " + e.message);
  load_config_symbols(scan);
  g_free(text);
}
