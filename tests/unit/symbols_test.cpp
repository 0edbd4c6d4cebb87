// The symbol table: the three forms of symbol file, the lookups by name and
// by address, and what a load reports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "text/address.hpp"
#include "text/symbols.hpp"

namespace {

const std::string symbols_dir = VUM_TEST_SYMBOLS_DIR;
const std::string data_dir = VUM_TEST_DATA_DIR;

std::string listed(const std::vector<Symbol> &symbols) {
  std::string out;
  for (const Symbol &s : symbols) {
    char line[300];
    snprintf(line, sizeof line, "%08x %s;", s.address, s.name.c_str());
    out += line;
  }
  return out;
}

std::string name_at(uint32_t address) {
  char name[64];
  bool found = symbol_at(address, name, sizeof name);
  EXPECT_EQ(found, name[0] != '\0');
  return name;
}

// A file of the test's own, removed at the end.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string &text) {
    char name[] = "/tmp/vum-symbols-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    path = name;
    FILE *f = fdopen(fd, "w");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
  ~TempFile() { remove(path.c_str()); }
};

class SymbolTable : public ::testing::Test {
 protected:
  void SetUp() override { clear_symbols(); }
  void TearDown() override { clear_symbols(); }
};

}  // namespace

TEST(SymbolText, LinesOfBothTextForms) {
  struct Case {
    const char *what;
    std::string text;
    uint32_t offset;
    bool ok;
    SymbolFormat format;
    std::string symbols;  // "%08x name;" each
    uint32_t line;        // of the error
    std::string error;
  } cases[] = {
      {"Bochs's form", "00007c00 start\n7c13 count\n", 0, true, SymbolFormat::address_name,
       "00007c00 start;00007c13 count;", 0, ""},
      {"0x, blanks, tabs and CRLF", "  0x7C00\tstart  \r\n\n   \n0X7c3d   bump\r\n", 0, true,
       SymbolFormat::address_name, "00007c00 start;00007c3d bump;", 0, ""},
      {"a name with blanks inside", "7c00 main loop\n", 0, true, SymbolFormat::address_name,
       "00007c00 main loop;", 0, ""},
      {"no newline at the end", "7c00 start", 0, true, SymbolFormat::address_name, "00007c00 start;", 0, ""},
      {"the offset is added", "7c00 start\nffffffff last\n", 0x100, true, SymbolFormat::address_name,
       "00007d00 start;000000ff last;", 0, ""},
      {"nm of a 32-bit file", "00007c00 T start\n00007c3d t bump\n         U puts\n", 0, true, SymbolFormat::nm,
       "00007c00 start;00007c3d bump;", 0, ""},
      {"nm of a 64-bit file, weak undefined", "0000000000007c00 T start\n                 w __gmon_start__\n", 0,
       true, SymbolFormat::nm, "00007c00 start;", 0, ""},
      {"nm of several files", "\na.o:\n00000000 T one\n\nb.o:\n00000010 D two\n", 0, true, SymbolFormat::nm,
       "00000000 one;00000010 two;", 0, ""},
      {"nm -C names keep their blanks", "00001000 T foo(int, char)\n", 0, true, SymbolFormat::nm,
       "00001000 foo(int, char);", 0, ""},
      {"beyond 32 bits is passed over", "ffffffff80000000 T kernel\n00007c00 T start\n", 0, true, SymbolFormat::nm,
       "00007c00 start;", 0, ""},
      {"an address only", "7c00 start\n7c13\n", 0, false, SymbolFormat::none, "", 2, "missing symbol name"},
      {"no address", "7c00 start\n\nstart 7c00\n", 0, false, SymbolFormat::none, "", 3,
       "no address at the start of the line: \"start 7c00\""},
      {"a word of hex and letters", "7c00x start\n", 0, false, SymbolFormat::none, "", 1,
       "no address at the start of the line: \"7c00x start\""},
      {"a long excerpt is cut", "this line is not a symbol at all\n", 0, false, SymbolFormat::none, "", 1,
       "no address at the start of the line: \"this line is not a symbo...\""},
      {"too many digits", "1234567890abcdef0 x\n", 0, false, SymbolFormat::none, "", 1,
       "the address \"1234567890abcdef0\" is too long"},
      {"a control character", "7c00 st\x01rt\n", 0, false, SymbolFormat::none, "", 1,
       "a control character in the line"},
      {"a byte outside ASCII", "7c00 d\xc3\xa9j\xc3\xa0\n", 0, false, SymbolFormat::none, "", 1,
       "the name \"d??j??\" holds a character outside printable ASCII"},
      {"a name of 256 characters", "7c00 " + std::string(256, 'n') + "\n", 0, false, SymbolFormat::none, "", 1,
       "a name longer than 255 characters"},
      {"nothing in it", "\n  \n", 0, false, SymbolFormat::none, "", 0, "no symbols in it"},
      {"only nm's undefined symbols", "         U puts\n", 0, false, SymbolFormat::none, "", 0, "no symbols in it"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Symbol> symbols = {Symbol{1, 0, "left from before"}};
    SymbolLoad load = scan_symbol_text(c.text.data(), c.text.size(), c.offset, &symbols);
    EXPECT_EQ(load.ok, c.ok);
    EXPECT_EQ(load.line, c.line);
    EXPECT_EQ(load.error, c.error);
    if (c.ok) {
      EXPECT_EQ(load.format, c.format);
      EXPECT_EQ(listed(symbols), c.symbols);
      EXPECT_EQ(load.loaded, symbols.size());
    }
  }
}

TEST_F(SymbolTable, TheThreeFormsOfTheDemoGiveTheSameNames) {
  struct Case {
    std::string file;
    SymbolFormat format;
    size_t count;  // the linker adds __bss_start, _edata and _end to the ELF file
    std::string past_msg;  // the text's 8 bytes end msg's size in the ELF file
  } cases[] = {
      {data_dir + "/demo.sym", SymbolFormat::address_name, 7, "msg+0x8"},
      {symbols_dir + "/demo.nm", SymbolFormat::nm, 10, "msg+0x8"},
      {symbols_dir + "/demo.elf", SymbolFormat::elf, 10, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    clear_symbols();
    SymbolLoad load = load_symbols(c.file.c_str(), 0);
    ASSERT_TRUE(load.ok) << load.error;
    EXPECT_EQ(load.format, c.format);
    EXPECT_EQ(load.loaded, c.count);
    EXPECT_EQ(symbol_count(), c.count);
    EXPECT_EQ(describe_symbol_load(c.file.c_str(), load),
              "Loaded " + std::to_string(c.count) + " symbols from " + c.file);
    uint32_t address = 0;
    EXPECT_TRUE(symbol_address("bump", &address));
    EXPECT_EQ(address, 0x7c3du);
    EXPECT_TRUE(symbol_address("start", &address));
    EXPECT_EQ(address, 0x7c00u);
    EXPECT_FALSE(symbol_address("Bump", &address)) << "letter case counts";
    EXPECT_EQ(name_at(0x7c00), "start");
    EXPECT_EQ(name_at(0x7c12), "start+0x12");
    EXPECT_EQ(name_at(0x7c13), "count");
    EXPECT_EQ(name_at(0x7c3c), "spin+0x1");
    EXPECT_EQ(name_at(0x7bff), "") << "below the first symbol";
    EXPECT_EQ(name_at(0x7c68), "msg+0x7");
    EXPECT_EQ(name_at(0x7c69), c.past_msg);
  }
}

TEST_F(SymbolTable, ElfFilesWithoutAddresses) {
  struct Case {
    std::string file;
    std::string error;
  } cases[] = {
      {symbols_dir + "/stripped.elf", "no symbol table in it (stripped?)"},
      {symbols_dir + "/demo.o", "an object file, not linked: its symbols have no addresses yet"},
  };
  ASSERT_TRUE(load_symbols((data_dir + "/demo.sym").c_str(), 0).ok);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    SymbolLoad load = load_symbols(c.file.c_str(), 0);
    EXPECT_FALSE(load.ok);
    EXPECT_EQ(load.error, c.error);
    EXPECT_EQ(describe_symbol_load(c.file.c_str(), load), c.file + ": " + c.error);
    EXPECT_EQ(symbol_count(), 7u) << "a failed load leaves the table as it was";
  }
  // A file that only looks like ELF.
  TempFile fake(std::string("\177ELF garbage", 12));
  SymbolLoad load = load_symbols(fake.path.c_str(), 0);
  EXPECT_FALSE(load.ok);
  EXPECT_EQ(load.error, "not an ELF file libelf can read");
}

TEST_F(SymbolTable, ErrorsNameTheirLine) {
  TempFile bad("7c00 start\n7c13 count\nthird line\n7c3d bump\n");
  SymbolLoad load = load_symbols(bad.path.c_str(), 0);
  EXPECT_FALSE(load.ok);
  EXPECT_EQ(describe_symbol_load(bad.path.c_str(), load),
            bad.path + ":3: no address at the start of the line: \"third line\"");
  EXPECT_EQ(symbol_count(), 0u) << "nothing of a file with an error is taken";
  uint32_t address;
  EXPECT_FALSE(symbol_address("start", &address));

  load = load_symbols("/nonexistent/vum.sym", 0);
  EXPECT_FALSE(load.ok);
  EXPECT_EQ(describe_symbol_load("/nonexistent/vum.sym", load), "/nonexistent/vum.sym: No such file or directory");
}

TEST_F(SymbolTable, AFileLoadedAgainReplacesItsOwnSymbolsOnly) {
  TempFile boot("7c00 start\n7c13 count\n");
  TempFile kernel("100000 kmain\n");
  ASSERT_TRUE(load_symbols(boot.path.c_str(), 0).ok);
  uint32_t generation = symbols_generation();
  ASSERT_TRUE(load_symbols(kernel.path.c_str(), 0).ok);
  EXPECT_NE(symbols_generation(), generation);
  EXPECT_EQ(symbol_count(), 3u);
  // The boot sector's file again, with an offset: its old names go.
  ASSERT_TRUE(load_symbols(boot.path.c_str(), 0x10).ok);
  EXPECT_EQ(symbol_count(), 3u);
  EXPECT_EQ(name_at(0x7c10), "start");
  EXPECT_EQ(name_at(0x7c0f), "");
  EXPECT_EQ(name_at(0x100004), "kmain+0x4");
  uint32_t address;
  ASSERT_TRUE(symbol_address("count", &address));
  EXPECT_EQ(address, 0x7c23u);
}

TEST_F(SymbolTable, NamesReachNoFurtherThanTheirLimitOrSize) {
  TempFile file("1000 first\n1000 alias\n20000 far\n");
  ASSERT_TRUE(load_symbols(file.path.c_str(), 0).ok);
  EXPECT_EQ(name_at(0x1000), "first") << "of two names for one address, the first loaded";
  EXPECT_EQ(name_at(0x1000 + symbol_reach - 1), "first+0xffff");
  EXPECT_EQ(name_at(0x1000 + symbol_reach), "");
  EXPECT_EQ(name_at(0xffffffff), "");
  uint32_t address;
  ASSERT_TRUE(symbol_address("alias", &address));
  EXPECT_EQ(address, 0x1000u);

  // A buffer too small cuts the text.
  char small[6];
  EXPECT_TRUE(symbol_at(0x1001, small, sizeof small));
  EXPECT_STREQ(small, "first");

  clear_symbols();
  EXPECT_EQ(name_at(0x1000), "") << "an empty table names nothing";
}

TEST_F(SymbolTable, NamesAreAddressesWhereAnAddressIsTyped) {
  ASSERT_TRUE(load_symbols((data_dir + "/demo.sym").c_str(), 0).ok);
  TypedAddress typed;
  ASSERT_TRUE(parse_address(" farsub ", AddressForm::plain, symbol_address, &typed));
  EXPECT_EQ(typed.offset, 0x7c5au);
  EXPECT_TRUE(typed.from_symbol);
  EXPECT_FALSE(parse_address("nosuchname", AddressForm::plain, symbol_address, &typed));
}

TEST_F(SymbolTable, ReportsWaitInOrderUntilTaken) {
  std::string text;
  EXPECT_FALSE(take_symbol_message(&text));
  queue_symbol_message("one");
  queue_symbol_message("two");
  ASSERT_TRUE(take_symbol_message(&text));
  EXPECT_EQ(text, "one");
  ASSERT_TRUE(take_symbol_message(&text));
  EXPECT_EQ(text, "two");
  EXPECT_FALSE(take_symbol_message(&text));
}

TEST(SymbolText, LoadReportNamesWhatWasPassedOver) {
  SymbolLoad load = {};
  load.ok = true;
  load.loaded = 1;
  load.beyond_32_bits = 3;
  EXPECT_EQ(describe_symbol_load("k.nm", load), "Loaded 1 symbol from k.nm (3 beyond 32 bits passed over)");
}
