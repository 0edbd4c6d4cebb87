// What structure and list windows make of text: the reply to a field read,
// the value text, and the range of elements a list shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "text/struct_defs.hpp"

TEST(StructValues, FieldReplyIsScannedAsTwoWordsThenHexNumbers) {
  struct Case {
    const char *what;
    const char *reply;
    int count;
    bool ok;
    uint32_t first, second;
  } cases[] = {
      {"one word", "0x00007c00 <bogus+0>:\t0x8ec031fa\n", 1, true, 0x8ec031fa, 0},
      {"two words", "0x00007c00 <bogus+0>:\t0x11223344\t0x55667788\n", 2, true, 0x11223344,
       0x55667788},
      {"a byte", "0x00ffffff <bogus+0>:\t0x0a\n", 1, true, 0xa, 0},
      {"upper-case digits", "a b 0xABCDEF01", 1, true, 0xabcdef01, 0},
      {"leading white space and newlines", "\n  a\n b \n 0x5", 1, true, 5, 0},
      {"the debugger's error", "Error: read past the end of memory (0x01000000): 4 bytes at 0x00fffffe\n",
       1, false, 0, 0},
      {"one word only", "0x00007c00\n", 1, false, 0, 0},
      {"nothing", "", 1, false, 0, 0},
      {"0X is not the literal 0x", "a b 0X12", 1, false, 0, 0},
      {"no digits after 0x: %X sees nothing", "a b 0xzz", 1, false, 0, 0},
      {"the second number missing", "a b 0x1\n", 2, false, 1, 0},
      {"the second without 0x", "a b 0x1 22", 2, false, 1, 0},
      {"%X may take its own 0x after the literal", "a b 0x0x12", 1, true, 0x12, 0},
      {"digits beyond 32 bits: the low 32 bits", "a b 0x123456789", 1, true, 0x23456789, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t values[2] = {0, 0};
    EXPECT_EQ(scan_field_reply(c.reply, values, c.count), c.ok);
    if (c.ok) {
      EXPECT_EQ(values[0], c.first);
      if (c.count == 2) {
        EXPECT_EQ(values[1], c.second);
      }
    }
    // As sscanf reads it.
    unsigned a = 0, b = 0;
    int r = c.count == 1 ? sscanf(c.reply, " %*s %*s 0x%X", &a)
                         : sscanf(c.reply, " %*s %*s 0x%X 0x%X", &a, &b);
    EXPECT_EQ(r == c.count, c.ok);
  }
}

TEST(StructValues, ValueTextsByFieldSize) {
  struct Case {
    uint32_t size;
    uint32_t values[2];
    const char *text;
  } cases[] = {
      {1, {0xa, 0}, "= 0A"},
      {2, {0x7c, 0}, "= 007C"},
      {4, {0x8ec031fa, 0}, "= 8EC031FA"},
      {8, {0x11223344, 0x55667788}, "= 5566778811223344"},
      {8, {0, 1}, "= 0000000100000000"},
      {1, {0x1234, 0}, "= 1234"},  // as "%.2X": at least two digits
  };
  for (const Case &c : cases) {
    char out[field_value_size];
    memset(out, 'Z', sizeof out);
    format_field_value(out, c.size, c.values);
    EXPECT_STREQ(out, c.text);
  }
}

TEST(StructValues, ReadCommandsBySize) {
  EXPECT_STREQ(field_read_format(1), "x /1bx 0x%X\n");
  EXPECT_STREQ(field_read_format(2), "x /1hx 0x%X\n");
  EXPECT_STREQ(field_read_format(4), "x /1wx 0x%X\n");
  EXPECT_STREQ(field_read_format(8), "x /2wx 0x%X\n");
  for (uint32_t size : {0u, 3u, 5u, 6u, 7u, 16u, 0xffffffffu}) EXPECT_EQ(field_read_format(size), nullptr);
}

TEST(StructValues, ElementSizeCountsSeparatorsAndWraps) {
  StructDef def = {};
  StructField fields[3] = {};
  const char *names[3] = {"a", "\\\\", "b"};
  uint32_t sizes[3] = {2, 4, 1};
  for (int i = 0; i < 3; i++) {
    strcpy(fields[i].name, names[i]);
    fields[i].size = sizes[i];
    append_struct_field(&def, &fields[i]);
  }
  EXPECT_EQ(def.field_count, 3u);
  EXPECT_EQ(element_size(&def), 7u);
  fields[2].size = 0xfffffffau;
  EXPECT_EQ(element_size(&def), 0u);
  EXPECT_FALSE(is_separator(&fields[0]));
  EXPECT_TRUE(is_separator(&fields[1]));
  strcpy(fields[1].name, "\\x");
  EXPECT_FALSE(is_separator(&fields[1]));
}

TEST(StructValues, StartAndTotalAreClampedInOrder) {
  struct Case {
    const char *what;
    uint32_t elements;
    const char *start, *total;
    uint32_t want_start, want_total;
    bool start_changed, total_changed;
  } cases[] = {
      {"the whole list", 10, "0", "10", 0, 10, false, false},
      {"start 8 total 5: 8 and 9", 10, "8", "5", 8, 2, false, true},
      {"start 12 goes back to 0", 10, "12", "5", 0, 5, true, false},
      {"total 0 becomes all", 10, "0", "0", 0, 10, false, true},
      {"total 50 becomes all", 10, "0", "50", 0, 10, false, true},
      {"start 3, total empty: 3 to 9", 10, "3", "", 3, 7, false, true},
      {"start empty, total empty: all, nothing written", 10, "", "", 0, 10, false, false},
      {"not numbers", 10, "abc", "x", 0, 10, false, false},
      {"leading digits", 10, "2z", "3z", 2, 3, false, false},
      {"start 10 is past the end", 10, "10", "3", 0, 3, true, false},
      {"total 50 then start 8: both steps", 10, "8", "50", 8, 2, false, true},
      {"start 12, total 0", 10, "12", "0", 0, 10, true, true},
      {"a minus sign wraps, then clamps", 10, "-1", "-1", 0, 10, true, true},
      {"white space before the number", 10, " 4", " 2", 4, 2, false, false},
      {"a range whose sum passes 32 bits", 0xfffffff0u, "4294967280", "4294967280", 0, 0xfffffff0u,
       true, false},
      {"the end of a huge list", 0xfffffff0u, "4294967279", "100", 0xffffffefu, 1, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    StructRange r = struct_range(c.elements, c.start, c.total);
    EXPECT_EQ(r.start, c.want_start);
    EXPECT_EQ(r.total, c.want_total);
    EXPECT_EQ(r.start_changed, c.start_changed);
    EXPECT_EQ(r.total_changed, c.total_changed);
  }
}
