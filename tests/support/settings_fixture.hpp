// The real window started with a configuration file of the test's own in
// its current directory, and memory of the simulated PC laid out by the
// test: for the Preferences page, the Structures page and the structure and
// list windows.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/gui_fixture.hpp"
#include "views/struct_windows.hpp"

class SettingsTest : public GuiTest {
 protected:
  typedef std::vector<std::string> Lines;

  // What a start sends: the first step, the registers, the two lists.
  const Lines start_lines = {"s", "dump_cpu", "info break", "watch"};

  // ".vumrc" in the test's directory, read when the window is built.
  void write_config(const std::string &text) { write_file(".vumrc", text); }

  // Bytes the simulated PC holds at start, from the address on.
  void put_memory(uint32_t address, const std::vector<uint8_t> &bytes) {
    std::string line = "mem " + hex(address);
    for (uint8_t b : bytes) {
      char pair[4];
      snprintf(pair, sizeof pair, " %02x", b);
      line += pair;
    }
    state_lines += line + "\n";
    write_file("state", state_lines);
    setenv("VUM_SIM_STATE", (work_dir + "/state").c_str(), 1);
  }

  // A line of the simulated PC's state file ("esp 0x100"), applied at start.
  void state_line(const std::string &line) {
    state_lines += line + "\n";
    write_file("state", state_lines);
    setenv("VUM_SIM_STATE", (work_dir + "/state").c_str(), 1);
  }

  void TearDown() override {
    unsetenv("VUM_SIM_STATE");
    GuiTest::TearDown();
  }

  void write_file(const std::string &name, const std::string &text) {
    FILE *f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }

  static std::string hex(uint32_t v) {
    char t[16];
    snprintf(t, sizeof t, "%x", v);
    return t;
  }

  // Every row of a list, its cells joined by '|'.
  Lines rows(GtkWidget *list) const {
    Lines out;
    int columns = GTK_CLIST(list)->columns;
    for (int r = 0; r < row_count(list); r++) {
      std::string row;
      for (int c = 0; c < columns; c++) row += (c ? "|" : "") + cell(list, r, c);
      out.push_back(row);
    }
    return out;
  }

  // The definition of a row of the Structures list.
  StructDef *def_at(int row) const {
    return static_cast<StructDef *>(gtk_clist_get_row_data(GTK_CLIST(structures_list()), row));
  }

  // Clicks a row of the Structures list; the result is its definition.
  StructDef *open_row(int row) {
    gtk_clist_select_row(GTK_CLIST(structures_list()), row, 0);
    return def_at(row);
  }

  // The commands received since the last call (all of them the first time).
  Lines new_commands() {
    Lines all = transcript();
    Lines out(all.begin() + (long)std::min(seen, all.size()), all.end());
    seen = all.size();
    return out;
  }

  // The window manager's close button: a delete event for the window.
  void close_by_window_manager(GtkWidget *window) {
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(window->window));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
  }

  std::string window_title(GtkWidget *window) const {
    const gchar *t = gtk_window_get_title(GTK_WINDOW(window));
    return t ? t : "";
  }

  Lines column_titles(GtkWidget *list) const {
    Lines out;
    for (int c = 0; c < GTK_CLIST(list)->columns; c++) {
      const gchar *t = gtk_clist_get_column_title(GTK_CLIST(list), c);
      out.push_back(t ? t : "<none>");
    }
    return out;
  }

  std::vector<GtkJustification> justifications(GtkWidget *list) const {
    std::vector<GtkJustification> out;
    for (int c = 0; c < GTK_CLIST(list)->columns; c++)
      out.push_back(GTK_CLIST(list)->column[c].justification);
    return out;
  }

  // The texts of labels and buttons and "entry" for entries, in a box's order.
  Lines box_contents(GtkWidget *box) const {
    Lines out;
    GList *children = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList *c = children; c; c = c->next) {
      GtkWidget *w = GTK_WIDGET(c->data);
      if (GTK_IS_LABEL(w))
        out.push_back(std::string("label:") + gtk_label_get_text(GTK_LABEL(w)));
      else if (GTK_IS_ENTRY(w))
        out.push_back("entry");
      else if (GTK_IS_BUTTON(w))
        out.push_back(std::string("button:") + button_label(w));
      else
        out.push_back(G_OBJECT_TYPE_NAME(w));
    }
    g_list_free(children);
    return out;
  }

  std::string state_lines;
  size_t seen = 0;
};
