#include "shell/window_memory.hpp"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>

static const char group[] = "Window";

std::string window_memory_path() {
  gchar *path = g_build_filename(g_get_user_config_dir(), "vum", "window", NULL);
  std::string kept = path;
  g_free(path);
  return kept;
}

// Reads one key when the file has it. False, with *error set, when it has it
// with a value of the wrong kind.
static bool read_int(GKeyFile *file, const char *key, int *value, GError **error) {
  if (!g_key_file_has_key(file, group, key, NULL)) return true;
  int v = g_key_file_get_integer(file, group, key, error);
  if (*error) return false;
  if (v < smallest_window_side || v > largest_window_side) {
    g_set_error(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_INVALID_VALUE, "%s %d is not between %d and %d", key,
                v, smallest_window_side, largest_window_side);
    return false;
  }
  *value = v;
  return true;
}

static bool read_values(GKeyFile *file, WindowMemory *m, GError **error) {
  if (!read_int(file, "width", &m->width, error) || !read_int(file, "height", &m->height, error)) return false;
  if (g_key_file_has_key(file, group, "state-panel", NULL)) {
    m->state_shown = g_key_file_get_boolean(file, group, "state-panel", error);
    if (*error) return false;
  }
  if (g_key_file_has_key(file, group, "page", NULL)) {
    gchar *page = g_key_file_get_string(file, group, "page", error);
    if (*error) return false;
    m->page = page;
    g_free(page);
  }
  return true;
}

WindowMemory read_window_memory() {
  std::string path = window_memory_path();
  WindowMemory memory;
  GKeyFile *file = g_key_file_new();
  GError *error = NULL;
  if (!g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, &error)) {
    if (g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT))
      g_print("VUM: No window settings in %s yet, using defaults\n", path.c_str());
    else
      g_print("VUM: Couldn't read window settings from %s (%s), using defaults\n", path.c_str(), error->message);
  } else if (!read_values(file, &memory, &error)) {
    g_print("VUM: Couldn't read window settings from %s (%s), using defaults\n", path.c_str(), error->message);
    memory = WindowMemory();
  }
  if (error) g_error_free(error);
  g_key_file_free(file);
  return memory;
}

void save_window_memory(const WindowMemory &memory) {
  std::string path = window_memory_path();
  GKeyFile *file = g_key_file_new();
  g_key_file_set_comment(file, NULL, NULL, " VUM's main window as it was when VUM last ended", NULL);
  g_key_file_set_integer(file, group, "width", memory.width);
  g_key_file_set_integer(file, group, "height", memory.height);
  g_key_file_set_boolean(file, group, "state-panel", memory.state_shown);
  g_key_file_set_string(file, group, "page", memory.page.c_str());
  gsize length = 0;
  gchar *text = g_key_file_to_data(file, &length, NULL);
  gchar *dir = g_path_get_dirname(path.c_str());
  GError *error = NULL;
  if (g_mkdir_with_parents(dir, 0700) != 0)
    g_print("VUM: Couldn't save window settings: cannot make %s (%s)\n", dir, g_strerror(errno));
  else if (!g_file_set_contents(path.c_str(), text, length, &error))
    g_print("VUM: Couldn't save window settings: %s\n", error->message);
  if (error) g_error_free(error);
  g_free(dir);
  g_free(text);
  g_key_file_free(file);
}
