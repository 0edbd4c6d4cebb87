#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text/reply_scan.hpp"

TEST(SkipField, MovesPastOneFieldAndItsWhiteSpace) {
  struct Case {
    const char *text;
    uint32_t from, to;
  } cases[] = {
      {"mov  ax", 0, 5},    // field and both blanks
      {"abc", 0, 3},        // stops on the terminating NUL
      {"abc", 3, 3},        // at the NUL nothing changes
      {"  ax", 0, 2},       // on white space only the white space goes
      {"a\t\n\v\f\rb", 0, 6},  // all six kinds of white space
      {"\x80\xff x", 0, 3}, // high bytes are ordinary characters
  };
  for (const Case &c : cases) {
    uint32_t p = c.from;
    skip_field(c.text, &p);
    EXPECT_EQ(p, c.to) << "'" << c.text << "' from " << c.from;
  }
}

TEST(NextToken, CutsTheWordOutInPlace) {
  struct Case {
    const char *text;
    const char *token;
    int32_t length;
    uint32_t position;
    const char *buffer_after;  // the buffer with NULs shown as '|'
  } cases[] = {
      {"  call 0x10", "call", 4, 7, "  call|0x10"},
      {"int", "int", 3, 3, "int"},
      {"   ", "", 0, 3, "   "},
      {"", "", 0, 0, ""},
      {"a\xc3\xa9 b", "a\xc3\xa9", 3, 4, "a\xc3\xa9|b"},
  };
  for (const Case &c : cases) {
    char buf[64];
    size_t n = strlen(c.text);
    memcpy(buf, c.text, n + 1);
    uint32_t p = 0;
    char *token = nullptr;
    EXPECT_EQ(next_token(buf, &p, &token), c.length) << c.text;
    EXPECT_STREQ(token, c.token) << c.text;
    EXPECT_EQ(p, c.position) << c.text;
    std::string shown(buf, n);
    for (char &ch : shown)
      if (ch == '\0') ch = '|';
    EXPECT_EQ(shown, c.buffer_after);
  }
}

TEST(NextToken, SuccessiveCallsWalkTheWords) {
  char buf[] = "rep: movsb  x";
  uint32_t p = 0;
  char *t;
  ASSERT_EQ(next_token(buf, &p, &t), 4);
  EXPECT_STREQ(t, "rep:");
  ASSERT_EQ(next_token(buf, &p, &t), 5);
  EXPECT_STREQ(t, "movsb");
  EXPECT_EQ(p, 11u);  // just past the one blank that ended the word
  ASSERT_EQ(next_token(buf, &p, &t), 1);
  ASSERT_EQ(next_token(buf, &p, &t), 0);
  EXPECT_EQ(*t, '\0');
}

TEST(SameWord, FoldsOnlyAsciiLetters) {
  struct Case {
    const char *a, *b;
    bool same;
  } cases[] = {
      {"CALL", "call", true},  {"callf", "call", false}, {"call", "callf", false},
      {"", "", true},          {"", "a", false},         {"[", "{", false},
      {"^", "~", false},       {"\xc9", "\xe9", false},  {"Rep:", "rEP:", true},
      {"\xc9t\xe9", "\xc9T\xe9", true},
  };
  for (const Case &c : cases) EXPECT_EQ(same_word(c.a, c.b), c.same) << c.a << " / " << c.b;
}

TEST(TrimTrailingSpace, KeepsTheFirstByte) {
  struct Case {
    const char *in, *out;
  } cases[] = {
      {"nop   ", "nop"}, {"", ""}, {" ", " "}, {"   ", " "},
      {"a\t\r\n", "a"},  {"x\x80 ", "x\x80"}, {"mov ax, 1", "mov ax, 1"},
  };
  for (const Case &c : cases) {
    char buf[32];
    strcpy(buf, c.in);
    trim_trailing_space(buf);
    EXPECT_STREQ(buf, c.out) << "'" << c.in << "'";
  }
}

TEST(CopyUntil, StopsAtDelimiterEndOr127Bytes) {
  char dest[128];
  memset(dest, 'Z', sizeof dest);
  copy_until(";abc", dest, ';');
  EXPECT_STREQ(dest, "");

  copy_until("add bx, 0x10   ; 83c310", dest, ';');
  EXPECT_STREQ(dest, "add bx, 0x10   ");

  copy_until("short", dest, ';');
  EXPECT_STREQ(dest, "short");

  std::string long_source(300, 'x');
  memset(dest, 'Z', sizeof dest);
  copy_until(long_source.c_str(), dest, ';');
  EXPECT_EQ(strlen(dest), 127u);
  EXPECT_EQ(dest[127], '\0');

  copy_until("83c310\n", dest, '\n');
  EXPECT_STREQ(dest, "83c310");
}

// scan_hex must read exactly what sscanf's "%x" reads: compared with the C
// library over fixed edge cases and many generated texts.
static void expect_like_scanf(const std::string &text) {
  unsigned int want = 0xDEADBEEF;
  int want_n = -1;
  int r = sscanf(text.c_str(), "%x%n", &want, &want_n);
  uint32_t got = 0xDEADBEEF;
  int got_n = -1;
  bool ok = scan_hex(text.c_str(), &got, &got_n);
  ASSERT_EQ(ok, r == 1) << "'" << text << "'";
  if (ok) {
    EXPECT_EQ(got, want) << "'" << text << "'";
    EXPECT_EQ(got_n, want_n) << "'" << text << "'";
  }
}

TEST(ScanHex, ReadsWhatScanfReads) {
  const char *cases[] = {"0xg",  "0x",  "0",   "-1f", " +a",   "x1",   "0X1F;",  "  ",
                         "",     "-",   "-0x", "0x-1", "123456789a", "ffffffffffffffffffff",
                         "-ffffffff1", "7c00]", "\t\n 83c310", "0x0x1", "+-1", "1f3a2:03a2"};
  for (const char *c : cases) expect_like_scanf(c);
  const char alphabet[] = "0123456789abcdefABCDEFxX+- \t:;g]";
  uint32_t seed = 12345;
  for (int i = 0; i < 200000; i++) {
    std::string text;
    seed = seed * 1103515245u + 12345u;
    int length = (seed >> 16) % 24;
    for (int k = 0; k < length; k++) {
      seed = seed * 1103515245u + 12345u;
      text += alphabet[(seed >> 16) % (sizeof alphabet - 1)];
    }
    expect_like_scanf(text);
    if (HasFailure()) break;
  }
}

TEST(ScanPattern, StoresWhatSscanfStores) {
  const char *const pattern = " a:%x, b=%u\nc:%x";
  const char *const texts[] = {
      "a:1, b=2\nc:3", "  a:0x1f, b=+7 \n c:ff", "a: 1 , b=2", "a:1,b=2", "a:1, b=-1\nc:0x",
      "a:0xg, b=2", "a:-0x10, b=99999999999\nc:1", "", "   ", "a", "a:", "a:1", "a:1, b=", "b:1",
      "a:1, b=x", "a:+, b=1", "a:\t\n12, b=\v3\nc:\f4", "a:12345678901234567890, b=4294967296\nc:-1",
      "a:1, b=2\nc:3 trailing",
  };
  for (const char *text : texts) {
    uint32_t want[3] = {77, 77, 77}, got[3] = {77, 77, 77};
    int r = sscanf(text, pattern, &want[0], &want[1], &want[2]);
    uint32_t *targets[3] = {&got[0], &got[1], &got[2]};
    EXPECT_EQ(scan_pattern(text, pattern, targets), r) << "'" << text << "'";
    for (int i = 0; i < 3; i++) EXPECT_EQ(got[i], want[i]) << "'" << text << "' value " << i;
  }
}
