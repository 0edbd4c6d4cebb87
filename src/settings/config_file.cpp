#include "settings/config_file.hpp"

#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "text/settings.hpp"
#include "text/symbols.hpp"

static std::string file_name = ".vumrc";

const char *config_file_name() { return file_name.c_str(); }

void set_config_file_name(const char *path) { file_name = path && *path ? path : ".vumrc"; }

void apply_config_settings(const ConfigSettings &s, ButtonGroup *tabs) {
  if (s.history_length_set) settings.history_length = MIN(s.history_length, largest_history_length);
  if (s.stack_above_set) settings.stack_above = MIN(s.stack_above, largest_stack_count);
  if (s.stack_below_set) settings.stack_below = MIN(s.stack_below, largest_stack_count);
  if (s.reload_breakpoints_set) settings.reload_breakpoints = s.reload_breakpoints != 0;
  if (s.reload_watchpoints_set) settings.reload_watchpoints = s.reload_watchpoints != 0;
  if (s.tabs_set) {
    settings.tabs = s.tabs;
    // Moves the tabs at once, through the group's callback.
    if (tabs != NULL) button_group_select(tabs, s.tabs);
  }
}

// The whole file as one NUL-terminated text, or none when its size cannot
// be had, there is no memory for it or it cannot be read.
static char *read_whole_file(FILE *file) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || st.st_size < 0) return NULL;
  size_t size = (size_t)st.st_size;
  char *text = static_cast<char *>(g_try_malloc(size + 1));
  if (text == NULL) return NULL;
  // A file that changed since its size was taken is read as far as it goes.
  size_t got = fread(text, 1, size, file);
  if (ferror(file)) {  // a directory, say: opened, but not read
    g_free(text);
    return NULL;
  }
  text[got] = '\0';
  return text;
}

// The symbols blocks: each file is loaded, a relative name taken from the
// configuration file's directory. The report goes to standard output now and
// to the History once it is built.
static void load_config_symbols(const ConfigScan &scan) {
  for (uint32_t i = 0; i < scan.symbol_files; i++) {
    const ConfigSymbols &block = scan.symbols[i];
    std::string path = block.file;
    if (path[0] != '/') {
      gchar *directory = g_path_get_dirname(config_file_name());
      path = std::string(directory) + "/" + path;
      g_free(directory);
    }
    std::string report = describe_symbol_load(block.file, load_symbols(path.c_str(), block.offset));
    g_print("VUM: %s\n", report.c_str());
    queue_symbol_message(report);
  }
}

void load_config(ButtonGroup *tabs) {
  FILE *file = fopen(config_file_name(), "r");
  if (file == NULL) {
    g_print("VUM: %s file not found, using defaults\n", config_file_name());
    return;
  }
  char *text = read_whole_file(file);
  fclose(file);
  if (text == NULL) {
    g_print("VUM: Couldn't process %s file, using defaults\n", config_file_name());
    return;
  }
  ConfigScan scan;
  scan_config(text, &scan, &struct_defs);
  apply_config_settings(scan.settings, tabs);
  load_config_symbols(scan);
  if (scan.end == ConfigEnd::unknown_block)
    g_print("VUM: Unknown block type '%s' in %s\n", scan.unknown_keyword, config_file_name());
  g_free(text);
}
