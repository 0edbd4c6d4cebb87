#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"

// Runs wait_for_prompt over `reply` and returns what is left unread.
static std::string after_prompt(const std::string &reply, uint32_t *number) {
  std::string copy = reply;
  FILE *f = fmemopen(&copy[0], copy.size(), "r");
  reply_stream = f;
  debugger_offline = 0;
  prompt_number = 77;
  wait_for_prompt();
  *number = prompt_number;
  std::string rest;
  int c;
  while ((c = fgetc(f)) != EOF) rest += (char)c;
  fclose(f);
  reply_stream = NULL;
  return rest;
}

TEST(WaitForPrompt, ConsumesThroughThePromptAndLeavesTheNextCharacter) {
  struct Case {
    std::string reply;
    uint32_t number;  // 77: unchanged
    std::string rest;
  } cases[] = {
      {"Next at t=1\n<bochs:12> ", 12, " "},
      {"text < more <bochs:3> x", 77, " more <bochs:3> x"},  // the first '<' ends the wait
      {"\xff\xff<bochs:4> ", 4, " "},                        // 0xFF is ordinary data
      {"<bochs: 5>", 5, ""},                                 // blanks before the number
      {"<bochs:x>", 77, "x>"},                               // the differing character stays
      {"no prompt at all", 77, ""},                          // end of stream
      {"<bochs:9", 9, ""},                                   // end of stream inside the prompt
  };
  for (const Case &c : cases) {
    uint32_t n;
    EXPECT_EQ(after_prompt(c.reply, &n), c.rest) << c.reply;
    EXPECT_EQ(n, c.number) << c.reply;
  }
}

TEST(WaitForPrompt, ReadsNothingWhileOffline) {
  char text[] = "abc<bochs:1> ";
  FILE *f = fmemopen(text, strlen(text), "r");
  reply_stream = f;
  debugger_offline = 1;
  wait_for_prompt();
  EXPECT_EQ(fgetc(f), 'a');
  fclose(f);
  reply_stream = NULL;
}

static std::string sent_by(void (*send)()) {
  char *buf = NULL;
  size_t size = 0;
  FILE *f = open_memstream(&buf, &size);
  command_stream = f;
  send();
  command_stream = NULL;
  fclose(f);
  std::string out(buf, size);
  free(buf);
  return out;
}

TEST(SendCommand, SendsExactlyOneLine) {
  EXPECT_EQ(sent_by([] { send_command("s\n"); }), "s\n");
  EXPECT_EQ(sent_by([] { send_command("pb 0x%X\n", 0x1f3a5u); }), "pb 0x1F3A5\n");
  EXPECT_EQ(sent_by([] { send_command("pb %s\n", ""); }), "pb \n");
  // Text with a line break or another control character cannot carry a
  // second command: nothing past the first control character is sent.
  EXPECT_EQ(sent_by([] { send_command("pb %s\n", "0x500\nq"); }), "pb 0x500\n");
  EXPECT_EQ(sent_by([] { send_command("vb %s\n", "8:10\r\nc"); }), "vb 8:10\n");
  EXPECT_EQ(sent_by([] { send_command("watch read %s\n", "0x600\tx"); }), "watch read 0x600\n");
  EXPECT_EQ(sent_by([] { send_command("lb %s\n", "\x7f" "c"); }), "lb \n");
  // Bytes of 0x80 and above are ordinary text.
  EXPECT_EQ(sent_by([] { send_command("lb %s\n", "\xc3\xa9"); }), "lb \xc3\xa9\n");
}

TEST(SendCommand, NothingWithoutAStream) {
  command_stream = NULL;
  send_command("s\n");  // must not crash
  SUCCEED();
}

TEST(ResourceFiles, ReadInOrderAndOnlyTheSharedOneWithoutHome) {
  char paths[3][200];
  setenv("HOME", "/home/ann", 1);
  ASSERT_EQ(resource_file_paths(paths), 3);
  EXPECT_STREQ(paths[0], "/home/ann/.gtkrc");
  EXPECT_STREQ(paths[1], "/usr/local/etc/gtkrc-vum");
  EXPECT_STREQ(paths[2], "/home/ann/.gtkrc-vum");

  unsetenv("HOME");
  ASSERT_EQ(resource_file_paths(paths), 1);
  EXPECT_STREQ(paths[0], "/usr/local/etc/gtkrc-vum");

  std::string long_home = "/" + std::string(250, 'h');
  setenv("HOME", long_home.c_str(), 1);
  ASSERT_EQ(resource_file_paths(paths), 3);
  EXPECT_EQ(strlen(paths[0]), 199u);
  EXPECT_EQ(std::string(paths[2]), long_home.substr(0, 199));
}
