// The link's dialogue helpers, without a child.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "support/text_reader.hpp"
#include "link/link_state.hpp"

TEST(Exchange, AsksAndReadsNothingWhileOfflineAndReadsThroughThePromptOnline) {
  char *sent = NULL;
  size_t size = 0;
  link_seam().command_stream = open_memstream(&sent, &size);
  read_from_text(link_seam().reply_stream, "abc<bochs:1> next");
  link_seam().debugger_offline = true;
  std::string reply = "old";
  EXPECT_FALSE(exchange(&reply, "s"));
  EXPECT_EQ(reply, "");
  fflush(link_seam().command_stream);
  EXPECT_EQ(std::string(sent, size), "") << "nothing is sent";
  int c = link_seam().reply_stream.get();
  EXPECT_EQ(c, 'a') << "nothing is read";
  link_seam().reply_stream.unget(c);

  link_seam().debugger_offline = false;
  EXPECT_TRUE(exchange(&reply, "s"));
  EXPECT_EQ(reply, "abc");
  fflush(link_seam().command_stream);
  EXPECT_EQ(std::string(sent, size), "s\n");
  EXPECT_EQ(link_seam().prompt_number, 1u);
  EXPECT_EQ(link_seam().reply_stream.get(), 'n') << "the blank after the prompt is the prompt's";
  link_seam().debugger_offline = true;
  link_seam().reply_stream.close();
  fclose(link_seam().command_stream);
  link_seam().command_stream = NULL;
  free(sent);
}

static std::string sent_by(void (*send)()) {
  char *buf = NULL;
  size_t size = 0;
  FILE *f = open_memstream(&buf, &size);
  link_seam().command_stream = f;
  send();
  link_seam().command_stream = NULL;
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
  link_seam().command_stream = NULL;
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
