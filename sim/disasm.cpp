#include "disasm.hpp"

#include <cstdio>

namespace sim {
namespace {

const char *const kReg8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char *const kReg16[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char *const kReg32[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const char *const kSreg[8] = {"es", "cs", "ss", "ds", "fs", "gs", "ldtr", "tr"};
const char *const kCond[16] = {"jo", "jno", "jb", "jnb", "jz", "jnz", "jbe", "jnbe",
                               "js", "jns", "jp", "jnp", "jl", "jnl", "jle", "jnle"};

std::string hex(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

const char *reg_name(unsigned r, unsigned size) {
  return size == 1 ? kReg8[r & 7] : size == 2 ? kReg16[r & 7] : kReg32[r & 7];
}

const char *size_name(unsigned size) {
  switch (size) {
    case 1: return "byte ptr ";
    case 2: return "word ptr ";
    case 4: return "dword ptr ";
    case 6: return "fword ptr ";
    default: return "";
  }
}

std::string memory(const Insn &in, unsigned size) {
  const MemRef &m = in.mem;
  std::string s;
  if (size) {
    s += size_name(size);
    s += kSreg[m.seg];
    s += ':';
  }
  s += '[';
  const char *const *names = in.addr32 ? kReg32 : kReg16;
  bool any = false;
  if (m.base >= 0) {
    s += names[m.base];
    any = true;
  }
  if (m.index >= 0) {
    if (any) s += '+';
    s += names[m.index];
    if (m.scale > 1) s += "*" + std::to_string(m.scale);
    any = true;
  }
  uint32_t mask = in.addr32 ? 0xffffffffu : 0xffffu;
  if (!any) {
    s += hex(m.disp & mask);
  } else if (m.disp_size == 1) {
    int32_t d = int32_t(m.disp);
    s += d < 0 ? "-" + hex(uint32_t(-d)) : "+" + hex(uint32_t(d));
  } else if (m.disp_size) {
    s += "+" + hex(m.disp & mask);
  }
  s += ']';
  return s;
}

std::string operand(const Insn &in, const Operand &o) {
  switch (o.kind) {
    case Kind::Reg: return reg_name(o.reg, o.size);
    case Kind::SReg: return kSreg[o.reg & 7];
    case Kind::Mem: return memory(in, o.size);
    case Kind::Imm: return hex(o.size == 1 ? o.value & 0xff : o.size == 2 ? o.value & 0xffff : o.value);
    case Kind::Rel: return hex(o.value);
    case Kind::Far: {
      char buf[32];
      snprintf(buf, sizeof buf, in.opsize == 4 ? "0x%04x:0x%08x" : "0x%04x:0x%04x", o.sel, o.value);
      return buf;
    }
    case Kind::CReg: return "cr" + std::to_string(o.reg);
    case Kind::None: break;
  }
  return "";
}

const char *mnemonic(const Insn &in) {
  switch (in.op) {
    case Op::Invalid: return "(invalid)";
    case Op::Add: return "add";
    case Op::Or: return "or";
    case Op::Adc: return "adc";
    case Op::Sbb: return "sbb";
    case Op::And: return "and";
    case Op::Sub: return "sub";
    case Op::Xor: return "xor";
    case Op::Cmp: return "cmp";
    case Op::Test: return "test";
    case Op::Inc: return "inc";
    case Op::Dec: return "dec";
    case Op::Not: return "not";
    case Op::Neg: return "neg";
    case Op::Mov: return "mov";
    case Op::Lea: return "lea";
    case Op::Xchg: return "xchg";
    case Op::Cbw: return in.width == 4 ? "cwde" : "cbw";
    case Op::Cwd: return in.width == 4 ? "cdq" : "cwd";
    case Op::Sahf: return "sahf";
    case Op::Lahf: return "lahf";
    case Op::Push: return "push";
    case Op::Pop: return "pop";
    case Op::Pushf: return in.width == 4 ? "pushfd" : "pushf";
    case Op::Popf: return in.width == 4 ? "popfd" : "popf";
    case Op::Jmp: return "jmp";
    case Op::JmpFar: return "jmp far";
    case Op::Jcc: return kCond[in.cond & 15];
    case Op::Call: return "call";
    case Op::CallFar: return "call far";
    case Op::Ret: return "ret";
    case Op::RetFar: return "retf";
    case Op::Int: return "int";
    case Op::Int3: return "int3";
    case Op::Iret: return in.width == 4 ? "iretd" : "iret";
    case Op::Loop: return "loop";
    case Op::Loope: return "loope";
    case Op::Loopne: return "loopne";
    case Op::Jcxz: return in.addr32 ? "jecxz" : "jcxz";
    case Op::Movs: return "movs";
    case Op::Stos: return "stos";
    case Op::Lods: return "lods";
    case Op::Cmps: return "cmps";
    case Op::Scas: return "scas";
    case Op::Nop: return "nop";
    case Op::Hlt: return "hlt";
    case Op::Cli: return "cli";
    case Op::Sti: return "sti";
    case Op::Clc: return "clc";
    case Op::Stc: return "stc";
    case Op::Cmc: return "cmc";
    case Op::Cld: return "cld";
    case Op::Std: return "std";
    case Op::In: return "in";
    case Op::Out: return "out";
    case Op::Lgdt: return "lgdt";
    case Op::Lidt: return "lidt";
    case Op::Sgdt: return "sgdt";
    case Op::Sidt: return "sidt";
    case Op::Lldt: return "lldt";
    case Op::Ltr: return "ltr";
    case Op::Sldt: return "sldt";
    case Op::Str: return "str";
    case Op::Smsw: return "smsw";
    case Op::Lmsw: return "lmsw";
    case Op::Invlpg: return "invlpg";
    case Op::Clts: return "clts";
  }
  return "(invalid)";
}

bool is_string(Op op) { return op == Op::Movs || op == Op::Stos || op == Op::Lods || op == Op::Cmps || op == Op::Scas; }

}  // namespace

std::string disassemble(const Insn &in) {
  std::string s;
  if (is_string(in.op)) {
    if (in.rep == 0xf2) s += "repne: ";
    if (in.rep == 0xf3) s += (in.op == Op::Cmps || in.op == Op::Scas) ? "repe: " : "rep: ";
    s += mnemonic(in);
    s += in.width == 1 ? 'b' : in.width == 2 ? 'w' : 'd';
    return s;
  }
  s += mnemonic(in);
  if (in.a.kind != Kind::None) s += ' ' + operand(in, in.a);
  if (in.b.kind != Kind::None) s += ", " + operand(in, in.b);
  return s;
}

std::string hex_bytes(const Insn &in) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (unsigned i = 0; i < in.length; ++i) {
    s += digits[in.bytes[i] >> 4];
    s += digits[in.bytes[i] & 15];
  }
  return s;
}

}  // namespace sim
