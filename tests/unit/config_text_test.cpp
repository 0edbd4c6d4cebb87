// The configuration file's text: settings blocks, struct and list blocks,
// and the errors (line, what was expected). Each result is written out as
// one line: the settings the file gave, the definitions, and the errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "text/reply_scan.hpp"
#include "text/config_text.hpp"

namespace {

std::string describe_settings(const ConfigSettings &s) {
  std::string out;
  auto put = [&](bool set, const char *name, uint32_t value) {
    if (!set) return;
    if (!out.empty()) out += ' ';
    out += std::string(name) + "=" + std::to_string(value);
  };
  put(s.history_length_set, "history", s.history_length);
  put(s.stack_above_set, "above", s.stack_above);
  put(s.stack_below_set, "below", s.stack_below);
  put(s.tabs_set, "tabs", s.tabs);
  put(s.reload_breakpoints_set, "rb", s.reload_breakpoints);
  put(s.reload_watchpoints_set, "rw", s.reload_watchpoints);
  return out;
}

// "name@BASE*ELEMENTS[field:size,...]" for each definition.
std::string describe_defs(const StructDefList &defs) {
  std::string out;
  const StructDef *previous = nullptr;
  for (const StructDef *d = defs.first; d; previous = d, d = d->next) {
    EXPECT_EQ(d->prev, previous);
    EXPECT_EQ(d->window, nullptr);
    char head[200];
    snprintf(head, sizeof head, "%s@%X*%u[", d->name, d->base, d->elements);
    if (!out.empty()) out += ' ';
    out += head;
    uint32_t count = 0;
    const StructField *pf = nullptr;
    for (const StructField *f = d->first_field; f; pf = f, f = f->next, count++) {
      EXPECT_EQ(f->prev, pf);
      if (count) out += ',';
      out += std::string(f->name) + ":" + std::to_string(f->size);
    }
    EXPECT_EQ(d->last_field, pf);
    EXPECT_EQ(d->field_count, count);
    out += ']';
  }
  EXPECT_EQ(defs.last, previous);
  return out;
}

// "end" for a file without errors; otherwise each error as "LINE: what".
std::string errors_of(const ConfigScan &out) {
  if (out.errors.empty()) return "end";
  std::string text;
  for (const ConfigError &e : out.errors) text += (text.empty() ? "" : " | ") + std::to_string(e.line) + ": " + e.message;
  return text;
}

struct Result {
  std::string settings, defs, end;
};

Result scan(const std::string &file) {
  std::vector<char> text(file.begin(), file.end());
  text.push_back('\0');
  ConfigScan out;
  StructDefList defs = {nullptr, nullptr};
  scan_config(text.data(), &out, &defs);
  Result r;
  r.settings = describe_settings(out.settings);
  r.defs = describe_defs(defs);
  r.end = errors_of(out);
  free_struct_defs(&defs);
  return r;
}

struct Case {
  const char *what;
  std::string file;
  const char *settings;
  const char *defs;
  const char *end;
};

void run(const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Result r = scan(c.file);
    EXPECT_EQ(r.settings, c.settings);
    EXPECT_EQ(r.defs, c.defs);
    EXPECT_EQ(r.end, c.end);
  }
}

const std::string example_file =
    "Settings for the boot-sector work.\n"
    "{history 200}\n"
    "{stack 10 6}\n"
    "{tabs 1}\n"
    "{reload 1 0}\n"
    "{struct header 7c00\n"
    "  magic 2\n"
    "  \\\\ 0\n"
    "  flags 4\n"
    "  count 1\n"
    "}\n"
    "{list entries 8000 16\n"
    "  start 4\n"
    "  length 4\n"
    "  kind 4\n"
    "  link 4\n"
    "}\n";

}  // namespace

TEST(ConfigText, TheExampleFileGivesItsSettingsAndTwoDefinitions) {
  run({{"example", example_file, "history=200 above=10 below=6 tabs=1 rb=1 rw=0",
        "header@7C00*1[magic:2,\\\\:0,flags:4,count:1] "
        "entries@8000*16[start:4,length:4,kind:4,link:4]",
        "end"}});
  // The element sizes the windows read with.
  std::vector<char> text(example_file.begin(), example_file.end());
  text.push_back('\0');
  ConfigScan out;
  StructDefList defs = {nullptr, nullptr};
  scan_config(text.data(), &out, &defs);
  ASSERT_NE(defs.first, nullptr);
  ASSERT_NE(defs.first->next, nullptr);
  EXPECT_EQ(element_size(defs.first), 7u);
  EXPECT_EQ(element_size(defs.first->next), 16u);
  EXPECT_TRUE(is_separator(defs.first->first_field->next));
  EXPECT_FALSE(is_separator(defs.first->first_field));
  free_struct_defs(&defs);
  EXPECT_EQ(defs.first, nullptr);
}

TEST(ConfigText, SettingsBlocks) {
  run({
      {"empty file", "", "", "", "end"},
      {"no brace at all", "history 100\nstack 1 2\n", "", "", "end"},
      {"keywords ignore letter case", "{HISTORY 80}\n{Stack 1 2}\n{tAbS 3}\n{RELOAD 0 0}",
       "history=80 above=1 below=2 tabs=3 rb=0 rw=0", "", "end"},
      {"the brace is part of the token", "{history}", "", "", "1: Unknown block type 'history}': expected history, stack, tabs, reload, struct, list or symbols"},
      {"an unknown keyword is named and the blocks after it are read",
       "{history 5}\n{colour red}\n{stack 1 2}", "history=5 above=1 below=2", "",
       "2: Unknown block type 'colour': expected history, stack, tabs, reload, struct, list or symbols"},
      {"white space after the brace", "{  history\n\t 7 }", "history=7", "", "end"},
      {"leading digits count", "{history 100x}\n{stack 12abc 3}", "history=100 above=12 below=3", "",
       "end"},
      {"no digits: named, and the blocks after it are read", "{history x}\n{stack 1 2}", "above=1 below=2", "",
       "1: history: expected the most rows the History page keeps, a number"},
      {"second value fails: the first stays", "{stack 12 x}\n{history 9}", "history=9 above=12", "",
       "1: stack: expected two numbers, the values shown above and below ESP"},
      {"a missing value at the end of the text", "{reload 0", "rb=0", "",
       "1: reload: expected two switches, 0 (off) or 1 (on), for breakpoints and watchpoints"},
      {"nothing after the brace", "{history 4}\n{", "history=4", "", "2: expected a block's keyword after '{'"},
      {"only white space after the brace", "{history 4}\n{  \n", "history=4", "",
       "2: expected a block's keyword after '{'"},
      {"tabs out of range are named and change nothing", "{tabs 1}\n{tabs 7}", "tabs=1", "",
       "2: tabs: expected 0 (bottom), 1 (top), 2 (left) or 3 (right)"},
      {"tabs 0 is a position", "{tabs 0}", "tabs=0", "", "end"},
      {"history 0 is accepted", "{history 0}", "history=0", "", "end"},
      {"a later block wins", "{history 5}\n{history 6}", "history=6", "", "end"},
      {"extra values and the closing brace are ignored", "{history 5 6 7} text {stack 1 2 3}",
       "history=5 above=1 below=2", "", "end"},
      {"a value swallows the next brace", "{history 100{stack 8 4}", "history=100", "", "end"},
      {"so does a closing brace before it", "{history 5}{history 6}", "history=5", "", "end"},
      {"reload values are kept as given", "{reload 5 7}", "rb=5 rw=7", "", "end"},
      {"a negative count is named; a plus sign is taken", "{history -1}\n{stack +3 4}", "above=3 below=4", "",
       "1: history: the length cannot be negative"},
      {"negative stack counts", "{stack -1 -1}", "", "", "1: stack: the counts cannot be negative"},
      {"%u past 64 bits is the largest value", "{history 99999999999999999999}",
       "history=4294967295", "", "end"},
      {"a minus sign alone is refused as negative", "{history -}", "", "", "1: history: the length cannot be negative"},
      {"0x is not decimal", "{history 0x40}", "history=0", "", "end"},
      {"a high byte is an ordinary character", "{hist\xc3\xb6ry 1}", "", "",
       "1: Unknown block type 'hist\xc3\xb6ry': expected history, stack, tabs, reload, struct, list or symbols"},
  });
}

TEST(ConfigText, StructAndListBlocks) {
  run({
      {"struct block", "{struct s 7c00 a 2 b 4 c 1 }", "", "s@7C00*1[a:2,b:4,c:1]", "end"},
      {"list block", "{list l 0x8000 10 a 4 }", "", "l@8000*10[a:4]", "end"},
      {"no fields", "{struct empty 100 }", "", "empty@100*1[]", "end"},
      {"list of 1 element", "{list one 100 1 x 4 }", "", "one@100*1[x:4]", "end"},
      {"list of 0 elements is accepted", "{list none 100 0 x 4 }", "", "none@100*0[x:4]", "end"},
      {"base reads leading hex digits", "{struct s 7c00zz a 1 }", "", "s@7C00*1[a:1]", "end"},
      {"base without hex digits", "{struct s zz a 1 }\n{history 3}", "history=3", "",
       "1: struct s: expected its address, in hexadecimal"},
      {"elements without digits", "{list l 100 many a 1 }", "", "", "1: list l: expected the number of elements"},
      {"negative elements", "{list l 100 -2 a 1 }", "", "", "1: list l: the number of elements cannot be negative"},
      {"size without digits", "{struct s 100 a b }", "", "", "1: struct s: expected the size of field 'a'"},
      {"a negative size", "{struct s 100 a -4 }", "", "", "1: struct s: the size of field 'a' cannot be negative"},
      {"size reads leading digits", "{struct s 100 a 2x }", "", "s@100*1[a:2]", "end"},
      {"no end mark: the block runs to the end of the text", "{struct s 100 a 2", "", "",
       "1: struct s: expected a '}' standing apart to end it"},
      {"a missing size at the end", "{struct s 100 a", "", "", "1: struct s: expected the size of field 'a'"},
      {"no name", "{struct", "", "", "1: struct: expected a name"},
      {"no base", "{list l", "", "", "1: list l: expected its address, in hexadecimal"},
      {"the brace must stand apart: 1} is the size 1, and the next block is read",
       "{struct s 100 count 1}\n{list l 200 4 a 1 }\n{history 33}", "history=33", "l@200*4[a:1]",
       "1: struct s: expected a '}' standing apart to end it before the next block"},
      {"1} as a size, then a real end",
       "{struct s 100 count 1} next 2 }", "", "s@100*1[count:1,next:2]", "end"},
      {"} followed directly by text is a field name", "{struct s 100 a 1 }x 2 }", "",
       "s@100*1[a:1,}x:2]", "end"},
      {"}{ is a field name, not an end and a new block", "{struct a 1 x 1 }{struct b 2 y 1 }", "",
       "b@2*1[y:1]", "1: struct a: expected the size of field '}{struct'"},
      {"the brace may end the text", "{struct s 100 a 1 }", "", "s@100*1[a:1]", "end"},
      {"the brace at the very end with no white space before it", "{struct s 100 a 1}", "", "",
       "1: struct s: expected a '}' standing apart to end it"},
      {"two definitions of one name are both kept", "{struct s 1 a 1 }\n{struct s 2 b 2 }", "",
       "s@1*1[a:1] s@2*1[b:2]", "end"},
      {"definitions before and after a failure stay",
       "{history 9}\n{struct a 1 x 1 }\n{list b 2 3 y 1 }\n{struct c 3 z }\n{struct d 4 w 1 }",
       "history=9", "a@1*1[x:1] b@2*3[y:1] d@4*1[w:1]", "4: struct c: expected the size of field 'z'"},
      {"two errors, each on its line", "{history x}\n\n{stack 1}\n{tabs 2}", "above=1 tabs=2", "",
       "1: history: expected the most rows the History page keeps, a number | "
       "3: stack: expected two numbers, the values shown above and below ESP"},
      {"an unknown block after a definition", "{struct a 1 x 1 }\n{strukt b 2 }", "",
       "a@1*1[x:1]", "2: Unknown block type 'strukt': expected history, stack, tabs, reload, struct, list or symbols"},
      {"separator fields", "{struct s 10 \\\\ 0 a 1 \\\\line 4 }", "",
       "s@10*1[\\\\:0,a:1,\\\\line:4]", "end"},
      {"keywords of blocks are not field names",
       "{struct s 10 history 4 }", "", "s@10*1[history:4]", "end"},
      {"a name may be }", "{struct } 10 a 1 }", "", "}@10*1[a:1]", "end"},
  });
}

TEST(ConfigText, NamesOf127CharactersAreKeptAnd128AreNamed) {
  std::string n127(127, 'n'), n128(128, 'n');
  std::string f127(127, 'f'), f128(128, 'f');
  run({
      {"definition name of 127", "{struct " + n127 + " 1 a 1 }", "",
       (n127 + "@1*1[a:1]").c_str(), "end"},
      {"definition name of 128", "{struct " + n128 + " 1 a 1 }\n{history 2}", "history=2", "",
       "1: struct: a name has at most 127 characters"},
      {"field name of 127", "{list l 1 2 " + f127 + " 1 }", "",
       ("l@1*2[" + f127 + ":1]").c_str(), "end"},
      {"field name of 128", "{list l 1 2 " + f128 + " 1 }", "", "",
       "1: list l: a field's name has at most 127 characters"},
  });
}

TEST(ConfigText, ParseStructBlockAdvancesThePositionAndAppendsOnlyWholeDefinitions) {
  char text[] = "s 7c00 a 2 b 1 } rest";
  uint32_t p = 0;
  StructDefList defs = {nullptr, nullptr};
  ASSERT_TRUE(parse_struct_block(text, &p, true, &defs));
  EXPECT_STREQ(text + p, "rest");
  ASSERT_NE(defs.first, nullptr);
  EXPECT_EQ(describe_defs(defs), "s@7C00*1[a:2,b:1]");

  char broken[] = "l 100 3 a 2 b";
  p = 0;
  EXPECT_FALSE(parse_struct_block(broken, &p, false, &defs));
  EXPECT_EQ(describe_defs(defs), "s@7C00*1[a:2,b:1]") << "nothing of the unfinished list";
  free_struct_defs(&defs);
}

TEST(ConfigText, ScanUnsignedReadsAsPercentU) {
  const char *texts[] = {"0",     "42",    "  17x",  "+5",   "-1",  "-0",   "4294967295",
                         "4294967296", "18446744073709551615", "18446744073709551616",
                         "99999999999999999999999", "", "x", "-", "+", " \t", "0x12", "--1",
                         "\v\f\r\n9", "1 2"};
  for (const char *t : texts) {
    unsigned int want = 0xdeadbeef;
    int want_n = -1;
    int r = sscanf(t, "%u%n", &want, &want_n);
    uint32_t got = 0xdeadbeef;
    int got_n = -1;
    bool ok = scan_unsigned(t, &got, &got_n);
    EXPECT_EQ(ok, r == 1) << "'" << t << "'";
    if (ok && r == 1) {
      EXPECT_EQ(got, want) << "'" << t << "'";
      EXPECT_EQ(got_n, want_n) << "'" << t << "'";
    } else {
      EXPECT_EQ(got, 0xdeadbeefu) << "unchanged where nothing converts: '" << t << "'";
    }
  }
}

TEST(ConfigText, EntryNumberReadsAsAtoi) {
  struct Case {
    const char *text;
    int64_t value;
  } cases[] = {
      {"12", 12}, {"007", 7}, {"12x", 12}, {"  40", 40}, {"x", 0}, {"", 0},  {"-1", -1},
      {"+9", 9},  {"-0", 0},  {"- 3", 0},  {"\t\n5", 5}, {"3 4", 3}, {"99999", 99999},
      {"-9999", -9999},
  };
  for (const Case &c : cases) EXPECT_EQ(entry_number(c.text), c.value) << "'" << c.text << "'";
  // Far beyond an entry's five characters the value stays bounded.
  EXPECT_EQ(entry_number("999999999999999999999999999"), (int64_t)1 << 62);
  EXPECT_EQ(entry_number("-999999999999999999999999999"), -((int64_t)1 << 62));
}

TEST(ConfigText, TheInstalledSampleReadsToItsEnd) {
  std::string source = __FILE__;
  std::string path = source.substr(0, source.rfind("/tests/")) + "/packaging/vumrc.sample";
  FILE *f = fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr) << path;
  std::string text;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  fclose(f);
  Result r = scan(text);
  EXPECT_EQ(r.end, "end");
  EXPECT_EQ(r.settings, "history=200 above=8 below=4 tabs=0 rb=1 rw=1");
  EXPECT_EQ(r.defs,
            "demo_record@7CD0*1[word:2,dword:4,byte:1,qword:8] "
            "demo_gdt@7CE0*3[limit_low:2,base_low:2,base_mid:1,access:1,flags_limit:1,base_high:1]");
}

TEST(ConfigText, SymbolsBlocks) {
  struct Case {
    const char *what;
    const char *text;
    std::vector<std::pair<std::string, uint32_t>> symbols;
    const char *errors;
    uint32_t history;  // a history block after the symbols, when there is one
  } cases[] = {
      {"a file", "{symbols demo.sym}", {{"demo.sym", 0}}, "end", 0},
      {"a blank before the brace", "{symbols demo.sym }", {{"demo.sym", 0}}, "end", 0},
      {"an offset", "{symbols kernel.sym 0x100000}", {{"kernel.sym", 0x100000}}, "end", 0},
      {"an offset without 0x", "{symbols boot.sym 7c00 }", {{"boot.sym", 0x7c00}}, "end", 0},
      {"keyword case", "{SYMBOLS a.sym}", {{"a.sym", 0}}, "end", 0},
      {"a directory", "{symbols /opt/os/kernel.elf}", {{"/opt/os/kernel.elf", 0}}, "end", 0},
      {"two files, then a block", "{symbols a.sym}\n{symbols b.sym 10}\n{history 7}",
       {{"a.sym", 0}, {"b.sym", 0x10}}, "end", 7},
      {"no closing brace: the next block is read", "{symbols a.sym\n{history 9}", {{"a.sym", 0}}, "end", 9},
      {"a word that is no number is no offset", "{symbols a.sym kernel}\n{history 3}", {{"a.sym", 0}}, "end", 3},
      {"the brace is part of the keyword", "{symbols}", {},
       "1: Unknown block type 'symbols}': expected history, stack, tabs, reload, struct, list or symbols", 0},
      {"no file", "{symbols }\n{history 2}", {}, "1: symbols: expected the name of a symbol file", 2},
      {"no file at the end of the text", "{symbols ", {}, "1: symbols: expected the name of a symbol file", 0},
      {"a sign is no offset", "{symbols a.sym -4}", {{"a.sym", 0}}, "end", 0},
      {"a name of 255 characters", nullptr, {{std::string(255, 'n'), 0}}, "end", 0},
      {"a name of 256 is named", nullptr, {}, "1: symbols: a file's name has at most 255 characters", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string source = c.text ? c.text
                                : "{symbols " + std::string(strcmp(c.what, "a name of 255 characters") == 0 ? 255 : 256, 'n') + "}";
    std::vector<char> text(source.begin(), source.end());
    text.push_back('\0');
    ConfigScan out;
    StructDefList defs = {nullptr, nullptr};
    scan_config(text.data(), &out, &defs);
    EXPECT_EQ(errors_of(out), c.errors);
    ASSERT_EQ(out.symbol_files, c.symbols.size());
    for (size_t i = 0; i < c.symbols.size(); i++) {
      EXPECT_EQ(out.symbols[i].file, c.symbols[i].first);
      EXPECT_EQ(out.symbols[i].offset, c.symbols[i].second);
    }
    EXPECT_EQ(out.settings.history_length_set, c.history != 0);
    if (c.history) {
      EXPECT_EQ(out.settings.history_length, c.history);
    }
    free_struct_defs(&defs);
  }
  // A ninth file is more than the scan keeps: it is named, the eight are kept.
  std::string many;
  for (int i = 0; i < 9; i++) many += "{symbols f" + std::to_string(i) + "}\n";
  std::vector<char> text(many.begin(), many.end());
  text.push_back('\0');
  ConfigScan out;
  StructDefList defs = {nullptr, nullptr};
  scan_config(text.data(), &out, &defs);
  EXPECT_EQ(errors_of(out), "9: symbols: at most 8 symbol files are read");
  EXPECT_EQ(out.symbol_files, 8u);
  EXPECT_STREQ(out.symbols[7].file, "f7");
}
