#include "shell/menus.hpp"

#include <cstring>

#include "exec/control_bar.hpp"
#include "shell/main_window.hpp"

namespace {

// The item a page may provide in place of the shell's insensitive stand-in.
const PageMenuItem run_to_here = {"Run", "RunToHere", "Run to _Here", NULL, NULL};

const char *const menu_names[] = {"File", "Run", "View", "Help"};

// ---------------------------------------------------------------------------
// Items that follow a button.

void follow_sensitivity(GtkWidget *button, GParamSpec *, gpointer action) {
  gtk_action_set_sensitive(GTK_ACTION(action), GTK_WIDGET_SENSITIVE(button) ? TRUE : FALSE);
}

// The item, or its key, clicks the button; never while the button is
// insensitive (the toolkit activates no accelerator of an insensitive action,
// and this holds when the item is activated by other means too).
void click_followed_button(GtkAction *, gpointer button) {
  if (GTK_WIDGET_IS_SENSITIVE(GTK_WIDGET(button))) gtk_button_clicked(GTK_BUTTON(button));
}

// " Kill Bochs " on the button is "_Kill Bochs" in the menu.
void follow_label(GtkWidget *button, GParamSpec *, gpointer action) {
  gchar *text = g_strstrip(g_strdup(gtk_button_get_label(GTK_BUTTON(button))));
  gchar *label = g_strconcat("_", text, NULL);
  g_object_set(action, "label", label, NULL);
  g_free(label);
  g_free(text);
}

// The toggle item and the toggle button show the same state; either one
// changes it through the button's own handler.
void state_item_toggled(GtkToggleAction *action, gpointer button) {
  bool wanted = gtk_toggle_action_get_active(action);
  if (wanted != (bool)gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)) &&
      GTK_WIDGET_IS_SENSITIVE(GTK_WIDGET(button)))
    gtk_button_clicked(GTK_BUTTON(button));
  gtk_toggle_action_set_active(action, gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)));
}

void state_button_toggled(GtkToggleButton *button, gpointer action) {
  gtk_toggle_action_set_active(GTK_TOGGLE_ACTION(action), gtk_toggle_button_get_active(button));
}

void show_page(GtkAction *, gpointer index) {
  gtk_notebook_set_current_page(GTK_NOTEBOOK(main_window().notebook), GPOINTER_TO_INT(index));
}

void call(GtkAction *, gpointer function) { reinterpret_cast<void (*)()>(function)(); }

// ---------------------------------------------------------------------------

struct Builder {
  GtkActionGroup *group;
  std::vector<std::string> *order;

  // Adds an action with its key ("" for none) to the group.
  void add(GtkAction *action, const char *accelerator) {
    gtk_action_group_add_action_with_accel(group, action, accelerator ? accelerator : "");
    order->push_back(gtk_action_get_name(action));
    g_object_unref(action);
  }

  GtkAction *add_plain(const char *name, const char *label, const char *accelerator) {
    GtkAction *action = gtk_action_new(name, label, NULL, NULL);
    add(action, accelerator);
    return action;  // the group holds it
  }

  // An item that clicks `button`; none: an item that stays insensitive.
  void add_button_item(const char *name, const char *label, const char *accelerator, GtkWidget *button) {
    GtkAction *action = add_plain(name, label, accelerator);
    if (button == NULL) {
      gtk_action_set_sensitive(action, FALSE);
      return;
    }
    g_signal_connect(action, "activate", G_CALLBACK(click_followed_button), button);
    g_signal_connect_object(button, "notify::sensitive", G_CALLBACK(follow_sensitivity), action,
                            (GConnectFlags)0);
    follow_sensitivity(button, NULL, action);
  }

  void add_call_item(const char *name, const char *label, const char *accelerator, void (*function)()) {
    GtkAction *action = add_plain(name, label, accelerator);
    g_signal_connect(action, "activate", G_CALLBACK(call), reinterpret_cast<gpointer>(function));
  }

  void add_menu(const char *name, const char *label) {
    GtkAction *action = gtk_action_new(name, label, NULL, NULL);
    gtk_action_group_add_action(group, action);
    g_object_unref(action);
  }
};

// A menu label shows its text with underscores; a title shows as it is.
std::string escape_underscores(const char *title) {
  std::string out;
  for (const char *p = title; *p; p++) {
    if (*p == '_') out += '_';
    out += *p;
  }
  return out;
}

std::string menuitem_xml(const char *action) {
  gchar *xml = g_markup_printf_escaped("<menuitem action=\"%s\"/>", action);
  std::string out = xml;
  g_free(xml);
  return out;
}

}  // namespace

MenuBar build_menu_bar(GtkWidget *window, const PageRow *rows, int count) {
  MenuBar bar = {};
  bar.actions = gtk_action_group_new("VUM");
  Builder b = {bar.actions, &bar.order};
  const MainWindow &w = main_window();
  const ControlBar &c = control_bar();

  // The pages' items, each in its menu; the stand-in for Run to Here unless
  // a page provides it.
  std::vector<const PageMenuItem *> page_items;
  bool run_to_here_given = false;
  for (int i = 0; i < count; i++)
    for (const PageMenuItem *item = rows[i].menu_items; item && item->menu; item++) {
      page_items.push_back(item);
      if (strcmp(item->name, run_to_here.name) == 0) run_to_here_given = true;
    }
  if (!run_to_here_given) page_items.insert(page_items.begin(), &run_to_here);
  auto add_page_items = [&](const char *menu) {
    for (const PageMenuItem *item : page_items)
      if (strcmp(item->menu, menu) == 0)
        b.add_button_item(item->name, item->label, item->accelerator, item->button ? item->button() : NULL);
  };
  std::string page_xml[4];
  for (const PageMenuItem *item : page_items) {
    int m = 0;
    while (m < 4 && strcmp(item->menu, menu_names[m]) != 0) m++;
    if (m == 4) {
      g_warning("menu item %s names no menu (%s)", item->name, item->menu);
      continue;
    }
    page_xml[m] += menuitem_xml(item->name);
  }

  b.add_menu("FileMenu", "_File");
  b.add_button_item("StartKill", "_Start Bochs", NULL, w.start_button);
  g_signal_connect_object(w.start_button, "notify::label", G_CALLBACK(follow_label),
                          gtk_action_group_get_action(bar.actions, "StartKill"), (GConnectFlags)0);
  follow_label(w.start_button, NULL, gtk_action_group_get_action(bar.actions, "StartKill"));
  b.add_call_item("LoadSymbols", "_Load Symbols\u2026", "<Control>o", show_symbols_chooser);
  add_page_items("File");
  b.add_button_item("Quit", "_Quit", "<Control>q", w.quit_button);

  b.add_menu("RunMenu", "_Run");
  b.add_button_item("Go", "_Go", "F5", c.go_button);
  b.add_button_item("Stop", "_Stop", "<Shift>F5", c.stop_button);
  b.add_button_item("StopEscape", "_Stop", "Escape", c.stop_button);  // a second key, no item of its own
  b.add_button_item("Step", "S_tep", "F11", c.step_button);
  b.add_button_item("Next", "_Next", "F10", c.next_button);
  add_page_items("Run");

  b.add_menu("ViewMenu", "_View");
  GtkToggleAction *state = gtk_toggle_action_new("ShowState", "Show _State", NULL, NULL);
  gtk_toggle_action_set_active(state, gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.show_state_button)));
  g_signal_connect(state, "toggled", G_CALLBACK(state_item_toggled), w.show_state_button);
  g_signal_connect_object(w.show_state_button, "toggled", G_CALLBACK(state_button_toggled), state,
                          (GConnectFlags)0);
  g_signal_connect_object(w.show_state_button, "notify::sensitive", G_CALLBACK(follow_sensitivity), state,
                          (GConnectFlags)0);
  b.add(GTK_ACTION(state), NULL);
  b.add_button_item("RefreshAll", "_Refresh All Windows", "<Control>r", w.refresh_all_button);
  std::string view_pages;
  for (int i = 0, page = 0; i < count; i++) {
    if (rows[i].title == NULL) continue;
    char name[16], key[16];
    snprintf(name, sizeof name, "Page%d", page + 1);
    snprintf(key, sizeof key, "<Alt>%d", page + 1);
    GtkAction *action = b.add_plain(name, escape_underscores(rows[i].title).c_str(), page < 9 ? key : NULL);
    g_signal_connect(action, "activate", G_CALLBACK(show_page), GINT_TO_POINTER(page));
    view_pages += menuitem_xml(name);
    page++;
  }
  add_page_items("View");

  b.add_menu("HelpMenu", "_Help");
  b.add_call_item("Keys", "_Keys", "F1", show_keys_window);
  b.add_call_item("About", "_About", NULL, show_about_box);
  add_page_items("Help");

  std::string xml =
      "<ui><menubar name='MenuBar'>"
      "<menu action='FileMenu'>"
      "<menuitem action='StartKill'/><menuitem action='LoadSymbols'/>"
      "<placeholder name='PageItems'>" + page_xml[0] + "</placeholder>"
      "<separator/><menuitem action='Quit'/>"
      "</menu>"
      "<menu action='RunMenu'>"
      "<menuitem action='Go'/><menuitem action='Stop'/><menuitem action='Step'/><menuitem action='Next'/>"
      "<placeholder name='PageItems'>" + page_xml[1] + "</placeholder>"
      "</menu>"
      "<menu action='ViewMenu'>"
      "<menuitem action='ShowState'/><menuitem action='RefreshAll'/><separator/>" + view_pages +
      "<placeholder name='PageItems'>" + page_xml[2] + "</placeholder>"
      "</menu>"
      "<menu action='HelpMenu'>"
      "<menuitem action='Keys'/><menuitem action='About'/>"
      "<placeholder name='PageItems'>" + page_xml[3] + "</placeholder>"
      "</menu>"
      "</menubar>"
      "<accelerator action='StopEscape'/>"
      "</ui>";

  bar.ui = gtk_ui_manager_new();
  gtk_ui_manager_insert_action_group(bar.ui, bar.actions, 0);
  g_object_unref(bar.actions);  // the UI manager holds it
  GError *error = NULL;
  if (!gtk_ui_manager_add_ui_from_string(bar.ui, xml.c_str(), -1, &error)) {
    g_warning("menu bar: %s", error->message);
    g_error_free(error);
  }
  gtk_ui_manager_ensure_update(bar.ui);
  gtk_window_add_accel_group(GTK_WINDOW(window), gtk_ui_manager_get_accel_group(bar.ui));
  // F10 is Next here, not the key that opens the menu bar (the menus open
  // with Alt and their letters).
  g_object_set(gtk_widget_get_settings(window), "gtk-menu-bar-accel", "", NULL);
  g_signal_connect_swapped(window, "destroy", G_CALLBACK(g_object_unref), bar.ui);
  bar.widget = gtk_ui_manager_get_widget(bar.ui, "/MenuBar");
  gtk_widget_show(bar.widget);
  return bar;
}

std::vector<std::pair<std::string, std::string>> menu_keys(const MenuBar &bar) {
  std::vector<std::pair<std::string, std::string>> keys;
  for (const std::string &name : bar.order) {
    GtkAction *action = gtk_action_group_get_action(bar.actions, name.c_str());
    const gchar *path = action ? gtk_action_get_accel_path(action) : NULL;
    GtkAccelKey key;
    if (path == NULL || !gtk_accel_map_lookup_entry(path, &key) || key.accel_key == 0) continue;
    gchar *shown = gtk_accelerator_get_label(key.accel_key, key.accel_mods);
    gchar *label = NULL;
    g_object_get(action, "label", &label, NULL);
    std::string item;
    for (const char *p = label; p && *p; p++)
      if (*p != '_') item += *p;
    if (item.size() >= 3 && item.compare(item.size() - 3, 3, "\u2026") == 0) item.resize(item.size() - 3);
    keys.push_back({shown, item});
    g_free(label);
    g_free(shown);
  }
  return keys;
}

// ---------------------------------------------------------------------------
// The windows of Help and File.

// A window of the main window's that goes when it is answered, and when the
// main window goes; `kept` forgets it then.
static void keep_until_answered(GtkWidget *dialog, GtkWidget **kept) {
  *kept = dialog;
  gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(main_window().window));
  gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  g_signal_connect(dialog, "destroy", G_CALLBACK(gtk_widget_destroyed), kept);
}

void show_keys_window() {
  MainWindow &w = main_window();
  if (w.keys_window) {
    gtk_window_present(GTK_WINDOW(w.keys_window));
    return;
  }
  GtkWidget *dialog = gtk_dialog_new_with_buttons("VUM Keys", NULL, (GtkDialogFlags)0, GTK_STOCK_CLOSE,
                                                  GTK_RESPONSE_CLOSE, NULL);
  keep_until_answered(dialog, &w.keys_window);
  g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), NULL);
  GtkWidget *box = GTK_DIALOG(dialog)->vbox;
  GtkWidget *intro = gtk_label_new("Anywhere in the main window; a key does nothing while its item is greyed out.");
  gtk_label_set_line_wrap(GTK_LABEL(intro), TRUE);
  gtk_box_pack_start(GTK_BOX(box), intro, FALSE, FALSE, 6);
  std::vector<std::pair<std::string, std::string>> keys = menu_keys(w.menus);
  GtkWidget *table = gtk_table_new(keys.size(), 2, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(table), 18);
  gtk_table_set_row_spacings(GTK_TABLE(table), 2);
  gtk_container_set_border_width(GTK_CONTAINER(table), 6);
  for (size_t i = 0; i < keys.size(); i++) {
    const std::string *texts[2] = {&keys[i].first, &keys[i].second};
    for (int column = 0; column < 2; column++) {
      GtkWidget *label = gtk_label_new(texts[column]->c_str());
      gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
      gtk_table_attach(GTK_TABLE(table), label, column, column + 1, i, i + 1, GTK_FILL, GTK_FILL, 0, 0);
    }
  }
  gtk_box_pack_start(GTK_BOX(box), table, FALSE, FALSE, 0);
  gtk_widget_show_all(dialog);
}

void show_about_box() {
  MainWindow &w = main_window();
  if (w.about_box) {
    gtk_window_present(GTK_WINDOW(w.about_box));
    return;
  }
  GtkWidget *about = gtk_about_dialog_new();
  keep_until_answered(about, &w.about_box);
  g_signal_connect(about, "response", G_CALLBACK(gtk_widget_destroy), NULL);
  GtkAboutDialog *a = GTK_ABOUT_DIALOG(about);
  gtk_about_dialog_set_program_name(a, "VUM");
  gtk_about_dialog_set_version(a, VUM_VERSION);
  gtk_about_dialog_set_comments(a,
                                "A graphical front end for the text-mode debugger of the Bochs x86 emulator: "
                                "step, run, stop and inspect the emulated PC.");
  gtk_widget_show(about);
}

static void symbols_answered(GtkDialog *dialog, int response, gpointer) {
  gchar *file = NULL;
  if (response == GTK_RESPONSE_ACCEPT) file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
  gtk_widget_destroy(GTK_WIDGET(dialog));
  if (file) load_symbols(file);
  g_free(file);
}

void show_symbols_chooser() {
  MainWindow &w = main_window();
  if (w.symbols_chooser) {
    gtk_window_present(GTK_WINDOW(w.symbols_chooser));
    return;
  }
  GtkWidget *chooser =
      gtk_file_chooser_dialog_new("Load Symbols", NULL, GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
                                  GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, NULL);
  keep_until_answered(chooser, &w.symbols_chooser);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  g_signal_connect(chooser, "response", G_CALLBACK(symbols_answered), NULL);
  gtk_widget_show(chooser);
}
