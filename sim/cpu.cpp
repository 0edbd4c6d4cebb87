#include "cpu.hpp"

namespace sim {
namespace {

uint32_t size_mask(unsigned size) { return size == 1 ? 0xffu : size == 2 ? 0xffffu : 0xffffffffu; }
uint32_t size_sign(unsigned size) { return 1u << (size * 8 - 1); }

// The EFLAGS bits that popf may change (iopl and nt included: the processor
// always runs at privilege 0); with a 32-bit operand also AC and ID.
constexpr uint32_t kPopfMask16 = 0x7fd5;
constexpr uint32_t kPopfMask32 = 0x00247fd5;

// Exception vectors.
constexpr uint8_t kInvalidOpcode = 6;
constexpr uint8_t kDoubleFault = 8;
constexpr uint8_t kNotPresent = 11;
constexpr uint8_t kStackFault = 12;
constexpr uint8_t kGeneralProtection = 13;
constexpr uint8_t kPageFault = 14;

// A fault on its way to delivery. `address` is the linear address of a page
// fault (for CR2).
struct Fault {
  uint8_t vector;
  bool has_error;
  uint32_t error;
  uint32_t address;
};

Fault plain(uint8_t vector) { return Fault{vector, false, 0, 0}; }
Fault with_code(uint8_t vector, uint32_t error) { return Fault{vector, true, error, 0}; }

// The x86 rule for a fault met while delivering another: benign faults are
// taken one after the other; two contributory faults, or a page fault
// followed by a contributory fault or another page fault, make a double
// fault.
enum class FaultClass { Benign, Contributory, Page };
FaultClass class_of(uint8_t vector) {
  if (vector == 0 || (vector >= 10 && vector <= 13)) return FaultClass::Contributory;
  return vector == kPageFault ? FaultClass::Page : FaultClass::Benign;
}
bool makes_double_fault(uint8_t first, uint8_t second) {
  FaultClass a = class_of(first), b = class_of(second);
  return (a == FaultClass::Contributory && b == FaultClass::Contributory) ||
         (a == FaultClass::Page && b != FaultClass::Benign);
}

// Physical bytes written by the step, with what they held, so that a fault
// can take the instruction back.
class Journal {
 public:
  static constexpr unsigned kCapacity = 128;
  void clear() { count_ = 0; }
  unsigned mark() const { return count_; }
  void record(uint32_t address, uint8_t old) {
    if (count_ < kCapacity) items_[count_++] = Item{address, old};
  }
  void undo_to(Memory &mem, unsigned mark) {
    while (count_ > mark) {
      --count_;
      mem.write8(items_[count_].address, items_[count_].old);
    }
  }

 private:
  struct Item {
    uint32_t address;
    uint8_t old;
  };
  Item items_[kCapacity];
  unsigned count_ = 0;
};

class Exec {
 public:
  Exec(Machine &m, AccessLog *log, StepEvents *events) : m_(m), c_(m.cpu), log_(log), events_(events) {}

  StepResult run() {
    if (c_.halted || c_.shutdown) return StepResult::Idle;
    const Cpu before = c_;
    const unsigned log_mark = log_ ? log_->count : 0;
    journal_.clear();
    bool repeating = false;
    try {
      uint32_t missing = 0;
      in_ = decode_at(m_, &missing);
      if (in_.incomplete) throw page_fault(missing, false);
      ipmask_ = c_.code32() ? 0xffffffffu : 0xffffu;
      next_ = (c_.eip + in_.length) & ipmask_;
      execute(&repeating);
      if (!repeating) c_.eip = next_;
      if (events_ && is_magic_breakpoint()) events_->magic = true;
    } catch (const Fault &f) {
      journal_.undo_to(m_.mem, 0);
      c_ = before;
      if (log_) log_->count = log_mark;
      repeating = false;
      if (!raise(f, c_.eip)) {
        if (!m_.reset_on_triple_fault) {
          c_.shutdown = true;
          return StepResult::Idle;
        }
        reboot(m_);
        if (events_) events_->reset = true;
      }
    }
    ++m_.ticks;
    return repeating ? StepResult::Repeating : StepResult::Executed;
  }

 private:
  bool is_magic_breakpoint() const {
    return in_.op == Op::Xchg && in_.a.kind == Kind::Reg && in_.b.kind == Kind::Reg && in_.a.size == 2 &&
           in_.a.reg == EBX && in_.b.reg == EBX;
  }

  // --- faults ---
  static Fault page_fault(uint32_t linear, bool write) {
    Fault f = with_code(kPageFault, write ? 2 : 0);  // not present; supervisor
    f.address = linear;
    return f;
  }

  // Delivers a fault raised by the instruction at `ret`, with the double
  // and triple fault rules. False: a triple fault (nothing is changed).
  bool raise(Fault f, uint32_t ret) {
    for (;;) {
      if (f.vector == kPageFault) c_.cr[2] = f.address;
      const Cpu before = c_;
      const unsigned journal_mark = journal_.mark();
      const unsigned log_mark = log_ ? log_->count : 0;
      try {
        deliver(f, ret);
        return true;
      } catch (const Fault &g) {
        journal_.undo_to(m_.mem, journal_mark);
        c_ = before;
        if (log_) log_->count = log_mark;
        if (f.vector == kDoubleFault) return false;
        f = makes_double_fault(f.vector, g.vector) ? with_code(kDoubleFault, 0) : g;
      }
    }
  }

  // Interrupt or exception delivery; returns to `ret`. Throws what the
  // delivery itself meets.
  void deliver(const Fault &f, uint32_t ret) {
    const unsigned v = f.vector;
    if (!c_.protected_mode()) {
      if (v * 4 + 3 > c_.idtr_limit) throw with_code(kGeneralProtection, v * 8 + 2);
      push(c_.eflags & 0xffff, 2);
      push(c_.seg[CS].selector, 2);
      push(ret & 0xffff, 2);
      uint32_t at = c_.idtr_base + v * 4;
      uint32_t ip = read_mem(at, 2);
      uint16_t cs = uint16_t(read_mem(at + 2, 2));
      c_.eflags &= ~(IF | TF);
      load_real_segment(c_.seg[CS], cs);
      next_ = c_.eip = ip;
      return;
    }
    if (v * 8 + 7 > c_.idtr_limit) throw with_code(kGeneralProtection, v * 8 + 2);
    uint32_t at = c_.idtr_base + v * 8;
    uint32_t lo = read_mem(at, 4), hi = read_mem(at + 4, 4);
    const uint8_t access = uint8_t(hi >> 8);
    const unsigned type = access & 0x1f;  // the S bit and the type
    if (type != 0x06 && type != 0x07 && type != 0x0e && type != 0x0f)
      throw with_code(kGeneralProtection, v * 8 + 2);
    if (!(access & 0x80)) throw with_code(kNotPresent, v * 8 + 2);
    const bool gate32 = type & 0x08;
    const unsigned size = gate32 ? 4 : 2;
    Segment cs = load_segment(CS, uint16_t(lo >> 16));
    push(c_.eflags & (gate32 ? 0xffffffffu : 0xffffu), size);
    push(c_.seg[CS].selector, size);
    push(ret & size_mask(size), size);
    if (f.has_error) push(f.error, size);
    c_.seg[CS] = cs;
    c_.eflags &= ~(TF | NT | RF | VM);
    if (!(type & 1)) c_.eflags &= ~IF;  // an interrupt gate, not a trap gate
    next_ = c_.eip = gate32 ? (lo & 0xffff) | (hi & 0xffff0000u) : lo & 0xffff;
  }

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

  uint32_t physical(uint32_t linear, bool write) const {
    uint32_t p;
    if (!translate(m_, linear, &p)) throw page_fault(linear, write);
    return p;
  }
  // The physical addresses of an access: `split` bytes at first, the rest
  // at second (an access that crosses into another page).
  void place(uint32_t linear, unsigned size, bool write, uint32_t *first, uint32_t *second, unsigned *split) const {
    *split = size;
    if (!c_.paging()) {
      *first = *second = linear;
      return;
    }
    *first = physical(linear, write);
    unsigned room = 0x1000 - (linear & 0xfff);
    if (room < size) {
      *split = room;
      *second = physical(linear + room, write);
    } else {
      *second = *first + size;
    }
  }
  uint32_t load(uint32_t linear, unsigned size, bool logged) {
    uint32_t a, b;
    unsigned split;
    place(linear, size, false, &a, &b, &split);
    if (split == size) {
      if (log_ && logged) log_->add(a, size, false);
      return m_.mem.read(a, size);
    }
    if (log_ && logged) {
      log_->add(a, split, false);
      log_->add(b, size - split, false);
    }
    uint32_t v = 0;
    for (unsigned i = 0; i < size; ++i) v |= uint32_t(m_.mem.read8(i < split ? a + i : b + i - split)) << (8 * i);
    return v;
  }
  void store(uint32_t linear, unsigned size, uint32_t v, bool logged) {
    uint32_t a, b;
    unsigned split;
    place(linear, size, true, &a, &b, &split);
    if (log_ && logged) {
      log_->add(a, split, true);
      if (split < size) log_->add(b, size - split, true);
    }
    for (unsigned i = 0; i < size; ++i) {
      uint32_t p = i < split ? a + i : b + i - split;
      journal_.record(p, m_.mem.read8(p));
      m_.mem.write8(p, uint8_t(v >> (8 * i)));
    }
  }
  uint32_t read_mem(uint32_t linear, unsigned size) { return load(linear, size, true); }
  void write_mem(uint32_t linear, unsigned size, uint32_t v) { store(linear, size, v, true); }

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
      case Kind::CReg: return c_.cr[o.reg];
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
  // The descriptor of a selector from the global descriptor table (the
  // table's bytes are read, not logged). Throws #GP when the selector lies
  // outside the table.
  Segment descriptor(uint16_t selector) {
    uint32_t index = selector & ~7u;
    if (index + 7 > c_.gdtr_limit) throw with_code(kGeneralProtection, selector & ~3u);
    Segment d;
    uint32_t at = c_.gdtr_base + index;
    d.set_descriptor(load(at, 4, false), load(at + 4, 4, false));
    d.selector = selector;
    d.valid = true;
    return d;
  }

  // What loading `selector` into segment register `s` gives, without
  // changing anything; throws the fault the load raises.
  Segment load_segment(unsigned s, uint16_t selector) {
    Segment out = c_.seg[s];
    if (!c_.protected_mode()) {
      load_real_segment(out, selector);
      return out;
    }
    if ((selector & ~3u) == 0) {
      if (s == CS || s == SS) throw with_code(kGeneralProtection, 0);
      out = Segment();
      out.selector = selector;
      out.base = 0;
      out.valid = false;
      return out;
    }
    out = descriptor(selector);
    if (!(out.access & 0x80)) throw with_code(s == SS ? kStackFault : kNotPresent, selector & ~3u);
    return out;
  }

  // lldt and ltr: a system descriptor of the given types (access & 0x1f).
  Segment load_system(uint16_t selector, unsigned type_a, unsigned type_b) {
    if (!c_.protected_mode()) throw plain(kInvalidOpcode);
    Segment d = descriptor(selector);
    unsigned type = d.access & 0x1f;
    if (type != type_a && type != type_b) throw with_code(kGeneralProtection, selector & ~3u);
    if (!(d.access & 0x80)) throw with_code(kNotPresent, selector & ~3u);
    return d;
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
  void string_iteration(bool *repeating) {
    const unsigned w = in_.width, as = in_.addr32 ? 4 : 2;
    const uint32_t amask = addr_mask();
    if (in_.rep && (c_.regs[ECX] & amask) == 0) return;
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

  // --- system registers ---
  void set_control(unsigned n, uint32_t v) {
    if (n == 0) {
      v |= kCr0Et;
      if ((v & kCr0Pg) && !(v & kCr0Pe)) throw with_code(kGeneralProtection, 0);
    }
    c_.cr[n] = v;
  }

  // A selector or the machine status word stored by sldt, str or smsw: a
  // register gets it zero-extended, memory its 16 bits.
  void store_word(uint32_t v) {
    if (in_.a.kind == Kind::Reg)
      set_reg(in_.a.reg, in_.a.size, v & 0xffff);
    else
      write_mem(ea_linear(), 2, v & 0xffff);
  }

  void port_out(uint32_t port, uint32_t value) {
    if (port == kConsolePort) m_.console += char(value & 0xff);
  }
  uint32_t port_in(uint32_t port, unsigned size) const {
    return port == kConsolePort ? kConsolePort : size_mask(size);
  }

  // Throws the fault the instruction raises.
  void execute(bool *repeating) {
    const unsigned v = in_.opsize;
    const uint32_t opmask = size_mask(v);
    switch (in_.op) {
      case Op::Invalid: throw plain(kInvalidOpcode);
      case Op::Add: case Op::Or: case Op::Adc: case Op::Sbb:
      case Op::And: case Op::Sub: case Op::Xor: {
        uint32_t a = read(in_.a), b = read(in_.b);
        write(in_.a, alu(in_.op, a, b, in_.a.size));
        return;
      }
      case Op::Cmp:
      case Op::Test: {
        uint32_t a = read(in_.a), b = read(in_.b);
        alu(in_.op, a, b, in_.a.size);
        return;
      }
      case Op::Inc:
      case Op::Dec: {
        uint32_t cf = c_.eflags & CF;
        uint32_t r = alu(in_.op == Op::Inc ? Op::Add : Op::Sub, read(in_.a), 1, in_.a.size);
        c_.eflags = (c_.eflags & ~CF) | cf;
        write(in_.a, r);
        return;
      }
      case Op::Not: write(in_.a, ~read(in_.a)); return;
      case Op::Neg: {
        uint32_t a = read(in_.a);
        write(in_.a, alu(Op::Sub, 0, a, in_.a.size));
        return;
      }
      case Op::Mov:
        if (in_.a.kind == Kind::SReg)
          c_.seg[in_.a.reg] = load_segment(in_.a.reg, uint16_t(read(in_.b)));
        else if (in_.a.kind == Kind::CReg)
          set_control(in_.a.reg, read(in_.b));
        else
          write(in_.a, read(in_.b));
        return;
      case Op::Lea: write(in_.a, ea_offset()); return;
      case Op::Xchg: {
        uint32_t a = read(in_.a), b = read(in_.b);
        write(in_.a, b);
        write(in_.b, a);
        return;
      }
      case Op::Cbw:
        if (in_.width == 4)
          c_.regs[EAX] = uint32_t(int32_t(int16_t(c_.regs[EAX] & 0xffff)));
        else
          set_reg(EAX, 2, uint32_t(int32_t(int8_t(c_.regs[EAX] & 0xff))));
        return;
      case Op::Cwd: {
        uint32_t sign = get_reg(EAX, in_.width) & size_sign(in_.width);
        set_reg(EDX, in_.width, sign ? 0xffffffffu : 0);
        return;
      }
      case Op::Sahf:
        c_.eflags = (c_.eflags & ~0xd5u) | (get_reg(4, 1) & 0xd5) | 2;
        return;
      case Op::Lahf: set_reg(4, 1, (c_.eflags & 0xd5) | 2); return;
      case Op::Push: push(read(in_.a), v); return;
      case Op::Pop:
        if (in_.a.kind == Kind::SReg) {
          Segment s = load_segment(in_.a.reg, uint16_t(peek(0, v)));
          set_sp(c_.regs[ESP] + v);
          c_.seg[in_.a.reg] = s;
        } else {
          write(in_.a, pop(v));
        }
        return;
      case Op::Pushf: push(c_.eflags & (in_.width == 4 ? 0x00fcffffu : 0xffffu), in_.width); return;
      case Op::Popf: {
        uint32_t mask = in_.width == 4 ? kPopfMask32 : kPopfMask16;
        c_.eflags = (c_.eflags & ~mask) | (pop(in_.width) & mask) | 2;
        return;
      }
      case Op::Jmp: next_ = in_.a.kind == Kind::Rel ? in_.a.value : read(in_.a) & opmask; return;
      case Op::Jcc:
        if (condition(in_.cond)) next_ = in_.a.value;
        return;
      case Op::Call: {
        uint32_t target = in_.a.kind == Kind::Rel ? in_.a.value : read(in_.a) & opmask;
        push(next_, v);
        next_ = target;
        return;
      }
      case Op::JmpFar:
      case Op::CallFar: {
        uint16_t sel;
        uint32_t off;
        far_target(&sel, &off);
        Segment s = load_segment(CS, sel);
        if (in_.op == Op::CallFar) {
          push(c_.seg[CS].selector, v);
          push(next_, v);
        }
        c_.seg[CS] = s;
        next_ = off & opmask;
        return;
      }
      case Op::Ret: {
        next_ = pop(v) & opmask;
        if (in_.a.kind == Kind::Imm) set_sp(c_.regs[ESP] + in_.a.value);
        return;
      }
      case Op::RetFar: {
        uint32_t off = peek(0, v);
        Segment s = load_segment(CS, uint16_t(peek(v, 2)));
        set_sp(c_.regs[ESP] + 2 * v + (in_.a.kind == Kind::Imm ? in_.a.value : 0));
        c_.seg[CS] = s;
        next_ = off & opmask;
        return;
      }
      case Op::Int:
      case Op::Int3:
        deliver(plain(uint8_t(in_.op == Op::Int ? in_.a.value : 3)), next_);
        return;
      case Op::Iret: {
        const unsigned w = in_.width;
        uint32_t ip = peek(0, w);
        uint16_t cs = uint16_t(peek(w, w));
        uint32_t flags = peek(2 * w, w);
        Segment s = load_segment(CS, cs);
        set_sp(c_.regs[ESP] + 3 * w);
        c_.seg[CS] = s;
        uint32_t mask = w == 4 ? kPopfMask32 : kPopfMask16;
        c_.eflags = (c_.eflags & ~mask) | (flags & mask) | 2;
        next_ = ip & opmask;
        return;
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
        return;
      }
      case Op::Movs: case Op::Stos: case Op::Lods: case Op::Cmps: case Op::Scas:
        string_iteration(repeating);
        return;
      case Op::Nop: return;
      case Op::Hlt: c_.halted = true; return;
      case Op::Cli: c_.eflags &= ~IF; return;
      case Op::Sti: c_.eflags |= IF; return;
      case Op::Clc: c_.eflags &= ~CF; return;
      case Op::Stc: c_.eflags |= CF; return;
      case Op::Cmc: c_.eflags ^= CF; return;
      case Op::Cld: c_.eflags &= ~DF; return;
      case Op::Std: c_.eflags |= DF; return;
      case Op::In: set_reg(EAX, in_.a.size, port_in(read(in_.b) & 0xffff, in_.a.size)); return;
      case Op::Out: port_out(read(in_.a) & 0xffff, read(in_.b)); return;
      case Op::Lgdt:
      case Op::Lidt: {
        uint32_t at = ea_linear();
        uint32_t limit = read_mem(at, 2), base = read_mem(at + 2, 4);
        if (v == 2) base &= 0x00ffffff;
        (in_.op == Op::Lgdt ? c_.gdtr_limit : c_.idtr_limit) = limit;
        (in_.op == Op::Lgdt ? c_.gdtr_base : c_.idtr_base) = base;
        return;
      }
      case Op::Sgdt:
      case Op::Sidt: {
        uint32_t at = ea_linear();
        uint32_t base = in_.op == Op::Sgdt ? c_.gdtr_base : c_.idtr_base;
        write_mem(at, 2, in_.op == Op::Sgdt ? c_.gdtr_limit : c_.idtr_limit);
        write_mem(at + 2, 4, v == 2 ? base & 0x00ffffff : base);
        return;
      }
      case Op::Lldt: {
        uint16_t sel = uint16_t(read(in_.a));
        if (!c_.protected_mode()) throw plain(kInvalidOpcode);
        if ((sel & ~3u) == 0) {
          c_.seg[LDTR].selector = sel;
          c_.seg[LDTR].valid = false;
          return;
        }
        c_.seg[LDTR] = load_system(sel, 0x02, 0x02);
        return;
      }
      case Op::Ltr: {
        uint16_t sel = uint16_t(read(in_.a));
        if (c_.protected_mode() && (sel & ~3u) == 0) throw with_code(kGeneralProtection, 0);
        Segment tss = load_system(sel, 0x01, 0x09);  // an available 286 or 386 TSS
        tss.access |= 0x02;                          // busy, in the table too
        store(c_.gdtr_base + (sel & ~7u) + 5, 1, tss.access, false);
        c_.seg[TR] = tss;
        return;
      }
      case Op::Sldt: store_word(c_.seg[LDTR].selector); return;
      case Op::Str: store_word(c_.seg[TR].selector); return;
      case Op::Smsw: store_word(c_.cr[0]); return;
      case Op::Lmsw: {
        // The low four bits of CR0; PE can be set but not cleared.
        uint32_t w = read(in_.a) & 0xf;
        set_control(0, (c_.cr[0] & ~0xeu) | w | (c_.cr[0] & kCr0Pe));
        return;
      }
      case Op::Invlpg: return;  // no translation is cached
      case Op::Clts: c_.cr[0] &= ~kCr0Ts; return;
    }
    throw plain(kInvalidOpcode);
  }

  Machine &m_;
  Cpu &c_;
  AccessLog *log_;
  StepEvents *events_;
  Insn in_;
  Journal journal_;
  uint32_t ipmask_ = 0xffff;
  uint32_t next_ = 0;
};

}  // namespace

StepResult step(Machine &m, AccessLog *log, StepEvents *events) { return Exec(m, log, events).run(); }

}  // namespace sim
