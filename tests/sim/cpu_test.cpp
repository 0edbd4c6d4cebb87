// The processor, instruction by instruction: results, flags (the whole of
// EFLAGS is compared), EIP, and that nothing else changes: every register
// not named in a case keeps its value, and every memory write of the step
// falls inside the bytes the case expects to change.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "bios.hpp"
#include "cpu.hpp"
#include "machine.hpp"

using namespace sim;

namespace {

constexpr uint32_t kCode = 0x1000;  // 0000:1000
constexpr uint32_t F = 0x2;         // the reserved flag bit, always set

struct Reg {
  const char *name;
  uint32_t value;
};
struct Bytes {
  uint32_t address;
  const char *hex;
};
struct Case {
  const char *what;
  const char *code;
  std::vector<Reg> in;
  std::vector<Reg> out;  // what changes; "eip" defaults to just past the code
  std::vector<Bytes> mem_in = {};
  std::vector<Bytes> mem_out = {};
  unsigned steps = 1;
};

std::vector<uint8_t> bytes_of(const std::string &hex) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

const std::map<std::string, std::pair<int, unsigned>> &registers() {
  static const std::map<std::string, std::pair<int, unsigned>> r = {
      {"eax", {EAX, 4}}, {"ecx", {ECX, 4}}, {"edx", {EDX, 4}}, {"ebx", {EBX, 4}}, {"esp", {ESP, 4}},
      {"ebp", {EBP, 4}}, {"esi", {ESI, 4}}, {"edi", {EDI, 4}}, {"ax", {EAX, 2}},  {"cx", {ECX, 2}},
      {"dx", {EDX, 2}},  {"bx", {EBX, 2}},  {"sp", {ESP, 2}},  {"bp", {EBP, 2}},  {"si", {ESI, 2}},
      {"di", {EDI, 2}},  {"al", {EAX, 1}},  {"cl", {ECX, 1}},  {"dl", {EDX, 1}},  {"bl", {EBX, 1}},
      {"ah", {EAX, 8}},  {"ch", {ECX, 8}},  {"dh", {EDX, 8}},  {"bh", {EBX, 8}},
  };
  return r;
}

const std::map<std::string, int> &segments() {
  static const std::map<std::string, int> s = {{"es", ES}, {"cs", CS}, {"ss", SS}, {"ds", DS}, {"fs", FS}, {"gs", GS}};
  return s;
}

void set(Cpu &c, const std::string &name, uint32_t v) {
  if (name == "flags") {
    c.eflags = v;
    return;
  }
  if (name == "eip") {
    c.eip = v;
    return;
  }
  auto s = segments().find(name);
  if (s != segments().end()) {
    load_real_segment(c.seg[s->second], uint16_t(v));
    return;
  }
  auto r = registers().find(name);
  ASSERT_NE(r, registers().end()) << name;
  uint32_t &reg = c.regs[r->second.first];
  switch (r->second.second) {
    case 4: reg = v; break;
    case 2: reg = (reg & 0xffff0000u) | (v & 0xffff); break;
    case 1: reg = (reg & ~0xffu) | (v & 0xff); break;
    case 8: reg = (reg & ~0xff00u) | ((v & 0xff) << 8); break;
  }
}

std::string describe(const Cpu &c) {
  char buf[512];
  snprintf(buf, sizeof buf,
           "eax=%08x ecx=%08x edx=%08x ebx=%08x esp=%08x ebp=%08x esi=%08x edi=%08x eip=%08x eflags=%08x "
           "cs=%04x/%x ds=%04x/%x es=%04x/%x ss=%04x/%x halted=%d shutdown=%d",
           c.regs[0], c.regs[1], c.regs[2], c.regs[3], c.regs[4], c.regs[5], c.regs[6], c.regs[7], c.eip, c.eflags,
           c.seg[CS].selector, c.seg[CS].base, c.seg[DS].selector, c.seg[DS].base, c.seg[ES].selector, c.seg[ES].base,
           c.seg[SS].selector, c.seg[SS].base, c.halted, c.shutdown);
  return buf;
}

// A machine after reset with cs:ip = 0000:1000, ss:sp = 0000:8000, ds = es
// = 0, and the case's code, registers and memory.
void prepare(Machine &m, const Case &c) {
  reset(m);
  for (int s : {CS, DS, ES, SS}) load_real_segment(m.cpu.seg[s], 0);
  m.cpu.eip = kCode;
  m.cpu.regs[ESP] = 0x8000;
  std::vector<uint8_t> code = bytes_of(c.code);
  m.mem.load(kCode, code.data(), code.size());
  for (const Bytes &b : c.mem_in) {
    std::vector<uint8_t> v = bytes_of(b.hex);
    m.mem.load(b.address, v.data(), v.size());
  }
  for (const Reg &r : c.in) set(m.cpu, r.name, r.value);
}

void run(const Case &c) {
  SCOPED_TRACE(c.what);
  static Machine m;
  prepare(m, c);
  Cpu expected = m.cpu;
  expected.eip = kCode + uint32_t(bytes_of(c.code).size());
  for (const Reg &r : c.out) set(expected, r.name, r.value);
  AccessLog log;
  std::vector<Access> writes;
  for (unsigned i = 0; i < c.steps; ++i) {
    log.count = 0;
    step(m, &log);
    for (unsigned k = 0; k < log.count; ++k)
      if (log.items[k].write) writes.push_back(log.items[k]);
  }
  EXPECT_EQ(describe(m.cpu), describe(expected));
  for (const Bytes &b : c.mem_out) {
    std::vector<uint8_t> v = bytes_of(b.hex);
    for (size_t i = 0; i < v.size(); ++i)
      EXPECT_EQ(m.mem.read8(b.address + uint32_t(i)), v[i]) << "memory at " << std::hex << b.address + i;
  }
  for (const Access &w : writes) {
    for (uint32_t i = 0; i < w.size; ++i) {
      uint32_t a = w.address + i;
      bool expected_write = false;
      for (const Bytes &b : c.mem_out)
        expected_write |= a >= b.address && a < b.address + bytes_of(b.hex).size();
      EXPECT_TRUE(expected_write) << "unexpected write at " << std::hex << a;
    }
  }
}

void run(const std::vector<Case> &cases) {
  for (const Case &c : cases) run(c);
}

TEST(Cpu, Arithmetic) {
  run({
      {"add ax, bx: signed overflow", "01d8", {{"ax", 0x7fff}, {"bx", 1}}, {{"ax", 0x8000}, {"flags", F | OF | SF | AF | PF}}},
      {"add al, 0xff: carry out, zero", "04ff", {{"al", 1}}, {{"al", 0}, {"flags", F | CF | ZF | AF | PF}}},
      {"add word [bx], imm8 sign-extended", "830710", {{"bx", 0x500}}, {{"flags", F | CF}},
       {{0x500, "f8ff"}}, {{0x500, "0800"}}},
      {"add al, 8: carry out of the low nibble", "0408", {{"al", 0x08}}, {{"al", 0x10}, {"flags", F | AF}}},
      {"add al, 1: no carry out of the low nibble", "0401", {{"al", 0x07}}, {{"al", 0x08}, {"flags", F}}},
      {"add bh, ah: high byte registers", "00e7", {{"ax", 0x1200}, {"bx", 0x3400}}, {{"bx", 0x4600}, {"flags", F}}},
      {"add eax, ebx with the operand-size prefix", "6601d8", {{"eax", 0xffffffff}, {"ebx", 1}},
       {{"eax", 0}, {"flags", F | CF | ZF | AF | PF}}},
      {"adc ax, bx with carry in", "11d8", {{"ax", 0xffff}, {"bx", 0}, {"flags", F | CF}},
       {{"ax", 0}, {"flags", F | CF | ZF | AF | PF}}},
      {"adc without carry in", "11d8", {{"ax", 0x0f}, {"bx", 1}}, {{"ax", 0x10}, {"flags", F | AF}}},
      {"sub ax, bx: borrow", "29d8", {{"ax", 0}, {"bx", 1}}, {{"ax", 0xffff}, {"flags", F | CF | SF | AF | PF}}},
      {"sub ax, 1: signed overflow", "2d0100", {{"ax", 0x8000}}, {{"ax", 0x7fff}, {"flags", F | OF | AF | PF}}},
      {"sub al, 1: borrow into the low nibble", "2c01", {{"al", 0x10}}, {{"al", 0x0f}, {"flags", F | AF | PF}}},
      {"sub al, 1: no borrow into the low nibble", "2c01", {{"al", 0x08}}, {{"al", 0x07}, {"flags", F}}},
      {"sub al, 0x10: low nibble untouched", "2c10", {{"al", 0x08}}, {{"al", 0xf8}, {"flags", F | CF | SF}}},
      {"sbb ax, bx with borrow in", "19d8", {{"ax", 0}, {"bx", 0}, {"flags", F | CF}},
       {{"ax", 0xffff}, {"flags", F | CF | SF | AF | PF}}},
      {"sbb ax, bx: 5 - 3 - 1", "19d8", {{"ax", 5}, {"bx", 3}, {"flags", F | CF}}, {{"ax", 1}, {"flags", F}}},
      {"sub eax, [eax+ebx*4+8] with both size prefixes", "66672b449808", {{"eax", 0x500}, {"ebx", 1}},
       {{"eax", 0x400}, {"flags", F | PF}}, {{0x50c, "00010000"}}},
      {"cmp ax, 5: equal, operand kept", "3d0500", {{"ax", 5}}, {{"flags", F | ZF | PF}}},
      {"cmp byte [si], al: below", "3804", {{"si", 0x600}, {"al", 0x20}}, {{"flags", F | CF | SF | PF}},
       {{0x600, "10"}}},
      {"inc ax keeps the carry", "40", {{"ax", 0x7fff}, {"flags", F | CF}},
       {{"ax", 0x8000}, {"flags", F | CF | OF | SF | AF | PF}}},
      {"dec ax keeps a clear carry", "48", {{"ax", 0}}, {{"ax", 0xffff}, {"flags", F | SF | AF | PF}}},
      {"dec bx: signed overflow", "4b", {{"bx", 0x8000}, {"flags", F | CF}}, {{"bx", 0x7fff}, {"flags", F | CF | OF | AF | PF}}},
      {"inc byte [bx]: wraps to zero, carry kept", "fe07", {{"bx", 0x500}, {"flags", F | CF}},
       {{"flags", F | CF | ZF | AF | PF}}, {{0x500, "ff"}}, {{0x500, "00"}}},
      {"dec word [bx+si+0x10]", "ff4810", {{"bx", 0x500}, {"si", 0x10}}, {{"flags", F | ZF | PF}},
       {{0x520, "0100"}}, {{0x520, "0000"}}},
      {"neg 0", "f7d8", {{"ax", 0}, {"flags", F | CF}}, {{"flags", F | ZF | PF}}},
      {"neg 1", "f7d8", {{"ax", 1}}, {{"ax", 0xffff}, {"flags", F | CF | SF | AF | PF}}},
      {"neg 0x8000", "f7d8", {{"ax", 0x8000}}, {{"flags", F | CF | OF | SF | PF}}},
  });
}

TEST(Cpu, Logic) {
  run({
      {"and clears carry and overflow", "21d8", {{"ax", 0xf0f0}, {"bx", 0x0ff0}, {"flags", F | CF | OF | AF}},
       {{"ax", 0x00f0}, {"flags", F | PF}}},
      {"or sets the sign", "09d8", {{"ax", 0x8000}, {"bx", 1}}, {{"ax", 0x8001}, {"flags", F | SF}}},
      {"xor ax, ax", "31c0", {{"ax", 0x1234}, {"flags", F | CF}}, {{"ax", 0}, {"flags", F | ZF | PF}}},
      {"or al, imm: even parity", "0c01", {{"al", 0x02}}, {{"al", 0x03}, {"flags", F | PF}}},
      {"and byte [bx], imm", "80277f", {{"bx", 0x500}}, {{"flags", F}}, {{0x500, "81"}}, {{0x500, "01"}}},
      {"test al, 0x80", "a880", {{"al", 0x80}}, {{"flags", F | SF}}},
      {"test bx, 0x8000 (group 3)", "f7c30080", {{"bx", 0x8000}}, {{"flags", F | SF | PF}}},
      {"test r/m, reg leaves both", "85d8", {{"ax", 0x0f}, {"bx", 0xf0}, {"flags", F | CF}}, {{"flags", F | ZF | PF}}},
      {"not leaves the flags", "f7d0", {{"ax", 0x00ff}, {"flags", F | CF | ZF}}, {{"ax", 0xff00}}},
  });
}

TEST(Cpu, Moves) {
  run({
      {"mov bx, imm16", "bb3412", {}, {{"bx", 0x1234}}},
      {"mov ah, imm8", "b456", {{"ax", 0x1234}}, {{"ax", 0x5634}}},
      {"mov eax, imm32 with the prefix", "66b878563412", {}, {{"eax", 0x12345678}}},
      {"mov [bx+2], ax", "894702", {{"bx", 0x500}, {"ax", 0xbeef}}, {}, {}, {{0x502, "efbe"}}},
      {"mov ax, [bp-2] uses ss", "8b46fe", {{"ss", 0x100}, {"bp", 0x30}}, {{"ax", 0x1234}}, {{0x102e, "3412"}}},
      {"mov ax, es:[bx]", "268b07", {{"es", 0x200}, {"bx", 4}}, {{"ax", 0x5678}}, {{0x2004, "7856"}}},
      {"mov ax, moffs", "a10005", {}, {{"ax", 0xabcd}}, {{0x500, "cdab"}}},
      {"mov moffs, al", "a20005", {{"al", 0x42}}, {}, {}, {{0x500, "42"}}},
      {"mov word [0x500], imm16", "c70600053412", {}, {}, {}, {{0x500, "3412"}}},
      {"mov byte [bx], imm8", "c60799", {{"bx", 0x600}}, {}, {}, {{0x600, "99"}}},
      {"mov ds, ax", "8ed8", {{"ax", 0x1234}}, {{"ds", 0x1234}}},
      {"mov ax, es", "8cc0", {{"es", 0x200}}, {{"ax", 0x200}}},
      {"mov [0x500], ds", "8c1e0005", {{"ds", 0x9abc}}, {}, {{0x9abc0 + 0x500, "0000"}}, {{0x9abc0 + 0x500, "bc9a"}}},
      {"xchg ax, bx (short form)", "93", {{"ax", 1}, {"bx", 2}}, {{"ax", 2}, {"bx", 1}}},
      {"xchg [bx], cl", "860f", {{"bx", 0x500}, {"cl", 7}}, {{"cl", 9}}, {{0x500, "09"}}, {{0x500, "07"}}},
      {"lea ax, [bx+si+8]", "8d4008", {{"bx", 0x10}, {"si", 0x20}}, {{"ax", 0x38}}},
      {"lea wraps at 64 KiB", "8d87ffff", {{"bx", 2}}, {{"ax", 1}}},
      {"cbw", "98", {{"ax", 0x1280}}, {{"ax", 0xff80}}},
      {"cwd", "99", {{"ax", 0x8000}}, {{"dx", 0xffff}}},
      {"cwd of a positive word", "99", {{"ax", 0x7fff}, {"dx", 0x1234}}, {{"dx", 0}}},
      {"sahf", "9e", {{"ah", 0xd5}}, {{"flags", F | SF | ZF | AF | PF | CF}}},
      {"lahf", "9f", {{"flags", F | CF | ZF}}, {{"ah", 0x43}}},
      {"nop", "90", {{"flags", F | CF}}, {}},
  });
}

TEST(Cpu, Stack) {
  run({
      {"push bx", "53", {{"bx", 0x1234}}, {{"sp", 0x7ffe}}, {}, {{0x7ffe, "3412"}}},
      {"push sp pushes the value before the push", "54", {}, {{"sp", 0x7ffe}}, {}, {{0x7ffe, "0080"}}},
      {"pop bx", "5b", {{"sp", 0x7ffe}}, {{"bx", 0xabcd}, {"sp", 0x8000}}, {{0x7ffe, "cdab"}}},
      {"push imm8 sign-extended", "6afe", {}, {{"sp", 0x7ffe}}, {}, {{0x7ffe, "feff"}}},
      {"push imm16", "683412", {}, {{"sp", 0x7ffe}}, {}, {{0x7ffe, "3412"}}},
      {"push ds", "1e", {{"ds", 0x1234}}, {{"sp", 0x7ffe}}, {}, {{0x7ffe, "3412"}}},
      {"pop es", "07", {{"sp", 0x7ffe}}, {{"es", 0x200}, {"sp", 0x8000}}, {{0x7ffe, "0002"}}},
      {"pushf", "9c", {{"flags", F | CF | IF}}, {{"sp", 0x7ffe}}, {}, {{0x7ffe, "0302"}}},
      {"popf keeps bit 1 and the unused bits", "9d", {{"sp", 0x7ffe}}, {{"sp", 0x8000}, {"flags", 0x7fd7}},
       {{0x7ffe, "ffff"}}},
      {"pop word [0x500]", "8f060005", {{"sp", 0x7ffe}}, {{"sp", 0x8000}}, {{0x7ffe, "2211"}}, {{0x500, "2211"}}},
      {"push eax with the prefix", "6650", {{"eax", 0x11223344}}, {{"sp", 0x7ffc}}, {}, {{0x7ffc, "44332211"}}},
      {"push word [bx]", "ff37", {{"bx", 0x500}}, {{"sp", 0x7ffe}}, {{0x500, "6655"}}, {{0x7ffe, "6655"}}},
      {"the stack pointer wraps within the segment", "50", {{"sp", 0}, {"ax", 0xbeef}}, {{"sp", 0xfffe}}, {},
       {{0xfffe, "efbe"}}},
  });
}

TEST(Cpu, Transfers) {
  run({
      {"jmp short to itself", "ebfe", {}, {{"eip", 0x1000}}},
      {"jmp near", "e9fd0f", {}, {{"eip", 0x2000}}},
      {"jmp near wraps within the segment", "e900f0", {}, {{"eip", 0x0003}}},
      {"jmp far", "ea10003412", {}, {{"cs", 0x1234}, {"eip", 0x10}}},
      {"jmp ax", "ffe0", {{"ax", 0x3000}}, {{"eip", 0x3000}}},
      {"jmp [bx]", "ff27", {{"bx", 0x500}}, {{"eip", 0x3000}}, {{0x500, "0030"}}},
      {"jmp far [bx]", "ff2f", {{"bx", 0x500}}, {{"eip", 0x3000}, {"cs", 0x200}}, {{0x500, "00300002"}}},
      {"call near", "e8fd0f", {}, {{"eip", 0x2000}, {"sp", 0x7ffe}}, {}, {{0x7ffe, "0310"}}},
      {"call bx", "ffd3", {{"bx", 0x3000}}, {{"eip", 0x3000}, {"sp", 0x7ffe}}, {}, {{0x7ffe, "0210"}}},
      {"call far", "9a00300002", {}, {{"eip", 0x3000}, {"cs", 0x200}, {"sp", 0x7ffc}}, {}, {{0x7ffc, "05100000"}}},
      {"call far [bx]", "ff1f", {{"bx", 0x500}}, {{"eip", 0x3000}, {"cs", 0x200}, {"sp", 0x7ffc}},
       {{0x500, "00300002"}}, {{0x7ffc, "02100000"}}},
      {"ret", "c3", {{"sp", 0x7ffe}}, {{"eip", 0x1234}, {"sp", 0x8000}}, {{0x7ffe, "3412"}}},
      {"ret imm16", "c20400", {{"sp", 0x7ffe}}, {{"eip", 0x1234}, {"sp", 0x8004}}, {{0x7ffe, "3412"}}},
      {"retf", "cb", {{"sp", 0x7ffc}}, {{"eip", 0x3000}, {"cs", 0x200}, {"sp", 0x8000}}, {{0x7ffc, "00300002"}}},
      {"retf imm16", "ca0200", {{"sp", 0x7ffc}}, {{"eip", 0x3000}, {"cs", 0x200}, {"sp", 0x8002}},
       {{0x7ffc, "00300002"}}},
      {"int to the BIOS stub clears IF and TF", "cd21", {{"flags", F | CF | IF | TF}},
       {{"cs", 0xf000}, {"eip", 0xff53}, {"sp", 0x7ffa}, {"flags", F | CF}}, {}, {{0x7ffa, "021000000303"}}},
      {"int through a vector set by the program", "cd21", {},
       {{"cs", 0x200}, {"eip", 0x3000}, {"sp", 0x7ffa}}, {{0x84, "00300002"}}, {{0x7ffa, "021000000200"}}},
      {"int3 uses vector 3", "cc", {}, {{"cs", 0x200}, {"eip", 0x3000}, {"sp", 0x7ffa}}, {{0x0c, "00300002"}},
       {{0x7ffa, "011000000200"}}},
      {"iret", "cf", {{"sp", 0x7ffa}}, {{"eip", 0x1234}, {"cs", 0x200}, {"sp", 0x8000}, {"flags", 0x08c3}},
       {{0x7ffa, "34120002c308"}}},
      {"jcxz taken", "e3fe", {{"cx", 0}}, {{"eip", 0x1000}}},
      {"jcxz not taken", "e3fe", {{"cx", 1}}, {}},
      {"loop taken", "e2fe", {{"cx", 3}}, {{"cx", 2}, {"eip", 0x1000}}},
      {"loop falls through at zero", "e2fe", {{"cx", 1}}, {{"cx", 0}}},
      {"loop from zero wraps", "e2fe", {{"cx", 0}}, {{"cx", 0xffff}, {"eip", 0x1000}}},
      {"loop leaves the upper half of ecx", "e2fe", {{"ecx", 0x00010000}}, {{"ecx", 0x0001ffff}, {"eip", 0x1000}}},
      {"loop with 32-bit addressing counts ecx", "67e2fd", {{"ecx", 0x00010000}}, {{"ecx", 0xffff}, {"eip", 0x1000}}},
      {"loope taken", "e1fe", {{"cx", 3}, {"flags", F | ZF}}, {{"cx", 2}, {"eip", 0x1000}}},
      {"loope not taken", "e1fe", {{"cx", 3}}, {{"cx", 2}}},
      {"loopne taken", "e0fe", {{"cx", 3}}, {{"cx", 2}, {"eip", 0x1000}}},
      {"loopne not taken", "e0fe", {{"cx", 3}, {"flags", F | ZF}}, {{"cx", 2}}},
      {"jz near (0f 84)", "0f84fc0f", {{"flags", F | ZF}}, {{"eip", 0x2000}}},
      {"jz near not taken", "0f84fc0f", {}, {}},
  });
}

TEST(Cpu, ConditionalJumpsFollowTheFlags) {
  struct Jcc {
    unsigned cc;
    uint32_t flags;
    bool taken;
  } table[] = {
      {0x0, OF, true},      {0x0, 0, false},       {0x1, 0, true},        {0x1, OF, false},
      {0x2, CF, true},      {0x2, 0, false},       {0x3, 0, true},        {0x3, CF, false},
      {0x4, ZF, true},      {0x4, 0, false},       {0x5, 0, true},        {0x5, ZF, false},
      {0x6, ZF, true},      {0x6, CF, true},       {0x6, 0, false},       {0x7, 0, true},
      {0x7, CF, false},     {0x7, ZF, false},      {0x8, SF, true},       {0x8, 0, false},
      {0x9, 0, true},       {0x9, SF, false},      {0xa, PF, true},       {0xa, 0, false},
      {0xb, 0, true},       {0xb, PF, false},      {0xc, SF, true},       {0xc, OF, true},
      {0xc, SF | OF, false}, {0xc, 0, false},      {0xd, SF | OF, true},  {0xd, 0, true},
      {0xd, SF, false},     {0xe, ZF, true},       {0xe, OF, true},       {0xe, SF | OF, false},
      {0xe, 0, false},      {0xf, 0, true},        {0xf, SF | OF, true},  {0xf, ZF, false},
      {0xf, SF, false},
  };
  for (const Jcc &j : table) {
    char code[8];
    snprintf(code, sizeof code, "%02x10", 0x70 + j.cc);
    std::string what = std::string("jcc ") + code + " flags " + std::to_string(j.flags);
    run(Case{what.c_str(), code, {{"flags", F | j.flags}}, {{"eip", j.taken ? 0x1012u : 0x1002u}}});
  }
}

TEST(Cpu, StringInstructions) {
  run({
      {"movsb", "a4", {{"si", 0x500}, {"di", 0x600}}, {{"si", 0x501}, {"di", 0x601}}, {{0x500, "41"}},
       {{0x600, "41"}}},
      {"movsw backwards", "a5", {{"si", 0x500}, {"di", 0x600}, {"flags", F | DF}}, {{"si", 0x4fe}, {"di", 0x5fe}},
       {{0x500, "3412"}}, {{0x600, "3412"}}},
      {"movsb from es: with a segment prefix", "26a4", {{"ds", 0x100}, {"si", 0x500}, {"di", 0x600}},
       {{"si", 0x501}, {"di", 0x601}}, {{0x500, "5a"}, {0x1500, "11"}}, {{0x600, "5a"}}},
      {"rep movsb: one iteration per step, EIP stays", "f3a4", {{"cx", 3}, {"si", 0x500}, {"di", 0x600}},
       {{"cx", 2}, {"si", 0x501}, {"di", 0x601}, {"eip", 0x1000}}, {{0x500, "616263"}}, {{0x600, "61"}}},
      {"rep movsb: done when the count runs out", "f3a4", {{"cx", 3}, {"si", 0x500}, {"di", 0x600}},
       {{"cx", 0}, {"si", 0x503}, {"di", 0x603}}, {{0x500, "616263"}}, {{0x600, "616263"}}, 3},
      {"rep movsb with cx 0 does nothing", "f3a4", {{"cx", 0}, {"si", 0x500}, {"di", 0x600}}, {}, {{0x500, "61"}}},
      {"rep stosw", "f3ab", {{"cx", 2}, {"ax", 0xbeef}, {"di", 0x600}}, {{"cx", 0}, {"di", 0x604}}, {},
       {{0x600, "efbeefbe"}}, 2},
      {"stosb wraps di within the segment", "aa", {{"di", 0xffff}, {"al", 1}}, {{"di", 0}}, {}, {{0xffff, "01"}}},
      {"lodsb", "ac", {{"si", 0x500}}, {{"al", 0x77}, {"si", 0x501}}, {{0x500, "77"}}},
      {"repe cmpsb stops at the first difference", "f3a6", {{"cx", 5}, {"si", 0x500}, {"di", 0x600}},
       {{"cx", 2}, {"si", 0x503}, {"di", 0x603}, {"flags", F | CF | SF | AF | PF}},
       {{0x500, "61626364"}, {0x600, "61627864"}}, {}, 3},
      {"repne scasb stops at a match", "f2ae", {{"cx", 10}, {"di", 0x600}, {"al", 'c'}},
       {{"cx", 7}, {"di", 0x603}, {"flags", F | ZF | PF}}, {{0x600, "61626364"}}, {}, 3},
      {"movsd with the operand-size prefix", "66a5", {{"si", 0x500}, {"di", 0x600}}, {{"si", 0x504}, {"di", 0x604}},
       {{0x500, "01020304"}}, {{0x600, "01020304"}}},
  });
}

TEST(Cpu, FlagInstructions) {
  run({
      {"cli", "fa", {{"flags", F | IF | CF}}, {{"flags", F | CF}}},
      {"sti", "fb", {}, {{"flags", F | IF}}},
      {"clc", "f8", {{"flags", F | CF | ZF}}, {{"flags", F | ZF}}},
      {"stc", "f9", {}, {{"flags", F | CF}}},
      {"cmc", "f5", {{"flags", F | CF}}, {{"flags", F}}},
      {"cld", "fc", {{"flags", F | DF}}, {{"flags", F}}},
      {"std", "fd", {}, {{"flags", F | DF}}},
  });
}

TEST(Cpu, InvalidOpcodesGoThroughVectorSix) {
  for (const char *code : {"0f0b", "d40a", "8ec8", "f7e3", "fe17", "ffff", "8fc8", "c6c800", "8cf8", "8dc0", "ff d8"}) {
    run(Case{code, code, {{"flags", F | IF}},
             {{"cs", 0xf000}, {"eip", bios::kHaltStub}, {"sp", 0x7ffa}, {"flags", F}}, {},
             {{0x7ffa, "001000000202"}}});
  }
}

TEST(Cpu, HltHaltsForGood) {
  static Machine m;
  prepare(m, Case{"hlt", "f4", {}, {}});
  EXPECT_EQ(step(m), StepResult::Executed);
  EXPECT_TRUE(m.cpu.halted);
  EXPECT_EQ(m.cpu.eip, 0x1001u);
  EXPECT_EQ(m.ticks, 1u);
  EXPECT_EQ(step(m), StepResult::Idle);
  EXPECT_EQ(m.cpu.eip, 0x1001u);
  EXPECT_EQ(m.ticks, 1u);
}

TEST(Cpu, EachIterationOfARepeatedInstructionIsATick) {
  static Machine m;
  prepare(m, Case{"rep stosb", "f3aa", {{"cx", 3}}, {}});
  EXPECT_EQ(step(m), StepResult::Repeating);
  EXPECT_EQ(step(m), StepResult::Repeating);
  EXPECT_EQ(step(m), StepResult::Executed);
  EXPECT_EQ(m.ticks, 3u);
  EXPECT_EQ(m.cpu.eip, 0x1002u);
}

TEST(Cpu, AccessesAreLoggedInOrder) {
  static Machine m;
  prepare(m, Case{"int 0x21", "cd21", {}, {}});
  AccessLog log;
  step(m, &log);
  ASSERT_EQ(log.count, 5u);
  const Access expected[] = {{0x7ffe, 2, true}, {0x7ffc, 2, true}, {0x7ffa, 2, true}, {0x84, 2, false}, {0x86, 2, false}};
  for (unsigned i = 0; i < 5; ++i) {
    EXPECT_EQ(log.items[i].address, expected[i].address) << i;
    EXPECT_EQ(log.items[i].size, expected[i].size) << i;
    EXPECT_EQ(log.items[i].write, expected[i].write) << i;
  }
  prepare(m, Case{"add [bx], ax", "0107", {{"bx", 0x501}}, {}});
  log.count = 0;
  step(m, &log);
  ASSERT_EQ(log.count, 2u);
  EXPECT_FALSE(log.items[0].write);
  EXPECT_TRUE(log.items[1].write);
  EXPECT_EQ(log.items[1].address, 0x501u);
  EXPECT_EQ(log.items[1].size, 2u);
}

// Protected mode: a flat 32-bit code and data segment, and a 16-bit code
// segment at 0x10000.
void protected_machine(Machine &m, const char *code) {
  reset(m);
  Cpu &c = m.cpu;
  c.cr[0] |= 1;
  c.gdtr_base = 0x1000;
  c.gdtr_limit = 0x1f;
  std::vector<uint8_t> gdt = bytes_of("0000000000000000 ffff0000009acf00 ffff00000092cf00 ffff0000019a0000");
  m.mem.load(0x1000, gdt.data(), gdt.size());
  ASSERT_TRUE(read_descriptor(m, 0x08, &c.seg[CS]));
  for (int s : {SS, DS, ES}) ASSERT_TRUE(read_descriptor(m, 0x10, &c.seg[s]));
  c.eip = 0x2000;
  c.regs[ESP] = 0x9000;
  std::vector<uint8_t> v = bytes_of(code);
  m.mem.load(0x2000, v.data(), v.size());
}

TEST(Cpu, ProtectedModeLoadsSegmentsFromTheTable) {
  static Machine m;
  protected_machine(m, "66b81800 8ec0");  // mov ax, 0x18; mov es, ax
  step(m);
  step(m);
  EXPECT_EQ(m.cpu.seg[ES].selector, 0x18);
  EXPECT_EQ(m.cpu.seg[ES].base, 0x10000u);
  EXPECT_EQ(m.cpu.seg[ES].access, 0x9a);
  EXPECT_FALSE(m.cpu.seg[ES].db);
  EXPECT_EQ(m.cpu.eip, 0x2006u);
}

TEST(Cpu, ProtectedModeNullDataSelectorIsInvalid) {
  static Machine m;
  protected_machine(m, "31c0 8ed8");  // xor eax, eax; mov ds, ax
  step(m);
  step(m);
  EXPECT_EQ(m.cpu.seg[DS].selector, 0);
  EXPECT_FALSE(m.cpu.seg[DS].valid);
  EXPECT_FALSE(m.cpu.shutdown);
}

TEST(Cpu, ProtectedModeFaultsShutTheProcessorDown) {
  for (const char *code : {"cd10", "cf", "0f0b", "66b82000 8ed8", "66b80000 8ed0"}) {
    SCOPED_TRACE(code);
    static Machine m;
    protected_machine(m, code);
    if (std::string(code).size() > 4) step(m);  // the mov ax before the load
    uint32_t eip = m.cpu.eip;
    uint64_t ticks = m.ticks;
    Cpu before = m.cpu;
    EXPECT_EQ(step(m), StepResult::Idle);
    EXPECT_TRUE(m.cpu.shutdown);
    EXPECT_EQ(m.cpu.eip, eip);
    EXPECT_EQ(m.ticks, ticks);
    EXPECT_EQ(m.cpu.regs[ESP], before.regs[ESP]);
    EXPECT_EQ(step(m), StepResult::Idle);
  }
}

TEST(Cpu, ThirtyTwoBitCodeUsesThirtyTwoBitOperandsAndStack) {
  static Machine m;
  protected_machine(m, "b878563412 66b83412 50 e8faffffff");  // mov eax; mov ax; push eax; call back to the push
  step(m);
  EXPECT_EQ(m.cpu.regs[EAX], 0x12345678u);
  step(m);
  EXPECT_EQ(m.cpu.regs[EAX], 0x12341234u);
  step(m);
  EXPECT_EQ(m.cpu.regs[ESP], 0x8ffcu);
  EXPECT_EQ(m.mem.read(0x8ffc, 4), 0x12341234u);
  step(m);
  EXPECT_EQ(m.cpu.eip, 0x2009u);
  EXPECT_EQ(m.cpu.regs[ESP], 0x8ff8u);
  EXPECT_EQ(m.mem.read(0x8ff8, 4), 0x200fu);
}

}  // namespace
