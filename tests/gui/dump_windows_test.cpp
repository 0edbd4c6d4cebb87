// The Memory page and its dump windows against the simulated PC.
#include <gdk/gdkkeysyms.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "code/code_page.hpp"
#include "exec/control_bar.hpp"
#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "text/symbols.hpp"
#include "views/dump_windows.hpp"
#include "link/link_state.hpp"

namespace {

class DumpWindowTest : public GuiTest {
 protected:
  DumpWindow *open(const std::string &address, const std::string &units, uint32_t space = 0,
                   uint32_t size = 0, uint32_t format = 0) {
    button_group_select(memory_page().address_space_group, space);
    button_group_select(memory_page().unit_size_group, size);
    button_group_select(memory_page().unit_format_group, format);
    DumpWindow *last = memory_page().windows.last;
    type_into(memory_page().address_entry, address);
    type_into(memory_page().units_entry, units);
    click(memory_page().dump_button);
    return memory_page().windows.last == last ? nullptr : memory_page().windows.last;
  }

  std::vector<std::string> row(DumpWindow *w, int r) const {
    std::vector<std::string> cells;
    for (int c = 0; c < GTK_CLIST(w->list)->columns; c++) cells.push_back(cell(w->list, r, c));
    return cells;
  }

  std::vector<DumpWindow *> windows() const {
    std::vector<DumpWindow *> out;
    for (DumpWindow *w = memory_page().windows.first; w; w = w->next) {
      if (w->next) {
        EXPECT_EQ(w->next->prev, w);
      }
      out.push_back(w);
    }
    if (!out.empty()) {
      EXPECT_EQ(out.front()->prev, nullptr);
      EXPECT_EQ(out.back(), memory_page().windows.last);
    }
    return out;
  }

  std::vector<std::string> lines_since(size_t from) const {
    std::vector<std::string> t = transcript();
    return std::vector<std::string>(t.begin() + (long)std::min(from, t.size()), t.end());
  }
};

}  // namespace

TEST_F(DumpWindowTest, TheFormStartsPhysicalByteHexAndFollowsTheLink) {
  build_window();
  EXPECT_EQ(memory_page().address_space_group->selected, 0u);
  EXPECT_EQ(memory_page().unit_size_group->selected, 0u);
  EXPECT_EQ(memory_page().unit_format_group->selected, 0u);
  EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(memory_page().address_entry)), 10);
  EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(memory_page().units_entry)), 7) << "1 MiB of bytes: 1048576";
  int w, h;
  gtk_widget_get_size_request(memory_page().dump_button, &w, &h);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 20);
  for (GtkWidget *x : {memory_page().address_entry, memory_page().units_entry, memory_page().dump_button})
    EXPECT_FALSE(sensitive(x));
  start_bochs();
  for (GtkWidget *x : {memory_page().address_entry, memory_page().units_entry, memory_page().dump_button}) EXPECT_TRUE(sensitive(x));
}

TEST_F(DumpWindowTest, AByteWindowShowsTheDebuggersLinesAsRows) {
  build_window();
  start_bochs();
  size_t before = transcript().size();
  DumpWindow *w = open("7c00", "16");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(lines_since(before), std::vector<std::string>{"xp /16bx 0x7C00"});
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w->window)), "VUM - Memory Dump - 00007C00 physical");
  EXPECT_EQ(GTK_CLIST(w->list)->columns, 4);
  EXPECT_EQ(GTK_CLIST(w->list)->column[1].justification, GTK_JUSTIFY_RIGHT);
  EXPECT_EQ(entry_text(memory_page().address_entry), "");
  EXPECT_EQ(entry_text(memory_page().units_entry), "");
  ASSERT_EQ(row_count(w->list), 2);
  // The demo begins cli; xor ax, ax; mov ds, ax; ...
  EXPECT_EQ(row(w, 0), (std::vector<std::string>{"00007C00", "+0",
                                                 "0xfa 0x31 0xc0 0x8e 0xd8 0x8e 0xc0 0x8e", ".1......"}));
  EXPECT_EQ(row(w, 1)[0], "00007C08");
  EXPECT_EQ(row(w, 1)[1], "+8");
  // The dialogue is in step afterwards.
  click(control_bar().step_button);
  EXPECT_EQ(transcript().back(), "dump_cpu");
  EXPECT_FALSE(link_seam().debugger_offline);
}

TEST_F(DumpWindowTest, AddressAndUnitTextsAndWhatTheyOpen) {
  build_window();
  start_bochs();
  struct Case {
    const char *address, *units;
    bool opens;
    uint32_t want_address, want_units;
  } cases[] = {
      {"5a0", "4", true, 0x5A0, 4},   {"0x5a0", "4", true, 0x5A0, 4}, {"0X5A0", "4", true, 0x5A0, 4},
      {"", "4", false, 0, 0},         {"zz", "4", false, 0, 0},       {"5a0", "", false, 0, 0},
      {"5a0", "x", false, 0, 0},      {"5a0", "0", false, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.address) + " / " + c.units);
    size_t before = transcript().size();
    DumpWindow *w = open(c.address, c.units);
    EXPECT_EQ(w != nullptr, c.opens);
    if (w) {
      EXPECT_EQ(w->address, c.want_address);
      EXPECT_EQ(w->units, c.want_units);
      char line[32];
      snprintf(line, sizeof line, "xp /%ubx 0x%X", c.want_units, c.want_address);
      EXPECT_EQ(lines_since(before), std::vector<std::string>{line});
    } else {
      EXPECT_EQ(entry_text(memory_page().address_entry), c.address) << "the entries keep their text";
      EXPECT_EQ(entry_text(memory_page().units_entry), c.units);
      EXPECT_EQ(lines_since(before).size(), 0u);
    }
  }
  // Enter in the units entry opens a window; Enter in the address entry does not.
  type_into(memory_page().address_entry, "600");
  activate(memory_page().address_entry);
  EXPECT_EQ(entry_text(memory_page().address_entry), "600");
  type_into(memory_page().units_entry, "2");
  DumpWindow *last = memory_page().windows.last;
  activate(memory_page().units_entry);
  ASSERT_NE(memory_page().windows.last, last);
  EXPECT_EQ(memory_page().windows.last->address, 0x600u);
}

TEST_F(DumpWindowTest, EverySizeAndFormatSendsItsLettersAndKeepsItsChoices) {
  build_window();
  start_bochs();
  const char sizes[] = "bhwg", formats[] = "xduto";
  for (uint32_t space = 0; space < 2; space++)
    for (uint32_t size = 0; size < 4; size++)
      for (uint32_t format = 0; format < 5; format++) {
        size_t before = transcript().size();
        DumpWindow *w = open("7c00", "20", space, size, format);
        ASSERT_NE(w, nullptr);
        char line[32];
        snprintf(line, sizeof line, "%s /20%c%c 0x7C00", space == 0 ? "xp" : "x", sizes[size],
                 formats[format]);
        EXPECT_EQ(lines_since(before), std::vector<std::string>{line});
        EXPECT_EQ(GTK_CLIST(w->list)->columns, size == 0 ? 4 : 3) << line;
        int per_line = size <= 1 ? 8 : size == 2 ? 4 : 2;
        EXPECT_EQ(row_count(w->list), (20 + per_line - 1) / per_line) << line;
        EXPECT_EQ(cell(w->list, 0, 0), "00007C00") << line;
        EXPECT_EQ(cell(w->list, 0, 1), "+0") << line;
        close_dump_window(NULL, w);
      }
  // A window keeps the choices it was opened with; the form moving on changes
  // neither its command nor its columns.
  DumpWindow *w = open("500", "4", 1, 1, 1);
  button_group_select(memory_page().unit_size_group, 0);
  button_group_select(memory_page().address_space_group, 0);
  size_t before = transcript().size();
  click(w->refresh_button);
  EXPECT_EQ(lines_since(before), std::vector<std::string>{"x /4hd 0x500"});
  EXPECT_EQ(GTK_CLIST(w->list)->columns, 3);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w->window)), "VUM - Memory Dump - 00000500 linear");
}

TEST_F(DumpWindowTest, AnErrorInPlaceOfADumpShowsOnlyItsValues) {
  build_window();
  start_bochs();
  DumpWindow *w = open("fffff0", "32");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(row_count(w->list), 1);
  EXPECT_EQ(cell(w->list, 0, 0), "");
  EXPECT_EQ(cell(w->list, 0, 1), "");
  EXPECT_EQ(cell(w->list, 0, 2).substr(0, 20), "past the end of memo");
  click(control_bar().step_button);
  EXPECT_FALSE(link_seam().debugger_offline);
  EXPECT_EQ(transcript().back(), "dump_cpu");
}

TEST_F(DumpWindowTest, CloseAndWindowManagerCloseUnlinkAndRefreshAllWalksTheRest) {
  build_window();
  start_bochs();
  DumpWindow *a = open("500", "1");
  DumpWindow *b = open("600", "1");
  DumpWindow *c = open("700", "1");
  DumpWindow *d = open("800", "1");
  ASSERT_EQ(windows(), (std::vector<DumpWindow *>{a, b, c, d}));

  click(b->close_button);  // the middle one
  EXPECT_EQ(windows(), (std::vector<DumpWindow *>{a, c, d}));
  gtk_widget_destroy(d->window);  // as the window manager closes it: the last one
  EXPECT_EQ(windows(), (std::vector<DumpWindow *>{a, c}));
  size_t before = transcript().size();
  click(main_window().refresh_all_button);
  EXPECT_EQ(lines_since(before), (std::vector<std::string>{"xp /1bx 0x500", "xp /1bx 0x700"}));
  gtk_widget_destroy(a->window);  // the first one
  EXPECT_EQ(windows(), (std::vector<DumpWindow *>{c}));
  click(c->close_button);
  EXPECT_EQ(windows(), std::vector<DumpWindow *>{});
  EXPECT_EQ(memory_page().windows.last, nullptr);
  before = transcript().size();
  click(main_window().refresh_all_button);
  EXPECT_EQ(lines_since(before).size(), 0u);
}

TEST_F(DumpWindowTest, RefreshFollowsTheRunStateAndTheLink) {
  build_window();
  start_bochs();
  DumpWindow *w = open("500", "2");
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(sensitive(w->refresh_button));
  click(control_bar().go_button);
  ASSERT_TRUE(target_running());
  EXPECT_FALSE(sensitive(w->refresh_button));
  EXPECT_FALSE(sensitive(memory_page().dump_button));
  EXPECT_TRUE(sensitive(w->close_button));
  size_t before = transcript().size();
  refresh_dump_window(w);  // reached anyway while running: nothing is sent
  EXPECT_EQ(lines_since(before).size(), 0u);
  click(control_bar().stop_button);
  EXPECT_TRUE(sensitive(w->refresh_button));

  // Offline the window keeps its rows; a new debugger fills it again on Refresh.
  int rows = row_count(w->list);
  click(main_window().start_button);
  EXPECT_FALSE(sensitive(w->refresh_button));
  refresh_dump_window(w);
  EXPECT_EQ(row_count(w->list), rows);
  start_bochs();
  EXPECT_TRUE(sensitive(w->refresh_button));
  before = transcript().size();
  click(w->refresh_button);
  EXPECT_EQ(lines_since(before), std::vector<std::string>{"xp /2bx 0x500"});
}

// ---------------------------------------------------------------------------
// Dumps larger than one command, and reads long enough to show progress.

namespace {

// A button of a window, by its label; none when there is no such button.
GtkWidget *button_labelled(GtkWidget *top, const char *label) {
  if (GTK_IS_BUTTON(top) && gtk_button_get_label(GTK_BUTTON(top)) &&
      strcmp(gtk_button_get_label(GTK_BUTTON(top)), label) == 0)
    return top;
  if (!GTK_IS_CONTAINER(top)) return NULL;
  GList *children = gtk_container_get_children(GTK_CONTAINER(top));
  GtkWidget *found = NULL;
  for (GList *c = children; c && !found; c = c->next) found = button_labelled(GTK_WIDGET(c->data), label);
  g_list_free(children);
  return found;
}

bool shown(GtkWidget *w) { return w != NULL && GTK_WIDGET_VISIBLE(w) && GTK_WIDGET_MAPPED(w); }

class LongDumpTest : public DumpWindowTest {
 protected:
  void TearDown() override {
    unsetenv("VUM_SIM_DELAY_MS");
    unsetenv("VUM_SIM_STATE");
    DumpWindowTest::TearDown();
  }

  // The simulated PC answers every command after `ms` milliseconds.
  void slow_replies(int ms) { setenv("VUM_SIM_DELAY_MS", std::to_string(ms).c_str(), 1); }

  void memory(const std::string &state_lines) {
    std::string path = work_dir + "/state";
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(state_lines.c_str(), f);
    fclose(f);
    setenv("VUM_SIM_STATE", path.c_str(), 1);
  }

  void quit_during_a_long_read(bool by_signal);

  bool read_done(DumpWindow *w) { return pump_until([&] { return w->reading == nullptr; }, 60000); }

  // Opens a window of a megabyte of bytes at 100000 and waits until its read
  // shows its progress.
  DumpWindow *open_long_read() {
    DumpWindow *w = open("100000", "1048576");
    if (w == nullptr) return nullptr;
    EXPECT_NE(w->reading, nullptr) << "a slow megabyte is still being read after the click";
    EXPECT_TRUE(pump_until([&] { return shown(button_labelled(w->window, " Cancel ")); }, 10000));
    return w;
  }
};

}  // namespace

TEST_F(LongDumpTest, AMegabyteIsAskedForIn64KiBCommandsWhoseRowsFollowOn) {
  memory("mem 10fff8 0102030405060708 090a0b0c0d0e0f10\n");
  build_window();
  start_bochs();
  size_t before = transcript().size();
  DumpWindow *w = open("100000", "1048576");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->units, 1048576u);
  ASSERT_TRUE(read_done(w));
  std::vector<std::string> want;
  for (uint32_t a = 0x100000; a < 0x200000; a += 0x10000) {
    char line[40];
    snprintf(line, sizeof line, "xp /65536bx 0x%X", a);
    want.push_back(line);
  }
  EXPECT_EQ(lines_since(before), want);
  ASSERT_EQ(row_count(w->list), 131072);
  // The last line of the first command and the first of the second.
  EXPECT_EQ(row(w, 8191), (std::vector<std::string>{"0010FFF8", "+65528",
                                                    "0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08", "........"}));
  EXPECT_EQ(row(w, 8192), (std::vector<std::string>{"00110000", "+65536",
                                                    "0x09 0x0a 0x0b 0x0c 0x0d 0x0e 0x0f 0x10", "........"}));
  EXPECT_EQ(row(w, 131071)[0], "001FFFF8");
  EXPECT_EQ(row(w, 131071)[1], "+1048568");
  // The Offset column is as wide as its widest cell, the last one.
  GtkCList *list = GTK_CLIST(w->list);
  EXPECT_EQ(list->column[1].width, w->sizer.text_width("+1048568"));
  click(control_bar().step_button);
  EXPECT_EQ(transcript().back(), "dump_cpu") << "the dialogue is in step";
}

TEST_F(LongDumpTest, AMegabyteIsTheMostAndEachSizeFillsItsCommands) {
  build_window();
  start_bochs();
  struct Case {
    uint32_t size;
    const char *units;
    uint32_t held, per_command;
    char letter;
  } cases[] = {
      {0, "1048576", 1048576, 65536, 'b'},
      {1, "524288", 524288, 32768, 'h'},
      {2, "262144", 262144, 16384, 'w'},
      {3, "131072", 131072, 8192, 'g'},
      {3, "100", 100, 8192, 'g'},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.units);
    size_t before = transcript().size();
    DumpWindow *w = open("0", c.units, 0, c.size);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->units, c.held);
    ASSERT_TRUE(read_done(w));
    std::vector<std::string> lines = lines_since(before);
    EXPECT_EQ(lines.size(), (c.held + c.per_command - 1) / c.per_command);
    char first[40];
    snprintf(first, sizeof first, "xp /%u%cx 0x0", std::min(c.held, c.per_command), c.letter);
    EXPECT_EQ(lines.front(), first);
    close_dump_window(NULL, w);
  }
}

TEST_F(LongDumpTest, AnErrorInALaterCommandEndsTheDumpWithItsRow) {
  build_window();
  start_bochs();
  size_t before = transcript().size();
  // 16 MiB of memory end 512 KiB above F80000.
  DumpWindow *w = open("f80000", "1048576");
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(read_done(w));
  EXPECT_EQ(lines_since(before).size(), 9u) << "eight commands read, the ninth fails, no tenth";
  ASSERT_EQ(row_count(w->list), 8 * 8192 + 1);
  EXPECT_EQ(cell(w->list, 8 * 8192 - 1, 0), "00FFFFF8");
  EXPECT_EQ(cell(w->list, 8 * 8192, 0), "");
  EXPECT_EQ(cell(w->list, 8 * 8192, 2).substr(0, 20), "past the end of memo");
  click(control_bar().step_button);
  EXPECT_EQ(transcript().back(), "dump_cpu");
}

TEST_F(LongDumpTest, ALongReadShowsProgressHoldsTheOtherControlsAndCancelKeepsItsRows) {
  slow_replies(40);
  build_window();
  start_bochs();
  size_t before = transcript().size();
  DumpWindow *w = open_long_read();
  ASSERT_NE(w, nullptr);
  GtkWidget *bar = NULL;
  GtkWidget *cancel = button_labelled(w->window, " Cancel ");
  ASSERT_NE(cancel, nullptr);
  for (GtkWidget *p = gtk_widget_get_parent(cancel); p && !bar; p = NULL) {
    GList *children = gtk_container_get_children(GTK_CONTAINER(p));
    for (GList *c = children; c; c = c->next)
      if (GTK_IS_PROGRESS_BAR(c->data)) bar = GTK_WIDGET(c->data);
    g_list_free(children);
  }
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(pump_until([&] { return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)) > 0; }));
  // Nothing else may ask the debugger meanwhile; Cancel, Close and Quit stay.
  for (GtkWidget *x : {control_bar().step_button, control_bar().go_button, memory_page().dump_button,
                       w->refresh_button, main_window().refresh_all_button})
    EXPECT_FALSE(sensitive(x));
  for (GtkWidget *x : {cancel, w->close_button, main_window().quit_button}) EXPECT_TRUE(sensitive(x));
  // The window keeps redrawing: its rows grow between the parts.
  int rows_then = row_count(w->list);
  EXPECT_TRUE(pump_until([&] { return row_count(w->list) > rows_then; }));

  click(cancel);
  EXPECT_EQ(w->reading, nullptr);
  size_t asked = lines_since(before).size();
  int rows = row_count(w->list);
  EXPECT_EQ(rows, (int)asked * 8192) << "every row read so far stays";
  EXPECT_LT(rows, 131072);
  EXPECT_EQ(button_labelled(w->window, " Cancel "), nullptr) << "the progress goes with the read";
  pump_for(300);
  EXPECT_EQ(lines_since(before).size(), asked) << "nothing more is asked for";
  for (GtkWidget *x : {control_bar().step_button, memory_page().dump_button, w->refresh_button}) EXPECT_TRUE(sensitive(x));
  click(control_bar().step_button);
  EXPECT_EQ(transcript().back(), "dump_cpu") << "the dialogue is in step";
  EXPECT_FALSE(link_seam().debugger_offline);
}

TEST_F(LongDumpTest, ClosingAWindowOrKillingBochsEndsItsRead) {
  slow_replies(40);
  build_window();
  start_bochs();
  DumpWindow *w = open_long_read();
  ASSERT_NE(w, nullptr);
  size_t before = transcript().size();
  click(w->close_button);
  EXPECT_EQ(memory_page().windows.first, nullptr);
  pump_for(300);
  EXPECT_EQ(transcript().size(), before);
  EXPECT_TRUE(sensitive(control_bar().step_button));

  w = open_long_read();
  ASSERT_NE(w, nullptr);
  click(main_window().start_button);  // Kill
  ASSERT_TRUE(read_done(w));
  EXPECT_GT(row_count(w->list), 0) << "the rows read so far stay";
  EXPECT_FALSE(sensitive(w->refresh_button));
  start_bochs();
  EXPECT_TRUE(sensitive(w->refresh_button));
}

TEST_F(LongDumpTest, QuitDuringALongReadEndsVum) { quit_during_a_long_read(false); }
TEST_F(LongDumpTest, SigtermDuringALongReadEndsVum) { quit_during_a_long_read(true); }

// Quit, or a signal, while a read is under way: the read stops, VUM ends.
void LongDumpTest::quit_during_a_long_read(bool by_signal) {
  slow_replies(40);
  build_window();
  start_bochs();
  DumpWindow *w = open_long_read();
  ASSERT_NE(w, nullptr);
  int32_t pid = link_seam().child_pid;
  size_t asked = transcript().size();
  if (by_signal)
    raise(SIGTERM);
  else
    click(main_window().quit_button);
  ASSERT_TRUE(pump_until([] { return main_window().main_loop_left != 0; }, 5000)) << "VUM did not quit";
  EXPECT_FALSE(child_alive(pid)) << "the debugger was left behind";
  std::vector<std::string> lines = transcript();
  EXPECT_EQ(lines.size(), asked + 1) << "no part of the dump is asked for after the quit";
  EXPECT_EQ(lines.back(), "q");
  EXPECT_TRUE(read_done(w));
}

// ---------------------------------------------------------------------------
// What the entries refuse, the Characters column, changing a value, and
// windows that follow stops.

namespace {

class DumpValueTest : public LongDumpTest {
 protected:
  // "Hello, VUM!" and four bytes that are no text, at 3000.
  void hello_memory() { memory("mem 3000 48656c6c6f2c2056554d21007f8041 1122334455667788\n"); }

  std::string label_text(GtkWidget *label) const { return gtk_label_get_text(GTK_LABEL(label)); }

  // Types the value into the open change and presses Enter.
  void store(DumpWindow *w, const std::string &text) {
    ASSERT_NE(w->edit, nullptr);
    type_into(w->edit->entry, text);
    activate(w->edit->entry);
  }

  bool follows(GtkWidget *button) { return active(button); }
};

std::string family(GtkWidget *w) {
  gtk_widget_ensure_style(w);
  const char *f = pango_font_description_get_family(w->style->font_desc);
  return f ? f : "";
}

}  // namespace

TEST_F(DumpValueTest, TheEntriesRefuseWhatTheyCannotDumpWithOneMessage) {
  build_window();
  start_bochs();
  struct Case {
    const char *address, *units;
    uint32_t size;
    const char *kept_address, *kept_units;  // what the entries show (they hold 10 and 7 characters)
    const char *message;
  } cases[] = {
      {"-1", "4", 0, "-1", "4", "\"-1\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"12345678901", "4", 0, "1234567890", "4", "The address \"1234567890\" does not fit in 32 bits"},
      {"hello", "4", 0, "hello", "4", "\"hello\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"", "4", 0, "", "4", "Type an address first, in hexadecimal, such as 7c00 or 0x7c00"},
      {"7c00:0", "4", 0, "7c00:0", "4",
       "Type a plain address here, without a segment (SEGMENT:OFFSET is for virtual breakpoints)"},
      {"7c00", "", 0, "7c00", "", "Type the number of units, from 1 to 1048576"},
      {"7c00", "0", 0, "7c00", "0", "The number of units must be from 1 to 1048576"},
      {"7c00", "-1", 0, "7c00", "-1", "\"-1\" is no number of units: type decimal digits, from 1 to 1048576"},
      {"7c00", "hello", 0, "7c00", "hello",
       "\"hello\" is no number of units: type decimal digits, from 1 to 1048576"},
      {"7c00", "12345678901", 0, "7c00", "1234567", "The number of units must be from 1 to 1048576"},
      {"7c00", "1048577", 0, "7c00", "1048577", "The number of units must be from 1 to 1048576"},
      {"7c00", "524289", 1, "7c00", "524289", "The number of units must be from 1 to 524288"},
      {"7c00", "262145", 2, "7c00", "262145", "The number of units must be from 1 to 262144"},
      {"7c00", "131073", 3, "7c00", "131073", "The number of units must be from 1 to 131072"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.address) + " / " + c.units);
    size_t before = transcript().size();
    EXPECT_EQ(open(c.address, c.units, 0, c.size), nullptr);
    EXPECT_EQ(lines_since(before), std::vector<std::string>{});
    EXPECT_EQ(label_text(memory_page().message), c.message);
    EXPECT_EQ(entry_text(memory_page().address_entry), c.kept_address);
    EXPECT_EQ(entry_text(memory_page().units_entry), c.kept_units);
  }
  EXPECT_EQ(memory_page().windows.first, nullptr);
  // Corrected, the text opens its window and the message goes.
  size_t before = transcript().size();
  ASSERT_NE(open(" 0x7C00 ", "8192", 0, 3), nullptr);
  EXPECT_EQ(lines_since(before), std::vector<std::string>{"xp /8192gx 0x7C00"});
  EXPECT_EQ(label_text(memory_page().message), "");
}

TEST_F(DumpValueTest, TheCharactersColumnShowsEveryRowsBytesInEveryFormat) {
  hello_memory();
  build_window();
  start_bochs();
  for (uint32_t format = 0; format < 5; format++) {
    SCOPED_TRACE(format);
    DumpWindow *w = open("3000", "15", 0, 0, format);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(row_count(w->list), 2);
    EXPECT_EQ(cell(w->list, 0, 3), "Hello, V");
    EXPECT_EQ(cell(w->list, 1, 3), "UM!...A") << "the last row has 7 bytes";
    close_dump_window(NULL, w);
  }
  // A row that is an error has no characters.
  DumpWindow *w = open("fffff0", "32");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(cell(w->list, 0, 3), "");
}

TEST_F(DumpValueTest, EntriesNotesAndValuesAreSetInAMonospaceFont) {
  build_window();
  start_bochs();
  DumpWindow *w = open("7c00", "16", 1);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(edit_dump_value(w, 0, 0));
  for (GtkWidget *x : {memory_page().address_entry, memory_page().units_entry, w->list, w->note, w->edit->entry})
    EXPECT_EQ(family(x), "Monospace") << gtk_widget_get_name(x);
  EXPECT_NE(family(w->follow_button), "Monospace");
  EXPECT_NE(family(memory_page().message), "Monospace");
}

TEST_F(DumpValueTest, AChangedValueIsWrittenWithSetpmemAndReadBack) {
  // Ten rows of 00 11 22 ... ff from 3000: each case changes its own.
  std::string row_bytes;
  for (int i = 0; i < 10; i++) row_bytes += "00112233445566778899aabbccddeeff";
  memory("mem 3000 " + row_bytes + "\n");
  build_window();
  start_bochs();
  struct Case {
    uint32_t size, format;
    int row, column;
    const char *shown;  // what the change begins with
    const char *typed;
    std::vector<std::string> sent;
    const char *read_back;  // the value's text in the window afterwards
  } cases[] = {
      {0, 0, 0, 2, "0x22", "41", {"setpmem 0x3002 1 0x41", "xp /16bx 0x3000"}, "0x41"},
      {0, 1, 1, 0, "-120", "-1", {"setpmem 0x3018 1 0xFF", "xp /16bd 0x3010"}, "-1"},
      {1, 0, 0, 1, "0x3322", " 0xBEEF ", {"setpmem 0x3022 2 0xBEEF", "xp /8hx 0x3020"}, "0xbeef"},
      {1, 1, 0, 3, "30566", "-2", {"setpmem 0x3036 2 0xFFFE", "xp /8hd 0x3030"}, "-2"},
      {2, 0, 0, 1, "0x77665544", "deadbeef", {"setpmem 0x3044 4 0xDEADBEEF", "xp /4wx 0x3040"}, "0xdeadbeef"},
      {2, 1, 0, 0, "857870592", "4294967295", {"setpmem 0x3050 4 0xFFFFFFFF", "xp /4wd 0x3050"}, "-1"},
      {2, 2, 0, 2, "3148519816", "305419896", {"setpmem 0x3068 4 0x12345678", "xp /4wu 0x3060"}, "305419896"},
      {3, 0, 0, 1, "0xffeeddccbbaa9988", "0x0102030405060708",
       {"setpmem 0x3078 4 0x5060708", "setpmem 0x307C 4 0x1020304", "xp /2gx 0x3070"}, "0x0102030405060708"},
      {0, 3, 0, 1, "00010001", "101", {"setpmem 0x3081 1 0x5", "xp /16bt 0x3080"}, "00000101"},
      {1, 4, 0, 0, "010400", "0777", {"setpmem 0x3090 2 0x1FF", "xp /8ho 0x3090"}, "0777"},
  };
  uint32_t address = 0x3000;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    char at[12];
    snprintf(at, sizeof at, "%x", address);
    address += 0x10;
    DumpWindow *w = open(at, std::to_string(16 >> c.size), 0, c.size, c.format);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(edit_dump_value(w, c.row, c.column));
    EXPECT_EQ(entry_text(w->edit->entry), c.shown);
    size_t before = transcript().size();
    store(w, c.typed);
    EXPECT_EQ(lines_since(before), c.sent);
    EXPECT_EQ(w->edit, nullptr) << "the change closes once stored";
    std::vector<std::string> words;
    std::string values = cell(w->list, c.row, 2);
    for (size_t from = 0; from <= values.size();) {
      size_t end = values.find(' ', from);
      if (end == std::string::npos) end = values.size();
      words.push_back(values.substr(from, end - from));
      from = end + 1;
    }
    ASSERT_GT(words.size(), (size_t)c.column);
    EXPECT_EQ(words[(size_t)c.column], c.read_back);
    close_dump_window(NULL, w);
  }
  EXPECT_FALSE(link_seam().debugger_offline);
}

TEST_F(DumpValueTest, BadInputIsRefusedWithAMessageAndKeptForCorrection) {
  hello_memory();
  build_window();
  start_bochs();
  DumpWindow *w = open("3000", "8", 0, 1, 0);  // words, hex
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(edit_dump_value(w, 0, 8)) << "a row has 8 words";
  EXPECT_FALSE(edit_dump_value(w, 1, 0)) << "there is one row";
  ASSERT_TRUE(edit_dump_value(w, 0, 0));
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w->edit->what)), "Word at physical 00003000 (hex)");
  struct Case {
    const char *typed, *message;
  } cases[] = {
      {"12345", "The value \"12345\" does not fit in 2 bytes"},
      {"zz", "\"zz\" is no value: type hexadecimal, such as 1f or 0x1f"},
      {"", "Type a value in hexadecimal, such as 1f or 0x1f"},
      {"-1", "\"-1\" is no value: type hexadecimal, such as 1f or 0x1f"},
  };
  size_t before = transcript().size();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    store(w, c.typed);
    ASSERT_NE(w->edit, nullptr);
    EXPECT_EQ(label_text(w->edit->message), c.message);
    EXPECT_EQ(entry_text(w->edit->entry), c.typed);
  }
  EXPECT_EQ(lines_since(before), std::vector<std::string>{});
  store(w, "1234");
  EXPECT_EQ(lines_since(before), (std::vector<std::string>{"setpmem 0x3000 2 0x1234", "xp /8hx 0x3000"}));
  EXPECT_EQ(cell(w->list, 0, 2).substr(0, 6), "0x1234");
}

TEST_F(DumpValueTest, ADoubleClickChangesTheValueUnderItAndEnterTheRowsFirst) {
  hello_memory();
  build_window();
  start_bochs();
  DumpWindow *w = open("3000", "16");
  ASSERT_NE(w, nullptr);
  pump_for(100);
  GtkCList *list = GTK_CLIST(w->list);
  ASSERT_NE(list->clist_window, nullptr);
  // The middle of the third value of the second row.
  std::string values = cell(w->list, 1, 2);
  PangoLayout *layout = gtk_widget_create_pango_layout(w->list, values.substr(0, 11).c_str());  // "0x55 0x4d 0"
  int width = 0;
  pango_layout_get_pixel_size(layout, &width, NULL);
  g_object_unref(layout);
  GdkEventButton press = {};
  press.type = GDK_2BUTTON_PRESS;
  press.window = list->clist_window;
  press.button = 1;
  press.x = list->column[2].area.x + list->hoffset + width;
  press.y = list->row_height + list->row_height / 2 + 1;
  gtk_widget_event(w->list, (GdkEvent *)&press);
  ASSERT_NE(w->edit, nullptr);
  EXPECT_EQ(w->edit->address, 0x300Au);
  EXPECT_EQ(entry_text(w->edit->entry), "0x21");
  close_dump_edit(w);

  gtk_clist_select_row(list, 1, 0);
  GdkEventKey key = {};
  key.type = GDK_KEY_PRESS;
  key.window = list->clist_window;
  key.keyval = GDK_Return;
  gtk_widget_event(w->list, (GdkEvent *)&key);
  ASSERT_NE(w->edit, nullptr);
  EXPECT_EQ(w->edit->address, 0x3008u);
  EXPECT_EQ(entry_text(w->edit->entry), "0x55");
  // Escape closes it, nothing written.
  size_t before = transcript().size();
  GdkEventKey escape = {};
  escape.type = GDK_KEY_PRESS;
  escape.window = w->edit->window->window;
  escape.keyval = GDK_Escape;
  gtk_widget_event(w->edit->window, (GdkEvent *)&escape);
  EXPECT_EQ(w->edit, nullptr);
  EXPECT_EQ(lines_since(before), std::vector<std::string>{});
}

TEST_F(DumpValueTest, WhileTheTargetRunsTheChangeWaitsAndSaysSo) {
  hello_memory();
  build_window();
  start_bochs();
  DumpWindow *w = open("3000", "16");
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(edit_dump_value(w, 0, 0));
  EXPECT_TRUE(sensitive(w->edit->store_button));
  click(control_bar().go_button);
  ASSERT_TRUE(target_running());
  EXPECT_FALSE(sensitive(w->edit->store_button));
  EXPECT_EQ(label_text(w->edit->message), "The target is running: the value can be stored once it stops");
  ASSERT_TRUE(pump_until([&] { return !transcript().empty() && transcript().back() == "c"; }));
  size_t before = transcript().size();
  store(w, "7");
  EXPECT_EQ(lines_since(before), std::vector<std::string>{});
  EXPECT_EQ(entry_text(w->edit->entry), "7");
  click(control_bar().stop_button);
  ASSERT_FALSE(target_running());
  EXPECT_TRUE(sensitive(w->edit->store_button));
  EXPECT_EQ(label_text(w->edit->message), "");
  before = transcript().size();
  store(w, "7");
  EXPECT_EQ(lines_since(before), (std::vector<std::string>{"setpmem 0x3000 1 0x7", "xp /16bx 0x3000"}));
  EXPECT_FALSE(edit_dump_value(w, 5, 0));
  // Closing the dump window takes the change with it.
  ASSERT_TRUE(edit_dump_value(w, 0, 1));
  GtkWidget *edit = w->edit->window;
  g_object_ref(edit);
  click(w->close_button);
  EXPECT_TRUE(GTK_OBJECT_FLAGS(edit) & GTK_IN_DESTRUCTION || !GTK_WIDGET_VISIBLE(edit));
  g_object_unref(edit);
}

TEST_F(DumpValueTest, AWindowThatFollowsStopsIsReadAfterEachStopAndOnlyThen) {
  build_window();
  start_bochs();
  DumpWindow *on = open("7c00", "4");
  DumpWindow *off = open("500", "2", 0, 1);
  ASSERT_NE(on, nullptr);
  ASSERT_NE(off, nullptr);
  EXPECT_FALSE(follows(on->follow_button)) << "off by default";
  EXPECT_EQ(gtk_button_get_label(GTK_BUTTON(on->follow_button)), std::string("Refresh at each stop"));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(on->follow_button), TRUE);
  size_t before = transcript().size();
  click(control_bar().step_button);
  ASSERT_TRUE(pump_until([&] { return transcript().size() > before && transcript().back() == "xp /4bx 0x7C00"; }));
  pump_for(200);
  std::vector<std::string> sent = lines_since(before);
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent.front(), "s");
  EXPECT_EQ(sent[sent.size() - 2], "dump_cpu") << "the stop's own reads come first";
  EXPECT_EQ(sent.back(), "xp /4bx 0x7C00") << "once, and only the window that follows";

  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(on->follow_button), FALSE);
  before = transcript().size();
  click(control_bar().step_button);
  pump_for(300);
  sent = lines_since(before);
  EXPECT_EQ(sent, (std::vector<std::string>{"s", "dump_cpu"}));
}

// Once symbols are loaded, a name typed as the address is the symbol's
// address; before, it is refused as any other word.
TEST_F(DumpWindowTest, ASymbolsNameIsAnAddressOnceSymbolsAreLoaded) {
  build_window();
  start_bochs();
  size_t before = transcript().size();
  EXPECT_EQ(open("bump", "4"), nullptr);
  EXPECT_EQ(lines_since(before).size(), 0u);
  load_symbols_file((std::string(VUM_TEST_DATA_DIR) + "/demo.sym").c_str());
  DumpWindow *w = open("bump", "4");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->address, 0x7C3Du);  // tests/data/demo.sym
  EXPECT_EQ(lines_since(before), std::vector<std::string>{"xp /4bx 0x7C3D"});
  clear_symbols();
}
