#include "cpu.hpp"

namespace sim {
namespace {

uint32_t size_mask(unsigned size) { return size == 1 ? 0xffu : size == 2 ? 0xffffu : 0xffffffffu; }
uint32_t size_sign(unsigned size) { return 1u << (size * 8 - 1); }

// The EFLAGS bits that popf may change (iopl and nt included: this is a
// 386 in real mode); with a 32-bit operand also AC and ID.
constexpr uint32_t kPopfMask16 = 0x7fd5;
constexpr uint32_t kPopfMask32 = 0x00247fd5;

class Exec {
 public:
  Exec(Machine &m, AccessLog *log) : m_(m), c_(m.cpu), log_(log) {}

  StepResult run() {
    if (c_.halted || c_.shutdown) return StepResult::Idle;
    in_ = decode_at(m_);
    ipmask_ = c_.code32() ? 0xffffffffu : 0xffffu;
    next_ = (c_.eip + in_.length) & ipmask_;
    bool repeating = false;
    if (!execute(&repeating)) {
      if (c_.protected_mode()) {
        c_.shutdown = true;
        return StepResult::Idle;
      }
      interrupt(6, c_.eip);  // the fault returns to the faulting instruction
      repeating = false;
    }
    if (!repeating) c_.eip = next_;
    ++m_.ticks;
    return repeating ? StepResult::Repeating : StepResult::Executed;
  }

 private:
  // --- registers and memory ---
  uint32_t get_reg(unsigned r, unsigned size) const {
    if (size == 1) return r < 4 ? c_.regs[r] & 0xff : (c_.regs[r - 4] >> 8) & 0xff;
    return c_.regs[r] & size_mask(size);
  }
  void set_reg(unsigned r, unsigned size, uint32_t v) {
    if (size == 1) {
      if (r < 4)
        c_.regs[r] = (c_.regs[r] & ~0xffu) | (v & 0xff);
      else
        c_.regs[r - 4] = (c_.regs[r - 4] & ~0xff00u) | ((v & 0xff) << 8);
    } else if (size == 2) {
      c_.regs[r] = (c_.regs[r] & ~0xffffu) | (v & 0xffff);
    } else {
      c_.regs[r] = v;
    }
  }
  uint32_t read_mem(uint32_t linear, unsigned size) {
    if (log_) log_->add(linear, size, false);
    return m_.mem.read(linear, size);
  }
  void write_mem(uint32_t linear, unsigned size, uint32_t v) {
    if (log_) log_->add(linear, size, true);
    m_.mem.write(linear, size, v);
  }
  uint32_t addr_mask() const { return in_.addr32 ? 0xffffffffu : 0xffffu; }
  uint32_t ea_offset() const {
    const MemRef &mr = in_.mem;
    uint32_t off = mr.disp;
    if (mr.base >= 0) off += c_.regs[mr.base];
    if (mr.index >= 0) off += c_.regs[mr.index] * mr.scale;
    return off & addr_mask();
  }
  uint32_t ea_linear() const { return c_.seg[in_.mem.seg].base + ea_offset(); }

  uint32_t read(const Operand &o) {
    switch (o.kind) {
      case Kind::Reg: return get_reg(o.reg, o.size);
      case Kind::SReg: return c_.seg[o.reg].selector;
      case Kind::Mem: return read_mem(ea_linear(), o.size);
      case Kind::Imm:
      case Kind::Rel: return o.value;
      case Kind::Far:
      case Kind::None: break;
    }
    return 0;
  }
  void write(const Operand &o, uint32_t v) {
    if (o.kind == Kind::Reg) set_reg(o.reg, o.size, v);
    if (o.kind == Kind::Mem) write_mem(ea_linear(), o.size, v);
  }

  // --- stack ---
  uint32_t sp_mask() const { return c_.stack32() ? 0xffffffffu : 0xffffu; }
  void set_sp(uint32_t v) { set_reg(ESP, c_.stack32() ? 4 : 2, v); }
  void push(uint32_t v, unsigned size) {
    uint32_t sp = (c_.regs[ESP] - size) & sp_mask();
    write_mem(c_.seg[SS].base + sp, size, v);
    set_sp(sp);
  }
  uint32_t peek(unsigned offset, unsigned size) {
    return read_mem(c_.seg[SS].base + ((c_.regs[ESP] + offset) & sp_mask()), size);
  }
  uint32_t pop(unsigned size) {
    uint32_t v = peek(0, size);
    set_sp(c_.regs[ESP] + size);
    return v;
  }

  // --- segments ---
  // Works out what loading `selector` into segment register `s` gives,
  // without changing anything. False: the load faults.
  bool prepare_segment(unsigned s, uint16_t selector, Segment *out) const {
    *out = c_.seg[s];
    if (!c_.protected_mode()) {
      load_real_segment(*out, selector);
      return true;
    }
    if ((selector & ~3u) == 0) {
      if (s == CS || s == SS) return false;
      *out = Segment();
      out->selector = selector;
      out->base = 0;
      out->valid = false;
      return true;
    }
    if (!read_descriptor(m_, selector, out)) return false;
    return (out->access & 0x80) != 0;  // present
  }

  // Real-mode interrupt through the vector table; returns to `ret`.
  void interrupt(unsigned vector, uint32_t ret) {
    push(c_.eflags & 0xffff, 2);
    push(c_.seg[CS].selector, 2);
    push(ret & 0xffff, 2);
    c_.eflags &= ~(IF | TF);
    uint32_t at = c_.idtr_base + vector * 4;
    uint32_t ip = read_mem(at, 2);
    uint16_t cs = uint16_t(read_mem(at + 2, 2));
    load_real_segment(c_.seg[CS], cs);
    next_ = ip;
  }

  // --- flags ---
  uint32_t szp(uint32_t r, unsigned size) const {
    uint32_t f = 0;
    if ((r & size_mask(size)) == 0) f |= ZF;
    if (r & size_sign(size)) f |= SF;
    if (!__builtin_parity(r & 0xff)) f |= PF;
    return f;
  }
  uint32_t alu(Op op, uint32_t a, uint32_t b, unsigned size) {
    const uint32_t mask = size_mask(size), sign = size_sign(size);
    a &= mask;
    b &= mask;
    const uint32_t carry = (c_.eflags & CF) ? 1 : 0;
    uint32_t r = 0;
    bool cf = false, of = false, af = false;
    switch (op) {
      case Op::Add:
      case Op::Adc: {
        uint64_t wide = uint64_t(a) + b + (op == Op::Adc ? carry : 0);
        r = uint32_t(wide) & mask;
        cf = wide > mask;
        of = ((a ^ r) & (b ^ r) & sign) != 0;
        af = ((a ^ b ^ r) & 0x10) != 0;
        break;
      }
      case Op::Sub:
      case Op::Sbb:
      case Op::Cmp: {
        uint32_t borrow = op == Op::Sbb ? carry : 0;
        r = (a - b - borrow) & mask;
        cf = uint64_t(a) < uint64_t(b) + borrow;
        of = ((a ^ b) & (a ^ r) & sign) != 0;
        af = ((a ^ b ^ r) & 0x10) != 0;
        break;
      }
      case Op::And:
      case Op::Test: r = a & b; break;
      case Op::Or: r = a | b; break;
      case Op::Xor: r = a ^ b; break;
      default: break;
    }
    c_.eflags = (c_.eflags & ~(CF | PF | AF | ZF | SF | OF)) | szp(r, size) | (cf ? CF : 0) | (of ? OF : 0) |
                (af ? AF : 0);
    return r;
  }
  bool condition(unsigned cc) const {
    const uint32_t f = c_.eflags;
    bool r = false;
    switch (cc >> 1) {
      case 0: r = f & OF; break;
      case 1: r = f & CF; break;
      case 2: r = f & ZF; break;
      case 3: r = f & (CF | ZF); break;
      case 4: r = f & SF; break;
      case 5: r = f & PF; break;
      case 6: r = bool(f & SF) != bool(f & OF); break;
      case 7: r = (f & ZF) || bool(f & SF) != bool(f & OF); break;
    }
    return (cc & 1) ? !r : r;
  }

  // --- string instructions ---
  bool string_iteration(bool *repeating) {
    const unsigned w = in_.width, as = in_.addr32 ? 4 : 2;
    const uint32_t amask = addr_mask();
    if (in_.rep && (c_.regs[ECX] & amask) == 0) return true;
    const uint32_t delta = (c_.eflags & DF) ? uint32_t(0) - w : w;
    const unsigned src_seg = in_.seg_override >= 0 ? unsigned(in_.seg_override) : unsigned(DS);
    const uint32_t si = c_.regs[ESI] & amask, di = c_.regs[EDI] & amask;
    const uint32_t src = c_.seg[src_seg].base + si, dst = c_.seg[ES].base + di;
    bool uses_si = true, uses_di = true;
    switch (in_.op) {
      case Op::Movs: write_mem(dst, w, read_mem(src, w)); break;
      case Op::Stos: write_mem(dst, w, get_reg(EAX, w)); uses_si = false; break;
      case Op::Lods: set_reg(EAX, w, read_mem(src, w)); uses_di = false; break;
      case Op::Cmps: {
        uint32_t a = read_mem(src, w);
        alu(Op::Cmp, a, read_mem(dst, w), w);
        break;
      }
      case Op::Scas: alu(Op::Cmp, get_reg(EAX, w), read_mem(dst, w), w); uses_si = false; break;
      default: break;
    }
    if (uses_si) set_reg(ESI, as, si + delta);
    if (uses_di) set_reg(EDI, as, di + delta);
    if (in_.rep) {
      uint32_t count = (c_.regs[ECX] - 1) & amask;
      set_reg(ECX, as, count);
      bool ended = false;
      if (in_.op == Op::Cmps || in_.op == Op::Scas)
        ended = in_.rep == 0xf3 ? !(c_.eflags & ZF) : (c_.eflags & ZF) != 0;
      *repeating = count != 0 && !ended;
    }
    return true;
  }

  // Far transfer target of jmp far / call far: from the instruction or from
  // a far pointer in memory.
  void far_target(uint16_t *sel, uint32_t *off) {
    if (in_.a.kind == Kind::Far) {
      *sel = in_.a.sel;
      *off = in_.a.value;
    } else {
      uint32_t at = ea_linear();
      *off = read_mem(at, in_.opsize);
      *sel = uint16_t(read_mem(at + in_.opsize, 2));
    }
  }

  bool execute(bool *repeating) {
    const unsigned v = in_.opsize;
    const uint32_t opmask = size_mask(v);
    switch (in_.op) {
      case Op::Invalid: return false;
      case Op::Add: case Op::Or: case Op::Adc: case Op::Sbb:
      case Op::And: case Op::Sub: case Op::Xor: {
        uint32_t a = read(in_.a), b = read(in_.b);
        write(in_.a, alu(in_.op, a, b, in_.a.size));
        return true;
      }
      case Op::Cmp:
      case Op::Test: {
        uint32_t a = read(in_.a), b = read(in_.b);
        alu(in_.op, a, b, in_.a.size);
        return true;
      }
      case Op::Inc:
      case Op::Dec: {
        uint32_t cf = c_.eflags & CF;
        uint32_t r = alu(in_.op == Op::Inc ? Op::Add : Op::Sub, read(in_.a), 1, in_.a.size);
        c_.eflags = (c_.eflags & ~CF) | cf;
        write(in_.a, r);
        return true;
      }
      case Op::Not: write(in_.a, ~read(in_.a)); return true;
      case Op::Neg: {
        uint32_t a = read(in_.a);
        write(in_.a, alu(Op::Sub, 0, a, in_.a.size));
        return true;
      }
      case Op::Mov:
        if (in_.a.kind == Kind::SReg) {
          Segment s;
          if (!prepare_segment(in_.a.reg, uint16_t(read(in_.b)), &s)) return false;
          c_.seg[in_.a.reg] = s;
        } else {
          write(in_.a, read(in_.b));
        }
        return true;
      case Op::Lea: write(in_.a, ea_offset()); return true;
      case Op::Xchg: {
        uint32_t a = read(in_.a), b = read(in_.b);
        write(in_.a, b);
        write(in_.b, a);
        return true;
      }
      case Op::Cbw:
        if (in_.width == 4)
          c_.regs[EAX] = uint32_t(int32_t(int16_t(c_.regs[EAX] & 0xffff)));
        else
          set_reg(EAX, 2, uint32_t(int32_t(int8_t(c_.regs[EAX] & 0xff))));
        return true;
      case Op::Cwd: {
        uint32_t sign = get_reg(EAX, in_.width) & size_sign(in_.width);
        set_reg(EDX, in_.width, sign ? 0xffffffffu : 0);
        return true;
      }
      case Op::Sahf:
        c_.eflags = (c_.eflags & ~0xd5u) | (get_reg(4, 1) & 0xd5) | 2;
        return true;
      case Op::Lahf: set_reg(4, 1, (c_.eflags & 0xd5) | 2); return true;
      case Op::Push: push(read(in_.a), v); return true;
      case Op::Pop:
        if (in_.a.kind == Kind::SReg) {
          Segment s;
          if (!prepare_segment(in_.a.reg, uint16_t(peek(0, v)), &s)) return false;
          set_sp(c_.regs[ESP] + v);
          c_.seg[in_.a.reg] = s;
        } else {
          write(in_.a, pop(v));
        }
        return true;
      case Op::Pushf: push(c_.eflags & (in_.width == 4 ? 0x00fcffffu : 0xffffu), in_.width); return true;
      case Op::Popf: {
        uint32_t mask = in_.width == 4 ? kPopfMask32 : kPopfMask16;
        c_.eflags = (c_.eflags & ~mask) | (pop(in_.width) & mask) | 2;
        return true;
      }
      case Op::Jmp: next_ = in_.a.kind == Kind::Rel ? in_.a.value : read(in_.a) & opmask; return true;
      case Op::Jcc:
        if (condition(in_.cond)) next_ = in_.a.value;
        return true;
      case Op::Call: {
        uint32_t target = in_.a.kind == Kind::Rel ? in_.a.value : read(in_.a) & opmask;
        push(next_, v);
        next_ = target;
        return true;
      }
      case Op::JmpFar:
      case Op::CallFar: {
        uint16_t sel;
        uint32_t off;
        far_target(&sel, &off);
        Segment s;
        if (!prepare_segment(CS, sel, &s)) return false;
        if (in_.op == Op::CallFar) {
          push(c_.seg[CS].selector, v);
          push(next_, v);
        }
        c_.seg[CS] = s;
        next_ = off & opmask;
        return true;
      }
      case Op::Ret: {
        next_ = pop(v) & opmask;
        if (in_.a.kind == Kind::Imm) set_sp(c_.regs[ESP] + in_.a.value);
        return true;
      }
      case Op::RetFar: {
        uint32_t off = peek(0, v);
        Segment s;
        if (!prepare_segment(CS, uint16_t(peek(v, 2)), &s)) return false;
        set_sp(c_.regs[ESP] + 2 * v + (in_.a.kind == Kind::Imm ? in_.a.value : 0));
        c_.seg[CS] = s;
        next_ = off & opmask;
        return true;
      }
      case Op::Int:
      case Op::Int3:
        if (c_.protected_mode()) return false;
        interrupt(in_.op == Op::Int ? in_.a.value : 3, next_);
        return true;
      case Op::Iret: {
        if (c_.protected_mode()) return false;
        const unsigned w = in_.width;
        uint32_t ip = pop(w);
        uint16_t cs = uint16_t(pop(w));
        uint32_t mask = w == 4 ? kPopfMask32 : kPopfMask16;
        uint32_t flags = pop(w);
        load_real_segment(c_.seg[CS], cs);
        c_.eflags = (c_.eflags & ~mask) | (flags & mask) | 2;
        next_ = ip & opmask;
        return true;
      }
      case Op::Loop:
      case Op::Loope:
      case Op::Loopne:
      case Op::Jcxz: {
        const uint32_t amask = addr_mask();
        uint32_t count = c_.regs[ECX] & amask;
        bool jump;
        if (in_.op == Op::Jcxz) {
          jump = count == 0;
        } else {
          count = (count - 1) & amask;
          set_reg(ECX, in_.addr32 ? 4 : 2, count);
          jump = count != 0;
          if (in_.op == Op::Loope) jump = jump && (c_.eflags & ZF);
          if (in_.op == Op::Loopne) jump = jump && !(c_.eflags & ZF);
        }
        if (jump) next_ = in_.a.value;
        return true;
      }
      case Op::Movs: case Op::Stos: case Op::Lods: case Op::Cmps: case Op::Scas:
        return string_iteration(repeating);
      case Op::Nop: return true;
      case Op::Hlt: c_.halted = true; return true;
      case Op::Cli: c_.eflags &= ~IF; return true;
      case Op::Sti: c_.eflags |= IF; return true;
      case Op::Clc: c_.eflags &= ~CF; return true;
      case Op::Stc: c_.eflags |= CF; return true;
      case Op::Cmc: c_.eflags ^= CF; return true;
      case Op::Cld: c_.eflags &= ~DF; return true;
      case Op::Std: c_.eflags |= DF; return true;
    }
    return false;
  }

  Machine &m_;
  Cpu &c_;
  AccessLog *log_;
  Insn in_;
  uint32_t ipmask_ = 0xffff;
  uint32_t next_ = 0;
};

}  // namespace

StepResult step(Machine &m, AccessLog *log) { return Exec(m, log).run(); }

}  // namespace sim
