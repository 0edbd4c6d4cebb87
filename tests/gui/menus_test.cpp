// The menu bar: its items and keys, items that follow their buttons in
// every state of the link and the target, items that do what their buttons
// do (one command per activation or key press), the View items, Help's
// windows, File > Load Symbols..., and the items a page adds.
#include <gdk/gdkkeysyms.h>

#include <string>
#include <utility>
#include <vector>

#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "shell/main_window.hpp"
#include "shell/menus.hpp"
#include "shell/pages.hpp"
#include "support/settings_fixture.hpp"
#include "views/cpu_state_panel.hpp"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

class MenusTest : public SettingsTest {
 protected:
  void show_window() {
    build_window();
    ASSERT_TRUE(pump_until([] { return gdk_window_is_viewable(main_window().window->window); }));
  }

  static GtkWidget *item(const std::string &path, const MenuBar &bar = main_window().menus) {
    return gtk_ui_manager_get_widget(bar.ui, ("/MenuBar/" + path).c_str());
  }
  static GtkAction *action(const char *name, const MenuBar &bar = main_window().menus) {
    return gtk_action_group_get_action(bar.actions, name);
  }

  // The key a menu item shows beside its label ("" for none).
  static std::string shown_key(GtkWidget *menu_item) {
    GtkWidget *child = gtk_bin_get_child(GTK_BIN(menu_item));
    if (!GTK_IS_ACCEL_LABEL(child)) return "<no accel label>";
    gtk_accel_label_refetch(GTK_ACCEL_LABEL(child));
    // The toolkit keeps the key with the blanks that part it from the label.
    std::string s = GTK_ACCEL_LABEL(child)->accel_string ? GTK_ACCEL_LABEL(child)->accel_string : "";
    return s.erase(0, s.find_first_not_of(' ') == std::string::npos ? s.size() : s.find_first_not_of(' '));
  }

  static std::string item_label(GtkWidget *menu_item) {
    GtkWidget *child = gtk_bin_get_child(GTK_BIN(menu_item));
    return GTK_IS_LABEL(child) ? gtk_label_get_text(GTK_LABEL(child)) : "<no label>";
  }

  // A menu's visible items as "label|key" ("--" for a separator).
  static Lines menu_items(GtkWidget *menu) {
    Lines out;
    GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList *c = children; c; c = c->next) {
      GtkWidget *w = GTK_WIDGET(c->data);
      if (!GTK_WIDGET_VISIBLE(w)) continue;
      if (GTK_IS_SEPARATOR_MENU_ITEM(w))
        out.push_back("--");
      else
        out.push_back(item_label(w) + "|" + shown_key(w));
    }
    g_list_free(children);
    return out;
  }

  static Lines tab_titles() {
    Lines titles;
    GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
    for (int i = 0; i < gtk_notebook_get_n_pages(notebook); i++)
      titles.push_back(gtk_notebook_get_tab_label_text(notebook, gtk_notebook_get_nth_page(notebook, i)));
    return titles;
  }

  // Presses and releases a key in the main window and lets the window handle it.
  void press(guint key, GdkModifierType modifiers = (GdkModifierType)0) {
    GdkWindow *w = main_window().window->window;
    ASSERT_TRUE(simulate_key(w, key, modifiers));
    gdk_flush();
    pump_for(150);
  }

  // Every item that follows a button, with its button.
  std::vector<std::pair<const char *, GtkWidget *>> followers() const {
    const ControlBar &c = control_bar();
    const MainWindow &w = main_window();
    return {{"FileMenu/StartKill", w.start_button},    {"FileMenu/Quit", w.quit_button},
            {"RunMenu/Go", c.go_button},              {"RunMenu/Stop", c.stop_button},
            {"RunMenu/Step", c.step_button},          {"RunMenu/Next", c.next_button},
            {"ViewMenu/ShowState", w.show_state_button}, {"ViewMenu/RefreshAll", w.refresh_all_button}};
  }

  // Each item (and its action) is sensitive exactly when its button is, and
  // Run to Here, which no page provides yet, never is. Returns the items
  // that are sensitive, to be compared with what the state allows.
  Lines sensitive_items() {
    flush_display_updates();
    Lines on;
    for (const auto &f : followers()) {
      GtkWidget *menu_item = item(f.first);
      EXPECT_NE(menu_item, nullptr) << f.first;
      if (!menu_item) continue;
      EXPECT_EQ(sensitive(menu_item), sensitive(f.second)) << f.first;
      GtkAction *a = gtk_activatable_get_related_action(GTK_ACTIVATABLE(menu_item));
      EXPECT_EQ(bool(gtk_action_get_sensitive(a)), sensitive(f.second)) << f.first;
      if (sensitive(menu_item)) on.push_back(std::string(f.first).substr(std::string(f.first).find('/') + 1));
    }
    EXPECT_FALSE(sensitive(item("RunMenu/PageItems/RunToHere")));
    EXPECT_EQ(gtk_action_get_sensitive(action("StopEscape")), gtk_action_get_sensitive(action("Stop")));
    return on;
  }

  void activate(const std::string &path) {
    GtkWidget *w = item(path);
    ASSERT_NE(w, nullptr) << path;
    gtk_menu_item_activate(GTK_MENU_ITEM(w));
    pump_for(50);
  }

  std::string window_file() const { return work_dir + "/config/vum/window"; }
};

int clicks = 0;
void count_click(GtkWidget *, gpointer) { clicks++; }

}  // namespace

TEST_F(MenusTest, TheMenusHoldTheirItemsWithTheirKeys) {
  show_window();
  Lines menus = menu_items(main_window().menus.widget);
  EXPECT_EQ(menus, (Lines{"File|", "Run|", "View|", "Help|"}));
  EXPECT_EQ(menu_items(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item("FileMenu")))),
            (Lines{"Start Bochs|", "Load Symbols\u2026|Ctrl+O", "--", "Quit|Ctrl+Q"}));
  EXPECT_EQ(menu_items(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item("RunMenu")))),
            (Lines{"Go|F5", "Stop|Shift+F5", "Step|F11", "Next|F10", "Run to Here|"}));
  Lines view = {"Show State|", "Refresh All Windows|Ctrl+R", "--"};
  Lines tabs = tab_titles();
  ASSERT_GE(tabs.size(), 6u);
  for (size_t i = 0; i < tabs.size(); i++) view.push_back(tabs[i] + "|" + (i < 9 ? "Alt+" + std::to_string(i + 1) : ""));
  EXPECT_EQ(menu_items(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item("ViewMenu")))), view);
  EXPECT_EQ(menu_items(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item("HelpMenu")))),
            (Lines{"Keys|F1", "About|"}));
  // The bar is the first thing in the window, above the control bar.
  GtkWidget *outer = gtk_bin_get_child(GTK_BIN(main_window().window));
  GList *children = gtk_container_get_children(GTK_CONTAINER(outer));
  EXPECT_EQ(GTK_WIDGET(children->data), main_window().menus.widget);
  g_list_free(children);
}

TEST_F(MenusTest, ItemsAreSensitiveExactlyWhenTheirButtonsAre) {
  show_window();
  EXPECT_EQ(sensitive_items(), (Lines{"StartKill", "Quit", "ShowState"})) << "offline";
  start_bochs();
  ASSERT_TRUE(wait_for_transcript(start_lines));
  // Stopped on "xor": Next is offered only on a call, an interrupt, a loop or a jump.
  EXPECT_EQ(sensitive_items(), (Lines{"StartKill", "Quit", "Go", "Step", "ShowState", "RefreshAll"}));
  for (int i = 0; i < 20 && current_location().physical_address != 0x7c0d; i++) click(control_bar().step_button);
  ASSERT_EQ(current_location().physical_address, 0x7c0du);
  EXPECT_EQ(sensitive_items(), (Lines{"StartKill", "Quit", "Go", "Step", "Next", "ShowState", "RefreshAll"}));
  click(control_bar().go_button);
  ASSERT_TRUE(target_running());
  EXPECT_EQ(sensitive_items(), (Lines{"StartKill", "Quit", "Stop", "ShowState"})) << "running";
  click(control_bar().stop_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  // Next depends on the instruction the target stopped at.
  Lines stopped = {"StartKill", "Quit", "Go", "Step", "ShowState", "RefreshAll"};
  if (sensitive(control_bar().next_button)) stopped.insert(stopped.begin() + 4, "Next");
  EXPECT_EQ(sensitive_items(), stopped);
  click(main_window().start_button);  // Kill
  EXPECT_EQ(sensitive_items(), (Lines{"StartKill", "Quit", "ShowState"})) << "offline again";
}

TEST_F(MenusTest, ItemsDoWhatTheirButtonsDoOnce) {
  show_window();
  activate("FileMenu/StartKill");
  ASSERT_FALSE(link_seam().debugger_offline);
  EXPECT_TRUE(active(main_window().start_button));
  EXPECT_EQ(item_label(item("FileMenu/StartKill")), "Kill Bochs");
  ASSERT_TRUE(wait_for_transcript(start_lines));
  new_commands();

  activate("RunMenu/Step");
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"}));
  activate("RunMenu/Next");  // insensitive on "xor": nothing
  EXPECT_EQ(new_commands(), Lines{});
  activate("RunMenu/Go");
  ASSERT_TRUE(target_running());
  activate("RunMenu/Go");
  activate("RunMenu/Step");
  EXPECT_EQ(new_commands(), Lines{"c"});
  activate("RunMenu/Stop");
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(new_commands(), (Lines{"#SIGINT", "dump_cpu"}));

  activate("FileMenu/StartKill");
  EXPECT_TRUE(link_seam().debugger_offline);
  EXPECT_EQ(item_label(item("FileMenu/StartKill")), "Start Bochs");
  EXPECT_EQ(new_commands(), Lines{"q"});

  activate("FileMenu/Quit");
  EXPECT_EQ(main_window().main_loop_left, 1);
}

TEST_F(MenusTest, EachKeyClicksItsButtonOnce) {
  show_window();
  start_bochs();
  ASSERT_TRUE(wait_for_transcript(start_lines));
  new_commands();
  const ControlBar &c = control_bar();
  for (GtkWidget *b : {c.go_button, c.stop_button, c.step_button, c.next_button, main_window().refresh_all_button,
                       main_window().quit_button})
    g_signal_connect(b, "clicked", G_CALLBACK(count_click), NULL);

  clicks = 0;
  press(GDK_F11);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"}));
  // F10 is Next's, and does not open the menu bar: here Next is not
  // offered, and the key does nothing.
  ASSERT_FALSE(sensitive(c.next_button));
  clicks = 0;
  press(GDK_F10);
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(GTK_MENU_SHELL(main_window().menus.widget)->active) << "the menu bar opened";
  EXPECT_EQ(new_commands(), Lines{});
  clicks = 0;
  press(GDK_r, GDK_CONTROL_MASK);
  EXPECT_EQ(clicks, 1) << "Refresh All Windows";
  clicks = 0;
  press(GDK_F5);
  EXPECT_EQ(clicks, 1);
  ASSERT_TRUE(target_running());
  // The debugger reads "c" in its own time.
  EXPECT_TRUE(pump_until([this] { return transcript().back() == "c"; }, 5000));
  EXPECT_EQ(new_commands(), Lines{"c"});
  clicks = 0;
  press(GDK_Escape);
  EXPECT_EQ(clicks, 1);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(new_commands(), (Lines{"#SIGINT", "dump_cpu"}));
  press(GDK_F5);
  clicks = 0;
  press(GDK_F5, GDK_SHIFT_MASK);
  EXPECT_EQ(clicks, 1);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(new_commands(), (Lines{"c", "#SIGINT", "dump_cpu"}));
  clicks = 0;
  press(GDK_q, GDK_CONTROL_MASK);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(main_window().main_loop_left, 1);
}

TEST_F(MenusTest, ViewShowsTheStatePanelAndEveryPage) {
  show_window();
  GtkToggleAction *state = GTK_TOGGLE_ACTION(action("ShowState"));
  EXPECT_FALSE(gtk_toggle_action_get_active(state));
  activate("ViewMenu/ShowState");
  EXPECT_TRUE(state_panel_shown());
  EXPECT_TRUE(active(main_window().show_state_button));
  EXPECT_EQ(button_label(main_window().show_state_button), " Hide State ");
  EXPECT_TRUE(gtk_toggle_action_get_active(state));
  click(main_window().show_state_button);  // the button, and the item follows
  EXPECT_FALSE(state_panel_shown());
  EXPECT_FALSE(gtk_toggle_action_get_active(state));
  EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item("ViewMenu/ShowState"))));
  EXPECT_EQ(new_commands(), Lines{}) << "offline, nothing is asked";

  GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
  Lines tabs = tab_titles();
  for (int i = int(tabs.size()) - 1; i >= 0; i--) {
    activate("ViewMenu/Page" + std::to_string(i + 1));
    EXPECT_EQ(gtk_notebook_get_current_page(notebook), i) << tabs[i];
  }
  press(GDK_3, GDK_MOD1_MASK);
  EXPECT_EQ(gtk_notebook_get_current_page(notebook), 2);
  press(GDK_6, GDK_MOD1_MASK);
  EXPECT_EQ(gtk_notebook_get_current_page(notebook), 5);
}

TEST_F(MenusTest, HelpKeysListsEveryKeyAndClosesWhenAnswered) {
  show_window();
  EXPECT_EQ(main_window().keys_window, nullptr);
  press(GDK_F1);
  GtkWidget *keys = main_window().keys_window;
  ASSERT_NE(keys, nullptr);
  EXPECT_TRUE(GTK_WIDGET_VISIBLE(keys));
  // The table of keys: every label of the window's table, key then item.
  GtkWidget *table = nullptr;
  GList *children = gtk_container_get_children(GTK_CONTAINER(GTK_DIALOG(keys)->vbox));
  for (GList *c = children; c; c = c->next)
    if (GTK_IS_TABLE(c->data)) table = GTK_WIDGET(c->data);
  g_list_free(children);
  ASSERT_NE(table, nullptr);
  Pairs shown;
  for (GList *c = GTK_TABLE(table)->children; c; c = c->next) {
    GtkTableChild *child = static_cast<GtkTableChild *>(c->data);
    if (shown.size() <= child->top_attach) shown.resize(child->top_attach + 1);
    std::string text = gtk_label_get_text(GTK_LABEL(child->widget));
    (child->left_attach == 0 ? shown[child->top_attach].first : shown[child->top_attach].second) = text;
  }
  Pairs expected = {{"Ctrl+O", "Load Symbols"}, {"Ctrl+Q", "Quit"},       {"F5", "Go"},
                    {"Shift+F5", "Stop"},       {"Escape", "Stop"},       {"F11", "Step"},
                    {"F10", "Next"},            {"Ctrl+R", "Refresh All Windows"}};
  Lines tabs = tab_titles();
  for (size_t i = 0; i < tabs.size() && i < 9; i++) expected.push_back({"Alt+" + std::to_string(i + 1), tabs[i]});
  expected.push_back({"F1", "Keys"});
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(menu_keys(main_window().menus), expected);

  press(GDK_F1);  // open already: brought to the front, not opened twice
  EXPECT_EQ(main_window().keys_window, keys);
  gtk_dialog_response(GTK_DIALOG(keys), GTK_RESPONSE_CLOSE);
  EXPECT_EQ(main_window().keys_window, nullptr);
}

TEST_F(MenusTest, HelpAboutNamesTheVersion) {
  show_window();
  activate("HelpMenu/About");
  GtkWidget *about = main_window().about_box;
  ASSERT_NE(about, nullptr);
  EXPECT_STREQ(gtk_about_dialog_get_program_name(GTK_ABOUT_DIALOG(about)), "VUM");
  EXPECT_STREQ(gtk_about_dialog_get_version(GTK_ABOUT_DIALOG(about)), VUM_VERSION);
  EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(about)), GTK_WINDOW(main_window().window));
  gtk_dialog_response(GTK_DIALOG(about), GTK_RESPONSE_CANCEL);
  EXPECT_EQ(main_window().about_box, nullptr);
}

TEST_F(MenusTest, LoadSymbolsHandsTheChosenFileToTheLoader) {
  std::string file = work_dir + "/kernel.sym";
  write_file(file, "00007c00 start\n");
  // The chooser saves its own settings there when it closes; GTK 2 loses a
  // few bytes when it has to make the directory first, which the leak check
  // would count against this test.
  ASSERT_EQ(g_mkdir_with_parents((work_dir + "/config/gtk-2.0").c_str(), 0700), 0);
  show_window();
  press(GDK_o, GDK_CONTROL_MASK);
  GtkWidget *chooser = main_window().symbols_chooser;
  ASSERT_NE(chooser, nullptr);
  // Cancelled: nothing is loaded.
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
  EXPECT_EQ(main_window().symbols_chooser, nullptr);
  EXPECT_EQ(main_window().symbols_file, "");

  activate("FileMenu/LoadSymbols");
  chooser = main_window().symbols_chooser;
  ASSERT_NE(chooser, nullptr);
  ASSERT_TRUE(gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), file.c_str()));
  ASSERT_TRUE(pump_until([&] {
    gchar *f = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    bool chosen = f && file == f;
    g_free(f);
    return chosen;
  }));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(main_window().symbols_chooser, nullptr);
  EXPECT_EQ(main_window().symbols_file, file);
}

// A page's own items: built from a table like the shell's, in a window of
// their own, over a button of the test's.
namespace {
GtkWidget *page_button = nullptr;
GtkWidget *the_page_button() { return page_button; }
const PageMenuItem fake_items[] = {
    {"Run", "RunToHere", "Run to _Here", "F4", the_page_button},
    {"View", "FakeList", "_Fake List", NULL, the_page_button},
    {NULL, NULL, NULL, NULL, NULL},
};
void build_nothing(GtkWidget *) {}
}  // namespace

TEST_F(MenusTest, APageProvidesRunToHereAndItsOwnItems) {
  show_window();
  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  page_button = gtk_button_new_with_label("Run to here");
  gtk_container_add(GTK_CONTAINER(window), page_button);
  g_signal_connect(page_button, "clicked", G_CALLBACK(count_click), NULL);
  PageRow rows[2] = {};
  rows[0].title = "Code";
  rows[0].build = build_nothing;
  rows[0].menu_items = fake_items;
  rows[1].title = "Other";
  rows[1].build = build_nothing;
  MenuBar bar = build_menu_bar(window, rows, 2);

  GtkWidget *run_to_here = item("RunMenu/PageItems/RunToHere", bar);
  ASSERT_NE(run_to_here, nullptr);
  EXPECT_EQ(menu_items(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item("RunMenu", bar)))),
            (Lines{"Go|F5", "Stop|Shift+F5", "Step|F11", "Next|F10", "Run to Here|F4"}))
      << "the page's item in place of the stand-in";
  EXPECT_EQ(menu_items(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item("ViewMenu", bar)))),
            (Lines{"Show State|", "Refresh All Windows|Ctrl+R", "--", "Code|Alt+1", "Other|Alt+2", "Fake List|"}));

  EXPECT_TRUE(sensitive(run_to_here));
  gtk_widget_set_sensitive(page_button, FALSE);
  EXPECT_FALSE(sensitive(run_to_here));
  EXPECT_FALSE(sensitive(item("ViewMenu/PageItems/FakeList", bar)));
  clicks = 0;
  gtk_menu_item_activate(GTK_MENU_ITEM(run_to_here));
  EXPECT_EQ(clicks, 0) << "insensitive, the button is not clicked";
  gtk_widget_set_sensitive(page_button, TRUE);
  EXPECT_TRUE(sensitive(run_to_here));
  gtk_menu_item_activate(GTK_MENU_ITEM(run_to_here));
  EXPECT_EQ(clicks, 1);
  gtk_menu_item_activate(GTK_MENU_ITEM(item("ViewMenu/PageItems/FakeList", bar)));
  EXPECT_EQ(clicks, 2);
  gtk_widget_destroy(window);
}
