// A dump reply read back into bytes: every unit size and format the
// debuggers print, their error lines, and the lines that must stop the
// reading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/dump_bytes.hpp"

namespace {

std::string hex(const std::vector<uint8_t> &bytes) {
  std::string s;
  char t[4];
  for (uint8_t b : bytes) {
    snprintf(t, sizeof t, "%s%.2x", s.empty() ? "" : " ", b);
    s += t;
  }
  return s;
}

}  // namespace

TEST(DumpBytes, UnitsAndFormats) {
  struct Case {
    const char *what;
    std::string text;
    uint32_t address;
    unsigned unit;
    char format;
    const char *bytes;
  } cases[] = {
      {"bytes over two lines",
       "0x00007c00 <bogus+0>:\t0xfa\t0x31\t0xc0\t0x8e\t0xd8\t0x8e\t0xc0\t0x8e\n0x00007c08 <bogus+8>:\t0xd0\n", 0x7c00, 1,
       'x', "fa 31 c0 8e d8 8e c0 8e d0"},
      {"doublewords, little-endian",
       "0x00007d40 <bogus+0>:\t0x00000000\t0x00000000\t0x0000ffff\t0x00cf9a00\n", 0x7d40, 4, 'x',
       "00 00 00 00 00 00 00 00 ff ff 00 00 00 9a cf 00"},
      {"words", "0x00000500 <bogus+0>:\t0x1234\t0xabcd\n", 0x500, 2, 'x', "34 12 cd ab"},
      {"quadwords", "0x00007cd0 <bogus+0>:\t0x1122334455667788\n", 0x7cd0, 8, 'x', "88 77 66 55 44 33 22 11"},
      {"short hex digits", "0x10 <bogus+0>:\t0x1\t0xff\n", 0x10, 2, 'x', "01 00 ff 00"},
      {"signed decimal", "0x00000010 <bogus+0>:\t-1\t127\t-128\t0\n", 0x10, 1, 'd', "ff 7f 80 00"},
      {"signed words", "0x00000010 <bogus+0>:\t-32768\t32767\n", 0x10, 2, 'd', "00 80 ff 7f"},
      {"signed quadword", "0x00000010 <bogus+0>:\t-9223372036854775808\n", 0x10, 8, 'd', "00 00 00 00 00 00 00 80"},
      {"the largest hexadecimal quadword", "0x00000010 <bogus+0>:\t0xffffffffffffffff\n", 0x10, 8, 'x',
       "ff ff ff ff ff ff ff ff"},
      {"the largest unsigned quadword", "0x00000010 <bogus+0>:\t18446744073709551615\n", 0x10, 8, 'u',
       "ff ff ff ff ff ff ff ff"},
      {"unsigned", "0x00000010 <bogus+0>:\t255\t0\n", 0x10, 1, 'u', "ff 00"},
      {"binary", "0x00000010 <bogus+0>:\t10000001\n", 0x10, 1, 't', "81"},
      {"octal", "0x00000010 <bogus+0>:\t0377\t00\n", 0x10, 1, 'o', "ff 00"},
      {"blanks of any kind, and blank lines", "\n0x10  <bogus+0>: \t 0x01 \r\n\n0x11 <bogus+1>:\t0x02\n", 0x10, 1, 'x',
       "01 02"},
      {"the last line without its newline", "0x10 <bogus+0>:\t0x01", 0x10, 1, 'x', "01"},
      {"round the top of the address space",
       "0xfffffffc <bogus+0>:\t0x01\t0x02\t0x03\t0x04\t0x05\t0x06\t0x07\t0x08\n", 0xfffffffc, 1, 'x',
       "01 02 03 04 05 06 07 08"},
      {"a line that wraps to address 0",
       "0xfffffff8 <bogus+0>:\t0x01\t0x02\t0x03\t0x04\t0x05\t0x06\t0x07\t0x08\n0x00000000 <bogus+8>:\t0x09\n",
       0xfffffff8, 1, 'x', "01 02 03 04 05 06 07 08 09"},
      {"nothing: a count of 0", "", 0x10, 1, 'x', ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DumpBytes d;
    scan_dump_bytes(c.text, c.address, c.unit, c.format, &d);
    EXPECT_EQ(d.error, DumpError::none) << d.error_text;
    EXPECT_EQ(d.address, c.address);
    EXPECT_EQ(hex(d.bytes), c.bytes);
  }
}

TEST(DumpBytes, WhatEndsTheReading) {
  struct Case {
    const char *what;
    std::string text;
    unsigned unit;
    char format;
    DumpError error;
    uint32_t fault;
    const char *bytes;
    const char *error_text;
  } cases[] = {
      {"a page not present", "Error: reading linear 0x00801000: page not present\n", 1, 'x',
       DumpError::page_not_present, 0x801000, "", "Error: reading linear 0x00801000: page not present"},
      {"values, then memory missing behind a page (Bochs 2.7 through the bridge)",
       "0x00000010 <bogus+0>:\t0x01\t0x02\nError: reading linear 0x01000000: no memory at physical 0x01000000\n", 1, 'x',
       DumpError::unreadable_page, 0x1000000, "01 02",
       "Error: reading linear 0x01000000: no memory at physical 0x01000000"},
      {"past the end of physical memory",
       "Error: read past the end of memory (0x01000000): 16 bytes at 0x00fffff8\n", 1, 'x', DumpError::past_end, 0, "",
       "Error: read past the end of memory (0x01000000): 16 bytes at 0x00fffff8"},
      {"any other text", "Error: usage: x /NUF ADDR\n", 1, 'x', DumpError::other, 0, "", "Error: usage: x /NUF ADDR"},
      {"a reading error with no address", "Error: reading linear 0xzz: page not present\n", 1, 'x', DumpError::other,
       0, "", "Error: reading linear 0xzz: page not present"},
      {"a line whose address does not follow on", "0x00000010 <bogus+0>:\t0x01\n0x00000019 <bogus+1>:\t0x02\n", 1,
       'x', DumpError::malformed, 0, "01", "a dump line out of place"},
      {"an offset that does not follow on", "0x00000010 <bogus+0>:\t0x01\n0x00000011 <bogus+2>:\t0x02\n", 1, 'x',
       DumpError::malformed, 0, "01", "a dump line out of place"},
      {"a value too wide for its unit", "0x00000010 <bogus+0>:\t0x01\t0x100\n", 1, 'x', DumpError::malformed, 0,
       "01", "a value that does not read"},
      {"a value in another format", "0x00000010 <bogus+0>:\t17\n", 1, 'x', DumpError::malformed, 0, "",
       "a value that does not read"},
      {"a signed value out of range", "0x00000010 <bogus+0>:\t-129\n", 1, 'd', DumpError::malformed, 0, "",
       "a value that does not read"},
      {"a hexadecimal value past 64 bits", "0x00000010 <bogus+0>:\t0x10000000000000000\n", 8, 'x',
       DumpError::malformed, 0, "", "a value that does not read"},
      {"an unsigned value past 64 bits", "0x00000010 <bogus+0>:\t18446744073709551616\n", 8, 'u',
       DumpError::malformed, 0, "", "a value that does not read"},
      {"an octal value without its 0", "0x00000010 <bogus+0>:\t17\n", 1, 'o', DumpError::malformed, 0, "",
       "a value that does not read"},
      {"a binary digit that is not", "0x00000010 <bogus+0>:\t102\n", 1, 't', DumpError::malformed, 0, "",
       "a value that does not read"},
      {"a head without its label", "0x00000010:\t0x01\n", 1, 'x', DumpError::other, 0, "", "0x00000010: 0x01"},
      {"bytes outside printable ASCII in the text", std::string("Err\x01or\x90\n", 8), 1, 'x', DumpError::other, 0, "",
       "Err?or?"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DumpBytes d;
    scan_dump_bytes(c.text, 0x10, c.unit, c.format, &d);
    EXPECT_EQ(d.error, c.error);
    EXPECT_EQ(d.fault_address, c.fault);
    EXPECT_EQ(hex(d.bytes), c.bytes);
    EXPECT_EQ(d.error_text, c.error_text);
  }
}

TEST(DumpBytes, ALongErrorLineIsCut) {
  DumpBytes d;
  scan_dump_bytes(std::string(500, 'E') + "\n", 0, 1, 'x', &d);
  EXPECT_EQ(d.error, DumpError::other);
  EXPECT_EQ(d.error_text.size(), 160u);
}

TEST(DumpBytes, AnotherUnitSizeIsRefused) {
  DumpBytes d;
  scan_dump_bytes("0x10 <bogus+0>:\t0x01\n", 0x10, 3, 'x', &d);
  EXPECT_EQ(d.error, DumpError::malformed);
  EXPECT_TRUE(d.bytes.empty());
}

TEST(DumpBytes, TheUnitForARead) {
  EXPECT_EQ(dump_unit_for(0x7d40, 64), 'w');
  EXPECT_EQ(dump_unit_for(0x7d41, 64), 'b');
  EXPECT_EQ(dump_unit_for(0x7d40, 6), 'b');
  EXPECT_EQ(dump_unit_size('b'), 1u);
  EXPECT_EQ(dump_unit_size('h'), 2u);
  EXPECT_EQ(dump_unit_size('w'), 4u);
  EXPECT_EQ(dump_unit_size('g'), 8u);
  std::vector<uint8_t> b = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(bytes_value(b, 0, 8), 0x1122334455667788ull);
  EXPECT_EQ(bytes_value(b, 6, 4), 0x1122u) << "bytes past the end read as 0";
}

TEST(DumpBytes, AnEntryReadForTheWalk) {
  uint64_t v = 0;
  EXPECT_TRUE(scan_dump_value("0x00010008 <bogus+0>:\t0x00012003\n", 0x10008, 4, &v));
  EXPECT_EQ(v, 0x12003u);
  EXPECT_TRUE(scan_dump_value("0x00020010 <bogus+0>:\t0x00000001\t0x00000001\n", 0x20010, 8, &v));
  EXPECT_EQ(v, 0x100000001ull);
  EXPECT_FALSE(scan_dump_value("0x00020010 <bogus+0>:\t0x00000001\n", 0x20010, 8, &v)) << "half an entry";
  EXPECT_FALSE(scan_dump_value("0x00010008 <bogus+0>:\t0x00012003\n", 0x1000C, 4, &v)) << "another address";
  EXPECT_FALSE(scan_dump_value("Error: read past the end of memory (0x01000000): 4 bytes at 0x02000000\n", 0x2000000, 4,
                               &v));
  EXPECT_FALSE(scan_dump_value("0x00010008 <bogus+0>:\t0x00012003\nError: more\n", 0x10008, 4, &v));
}

TEST(DumpBytes, WhereAValueOfADumpLies) {
  EXPECT_EQ(dump_units_per_line(1), 8u);
  EXPECT_EQ(dump_units_per_line(2), 8u);
  EXPECT_EQ(dump_units_per_line(4), 4u);
  EXPECT_EQ(dump_units_per_line(8), 2u);
  EXPECT_EQ(dump_value_address(0x7C00, 0, 0, 1), 0x7C00u);
  EXPECT_EQ(dump_value_address(0x7C00, 1, 3, 1), 0x7C0Bu);
  EXPECT_EQ(dump_value_address(0x7C01, 2, 7, 2), 0x7C01u + 2 * 16 + 14);
  EXPECT_EQ(dump_value_address(0x500, 1, 2, 4), 0x518u);
  EXPECT_EQ(dump_value_address(0x7CD0, 1, 1, 8), 0x7CE8u);
  EXPECT_EQ(dump_value_address(0xFFFFFFF8, 1, 0, 8), 0x8u) << "round the top of the address space";
}

TEST(DumpBytes, TheTextColumn) {
  const uint8_t bytes[] = {'V', 'U', 'M', ' ', 0x00, 0x7f, 0x80, 0xff, '~', 0x1f};
  EXPECT_EQ(printable_characters(bytes, sizeof bytes), "VUM ....~.");
  EXPECT_EQ(printable_characters(bytes, 0), "");
}

TEST(DumpBytes, TheTextColumnOfALinesValues) {
  struct Case {
    const char *values;
    char format;
    const char *shown;
  } cases[] = {
      {"0x48 0x69 0x00 0x7f 0x20 0x7e 0x80 0xff", 'x', "Hi.. ~.."},
      {"72 105 0 255", 'u', "Hi.."},
      {"72 -1 -128 127", 'd', "H..."},
      {"0110 0151", 'o', "Hi"},
      {"1001000 1101001", 't', "Hi"},
      {"0x48  0x69 ", 'x', "Hi"},  // blanks as the scanner leaves them
      {"", 'x', ""},
      // A value that does not read as a byte in the format: no text at all.
      {"0x48 0x100", 'x', ""},
      {"0x48 256", 'u', ""},
      {"0x48 0x6z", 'x', ""},
      {"72 -129", 'd', ""},
      {"0x48 page not present", 'x', ""},
      {"48 69", 'x', ""},
      // More values than a line of bytes holds.
      {"0x41 0x41 0x41 0x41 0x41 0x41 0x41 0x41 0x41", 'x', ""},
      {"0x41 0x41 0x41 0x41 0x41 0x41 0x41 0x41", 'x', "AAAAAAAA"},
      // Hexadecimal bytes are read straight through; what that reading does
      // not take, the reader of every format reads as before.
      {"0x0041 0x00ff", 'x', "A."},
      {"0x41\t0x42", 'x', "AB"},
      {"0X41", 'x', ""},
      {"0x", 'x', ""},
      {"0x41 0x", 'x', ""},
      {"0x41 0x ", 'x', ""},
      {"0x4G", 'x', ""},
      {"0x41 -0x1", 'x', ""},
      {"0x000000000000000041", 'x', "A"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(value_characters(c.values, c.format, 8), c.shown) << c.values;
    EXPECT_EQ(value_characters_by_format(c.values, c.format, 8), c.shown) << c.values;
  }
}
