// The decoder and disassembler: instruction text and length for byte
// sequences in 16-bit and 32-bit code, and that no decoded text can carry
// the characters the front end's parsers stop at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder.hpp"
#include "disasm.hpp"

using namespace sim;

namespace {

std::vector<uint8_t> bytes_of(const std::string &hex) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

struct Case {
  const char *code;
  const char *text;
  uint32_t eip = 0x1000;
};

void check(const std::vector<Case> &cases, bool code32) {
  for (const Case &c : cases) {
    std::vector<uint8_t> code = bytes_of(c.code);
    std::vector<uint8_t> padded = code;
    padded.resize(15, 0x90);
    Insn in = decode(padded.data(), 15, code32, c.eip);
    EXPECT_EQ(disassemble(in), c.text) << c.code;
    EXPECT_EQ(in.length, code.size()) << c.code;
    std::string hex;
    for (char ch : std::string(c.code))
      if (ch != ' ') hex += ch;
    EXPECT_EQ(hex_bytes(in), hex) << c.code;
  }
}

TEST(Disassembly, SixteenBitCode) {
  check(
      {
          {"fa", "cli"},
          {"31c0", "xor ax, ax"},
          {"8ed8", "mov ds, ax"},
          {"8cc8", "mov ax, cs"},
          {"bc007c", "mov sp, 0x7c00"},
          {"b456", "mov ah, 0x56"},
          {"e83b00", "call 0x7c4b", 0x7c0d},
          {"e2fb", "loop 0x7c13", 0x7c16},
          {"e1fe", "loope 0x1000"},
          {"e0fe", "loopne 0x1000"},
          {"e3fe", "jcxz 0x1000"},
          {"67e3fd", "jecxz 0x1000"},
          {"ebfe", "jmp 0x7c3b", 0x7c3b},
          {"e900f0", "jmp 0x3"},
          {"7501", "jnz 0x103", 0x100},
          {"0f84fc0f", "jz 0x2000"},
          {"9a5a7c0000", "call far 0x0000:0x7c5a"},
          {"ea5be000f0", "jmp far 0xf000:0xe05b"},
          {"a10005", "mov ax, word ptr ds:[0x500]"},
          {"a30005", "mov word ptr ds:[0x500], ax"},
          {"a20005", "mov byte ptr ds:[0x500], al"},
          {"2ea10005", "mov ax, word ptr cs:[0x500]"},
          {"833e000505", "cmp word ptr ds:[0x500], 0x5"},
          {"83c0fe", "add ax, 0xfffe"},
          {"803e000656", "cmp byte ptr ds:[0x600], 0x56"},
          {"c70600053412", "mov word ptr ds:[0x500], 0x1234"},
          {"c60799", "mov byte ptr ds:[bx], 0x99"},
          {"8c1e0005", "mov word ptr ds:[0x500], ds"},
          {"8b46fe", "mov ax, word ptr ss:[bp-0x2]"},
          {"8b4610", "mov ax, word ptr ss:[bp+0x10]"},
          {"8b8600ff", "mov ax, word ptr ss:[bp+0xff00]"},
          {"8b4600", "mov ax, word ptr ss:[bp+0x0]"},
          {"268b07", "mov ax, word ptr es:[bx]"},
          {"8a00", "mov al, byte ptr ds:[bx+si]"},
          {"8b03", "mov ax, word ptr ss:[bp+di]"},
          {"884020", "mov byte ptr ds:[bx+si+0x20], al"},
          {"8d4008", "lea ax, [bx+si+0x8]"},
          {"00e7", "add bh, ah"},
          {"1007", "adc byte ptr ds:[bx], al"},
          {"1bc3", "sbb ax, bx"},
          {"21d8", "and ax, bx"},
          {"0c01", "or al, 0x1"},
          {"2c01", "sub al, 0x1"},
          {"3804", "cmp byte ptr ds:[si], al"},
          {"85d8", "test ax, bx"},
          {"a880", "test al, 0x80"},
          {"f7c30080", "test bx, 0x8000"},
          {"f6d0", "not al"},
          {"f7d8", "neg ax"},
          {"fe07", "inc byte ptr ds:[bx]"},
          {"ff4810", "dec word ptr ds:[bx+si+0x10]"},
          {"40", "inc ax"},
          {"4f", "dec di"},
          {"53", "push bx"},
          {"5d", "pop bp"},
          {"ff37", "push word ptr ds:[bx]"},
          {"8f060005", "pop word ptr ds:[0x500]"},
          {"6afe", "push 0xfffe"},
          {"683412", "push 0x1234"},
          {"1e", "push ds"},
          {"07", "pop es"},
          {"0e", "push cs"},
          {"9c", "pushf"},
          {"9d", "popf"},
          {"669c", "pushfd"},
          {"ffd3", "call bx"},
          {"ff17", "call word ptr ds:[bx]"},
          {"ff1f", "call far dword ptr ds:[bx]"},
          {"ffe0", "jmp ax"},
          {"ff2f", "jmp far dword ptr ds:[bx]"},
          {"c3", "ret"},
          {"c20400", "ret 0x4"},
          {"cb", "retf"},
          {"ca0200", "retf 0x2"},
          {"cd10", "int 0x10"},
          {"cc", "int3"},
          {"cf", "iret"},
          {"66cf", "iretd"},
          {"f3a4", "rep: movsb"},
          {"f3aa", "rep: stosb"},
          {"f3ab", "rep: stosw"},
          {"f3ac", "rep: lodsb"},
          {"f3a6", "repe: cmpsb"},
          {"f2ae", "repne: scasb"},
          {"f2a4", "repne: movsb"},
          {"26a4", "movsb"},
          {"a5", "movsw"},
          {"66a5", "movsd"},
          {"af", "scasw"},
          {"98", "cbw"},
          {"6698", "cwde"},
          {"99", "cwd"},
          {"6699", "cdq"},
          {"9e", "sahf"},
          {"9f", "lahf"},
          {"90", "nop"},
          {"f390", "nop"},
          {"93", "xchg ax, bx"},
          {"860f", "xchg byte ptr ds:[bx], cl"},
          {"f4", "hlt"},
          {"f5", "cmc"},
          {"f8", "clc"},
          {"f9", "stc"},
          {"fb", "sti"},
          {"fc", "cld"},
          {"fd", "std"},
          {"f0fa", "cli"},
          {"66b878563412", "mov eax, 0x12345678"},
          {"6601d8", "add eax, ebx"},
          {"66672b449808", "sub eax, dword ptr ds:[eax+ebx*4+0x8]"},
          {"0f0b", "(invalid)"},
          {"d4", "(invalid)"},
          {"8ec8", "(invalid)"},
          {"f7e3", "(invalid)"},
      },
      false);
}

TEST(Disassembly, ConditionalJumpNames) {
  const char *const names[16] = {"jo", "jno", "jb", "jnb", "jz", "jnz", "jbe", "jnbe",
                                 "js", "jns", "jp", "jnp", "jl", "jnl", "jle", "jnle"};
  std::vector<Case> cases;
  std::vector<std::string> keep;
  keep.reserve(64);
  for (int cc = 0; cc < 16; ++cc) {
    char code[8];
    snprintf(code, sizeof code, "%02x10", 0x70 + cc);
    keep.push_back(code);
    keep.push_back(std::string(names[cc]) + " 0x1012");
    cases.push_back(Case{keep[keep.size() - 2].c_str(), keep.back().c_str()});
  }
  check(cases, false);
}

TEST(Disassembly, ThirtyTwoBitCode) {
  check(
      {
          {"b878563412", "mov eax, 0x12345678"},
          {"66b83412", "mov ax, 0x1234"},
          {"6689c3", "mov bx, ax"},
          {"8b0c24", "mov ecx, dword ptr ss:[esp]"},
          {"8945f8", "mov dword ptr ss:[ebp-0x8], eax"},
          {"8b449808", "mov eax, dword ptr ds:[eax+ebx*4+0x8]"},
          {"8b0d00100000", "mov ecx, dword ptr ds:[0x1000]"},
          {"8b04b500100000", "mov eax, dword ptr ds:[esi*4+0x1000]"},
          {"8b8000100000", "mov eax, dword ptr ds:[eax+0x1000]"},
          {"678b07", "mov eax, dword ptr ds:[bx]"},
          {"ea000100001800", "jmp far 0x0018:0x00000100"},
          {"e8faffffff", "call 0x100f", 0x1010},
          {"ff3500100000", "push dword ptr ds:[0x1000]"},
          {"50", "push eax"},
          {"6a01", "push 0x1"},
          {"a5", "movsd"},
          {"66a5", "movsw"},
          {"f3a5", "rep: movsd"},
          {"e2fe", "loop 0x1000"},
          {"e3fe", "jecxz 0x1000"},
          {"9c", "pushfd"},
          {"cf", "iretd"},
      },
      true);
}

TEST(Disassembly, PortsAndSystemInstructions) {
  check(
      {
          {"e6e9", "out 0xe9, al"},
          {"e7e9", "out 0xe9, ax"},
          {"ee", "out dx, al"},
          {"ef", "out dx, ax"},
          {"66ef", "out dx, eax"},
          {"e460", "in al, 0x60"},
          {"ec", "in al, dx"},
          {"ed", "in ax, dx"},
          {"0f01160006", "lgdt fword ptr ds:[0x600]"},
          {"0f011e0606", "lidt fword ptr ds:[0x606]"},
          {"0f0107", "sgdt fword ptr ds:[bx]"},
          {"0f014e02", "sidt fword ptr ss:[bp+0x2]"},
          {"0f00d8", "ltr ax"},
          {"0f00d3", "lldt bx"},
          {"0f00c9", "str cx"},
          {"0f00c0", "sldt ax"},
          {"0f000f", "str word ptr ds:[bx]"},
          {"0f01e2", "smsw dx"},
          {"0f01f0", "lmsw ax"},
          {"0f0138", "invlpg byte ptr ds:[bx+si]"},
          {"0f06", "clts"},
          {"0f20c0", "mov eax, cr0"},
          {"0f20d3", "mov ebx, cr2"},
          {"0f22d8", "mov cr3, eax"},
          {"0f22e1", "mov cr4, ecx"},
          {"0f2000", "mov eax, cr0"},  // mod is ignored: always registers
          {"87db", "xchg bx, bx"},
          {"0f20c8", "(invalid)"},  // cr1
          {"0f22e8", "(invalid)"},  // cr5
          {"0f01d8", "(invalid)"},  // lidt needs memory
          {"0f01f8", "(invalid)"},  // invlpg needs memory
          {"0f00e0", "(invalid)"},  // verr is not in the subset
      },
      false);
  check(
      {
          {"0f0115007d0000", "lgdt fword ptr ds:[0x7d00]"},
          {"0f00c9", "str ecx"},
          {"e5e9", "in eax, 0xe9"},
          {"6687db", "xchg bx, bx"},
      },
      true);
}

// An instruction cut short by the end of what could be fetched is marked
// incomplete (and keeps the bytes there were); one that has all its bytes
// is not, however short the buffer.
TEST(Disassembly, IncompleteWhenTheBytesRunOut) {
  const struct {
    const char *code;
    bool incomplete;
  } cases[] = {
      {"", true},       {"b8", true},   {"b834", true},  {"b83412", false}, {"66", true},
      {"0f", true},     {"0f01", true}, {"c70600", true}, {"90", false},    {"0f0b", false},
  };
  for (const auto &c : cases) {
    std::vector<uint8_t> code = bytes_of(c.code);
    code.reserve(1);
    Insn in = decode(code.data(), unsigned(code.size()), false, 0);
    EXPECT_EQ(in.incomplete, c.incomplete) << c.code;
    if (c.incomplete) {
      EXPECT_EQ(in.op, Op::Invalid) << c.code;
      EXPECT_EQ(in.length, code.size()) << c.code;
    }
  }
  // With 15 bytes at hand nothing is incomplete.
  std::vector<uint8_t> all_prefixes(15, 0x66);
  EXPECT_FALSE(decode(all_prefixes.data(), 15, false, 0).incomplete);
}

TEST(Disassembly, TooManyPrefixesOrTooFewBytesAreInvalid) {
  std::vector<uint8_t> code(15, 0x66);
  code[14] = 0x90;
  Insn fits = decode(code.data(), 15, false, 0);
  EXPECT_EQ(disassemble(fits), "nop");
  EXPECT_EQ(fits.length, 15);
  std::vector<uint8_t> all_prefixes(15, 0x66);
  Insn too_long = decode(all_prefixes.data(), 15, false, 0);
  EXPECT_EQ(too_long.op, Op::Invalid);
  EXPECT_EQ(too_long.length, 15);
  const uint8_t cut[] = {0xb8, 0x34};
  Insn short_read = decode(cut, 2, false, 0);
  EXPECT_EQ(short_read.op, Op::Invalid);
  EXPECT_EQ(short_read.length, 2);
}

TEST(Disassembly, NoTextHoldsASemicolonOrAnAngleBracket) {
  // Every one- and two-byte opcode with a spread of ModRM and SIB bytes.
  for (int code32 = 0; code32 < 2; ++code32) {
    for (int two = 0; two < 2; ++two) {
      for (int op = 0; op < 256; ++op) {
        for (int modrm : {0x00, 0x06, 0x04, 0x05, 0x44, 0x85, 0xc0, 0xd8, 0xf8, 0xff, 0x3c, 0x7d}) {
          std::vector<uint8_t> code;
          if (two) code.push_back(0x0f);
          code.push_back(uint8_t(op));
          code.push_back(uint8_t(modrm));
          for (uint8_t b : {0x25, 0x80, 0x12, 0xfe, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 0x11, 0x22})
            code.push_back(b);
          Insn in = decode(code.data(), 15, code32, 0x1234);
          std::string text = disassemble(in);
          ASSERT_FALSE(text.empty());
          ASSERT_EQ(text.find(';'), std::string::npos) << text;
          ASSERT_EQ(text.find('<'), std::string::npos) << text;
          ASSERT_GE(in.length, 1);
          ASSERT_LE(in.length, 15);
          ASSERT_EQ(hex_bytes(in).size(), 2u * in.length);
        }
      }
    }
  }
}

}  // namespace
