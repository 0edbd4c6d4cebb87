// The real window with a scripted debugger in place of a child: its replies
// come, in order, from a text the test gives, and every command line VUM
// sends is kept. Lets the point pages be driven through exact dialogues
// (long lists, debuggers that refuse a delete) that no real child gives.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "support/text_reader.hpp"
#include "link/link_state.hpp"

class ScriptedDebuggerTest : public GuiTest {
 protected:
  // Builds the window and brings the link up over the script's streams.
  void online() {
    build_window();
    link_seam().command_stream = open_memstream(&sent_text, &sent_size);
    link_seam().debugger_offline = false;
    set_debugger_controls_sensitive(true);
  }

  // The replies the debugger gives from now on, in order; replaces any
  // script not yet read.
  void replies(const std::string &text) {
    read_from_text(link_seam().reply_stream, text);
  }

  // Every command line sent so far, without its newline.
  std::vector<std::string> sent() {
    fflush(link_seam().command_stream);
    std::vector<std::string> lines;
    std::istringstream in(std::string(sent_text, sent_size));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  // The lines sent since the given number of lines.
  std::vector<std::string> sent_since(size_t from) {
    std::vector<std::string> all = sent();
    if (from > all.size()) from = all.size();
    return std::vector<std::string>(all.begin() + (long)from, all.end());
  }

  // What VUM has not read of the script (a dialogue kept in step leaves
  // nothing: the blank after the last prompt goes with it).
  std::string unread() { return rest_of(link_seam().reply_stream); }

  // A prompt with the next number.
  std::string prompt() { return "<bochs:" + std::to_string(++prompts) + "> "; }

  void TearDown() override {
    link_seam().debugger_offline = true;
    link_seam().reply_stream.close();
    if (link_seam().command_stream) fclose(link_seam().command_stream);
    link_seam().command_stream = NULL;
    free(sent_text);
    GuiTest::TearDown();
  }

 private:
  char *sent_text = NULL;
  size_t sent_size = 0;
  unsigned prompts = 0;
};
