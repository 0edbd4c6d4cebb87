// What may be typed to change a register or a value in memory, the writes
// that store a value, and the debugger's answer to them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/debugger_commands.hpp"
#include "text/typed_value.hpp"

TEST(TypedValue, TheRegistersThatCanBeSet) {
  std::vector<std::string> names;
  for (int e = 0; e < register_entries; e++)
    if (const char *n = settable_register((RegisterEntry)e)) names.push_back(std::string(register_labels[e]) + "=" + n);
  EXPECT_EQ(names, (std::vector<std::string>{"EAX=eax", "EBX=ebx", "ECX=ecx", "EDX=edx", "EBP=ebp", "ESI=esi", "EDI=edi",
                                             "ESP=esp", "EFLAGS=eflags", "EIP=eip"}));
  EXPECT_EQ(settable_register(register_entries), nullptr);
}

TEST(TypedValue, ARegistersValue) {
  struct Case {
    RegisterEntry entry;
    const char *typed;
    bool ok;
    uint32_t value;
    const char *message;
  } cases[] = {
      {entry_eax, "1f", true, 0x1f, ""},
      {entry_eax, "0x1F", true, 0x1f, ""},
      {entry_eax, "  0X00001f\t", true, 0x1f, ""},
      {entry_esp, "FFFFFFFF", true, 0xFFFFFFFF, ""},
      {entry_eip, "00000000007c00", true, 0x7c00, ""},
      {entry_eflags, "202", true, 0x202, ""},
      {entry_eax, "", false, 0, "Type a value for EAX in hexadecimal, such as 1f or 0x1f"},
      {entry_ebx, "0x", false, 0, "Type a value for EBX in hexadecimal, such as 1f or 0x1f"},
      {entry_ecx, "12g", false, 0, "\"12g\" is no value for ECX: type hexadecimal, such as 1f or 0x1f"},
      {entry_ecx, "-1", false, 0, "\"-1\" is no value for ECX: type hexadecimal, such as 1f or 0x1f"},
      {entry_edx, "1 2", false, 0, "\"1 2\" is no value for EDX: type hexadecimal, such as 1f or 0x1f"},
      {entry_esi, "100000000", false, 0, "The value \"100000000\" does not fit in ESI's 32 bits"},
      {entry_edi, "x;q", false, 0, "\"x;q\" is no value for EDI: type hexadecimal, such as 1f or 0x1f"},
      {entry_cs, "8", false, 0, "CS cannot be set here: only EAX, EBX, ECX, EDX, ESI, EDI, EBP, ESP, EIP and EFLAGS"},
      {entry_cr0, "1", false, 0, "CR0 cannot be set here: only EAX, EBX, ECX, EDX, ESI, EDI, EBP, ESP, EIP and EFLAGS"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    uint32_t value = 0xDEAD;
    char message[address_message_size];
    EXPECT_EQ(parse_register_value(c.entry, c.typed, &value, message), c.ok);
    EXPECT_STREQ(message, c.message);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(TypedValue, AValueInADumpCell) {
  struct Case {
    const char *typed;
    unsigned unit;
    char format;
    bool ok;
    uint64_t value;
    const char *message;
  } cases[] = {
      {"ff", 1, 'x', true, 0xff, ""},
      {"0x7F", 1, 'x', true, 0x7f, ""},
      {"100", 1, 'x', false, 0, "The value \"100\" does not fit in 1 byte"},
      {"ffff", 2, 'x', true, 0xffff, ""},
      {"10000", 2, 'x', false, 0, "The value \"10000\" does not fit in 2 bytes"},
      {"1122334455667788", 8, 'x', true, 0x1122334455667788ull, ""},
      {"11223344556677889", 8, 'x', false, 0, "The value \"11223344556677889\" does not fit in 8 bytes"},
      {"", 4, 'x', false, 0, "Type a value in hexadecimal, such as 1f or 0x1f"},
      {"0x", 4, 'x', false, 0, "\"0x\" is no value: type hexadecimal, such as 1f or 0x1f"},
      {"zz", 4, 'x', false, 0, "\"zz\" is no value: type hexadecimal, such as 1f or 0x1f"},
      {"-1", 1, 'd', true, 0xff, ""},
      {"-128", 1, 'd', true, 0x80, ""},
      {"-129", 1, 'd', false, 0, "The value \"-129\" does not fit in 1 byte"},
      {"255", 1, 'd', true, 0xff, ""},
      {"+42", 1, 'd', true, 42, ""},
      {"256", 1, 'd', false, 0, "The value \"256\" does not fit in 1 byte"},
      {"-9223372036854775808", 8, 'd', true, 0x8000000000000000ull, ""},
      {"18446744073709551615", 8, 'd', true, ~0ull, ""},
      {"18446744073709551616", 8, 'd', false, 0, "The value \"18446744073709551616\" does not fit in 8 bytes"},
      {"-", 2, 'd', false, 0, "\"-\" is no value: type decimal, such as -5 or 42"},
      {"4e", 2, 'd', false, 0, "\"4e\" is no value: type decimal, such as -5 or 42"},
      {"65535", 2, 'u', true, 0xffff, ""},
      {"-1", 2, 'u', false, 0, "\"-1\" is no value: type decimal, such as 42"},
      {"10000001", 1, 't', true, 0x81, ""},
      {"100000001", 1, 't', false, 0, "The value \"100000001\" does not fit in 1 byte"},
      {"12", 1, 't', false, 0, "\"12\" is no value: type binary, such as 101"},
      {"0377", 1, 'o', true, 0xff, ""},
      {"377", 1, 'o', true, 0xff, ""},
      {"400", 1, 'o', false, 0, "The value \"400\" does not fit in 1 byte"},
      {"8", 1, 'o', false, 0, "\"8\" is no value: type octal, such as 017"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " /" + std::to_string(c.unit) + c.format);
    uint64_t value = 0xDEAD;
    char message[address_message_size];
    EXPECT_EQ(parse_memory_value(c.typed, c.unit, c.format, &value, message), c.ok);
    EXPECT_STREQ(message, c.message);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
  uint64_t v;
  char message[address_message_size];
  EXPECT_FALSE(parse_memory_value("1", 3, 'x', &v, message));
  EXPECT_FALSE(parse_memory_value("1", 4, 'c', &v, message));
}

TEST(TypedValue, TheWritesThatStoreAUnit) {
  struct Case {
    const char *what;
    uint32_t address;
    unsigned unit;
    uint64_t value;
    bool split;
    std::vector<std::string> commands;
  } cases[] = {
      {"a byte", 0x500, 1, 0x42, false, {"setpmem 0x500 1 0x42"}},
      {"a word", 0x500, 2, 0x1234, false, {"setpmem 0x500 2 0x1234"}},
      {"a doubleword", 0x500, 4, 0x89ABCDEF, false, {"setpmem 0x500 4 0x89ABCDEF"}},
      {"a quadword in two", 0x7CD7, 8, 0x1122334455667788ull, false,
       {"setpmem 0x7CD7 4 0x55667788", "setpmem 0x7CDB 4 0x11223344"}},
      {"a doubleword across pages, physical: one write", 0xFFE, 4, 0xAABBCCDD, false, {"setpmem 0xFFE 4 0xAABBCCDD"}},
      {"the same in a linear window: a word on either side", 0xFFE, 4, 0xAABBCCDD, true,
       {"setpmem 0xFFE 2 0xCCDD", "setpmem 0x1000 2 0xAABB"}},
      {"three bytes before the page ends", 0x1FFD, 4, 0xAABBCCDD, true,
       {"setpmem 0x1FFD 2 0xCCDD", "setpmem 0x1FFF 1 0xBB", "setpmem 0x2000 1 0xAA"}},
      {"a quadword across pages", 0x2FFA, 8, 0x1122334455667788ull, true,
       {"setpmem 0x2FFA 4 0x55667788", "setpmem 0x2FFE 2 0x3344", "setpmem 0x3000 2 0x1122"}},
      {"a word that fits its page", 0xFFE, 2, 0xBEEF, true, {"setpmem 0xFFE 2 0xBEEF"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MemoryWrite writes[8];
    int n = memory_writes(c.address, c.unit, c.value, c.split, writes);
    std::vector<std::string> commands;
    for (int i = 0; i < n; i++) {
      char line[64];
      snprintf(line, sizeof line, format_set_memory, writes[i].address, writes[i].size, writes[i].value);
      commands.push_back(std::string(line, strlen(line) - 1));  // without the newline
    }
    EXPECT_EQ(commands, c.commands);
  }
  MemoryWrite writes[8];
  EXPECT_EQ(memory_writes(0, 3, 0, false, writes), 0);
}

TEST(TypedValue, TheDebuggersAnswer) {
  struct Case {
    std::string reply;
    bool refused;
    const char *message;
  } cases[] = {
      {"", false, ""},
      {"\n", false, ""},
      {"Error: Bochs 2.7 cannot set eflags\n", true, "Error: Bochs 2.7 cannot set eflags"},
      {"Error: value 0x100 does not fit in 1 byte\nmore\n", true, "Error: value 0x100 does not fit in 1 byte"},
      {"\n  Error: not a register: 'cs'\r\n", true, "Error: not a register: 'cs'"},
      {std::string("Error\x01\n", 7), true, "Error?"},
      {std::string(300, 'E'), true, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reply);
    char message[address_message_size];
    EXPECT_EQ(setting_refused(c.reply, message), c.refused);
    if (c.message)
      EXPECT_STREQ(message, c.message);
    else
      EXPECT_EQ(std::string(message), std::string(100, 'E') + "...");
  }
}

TEST(TypedValue, TheCommandTexts) {
  char line[64];
  snprintf(line, sizeof line, format_set_register, settable_register(entry_eax), 0x1Fu);
  EXPECT_STREQ(line, "set eax = 0x1F\n");
  snprintf(line, sizeof line, format_set_memory, 0x500u, 4u, 0xCAFEBABEu);
  EXPECT_STREQ(line, "setpmem 0x500 4 0xCAFEBABE\n");
}
