// The Code page against the simulated PC through real pipes: the listing
// before and after the current instruction, breakpoints toggled from it,
// Run to Here, Go to address, symbols of the three forms in the listing,
// the control bar, the History and the breakpoint list, the status line;
// and a scripted debugger for the dialogues the simulated PC never gives.
#include <gdk/gdkkeysyms.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "code/code_page.hpp"
#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "points/breakpoints_page.hpp"
#include "shell/command_line.hpp"
#include "shell/main_window.hpp"
#include "shell/status_line.hpp"
#include "support/gui_fixture.hpp"
#include "support/points_script.hpp"
#include "text/disasm_scan.hpp"
#include "text/symbols.hpp"

namespace {

typedef std::vector<std::string> Lines;

const std::string symbols_dir = VUM_TEST_SYMBOLS_DIR;
const std::string data_dir = VUM_TEST_DATA_DIR;

// Shows the notebook page with this tab title.
void show_page(const char *title) {
  GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
  for (int i = 0; i < gtk_notebook_get_n_pages(notebook); i++) {
    GtkWidget *page = gtk_notebook_get_nth_page(notebook, i);
    if (strcmp(gtk_notebook_get_tab_label_text(notebook, page), title) == 0) {
      gtk_notebook_set_current_page(notebook, i);
      return;
    }
  }
  ADD_FAILURE() << "no page " << title;
}

class CodePageTest : public GuiTest {
 protected:
  void TearDown() override {
    clear_symbols();
    GuiTest::TearDown();
  }

  // The commands sent since the last call.
  Lines new_commands() {
    Lines all = transcript();
    Lines out(all.begin() + (long)std::min(seen, all.size()), all.end());
    seen = all.size();
    return out;
  }

  // Runs to an address with a breakpoint of the test's own, deleted at once.
  void run_to(uint32_t address) {
    std::string reply;
    ASSERT_TRUE(exchange(&reply, "pb 0x%X\n", address));
    Breakpoint table[point_table_size];
    uint32_t count = 0;
    ASSERT_TRUE(exchange(&reply, "info break\n"));
    scan_breakpoint_list(reply.data(), reply.size(), true, table, &count);
    ASSERT_EQ(count, 1u);
    run_go();
    ASSERT_TRUE(pump_until([] { return !target_running(); }));
    ASSERT_EQ(current_location().physical_address, address);
    ASSERT_TRUE(exchange(&reply, "d %u\n", table[0].number));
  }

  // The simulated PC's own listing from an instruction start known to be one.
  std::vector<DisasmLine> truth(uint32_t start, uint32_t count) {
    std::string reply;
    EXPECT_TRUE(exchange(&reply, "u /%u 0x%X\n", count, start));
    DisasmReply r;
    scan_disasm_reply(reply, &r);
    return r.lines;
  }

  GtkWidget *list() { return code_page().list; }

  // Lets the listing a stop asked for be read (once the main loop is idle).
  void settle() { ASSERT_TRUE(pump_until([] { return !code_page().listing_waiting; })); }

  int row_of(uint32_t linear) {
    for (size_t i = 0; i < code_page().rows.size(); i++)
      if (code_page().rows[i].line.address == linear) return (int)i;
    return -1;
  }

  int current_row() {
    for (size_t i = 0; i < code_page().rows.size(); i++)
      if (code_page().rows[i].current) return (int)i;
    return -1;
  }

  std::string row(int r) {
    std::string out;
    for (int c = 0; c < 7; c++) out += (c ? "|" : "") + cell(list(), r, c);
    return out;
  }

  void select(uint32_t linear) {
    int r = row_of(linear);
    ASSERT_GE(r, 0) << std::hex << linear;
    gtk_clist_select_row(GTK_CLIST(list()), r, 0);
    ASSERT_EQ(code_page().selected_row, r);
  }

  // A double-click on a row, as the X server delivers it.
  void double_click(int r) {
    GtkCList *clist = GTK_CLIST(list());
    GdkEventButton event = {};
    event.type = GDK_2BUTTON_PRESS;
    event.window = clist->clist_window;
    event.button = 1;
    event.x = 5;
    event.y = clist->row_height * r + (r + 1) + clist->voffset + clist->row_height / 2;
    gtk_widget_event(list(), (GdkEvent *)&event);
  }

  std::string status() { return status_line_text(); }

  std::string copy_to_work(const std::string &from, const std::string &name) {
    std::string to = work_dir + "/" + name;
    std::ofstream(to) << read_file(from);
    return to;
  }

  size_t seen = 0;
};

}  // namespace

TEST_F(CodePageTest, NothingIsAskedWhileThePageIsHidden) {
  build_window();
  start_bochs();
  ASSERT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch"}));
  new_commands();
  click(control_bar().step_button);
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"})) << "the hidden page reads nothing at a stop";
  show_page("Code");
  Lines shown = new_commands();
  ASSERT_FALSE(shown.empty()) << "shown, it reads the listing";
  EXPECT_EQ(shown.back(), "info break");
  EXPECT_EQ(shown[0].substr(0, 5), "u /64");
  EXPECT_EQ(cell(list(), current_row(), 5), "xor ax, ax");
  show_page("Breakpoints");
  show_page("Code");
  EXPECT_EQ(new_commands(), Lines{"info break"}) << "shown again with no new stop: the breakpoints only";
}

TEST_F(CodePageTest, ListingBeforeAndAfterTheCurrentInstruction) {
  build_window();
  start_bochs();
  run_to(0x7c3b);  // spin: 20 instructions after the demo's start
  std::vector<DisasmLine> known = truth(0x7c00, 64);
  new_commands();
  show_page("Code");
  // 48 bytes back, then one byte on; then the breakpoints.
  EXPECT_EQ(new_commands(), (Lines{"u /64 0x7C0B", "u /64 0x7C0C", "info break"}));

  int current = current_row();
  ASSERT_GE(current, 8) << "at least 8 instructions before the current one";
  ASSERT_EQ(code_page().rows.size(), (size_t)current + 1 + lines_after_target) << "24 after it";
  // Every row is the simulated PC's own line for that address, read from
  // the demo's start, and the rows follow each other without a gap.
  size_t k = 0;
  while (k < known.size() && known[k].address != code_page().rows[0].line.address) k++;
  ASSERT_LT(k, known.size()) << "the first row is an instruction start";
  for (size_t r = 0; r < code_page().rows.size() && k + r < known.size(); r++) {
    SCOPED_TRACE(r);
    EXPECT_EQ(code_page().rows[r].line.address, known[k + r].address);
    EXPECT_STREQ(code_page().rows[r].line.text, known[k + r].text);
  }
  EXPECT_EQ(code_page().rows[(size_t)current].line.address, 0x7c3bu);
  EXPECT_EQ(row(current), "|\u25b6|00007C3B|0000:00007C3B|ebfe|jmp 0x7c3b|") << "the current instruction, marked";
  EXPECT_EQ(row(current - 1), "||00007C36|0000:00007C36|9a5a7c0000|call far 0x0000:0x7c5a|");
  EXPECT_EQ(code_page().selected_row, current);
  pump_for(100);
  EXPECT_EQ(gtk_clist_row_is_visible(GTK_CLIST(list()), current), GTK_VISIBILITY_FULL);

  // A step (spin jumps to itself): the listing is read again.
  new_commands();
  click(control_bar().step_button);
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"})) << "the listing waits for the main loop";
  settle();
  EXPECT_EQ(new_commands(), (Lines{"u /64 0x7C0B", "u /64 0x7C0C", "info break"}));
  EXPECT_EQ(code_page().rows[(size_t)current_row()].line.address, 0x7c3bu);
}

TEST_F(CodePageTest, ZerosBeforeTheFirstInstruction) {
  build_window();
  start_bochs();
  new_commands();
  show_page("Code");
  // The demo's first instruction (7C00) follows zeros, read as the
  // instructions they are. The reply from the odd byte after 48 back steps
  // over 7C00; every start after it is one of the two replies' own.
  EXPECT_EQ(new_commands(), (Lines{"u /64 0x7BD0", "u /64 0x7BD1", "info break"}));
  int current = current_row();
  ASSERT_EQ(current, (int)lines_before_shown);
  EXPECT_EQ(code_page().rows[(size_t)current].line.address, 0x7c00u);
  EXPECT_EQ(row(current - 1), "||00007BFE|0000:00007BFE|0000|add byte ptr ds:[bx+si], al|");
  code_page_starting();
  EXPECT_EQ(row_count(list()), 0) << "a new debugger empties the listing";
}

TEST_F(CodePageTest, BreakpointsFromTheListing) {
  build_window();
  start_bochs();
  show_page("Code");
  ASSERT_TRUE(pump_until([] { return gdk_window_is_viewable(main_window().window->window); }));
  new_commands();

  // The button, on the selected row.
  select(0x7c13);
  click(code_page().toggle_button);
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7C13", "info break", "info break"}))
      << "set, the listing's marks read, the Breakpoints page's list read";
  int r = row_of(0x7c13);
  EXPECT_EQ(cell(list(), r, 0), "\u25cf");
  EXPECT_TRUE(code_page().rows[(size_t)r].breakpoint);
  EXPECT_EQ(code_page().selected_row, r) << "the row stays selected";
  ASSERT_EQ(row_count(breakpoints_page().w.list), 1);
  EXPECT_EQ(cell(breakpoints_page().w.list, 0, 2), "00007C13");

  // Again: deleted.
  click(code_page().toggle_button);
  EXPECT_EQ(new_commands(), (Lines{"d 1", "info break", "info break"}));
  EXPECT_EQ(cell(list(), r, 0), "");
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);

  // A double-click on a row.
  int other = row_of(0x7c16);
  double_click(other);
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7C16", "info break", "info break"}));
  EXPECT_EQ(cell(list(), other, 0), "\u25cf");
  double_click(other);
  EXPECT_EQ(new_commands(), (Lines{"d 2", "info break", "info break"}));

  // F9 on the selected row.
  select(0x7c18);
  ASSERT_TRUE(simulate_key(main_window().window->window, GDK_F9));
  ASSERT_TRUE(pump_until([&] { return transcript().size() > seen; }));
  pump_for(100);
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7C18", "info break", "info break"}));

  // A breakpoint set on another page is marked once the page is shown again.
  show_page("Breakpoints");
  click(breakpoints_page().w.kind_group->buttons[1].button);
  type_into(breakpoints_page().w.entry, "7c1b");
  click(breakpoints_page().w.add_button);
  show_page("Code");
  EXPECT_EQ(cell(list(), row_of(0x7c1b), 0), "\u25cf") << "a linear breakpoint";
  EXPECT_EQ(cell(list(), row_of(0x7c18), 0), "\u25cf");

  // And the breakpoint stops the target where the listing shows it.
  run_go();
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  settle();
  EXPECT_EQ(current_location().physical_address, 0x7c18u);
  EXPECT_EQ(cell(list(), current_row(), 0), "\u25cf");
  EXPECT_EQ(cell(list(), current_row(), 1), "\u25b6");
}

TEST_F(CodePageTest, NextsOwnBreakpointIsNeverMarked) {
  build_window();
  start_bochs();
  show_page("Code");
  while (current_location().physical_address != 0x7c0d) run_step();  // call clear
  settle();
  new_commands();
  click(control_bar().next_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  settle();
  EXPECT_EQ(current_location().physical_address, 0x7c10u);
  Lines sent = new_commands();
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 5), (Lines{"pb 0x7C10", "c", "dump_cpu", "d 1", "u /64 0x7BE0"}))
      << "the listing is read once Next has deleted its breakpoint";
  EXPECT_EQ(cell(list(), current_row(), 0), "");
  EXPECT_EQ(cell(list(), current_row(), 1), "\u25b6");
}

TEST_F(CodePageTest, RunToHereDeletesItsBreakpointAtTheStop) {
  build_window();
  start_bochs();
  show_page("Code");
  // A breakpoint of the user's, and one deleted, so that the temporary
  // one's number is not the first.
  std::string reply;
  exchange(&reply, "pb 0x7c50\n");
  exchange(&reply, "pb 0x7c51\n");
  exchange(&reply, "d 1\n");
  click(code_page().current_button);
  new_commands();
  EXPECT_TRUE(run_to_here_possible()) << "the current row is selected";
  select(0x7c10);
  EXPECT_TRUE(run_to_here_possible());
  EXPECT_TRUE(sensitive(code_page().run_to_button));
  click(code_page().run_to_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  settle();
  EXPECT_EQ(current_location().physical_address, 0x7c10u);
  Lines sent = new_commands();
  ASSERT_GE(sent.size(), 6u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 6), (Lines{"pb 0x7C10", "info break", "c", "dump_cpu", "d 3", "u /64 0x7BE0"}));
  EXPECT_EQ(sent.back(), "info break");
  EXPECT_FALSE(code_page().run_to_pending);
  exchange(&reply, "info break\n");
  EXPECT_EQ(reply.find("0x00007c10"), std::string::npos) << reply;
  EXPECT_NE(reply.find("0x00007c51"), std::string::npos) << "the user's breakpoint stays";
  EXPECT_FALSE(history_has("Stopped on a breakpoint")) << "the page's own breakpoint is not the user's";
  EXPECT_EQ(history_texts().back(), current_location().text);
}

TEST_F(CodePageTest, TheRunMenuRunsToTheSelectedRow) {
  build_window();
  GtkWidget *item = gtk_ui_manager_get_widget(main_window().menus.ui, "/MenuBar/RunMenu/PageItems/RunToHere");
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(sensitive(item)) << "offline";
  start_bochs();
  show_page("Code");
  settle();
  select(0x7c13);
  EXPECT_TRUE(sensitive(item));
  new_commands();
  gtk_menu_item_activate(GTK_MENU_ITEM(item));
  EXPECT_FALSE(sensitive(item)) << "while the target runs";
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(current_location().physical_address, 0x7c13u);
  Lines sent = new_commands();
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 5), (Lines{"pb 0x7C13", "info break", "c", "dump_cpu", "d 1"}));
}

TEST_F(CodePageTest, RunToHereEndsWhateverStopsTheTarget) {
  build_window();
  start_bochs();
  show_page("Code");
  new_commands();
  select(0x7c33);  // hlt: jumped over, never reached
  run_to_here();
  ASSERT_TRUE(target_running());
  EXPECT_FALSE(sensitive(code_page().run_to_button));
  pump_for(200);
  run_stop();
  ASSERT_FALSE(target_running());
  settle();
  Lines sent = new_commands();
  ASSERT_GE(sent.size(), 6u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 6), (Lines{"pb 0x7C33", "info break", "c", "#SIGINT", "dump_cpu", "d 1"}));
  std::string reply;
  exchange(&reply, "info break\n");
  EXPECT_EQ(reply.find("0x00007c33"), std::string::npos) << reply;

  // On a row with a breakpoint of the user's: Go alone, and it stays.
  select(0x7c3b);
  click(code_page().toggle_button);
  new_commands();
  select(0x7c3b);
  run_to_here();
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  settle();
  sent = new_commands();
  EXPECT_EQ(sent[0], "c");
  for (const std::string &line : sent) EXPECT_NE(line.substr(0, 2), "d ") << line;
}

TEST_F(CodePageTest, GoToAnAddressOrASymbol) {
  build_window();
  start_bochs();
  show_page("Code");
  new_commands();
  type_into(code_page().entry, "7c3d");
  click(code_page().go_to_button);
  EXPECT_EQ(new_commands(), (Lines{"u /64 0x7C0D", "u /64 0x7C0E", "info break"}));
  int r = row_of(0x7c3d);
  ASSERT_GE(r, 0);
  EXPECT_EQ(code_page().selected_row, r);
  EXPECT_EQ(cell(list(), r, 5), "push bp");
  EXPECT_EQ(current_row(), -1) << "7C00 is not in this listing";

  // Text that is no address: said beside the entry, nothing sent.
  type_into(code_page().entry, "bump");
  activate(code_page().entry);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(code_page().message_label))),
            "\"bump\" is no address: type hexadecimal, such as 7c00 or 0x7c00, or a symbol's name");
  EXPECT_EQ(new_commands(), Lines{});

  // With symbols, a name is an address.
  load_symbols_file((data_dir + "/demo.sym").c_str());
  type_into(code_page().entry, "farsub");
  activate(code_page().entry);
  EXPECT_EQ(code_page().rows[(size_t)code_page().selected_row].line.address, 0x7c5au);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(code_page().message_label))), "");

  // A physical address, paging off: the same as a linear one.
  button_group_select(code_page().kind_group, 1);
  type_into(code_page().entry, "0x7c13");
  click(code_page().go_to_button);
  EXPECT_EQ(code_page().rows[(size_t)code_page().selected_row].line.address, 0x7c13u);

  // Memory that cannot be read.
  button_group_select(code_page().kind_group, 0);
  type_into(code_page().entry, "ffffff");
  click(code_page().go_to_button);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(code_page().message_label))),
            "At 00FFFFFF: Error: reading linear 0x01000000: past the end of memory");

  // Back to the current instruction.
  click(code_page().current_button);
  EXPECT_EQ(code_page().rows[(size_t)current_row()].line.address, 0x7c00u);
}

TEST_F(CodePageTest, SymbolsOfEachFormNameThePlaces) {
  struct Case {
    std::string file;
    size_t count;
  } cases[] = {
      {data_dir + "/demo.sym", 7},
      {symbols_dir + "/demo.nm", 10},
      {symbols_dir + "/demo.elf", 10},
  };
  build_window();
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(control_bar().symbol_entry)) << "no symbols: the bar as it always was";
  start_bochs();
  show_page("Code");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    clear_symbols();
    load_symbols_file(c.file.c_str());
    std::string report = "Loaded " + std::to_string(c.count) + " symbols from " + c.file;
    EXPECT_TRUE(history_has(report));
    EXPECT_NE(printed.find("VUM: " + report + "\n"), std::string::npos);
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(code_page().symbols_label))),
              std::to_string(c.count) + " symbols");
    // The listing's Symbol column, at once.
    EXPECT_EQ(cell(list(), row_of(0x7c00), 6), "start");
    EXPECT_EQ(cell(list(), row_of(0x7c10), 6), "start+0x10");
    EXPECT_EQ(cell(list(), row_of(0x7c13), 6), "count");
    // The bar.
    EXPECT_TRUE(GTK_WIDGET_VISIBLE(control_bar().symbol_entry));
    EXPECT_EQ(entry_text(control_bar().symbol_entry), "start");
  }
  // A stop: the bar and the History's Virtual column name the place.
  click(control_bar().step_button);
  EXPECT_EQ(entry_text(control_bar().symbol_entry), "start+0x1");
  int last = row_count(history_page().list) - 1;
  EXPECT_EQ(cell(history_page().list, last, 1), "0000:00007C01 <start+0x1>");
  EXPECT_EQ(cell(history_page().list, last, 3), "xor ax, ax");
  std::string log = read_file(work_dir + "/__vum.log__");
  EXPECT_NE(log.find("00007C01  0000:00007C01 <start+0x1>  [31c0]  xor ax, ax\n"), std::string::npos) << log;
  // The breakpoint list.
  std::string reply;
  exchange(&reply, "pb 0x7c3d\n");
  exchange(&reply, "vb 0x0000:0x7c13\n");
  exchange(&reply, "lb 0x7c70\n");
  refresh_breakpoints(false);
  EXPECT_EQ(cell(breakpoints_page().w.list, 0, 2), "00007C3D <bump>");
  EXPECT_EQ(cell(breakpoints_page().w.list, 1, 2), "0000:00007C13 <count>");
  EXPECT_EQ(cell(breakpoints_page().w.list, 2, 2), "00007C70") << "beyond the size msg has in the ELF file";
  // A name typed into the Breakpoints page's entry is its address.
  new_commands();
  type_into(breakpoints_page().w.entry, "clear");
  click(breakpoints_page().w.add_button);
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7C4B", "info break"}));
  EXPECT_EQ(cell(breakpoints_page().w.list, 3, 2), "00007C4B <clear>");
}

TEST_F(CodePageTest, SymbolsFromTheConfigurationFileAndTheirErrors) {
  copy_to_work(data_dir + "/demo.sym", "demo.sym");
  std::ofstream(work_dir + "/bad.sym") << "7c00 start\n7c13\n";
  std::ofstream(work_dir + "/.vumrc") << "{symbols demo.sym}\n{symbols bad.sym}\n{symbols missing.sym 10}\n";
  build_window();
  EXPECT_NE(printed.find("VUM: Loaded 7 symbols from demo.sym\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("VUM: bad.sym:2: missing symbol name\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("VUM: missing.sym: No such file or directory\n"), std::string::npos) << printed;
  EXPECT_EQ(history_texts(), (Lines{"Loaded 7 symbols from demo.sym", "bad.sym:2: missing symbol name",
                                    "missing.sym: No such file or directory"}));
  EXPECT_EQ(symbol_count(), 7u);
  EXPECT_TRUE(GTK_WIDGET_VISIBLE(control_bar().symbol_entry));
  start_bochs();
  EXPECT_EQ(entry_text(control_bar().symbol_entry), "start");
}

TEST_F(CodePageTest, ARelativeSymbolFileIsTakenFromTheConfigurationFilesFolder) {
  ASSERT_EQ(mkdir((work_dir + "/conf").c_str(), 0755), 0);
  copy_to_work(data_dir + "/demo.sym", "conf/boot.sym");
  std::ofstream(work_dir + "/conf/vumrc") << "{symbols boot.sym 10}\n";
  command_line().config = work_dir + "/conf/vumrc";  // as --config gives it
  build_window();
  EXPECT_NE(printed.find("VUM: Loaded 7 symbols from boot.sym\n"), std::string::npos) << printed;
  uint32_t address = 0;
  ASSERT_TRUE(symbol_address("start", &address));
  EXPECT_EQ(address, 0x7c10u) << "with the offset the block gives";
}

TEST_F(CodePageTest, FileLoadSymbolsReachesThePage) {
  std::string file = copy_to_work(data_dir + "/demo.sym", "boot.sym");
  // Where the chooser saves its settings, made beforehand (GTK 2 loses a few
  // bytes when it has to make it, which the leak check would count).
  ASSERT_EQ(g_mkdir_with_parents((work_dir + "/config/gtk-2.0").c_str(), 0700), 0);
  build_window();
  GtkWidget *item = gtk_ui_manager_get_widget(main_window().menus.ui, "/MenuBar/FileMenu/LoadSymbols");
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(sensitive(item)) << "symbols can be loaded before any debugger runs";
  gtk_menu_item_activate(GTK_MENU_ITEM(item));
  ASSERT_NE(main_window().symbols_chooser, nullptr);
  GtkFileChooser *chooser = GTK_FILE_CHOOSER(main_window().symbols_chooser);
  gtk_file_chooser_set_filename(chooser, file.c_str());
  ASSERT_TRUE(pump_until([&] {
    gchar *chosen = gtk_file_chooser_get_filename(chooser);
    bool ok = chosen != NULL && file == chosen;
    g_free(chosen);
    return ok;
  }));
  gtk_dialog_response(GTK_DIALOG(main_window().symbols_chooser), GTK_RESPONSE_ACCEPT);
  EXPECT_TRUE(history_has("Loaded 7 symbols from " + file));
  EXPECT_EQ(symbol_count(), 7u);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(code_page().symbols_label))), "7 symbols");
  EXPECT_TRUE(GTK_WIDGET_VISIBLE(control_bar().symbol_entry));
}

TEST_F(CodePageTest, StatusLineShowsTheModeAndTicks) {
  build_window();
  EXPECT_EQ(status(), "") << "offline";
  start_bochs();
  EXPECT_EQ(status(), "Real mode, paging off    t=1");
  click(control_bar().step_button);
  EXPECT_EQ(status(), "Real mode, paging off    t=2");
  run_go();
  EXPECT_EQ(status(), "Running");
  pump_for(100);
  run_stop();
  EXPECT_EQ(status().substr(0, 25), "Real mode, paging off    ");
  click(main_window().start_button);  // Kill
  EXPECT_EQ(status(), "");
}

TEST_F(CodePageTest, ProtectedModeWithPaging) {
  setenv("VUM_SIM_GUEST", "paging", 1);
  build_window();
  start_bochs();
  run_to(0x7cc0);  // paged: the first instruction with paging on
  EXPECT_EQ(status(), "Protected mode, 32-bit, paging on    t=6194");
  show_page("Code");
  int current = current_row();
  ASSERT_GE(current, 8);
  EXPECT_EQ(cell(list(), current, 2), "00007CC0");
  EXPECT_EQ(cell(list(), current, 3), "0008:00007CC0");
  // The rows before are the guest's own instructions, as read from its
  // label "protected" (7C30).
  std::vector<DisasmLine> known = truth(0x7c30, 64);
  size_t k = 0;
  while (k < known.size() && known[k].address != code_page().rows[0].line.address) k++;
  ASSERT_LT(k + (size_t)current, known.size());
  for (int r = 0; r <= current; r++) EXPECT_EQ(code_page().rows[(size_t)r].line.address, known[k + (size_t)r].address);

  // A physical address is refused with paging on: the listing is linear.
  button_group_select(code_page().kind_group, 1);
  type_into(code_page().entry, "7c00");
  new_commands();
  click(code_page().go_to_button);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(code_page().message_label))),
            "Paging is on: the listing reads linear addresses, so type a linear one");
  EXPECT_EQ(new_commands(), Lines{});

  // The 16-bit interrupt gate's handler.
  run_to(0x7d28);
  settle();
  EXPECT_EQ(status().substr(0, 39), "Protected mode, 16-bit, paging on    t=");
  EXPECT_EQ(cell(list(), current_row(), 3), "0020:00007D28");
}

// ---------------------------------------------------------------------------
// Dialogues no simulated PC gives.

namespace {

class CodePageScriptTest : public ScriptedDebuggerTest {
 protected:
  // A stop at 0000:7C00 and an empty register dump (real mode, CS 0).
  void stop_at_7c00() {
    replies("Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli ; fa\n" + prompt() + prompt());
    click(control_bar().step_button);
  }
  std::string info_break(const std::vector<std::string> &entries) {
    std::string text = "Num Type           Disp Enb Address\n";
    for (const std::string &e : entries) text += e + "\n";
    return text + prompt();
  }
};

}  // namespace

TEST_F(CodePageScriptTest, MemoryBelowThatCannotBeReadAndADebuggerThatWillNotSetTheBreakpoint) {
  online();
  stop_at_7c00();
  size_t before = sent().size();
  replies("Error: reading linear 0x00007bd0: page not present\n" + prompt() +
          "00007c00: (                    ): cli                      ; fa\n"
          "00007c01: (                    ): xor ax, ax               ; 31c0\n" + prompt() + info_break({}));
  show_page("Code");
  EXPECT_EQ(sent_since(before), (Lines{"u /64 0x7BD0", "u /25 0x7C00", "info break"}))
      << "nothing below the page that could not be read is tried";
  EXPECT_EQ(unread(), "");
  ASSERT_EQ(row_count(code_page().list), 2);
  EXPECT_EQ(cell(code_page().list, 0, 5), "cli");
  EXPECT_EQ(cell(code_page().list, 0, 1), "\u25b6");

  // Run to Here where the debugger sets nothing: said, and no Go.
  gtk_clist_select_row(GTK_CLIST(code_page().list), 1, 0);
  before = sent().size();
  replies("Error: too many breakpoints\n" + prompt() + info_break({}));
  run_to_here();
  EXPECT_EQ(sent_since(before), (Lines{"pb 0x7C01", "info break"}));
  EXPECT_FALSE(target_running());
  EXPECT_TRUE(history_has("Run to Here: the debugger did not set a breakpoint at 0x7C01"));
  EXPECT_EQ(unread(), "");
}

TEST_F(CodePageScriptTest, BreakpointsOfEachKindAreMarkedWhereTheyStop) {
  online();
  stop_at_7c00();
  size_t before = sent().size();
  replies("Error: reading linear 0x00007bd0: page not present\n" + prompt() +
          "00007c00: (                    ): cli                      ; fa\n"
          "00007c01: (                    ): xor ax, ax               ; 31c0\n"
          "00007c03: (                    ): mov ds, ax               ; 8ed8\n"
          "00007c05: (                    ): mov es, ax               ; 8ec0\n" + prompt() +
          info_break({"  4 pbreakpoint    keep y   0x00007c01", "  5 lbreakpoint    keep y   0x00007c03",
                      "  6 vbreakpoint    keep y   0x07c0:0x00000005", "  7 vbreakpoint    keep y   0x0000:0x00007c00",
                      "  8 pbreakpoint    keep n   0x00007c00"}));
  show_page("Code");
  EXPECT_EQ(unread(), "");
  Lines marks;
  for (int r = 0; r < 4; r++) marks.push_back(cell(code_page().list, r, 0));
  EXPECT_EQ(marks, (Lines{"\u25cf", "\u25cf", "\u25cf", "\u25cf"}));
  // Toggling deletes the one there, by its number; the Breakpoints page
  // reads its list again.
  replies(prompt() + info_break({}) + info_break({}));
  size_t at = sent().size();
  toggle_breakpoint_at(2);
  EXPECT_EQ(sent_since(at), (Lines{"d 5", "info break", "info break"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(sent_since(before).front(), "u /64 0x7BD0");
}
