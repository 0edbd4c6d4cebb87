// The reply reader on its own: over fixed texts, and over a pipe whose
// writer sends the bytes in pieces, slowly, or not at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/reply_reader.hpp"
#include "support/text_reader.hpp"

namespace {

// A pipe whose write end a thread feeds with the given pieces, pausing
// between them, then closes (unless told to keep it open until released).
class SlowWriter {
 public:
  SlowWriter(ReplyReader &reader, std::vector<std::string> pieces, int pause_ms, bool keep_open = false)
      : keep_open_(keep_open) {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    reader.attach(fds[0]);
    write_fd_ = fds[1];
    thread_ = std::thread([this, pieces, pause_ms] {
      for (const std::string &p : pieces) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        ssize_t n = write(write_fd_, p.data(), p.size());
        (void)n;
      }
      if (!keep_open_) close_write();
    });
  }
  ~SlowWriter() {
    if (thread_.joinable()) thread_.join();
    close_write();
  }
  // Once every piece is written, writes `last` and closes the pipe: bytes
  // that certainly come after the reader has taken the pieces.
  void then_write(const std::string &last) {
    thread_.join();
    ssize_t n = write(write_fd_, last.data(), last.size());
    EXPECT_EQ(n, (ssize_t)last.size());
    close_write();
  }
  void close_write() {
    if (write_fd_ >= 0) close(write_fd_);
    write_fd_ = -1;
  }

 private:
  bool keep_open_;
  int write_fd_ = -1;
  std::thread thread_;
};

std::vector<std::string> bytes_of(const std::string &text) {
  std::vector<std::string> out;
  for (char c : text) out.push_back(std::string(1, c));
  return out;
}

ReplyReader::End last_end = ReplyReader::End::none;
int end_calls = 0;
void note_end(ReplyReader::End why) {
  last_end = why;
  end_calls++;
}

}  // namespace

TEST(ReadReply, OnlyThePromptEndsAReplyAndItsBlankGoesWithIt) {
  struct Case {
    const char *what;
    std::string stream;
    bool prompt;       // a prompt ended the reply
    std::string text;  // the reply's text
    uint32_t number;   // 77: unchanged
    std::string rest;  // what a later read finds
  } cases[] = {
      {"a reply", "Next at t=1\n<bochs:12> x", true, "Next at t=1\n", 12, "x"},
      {"the prompt alone", "<bochs:12> ", true, "", 12, ""},
      {"a dump label", " 0x00007c00 <bogus+0>:\t0x8ec031fa\n<bochs:5> x", true,
       " 0x00007c00 <bogus+0>:\t0x8ec031fa\n", 5, "x"},
      {"a line that begins with '<'", "<nonsense\n0x20 y\n<bochs:2> ", true, "<nonsense\n0x20 y\n", 2, ""},
      {"an opening that stops short", "<boc<bochs:3>\n", true, "<boc", 3, ""},
      {"an opening that differs late", "<bochs <bochs:4> ", true, "<bochs ", 4, ""},
      {"<< before the prompt", "a<<bochs:9> ", true, "a<", 9, ""},
      {"0xFF is ordinary data", "\xff\xff<bochs:4> ", true, "\xff\xff", 4, ""},
      {"a NUL byte is ordinary data", std::string("a\0b<bochs:6> ", 13), true, std::string("a\0b", 3), 6, ""},
      {"a number that overflows saturates", "<bochs:99999999999999999999> ", true, "", 0xFFFFFFFF, ""},
      {"a sign is no prompt", "<bochs:+7> <bochs:8> ", true, "<bochs:+7> ", 8, ""},
      {"blanks before the number are no prompt", "<bochs: 5> <bochs:6> ", true, "<bochs: 5> ", 6, ""},
      {"no digits", "x <bochs:>y", false, "x <bochs:>y", 77, ""},
      {"no '>' after the number", "<bochs:8 z", false, "<bochs:8 z", 77, ""},
      {"the replies end", "0x1 <bogus+0>:\t0x2\n", false, "0x1 <bogus+0>:\t0x2\n", 77, ""},
      {"the replies end inside the opening", "x <boch", false, "x <boch", 77, ""},
      {"the replies end after the opening", "x <bochs:", false, "x <bochs:", 77, ""},
      {"the replies end inside the number", "<bochs:9", false, "<bochs:9", 77, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TextStream s(c.stream);
    std::string text = "stale";
    uint32_t number = 77;
    EXPECT_EQ(s.reader.read_reply(&text, &number), c.prompt);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(number, c.number);
    EXPECT_EQ(s.rest(), c.rest);
  }
}

TEST(ReadReply, TheBlankAfterAPromptThatComesLaterIsTakenByTheNextRead) {
  ReplyReader r;
  // The second piece comes well after the first: the first reply ends
  // before its prompt's blank has come (on a machine busy enough to read
  // both at once, the blank goes with the first reply: the same end).
  SlowWriter w(r, {"one\n<bochs:1>", " two\n<bochs:2> "}, 150);
  std::string text;
  uint32_t number = 0;
  ASSERT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, "one\n");
  ASSERT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, "two\n") << "the blank went with the first prompt";
  EXPECT_EQ(number, 2u);
}

TEST(ReplyReader, ALineAndAPromptSplitAcrossReads) {
  ReplyReader r;
  SlowWriter w(r, {"Next at", " t=1\n(0) [0x0", "0007c00] 0000:7c00 nop ; 90\n<bo", "chs:", "3> "}, 20);
  char line[200];
  ASSERT_TRUE(r.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "Next at t=1\n");
  ASSERT_TRUE(r.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "(0) [0x00007c00] 0000:7c00 nop ; 90\n");
  std::string text;
  uint32_t number = 0;
  ASSERT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, "");
  EXPECT_EQ(number, 3u);
  EXPECT_EQ(r.get(), -1);
  EXPECT_EQ(r.end(), ReplyReader::End::end_of_file);
}

TEST(ReplyReader, AReplyThatArrivesOneByteAtATime) {
  ReplyReader r;
  const std::string reply = "Num Type\n  1 pbreakpoint keep y 0x500\n<bochs:8>";
  SlowWriter w(r, bytes_of(reply), 1, true);
  std::string text;
  uint32_t number = 0;
  EXPECT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, "Num Type\n  1 pbreakpoint keep y 0x500\n");
  EXPECT_EQ(number, 8u);
  // The blank comes after the prompt has been read: it is still to be read
  // (a reply or line read would take it first).
  w.then_write(" ");
  EXPECT_EQ(rest_of(r), " ");
}

TEST(ReplyReader, EndOfStreamInTheMiddleOfALine) {
  TextStream s("whole\nhalf a li");
  end_calls = 0;
  s.reader.set_end_handler(note_end);
  char line[200];
  ASSERT_TRUE(s.reader.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "whole\n");
  strcpy(line, "stale");
  EXPECT_FALSE(s.reader.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "") << "nothing half-received is left behind";
  EXPECT_EQ(s.reader.end(), ReplyReader::End::end_of_file);
  EXPECT_EQ(end_calls, 1);
  // Further reads end at once and do not report the end again.
  EXPECT_EQ(s.reader.get(), -1);
  EXPECT_FALSE(s.reader.read_line(line, sizeof line, true));
  std::string text = "x";
  uint32_t number = 0;
  EXPECT_FALSE(s.reader.read_reply(&text, &number));
  EXPECT_EQ(text, "");
  EXPECT_EQ(end_calls, 1);
  EXPECT_EQ(last_end, ReplyReader::End::end_of_file);
}

TEST(ReplyReader, NulAndOtherBinaryBytesAreOrdinaryData) {
  const std::string reply("a\0b\xff\x01\n\xfe<bochs:1> ", 17);
  TextStream s(reply);
  EXPECT_EQ(s.reader.get(), 'a');
  EXPECT_EQ(s.reader.get(), 0);
  EXPECT_EQ(s.reader.peek(), 'b');
  EXPECT_EQ(s.reader.get(), 'b');
  EXPECT_EQ(s.reader.get(), 0xff) << "0xFF is a byte, not the end";
  s.reader.unget(0xff);
  std::string text;
  uint32_t number = 0;
  EXPECT_TRUE(s.reader.read_reply(&text, &number));
  EXPECT_EQ(text, std::string("\xff\x01\n\xfe", 4));
  EXPECT_EQ(number, 1u);
}

TEST(ReplyReader, AMegabyteWithoutANewlineKeepsMemoryBoundedAndTheLinesAfterItParse) {
  const std::string run(1 << 20, 'x');
  const std::string reply = run + "\nafter\n<bochs:2> " + run + "\nlast line\n<bochs:3> ";
  ReplyReader r;
  SlowWriter w(r, {reply.substr(0, 300000), reply.substr(300000, 1000000), reply.substr(1300000)}, 5);

  // Read as lines of 200 bytes: the run comes in 199-byte pieces, then the
  // line after it is whole.
  char line[200];
  size_t pieces = 0, total = 0;
  for (;;) {
    ASSERT_TRUE(r.read_line(line, sizeof line, true));
    size_t n = strlen(line);
    total += n;
    pieces++;
    if (line[n - 1] == '\n') break;
  }
  EXPECT_EQ(total, run.size() + 1);
  EXPECT_EQ(pieces, (run.size() + 1 + 198) / 199);
  ASSERT_TRUE(r.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "after\n");
  std::string text;
  uint32_t number = 0;
  ASSERT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, "");
  EXPECT_EQ(number, 2u);

  // Read as a whole reply: the long line keeps its first 4096 bytes and its
  // newline, the rest of it is dropped, and the line after it is whole.
  EXPECT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, std::string(4096, 'x') + "\nlast line\n");
  EXPECT_EQ(number, 3u);
}

TEST(ReplyReader, AWholeReplyKeepsAtMostItsTotalLimit) {
  std::string reply;
  for (int i = 0; i < 100; i++) reply += "0123456789\n";
  TextStream s(reply + "<bochs:1> x");
  std::string text;
  uint32_t number = 0;
  EXPECT_TRUE(s.reader.read_reply(&text, &number, 4096, 25));
  EXPECT_EQ(text, "0123456789\n0123456789\n012");
  EXPECT_EQ(s.rest(), "x") << "the dropped text is consumed all the same";
}

TEST(ReplyReader, APromptSplitAcrossReadsEndsTheTextAndOtherAngleBracketsStayText) {
  ReplyReader r;
  SlowWriter w(r, {" 0x00007000 <bo", "gus+0>:\t0x1234\n<", "b", "ochs", ":5> "}, 15);
  std::string text;
  uint32_t number = 0;
  EXPECT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, " 0x00007000 <bogus+0>:\t0x1234\n");
  EXPECT_EQ(number, 5u);
  EXPECT_EQ(rest_of(r), "");
}

TEST(ReplyReader, TellsWhetherAByteOrAWholeLineIsBuffered) {
  ReplyReader r;
  EXPECT_FALSE(r.buffered());
  EXPECT_FALSE(r.line_buffered());
  TextStream s("one\ntwo");
  EXPECT_FALSE(s.reader.buffered()) << "nothing has been read from the descriptor yet";
  EXPECT_EQ(s.reader.get(), 'o');  // the read takes everything the descriptor has
  EXPECT_TRUE(s.reader.buffered());
  EXPECT_TRUE(s.reader.line_buffered());
  char line[200];
  ASSERT_TRUE(s.reader.read_line(line, sizeof line, false));
  EXPECT_STREQ(line, "ne\n");
  EXPECT_TRUE(s.reader.buffered());
  EXPECT_FALSE(s.reader.line_buffered()) << "\"two\" has no newline yet";
}

TEST(ReplyReader, LineReadsStopBeforeAPromptOnlyWhenAsked) {
  TextStream s("ab<cd\nef<gh\n");
  char line[200];
  ASSERT_TRUE(s.reader.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "ab");
  EXPECT_EQ(s.reader.get(), '<');
  ASSERT_TRUE(s.reader.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "cd\n");
  ASSERT_TRUE(s.reader.read_line(line, sizeof line, false));
  EXPECT_STREQ(line, "ef<gh\n");
}

TEST(ReplyReader, SilenceLongerThanTheDeadlineEndsTheReplies) {
  ReplyReader r;
  end_calls = 0;
  r.set_end_handler(note_end);
  r.set_deadline(100);
  SlowWriter w(r, {"Next at t=1\n"}, 0, /*keep_open=*/true);
  char line[200];
  ASSERT_TRUE(r.read_line(line, sizeof line, true));
  EXPECT_STREQ(line, "Next at t=1\n");
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(r.read_line(line, sizeof line, true)) << "the writer went silent";
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(r.end(), ReplyReader::End::silence);
  EXPECT_EQ(end_calls, 1);
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_EQ(r.get(), -1) << "a reader that gave up stays ended";
  w.close_write();
}

TEST(ReplyReader, TheDeadlineCountsSilenceNotTheWholeReply) {
  // Ten pieces 40 ms apart take 400 ms in all, four times the deadline; no
  // single gap reaches it.
  ReplyReader r;
  r.set_deadline(100);
  std::vector<std::string> pieces(10, "ab");
  pieces.push_back("\n<bochs:1> ");
  SlowWriter w(r, pieces, 40);
  std::string text;
  uint32_t number = 0;
  EXPECT_TRUE(r.read_reply(&text, &number));
  EXPECT_EQ(text, "abababababababababab\n");
  EXPECT_EQ(r.end(), ReplyReader::End::none);
}

TEST(ReplyReader, CloseForgetsTheEndAndTheBufferedBytes) {
  TextStream s("abc");
  EXPECT_EQ(s.reader.get(), 'a');
  s.reader.close();
  EXPECT_FALSE(s.reader.is_open());
  EXPECT_FALSE(s.reader.buffered());
  EXPECT_EQ(s.reader.get(), -1);
  EXPECT_EQ(s.reader.end(), ReplyReader::End::none) << "a closed reader has not ended: it has no descriptor";
}
