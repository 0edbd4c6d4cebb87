// What may be typed where an address or a count is asked for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text/address.hpp"

namespace {

bool known(const char *name, uint32_t *address) {
  if (strcmp(name, "start") == 0) return (*address = 0x7c00), true;
  if (strcmp(name, "_bump.loop") == 0) return (*address = 0x7c3d), true;
  return false;
}

}  // namespace

TEST(ParseAddress, PlainAddresses) {
  struct Case {
    const char *typed;
    bool with_symbols;
    bool ok;
    uint32_t offset;
    bool from_symbol;
    const char *message;
  } cases[] = {
      {"7c00", false, true, 0x7c00, false, ""},
      {"0x7C00", false, true, 0x7c00, false, ""},
      {"  0X7c00\t", false, true, 0x7c00, false, ""},
      {"ffffffff", false, true, 0xffffffff, false, ""},
      {"0000000000007c00", false, true, 0x7c00, false, ""},
      {"start", true, true, 0x7c00, true, ""},
      {"_bump.loop", true, true, 0x7c3d, true, ""},
      {"", false, false, 0, false, "Type an address first, in hexadecimal, such as 7c00 or 0x7c00"},
      {"   ", false, false, 0, false, "Type an address first, in hexadecimal, such as 7c00 or 0x7c00"},
      {"0x", false, false, 0, false, "Type the address in hexadecimal, such as 7c00 or 0x7c00"},
      {"hello", false, false, 0, false, "\"hello\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"hello", true, false, 0, false,
       "\"hello\" is no address: type hexadecimal, such as 7c00 or 0x7c00, or a symbol's name"},
      {"12345678901", false, false, 0, false, "The address \"12345678901\" does not fit in 32 bits"},
      {"0xffffffffffffffffffffff", false, false, 0, false,
       "The address \"0xffffffffffffffffffffff\" does not fit in 32 bits"},
      {"0x7c00;q", false, false, 0, false, "\"0x7c00;q\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"0x7c00 c", false, false, 0, false, "\"0x7c00 c\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"0x7c00;writemem \"/tmp/x\" 0xfe05b 64", false, false, 0, false,
       "\"0x7c00;writemem \"/tmp/x\"...\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"7c00+4", true, false, 0, false,
       "\"7c00+4\" is no address: type hexadecimal, such as 7c00 or 0x7c00, or a symbol's name"},
      {"\x01\x7f", false, false, 0, false, "\"??\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"8:7c00", false, false, 0, false,
       "Type a plain address here, without a segment (SEGMENT:OFFSET is for virtual breakpoints)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    TypedAddress a;
    EXPECT_EQ(parse_address(c.typed, AddressForm::plain, c.with_symbols ? known : nullptr, &a), c.ok);
    EXPECT_STREQ(a.message, c.message);
    if (c.ok) {
      EXPECT_EQ(a.offset, c.offset);
      EXPECT_EQ(a.from_symbol, c.from_symbol);
    }
  }
}

TEST(ParseAddress, VirtualAddressesNeedTheirSegment) {
  struct Case {
    const char *typed;
    bool ok;
    uint32_t segment, offset;
    const char *message;
  } cases[] = {
      {"0000:7c00", true, 0, 0x7c00, ""},
      {"8:0x00007cc0", true, 8, 0x7cc0, ""},
      {" 0x10 : start ", true, 0x10, 0x7c00, ""},
      {"7c00", false, 0, 0, "A virtual address needs its segment: SEGMENT:OFFSET, such as 0000:7c00"},
      {"", false, 0, 0, "Type SEGMENT:OFFSET first, in hexadecimal, such as 0000:7c00"},
      {"12345:0", false, 0, 0, "The segment \"12345\" does not fit in 16 bits"},
      {"8:100000000", false, 0, 0, "The offset \"100000000\" does not fit in 32 bits"},
      {":7c00", false, 0, 0, "Type the segment in hexadecimal, such as 7c00 or 0x7c00"},
      {"cs:7c00", false, 0, 0, "\"cs\" is no segment: type hexadecimal, such as 7c00 or 0x7c00"},
      {"8:7c00:1", false, 0, 0, "Type one colon only: SEGMENT:OFFSET, such as 0000:7c00"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    TypedAddress a;
    EXPECT_EQ(parse_address(c.typed, AddressForm::segmented, known, &a), c.ok);
    EXPECT_STREQ(a.message, c.message);
    if (c.ok) {
      EXPECT_EQ(a.segment, c.segment);
      EXPECT_EQ(a.offset, c.offset);
    }
  }
}

TEST(ParseCount, DecimalFromOneToTheBound) {
  struct Case {
    const char *typed;
    bool ok;
    uint32_t count;
    const char *message;
  } cases[] = {
      {"16", true, 16, ""},
      {" 1048576 ", true, 1048576, ""},
      {"0", false, 0, "The number of units must be from 1 to 1048576"},
      {"1048577", false, 0, "The number of units must be from 1 to 1048576"},
      {"99999999999999999999999", false, 0, "The number of units must be from 1 to 1048576"},
      {"-1", false, 0, "\"-1\" is no number of units: type decimal digits, from 1 to 1048576"},
      {"0x10", false, 0, "\"0x10\" is no number of units: type decimal digits, from 1 to 1048576"},
      {"", false, 0, "Type the number of units, from 1 to 1048576"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    uint32_t count = 77;
    char message[address_message_size];
    EXPECT_EQ(parse_count(c.typed, 1048576, "units", &count, message), c.ok);
    EXPECT_STREQ(message, c.message);
    if (c.ok) {
      EXPECT_EQ(count, c.count);
    }
  }
}

TEST(ParseSetting, DecimalFromZeroToTheBound) {
  struct Case {
    const char *typed;
    bool ok;
    uint32_t value;
    const char *message;
  } cases[] = {
      {"0", true, 0, ""},
      {" +12 ", true, 12, ""},
      {"9999", true, 9999, ""},
      {"10000", false, 0, "The count is at most 9999"},
      {"-1", false, 0, "The count cannot be negative"},
      {"-x", false, 0, "The count cannot be negative"},
      {"12x", false, 0, "\"12x\" is no number: type the count in decimal digits"},
      {"+", false, 0, "Type the count, a number from 0 to 9999"},
      {"", false, 0, "Type the count, a number from 0 to 9999"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    uint32_t value = 77;
    char message[address_message_size];
    EXPECT_EQ(parse_setting(c.typed, 9999, "count", &value, message), c.ok);
    EXPECT_STREQ(message, c.message);
    EXPECT_EQ(value, c.ok ? c.value : 77u);
  }
}
