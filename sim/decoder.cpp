#include "decoder.hpp"

namespace sim {
namespace {

constexpr unsigned kMaxLength = 15;

class Decoder {
 public:
  Decoder(const uint8_t *code, unsigned avail, bool code32, uint32_t eip)
      : code_(code),
        avail_(avail < kMaxLength ? avail : kMaxLength),
        truncated_(avail < kMaxLength),
        code32_(code32),
        eip_(eip) {}

  Insn run() {
    prefixes();
    if (ok_) opcode();
    if (!ok_) {
      Insn bad;
      bad.opsize = in_.opsize;
      bad.addr32 = in_.addr32;
      bad.incomplete = ran_out_;
      in_ = bad;
    }
    // An incomplete instruction keeps just the bytes there were.
    in_.length = uint8_t(in_.incomplete ? avail_ : pos_ > 0 ? pos_ : 1);
    for (unsigned i = 0; i < in_.length && i < avail_; ++i) in_.bytes[i] = code_[i];
    if (in_.a.kind == Kind::Rel) {
      uint32_t mask = in_.opsize == 4 ? 0xffffffffu : 0xffffu;
      in_.a.value = (eip_ + in_.length + in_.a.value) & mask;
    }
    return in_;
  }

 private:
  uint8_t u8() {
    if (pos_ >= avail_) {
      ok_ = false;
      ran_out_ = ran_out_ || truncated_;
      return 0;
    }
    return code_[pos_++];
  }
  uint32_t u16() {
    uint32_t lo = u8();
    return lo | (uint32_t(u8()) << 8);
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | (u16() << 16);
  }
  uint32_t imm(unsigned size) { return size == 1 ? u8() : size == 2 ? u16() : u32(); }
  static uint32_t sext8(uint32_t v) { return uint32_t(int32_t(int8_t(uint8_t(v)))); }
  static uint32_t sext16(uint32_t v) { return uint32_t(int32_t(int16_t(uint16_t(v)))); }
  uint32_t opmask() const { return in_.opsize == 4 ? 0xffffffffu : 0xffffu; }

  void invalid() { ok_ = false; }

  void prefixes() {
    in_.opsize = code32_ ? 4 : 2;
    in_.addr32 = code32_;
    for (;;) {
      if (pos_ >= avail_) {
        ok_ = false;
        ran_out_ = truncated_;
        return;
      }
      switch (code_[pos_]) {
        case 0x26: in_.seg_override = ES; break;
        case 0x2e: in_.seg_override = CS; break;
        case 0x36: in_.seg_override = SS; break;
        case 0x3e: in_.seg_override = DS; break;
        case 0x64: in_.seg_override = FS; break;
        case 0x65: in_.seg_override = GS; break;
        case 0x66: in_.opsize = code32_ ? 2 : 4; break;
        case 0x67: in_.addr32 = !code32_; break;
        case 0xf0: break;  // lock: no effect on a single processor
        case 0xf2:
        case 0xf3: in_.rep = code_[pos_]; break;
        default: return;
      }
      ++pos_;
    }
  }

  // ModRM and, for memory forms, the address that follows it.
  void modrm() {
    uint8_t b = u8();
    mod_ = b >> 6;
    reg_ = (b >> 3) & 7;
    rm_ = b & 7;
    if (mod_ == 3) return;
    MemRef &m = in_.mem;
    if (!in_.addr32) {
      static const int8_t base16[8] = {EBX, EBX, EBP, EBP, ESI, EDI, EBP, EBX};
      static const int8_t index16[8] = {ESI, EDI, ESI, EDI, -1, -1, -1, -1};
      m.base = base16[rm_];
      m.index = index16[rm_];
      if (mod_ == 0 && rm_ == 6) {
        m.base = -1;
        m.disp_size = 2;
      } else if (mod_ == 1) {
        m.disp_size = 1;
      } else if (mod_ == 2) {
        m.disp_size = 2;
      }
    } else {
      if (rm_ == 4) {
        uint8_t sib = u8();
        m.scale = uint8_t(1u << (sib >> 6));
        uint8_t index = (sib >> 3) & 7;
        m.index = index == 4 ? -1 : int8_t(index);
        m.base = int8_t(sib & 7);
        if (m.base == EBP && mod_ == 0) {
          m.base = -1;
          m.disp_size = 4;
        }
      } else if (mod_ == 0 && rm_ == 5) {
        m.disp_size = 4;
      } else {
        m.base = int8_t(rm_);
      }
      if (mod_ == 1) m.disp_size = 1;
      if (mod_ == 2) m.disp_size = 4;
    }
    if (m.disp_size == 1) m.disp = sext8(u8());
    if (m.disp_size == 2) m.disp = u16();
    if (m.disp_size == 4) m.disp = u32();
    m.seg = (m.base == EBP || m.base == ESP) ? SS : DS;
    if (in_.seg_override >= 0) m.seg = uint8_t(in_.seg_override);
  }

  static Operand reg(unsigned r, unsigned size) {
    Operand o;
    o.kind = Kind::Reg;
    o.reg = uint8_t(r);
    o.size = uint8_t(size);
    return o;
  }
  static Operand sreg(unsigned r) {
    Operand o;
    o.kind = Kind::SReg;
    o.reg = uint8_t(r);
    o.size = 2;
    return o;
  }
  static Operand mem(unsigned size) {
    Operand o;
    o.kind = Kind::Mem;
    o.size = uint8_t(size);
    return o;
  }
  static Operand immediate(uint32_t value, unsigned size) {
    Operand o;
    o.kind = Kind::Imm;
    o.size = uint8_t(size);
    o.value = value;
    return o;
  }
  static Operand creg(unsigned r) {
    Operand o;
    o.kind = Kind::CReg;
    o.reg = uint8_t(r);
    o.size = 4;
    return o;
  }
  static Operand rel(uint32_t displacement) {
    Operand o;
    o.kind = Kind::Rel;
    o.value = displacement;
    return o;
  }
  Operand E(unsigned size) const { return mod_ == 3 ? reg(rm_, size) : mem(size); }
  Operand G(unsigned size) const { return reg(reg_, size); }

  void set(Op op, Operand a = Operand(), Operand b = Operand()) {
    in_.op = op;
    in_.a = a;
    in_.b = b;
  }

  // A direct memory offset (the moffs forms of mov).
  void moffs() {
    MemRef &m = in_.mem;
    m.disp_size = in_.addr32 ? 4 : 2;
    m.disp = imm(m.disp_size);
    m.seg = in_.seg_override >= 0 ? uint8_t(in_.seg_override) : uint8_t(DS);
  }

  void far_pointer(Op op) {
    Operand o;
    o.kind = Kind::Far;
    o.value = imm(in_.opsize);
    o.sel = uint16_t(u16());
    set(op, o);
  }

  void string_op(Op op, unsigned opcode) {
    in_.width = uint8_t((opcode & 1) ? in_.opsize : 1);
    set(op);
  }

  void opcode() {
    unsigned op = u8();
    const unsigned v = in_.opsize;
    if (op == 0x0f) return two_byte_opcode();
    if (op < 0x40 && (op & 7) < 6) {
      Op alu = Op(unsigned(Op::Add) + (op >> 3));
      switch (op & 7) {
        case 0: modrm(); set(alu, E(1), G(1)); break;
        case 1: modrm(); set(alu, E(v), G(v)); break;
        case 2: modrm(); set(alu, G(1), E(1)); break;
        case 3: modrm(); set(alu, G(v), E(v)); break;
        case 4: set(alu, reg(EAX, 1), immediate(u8(), 1)); break;
        case 5: set(alu, reg(EAX, v), immediate(imm(v), v)); break;
      }
      return;
    }
    if (op >= 0x40 && op <= 0x5f) {
      static const Op ops[4] = {Op::Inc, Op::Dec, Op::Push, Op::Pop};
      set(ops[(op - 0x40) >> 3], reg(op & 7, v));
      return;
    }
    if (op >= 0x70 && op <= 0x7f) {
      in_.cond = uint8_t(op & 0xf);
      set(Op::Jcc, rel(sext8(u8())));
      return;
    }
    if (op >= 0xb0 && op <= 0xb7) {
      set(Op::Mov, reg(op & 7, 1), immediate(u8(), 1));
      return;
    }
    if (op >= 0xb8 && op <= 0xbf) {
      set(Op::Mov, reg(op & 7, v), immediate(imm(v), v));
      return;
    }
    if (op >= 0x91 && op <= 0x97) {
      set(Op::Xchg, reg(EAX, v), reg(op & 7, v));
      return;
    }
    switch (op) {
      case 0x06: set(Op::Push, sreg(ES)); break;
      case 0x07: set(Op::Pop, sreg(ES)); break;
      case 0x0e: set(Op::Push, sreg(CS)); break;
      case 0x16: set(Op::Push, sreg(SS)); break;
      case 0x17: set(Op::Pop, sreg(SS)); break;
      case 0x1e: set(Op::Push, sreg(DS)); break;
      case 0x1f: set(Op::Pop, sreg(DS)); break;
      case 0x68: set(Op::Push, immediate(imm(v), v)); break;
      case 0x6a: set(Op::Push, immediate(sext8(u8()) & opmask(), v)); break;
      case 0x80:
      case 0x82:
        modrm();
        set(Op(unsigned(Op::Add) + reg_), E(1), immediate(u8(), 1));
        break;
      case 0x81:
        modrm();
        set(Op(unsigned(Op::Add) + reg_), E(v), immediate(imm(v), v));
        break;
      case 0x83:
        modrm();
        set(Op(unsigned(Op::Add) + reg_), E(v), immediate(sext8(u8()) & opmask(), v));
        break;
      case 0x84: modrm(); set(Op::Test, E(1), G(1)); break;
      case 0x85: modrm(); set(Op::Test, E(v), G(v)); break;
      case 0x86: modrm(); set(Op::Xchg, E(1), G(1)); break;
      case 0x87: modrm(); set(Op::Xchg, E(v), G(v)); break;
      case 0x88: modrm(); set(Op::Mov, E(1), G(1)); break;
      case 0x89: modrm(); set(Op::Mov, E(v), G(v)); break;
      case 0x8a: modrm(); set(Op::Mov, G(1), E(1)); break;
      case 0x8b: modrm(); set(Op::Mov, G(v), E(v)); break;
      case 0x8c:
        modrm();
        if (reg_ > GS) return invalid();
        set(Op::Mov, mod_ == 3 ? reg(rm_, v) : mem(2), sreg(reg_));
        break;
      case 0x8d:
        modrm();
        if (mod_ == 3) return invalid();
        set(Op::Lea, G(v), mem(0));
        break;
      case 0x8e:
        modrm();
        if (reg_ > GS || reg_ == CS) return invalid();
        set(Op::Mov, sreg(reg_), E(2));
        break;
      case 0x8f:
        modrm();
        if (reg_ != 0) return invalid();
        set(Op::Pop, E(v));
        break;
      case 0x90: set(Op::Nop); break;
      case 0x98: in_.width = uint8_t(v); set(Op::Cbw); break;
      case 0x99: in_.width = uint8_t(v); set(Op::Cwd); break;
      case 0x9a: far_pointer(Op::CallFar); break;
      case 0x9c: in_.width = uint8_t(v); set(Op::Pushf); break;
      case 0x9d: in_.width = uint8_t(v); set(Op::Popf); break;
      case 0x9e: set(Op::Sahf); break;
      case 0x9f: set(Op::Lahf); break;
      case 0xa0: moffs(); set(Op::Mov, reg(EAX, 1), mem(1)); break;
      case 0xa1: moffs(); set(Op::Mov, reg(EAX, v), mem(v)); break;
      case 0xa2: moffs(); set(Op::Mov, mem(1), reg(EAX, 1)); break;
      case 0xa3: moffs(); set(Op::Mov, mem(v), reg(EAX, v)); break;
      case 0xa4: case 0xa5: string_op(Op::Movs, op); break;
      case 0xa6: case 0xa7: string_op(Op::Cmps, op); break;
      case 0xa8: set(Op::Test, reg(EAX, 1), immediate(u8(), 1)); break;
      case 0xa9: set(Op::Test, reg(EAX, v), immediate(imm(v), v)); break;
      case 0xaa: case 0xab: string_op(Op::Stos, op); break;
      case 0xac: case 0xad: string_op(Op::Lods, op); break;
      case 0xae: case 0xaf: string_op(Op::Scas, op); break;
      case 0xc2: set(Op::Ret, immediate(u16(), 2)); break;
      case 0xc3: set(Op::Ret); break;
      case 0xc6:
        modrm();
        if (reg_ != 0) return invalid();
        set(Op::Mov, E(1), immediate(u8(), 1));
        break;
      case 0xc7:
        modrm();
        if (reg_ != 0) return invalid();
        set(Op::Mov, E(v), immediate(imm(v), v));
        break;
      case 0xca: set(Op::RetFar, immediate(u16(), 2)); break;
      case 0xcb: set(Op::RetFar); break;
      case 0xcc: set(Op::Int3); break;
      case 0xcd: set(Op::Int, immediate(u8(), 1)); break;
      case 0xcf: in_.width = uint8_t(v); set(Op::Iret); break;
      case 0xe0: set(Op::Loopne, rel(sext8(u8()))); break;
      case 0xe1: set(Op::Loope, rel(sext8(u8()))); break;
      case 0xe2: set(Op::Loop, rel(sext8(u8()))); break;
      case 0xe3: set(Op::Jcxz, rel(sext8(u8()))); break;
      case 0xe4: set(Op::In, reg(EAX, 1), immediate(u8(), 1)); break;
      case 0xe5: set(Op::In, reg(EAX, v), immediate(u8(), 1)); break;
      case 0xe6: set(Op::Out, immediate(u8(), 1), reg(EAX, 1)); break;
      case 0xe7: set(Op::Out, immediate(u8(), 1), reg(EAX, v)); break;
      case 0xec: set(Op::In, reg(EAX, 1), reg(EDX, 2)); break;
      case 0xed: set(Op::In, reg(EAX, v), reg(EDX, 2)); break;
      case 0xee: set(Op::Out, reg(EDX, 2), reg(EAX, 1)); break;
      case 0xef: set(Op::Out, reg(EDX, 2), reg(EAX, v)); break;
      case 0xe8: set(Op::Call, rel(v == 4 ? u32() : sext16(u16()))); break;
      case 0xe9: set(Op::Jmp, rel(v == 4 ? u32() : sext16(u16()))); break;
      case 0xea: far_pointer(Op::JmpFar); break;
      case 0xeb: set(Op::Jmp, rel(sext8(u8()))); break;
      case 0xf4: set(Op::Hlt); break;
      case 0xf5: set(Op::Cmc); break;
      case 0xf6:
      case 0xf7: {
        unsigned size = op == 0xf6 ? 1 : v;
        modrm();
        if (reg_ <= 1)
          set(Op::Test, E(size), immediate(imm(size), size));
        else if (reg_ == 2)
          set(Op::Not, E(size));
        else if (reg_ == 3)
          set(Op::Neg, E(size));
        else
          invalid();
        break;
      }
      case 0xf8: set(Op::Clc); break;
      case 0xf9: set(Op::Stc); break;
      case 0xfa: set(Op::Cli); break;
      case 0xfb: set(Op::Sti); break;
      case 0xfc: set(Op::Cld); break;
      case 0xfd: set(Op::Std); break;
      case 0xfe:
        modrm();
        if (reg_ > 1) return invalid();
        set(reg_ == 0 ? Op::Inc : Op::Dec, E(1));
        break;
      case 0xff:
        modrm();
        switch (reg_) {
          case 0: set(Op::Inc, E(v)); break;
          case 1: set(Op::Dec, E(v)); break;
          case 2: set(Op::Call, E(v)); break;
          case 3: if (mod_ == 3) return invalid(); set(Op::CallFar, mem(v + 2)); break;
          case 4: set(Op::Jmp, E(v)); break;
          case 5: if (mod_ == 3) return invalid(); set(Op::JmpFar, mem(v + 2)); break;
          case 6: set(Op::Push, E(v)); break;
          default: invalid();
        }
        break;
      default: invalid();
    }
  }

  // 0f xx: near conditional jumps and the system instructions.
  void two_byte_opcode() {
    unsigned op = u8();
    const unsigned v = in_.opsize;
    if (!ok_) return;
    if (op >= 0x80 && op <= 0x8f) {
      in_.cond = uint8_t(op & 0xf);
      set(Op::Jcc, rel(v == 4 ? u32() : sext16(u16())));
      return;
    }
    switch (op) {
      case 0x00:
        modrm();
        switch (reg_) {
          case 0: set(Op::Sldt, mod_ == 3 ? reg(rm_, v) : mem(2)); break;
          case 1: set(Op::Str, mod_ == 3 ? reg(rm_, v) : mem(2)); break;
          case 2: set(Op::Lldt, E(2)); break;
          case 3: set(Op::Ltr, E(2)); break;
          default: invalid();
        }
        break;
      case 0x01: {
        modrm();
        static const Op table_ops[4] = {Op::Sgdt, Op::Sidt, Op::Lgdt, Op::Lidt};
        if (reg_ < 4) {
          if (mod_ == 3) return invalid();
          set(table_ops[reg_], mem(6));
        } else if (reg_ == 4) {
          set(Op::Smsw, mod_ == 3 ? reg(rm_, v) : mem(2));
        } else if (reg_ == 6) {
          set(Op::Lmsw, E(2));
        } else if (reg_ == 7 && mod_ != 3) {
          set(Op::Invlpg, mem(1));
        } else {
          invalid();
        }
        break;
      }
      case 0x06: set(Op::Clts); break;
      case 0x20:
      case 0x22: {
        // The r/m field always names a register, whatever mod says.
        uint8_t b = u8();
        unsigned cr = (b >> 3) & 7, r = b & 7;
        if (cr == 1 || cr > 4) return invalid();
        if (op == 0x20)
          set(Op::Mov, reg(r, 4), creg(cr));
        else
          set(Op::Mov, creg(cr), reg(r, 4));
        break;
      }
      default: invalid();
    }
  }

  const uint8_t *code_;
  unsigned avail_;
  bool truncated_;
  bool ran_out_ = false;
  bool code32_;
  uint32_t eip_;
  unsigned pos_ = 0;
  bool ok_ = true;
  uint8_t mod_ = 0, reg_ = 0, rm_ = 0;
  Insn in_;
};

}  // namespace

Insn decode(const uint8_t *code, unsigned avail, bool code32, uint32_t eip) {
  return Decoder(code, avail, code32, eip).run();
}

unsigned fetch_code(const Machine &m, uint32_t base, uint32_t eip, uint32_t mask, uint8_t *out, bool in_memory) {
  unsigned n = 0;
  uint32_t page = 1, frame = 0;  // the last page translated (1: none yet)
  for (; n < kMaxLength; ++n) {
    uint32_t linear = base + ((eip + n) & mask);
    if ((linear & ~0xfffu) != page) {
      if (!translate(m, linear & ~0xfffu, &frame)) break;
      page = linear & ~0xfffu;
    }
    uint32_t physical = frame | (linear & 0xfff);
    if (in_memory && physical >= kMemorySize) break;
    out[n] = m.mem.read8(physical);
  }
  return n;
}

Insn decode_at(const Machine &m, uint32_t *missing) {
  const Cpu &c = m.cpu;
  uint32_t mask = c.code32() ? 0xffffffffu : 0xffffu;
  uint8_t code[kMaxLength];
  unsigned n = fetch_code(m, c.seg[CS].base, c.eip, mask, code);
  Insn in = decode(code, n, c.code32(), c.eip);
  if (in.incomplete && missing) *missing = c.seg[CS].base + ((c.eip + n) & mask);
  return in;
}

}  // namespace sim
