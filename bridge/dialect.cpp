#include "dialect.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace bridge {
namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
  char buf[160];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return std::string();
  if (size_t(n) < sizeof buf) return std::string(buf, size_t(n));
  std::string big(size_t(n) + 1, '\0');
  va_start(ap, fmt);
  vsnprintf(&big[0], big.size(), fmt, ap);
  va_end(ap);
  big.resize(size_t(n));
  return big;
}

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Decimal digits at the start of `text`.
bool read_decimal(std::string_view text, uint64_t *value, size_t *used) {
  size_t i = 0;
  uint64_t v = 0;
  while (i < text.size() && is_digit(text[i]) && i < 20) v = v * 10 + uint64_t(text[i++] - '0');
  if (i == 0) return false;
  *value = v;
  *used = i;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> words(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_blank(s[i])) i++;
    size_t start = i;
    while (i < s.size() && !is_blank(s[i])) i++;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

// The lines of a reply, without their newlines; a last line without one counts.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

// The whole of `text` is one hex number (an optional 0x first).
bool whole_hex(std::string_view text, uint64_t *value) {
  size_t used = 0;
  return read_hex(text, value, &used) && used == text.size();
}

}  // namespace

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool read_hex(std::string_view text, uint64_t *value, size_t *used) {
  size_t i = 0;
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && is_hex_digit(text[2]))
    i = 2;
  size_t first = i;
  uint64_t v = 0;
  while (i < text.size() && is_hex_digit(text[i]) && i - first < 16) v = (v << 4) | uint64_t(hex_value(text[i++]));
  if (i == first) return false;
  // Digits beyond 64 bits are taken but do not fit: the value keeps its low bits.
  while (i < text.size() && is_hex_digit(text[i])) v = (v << 4) | uint64_t(hex_value(text[i++]));
  *value = v;
  *used = i;
  return true;
}

std::string without_prompt_marks(std::string text) {
  for (size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i + 1))
    if (text.compare(i + 1, 6, "bogus+") != 0) text[i] = '?';
  return text;
}

// ---------------------------------------------------------------------------
// Watchpoints

void WatchTable::learn(std::string_view line) {
  if (line == "All watchpoints removed") {
    reads_.clear();
    writes_.clear();
    return;
  }
  bool write;
  if (starts_with(line, "read watchpoint at "))
    write = false;
  else if (starts_with(line, "write watchpoint at "))
    write = true;
  else
    return;
  std::string_view rest = line.substr(write ? 20 : 19);
  uint64_t address = 0;
  size_t used = 0;
  if (!read_hex(rest, &address, &used)) return;
  rest.remove_prefix(used);
  std::vector<Entry> &list = write ? writes_ : reads_;
  if (rest == " removed") {
    for (size_t i = 0; i < list.size(); i++)
      if (list[i].address == address) {
        list.erase(list.begin() + long(i));
        break;
      }
    return;
  }
  uint64_t length = 1;
  if (starts_with(rest, " len=")) {
    size_t n = 0;
    if (!read_decimal(rest.substr(5), &length, &n)) return;
    rest.remove_prefix(5 + n);
  }
  if (rest == " inserted") list.push_back(Entry{address, unsigned(length)});
}

uint64_t WatchTable::hit_address(bool write, uint64_t access) const {
  const std::vector<Entry> &list = write ? writes_ : reads_;
  for (const Entry &e : list)
    if (e.address == access) return access;
  for (const Entry &e : list)
    if (e.address < access && access - e.address < e.length) return e.address;
  const Entry *best = nullptr;
  for (const Entry &e : list)
    if (e.address > access && e.address - access < 16 && (!best || e.address < best->address)) best = &e;
  return best ? best->address : access;
}

// ---------------------------------------------------------------------------
// Commands

std::string hex_address(std::string_view text) {
  std::string_view t = trim(text);
  uint64_t value = 0;
  size_t colon = t.find(':');
  if (colon != std::string_view::npos) {
    uint64_t offset = 0;
    if (whole_hex(t.substr(0, colon), &value) && whole_hex(t.substr(colon + 1), &offset))
      return format("0x%" PRIx64 ":0x%" PRIx64, value, offset);
    return std::string(text);
  }
  if (whole_hex(t, &value)) return format("0x%" PRIx64, value);
  return std::string(text);
}

namespace {

// "/NUF": count, then unit and format letters in either order.
bool read_examine_form(std::string_view form_text, ExamineForm *form, std::string_view *count) {
  if (form_text.empty() || form_text[0] != '/') return false;
  size_t i = 1;
  while (i < form_text.size() && is_digit(form_text[i])) i++;
  *count = form_text.substr(1, i - 1);
  bool unit = false, fmt = false;
  for (; i < form_text.size(); i++) {
    char c = form_text[i];
    if (!unit && (c == 'b' || c == 'h' || c == 'w' || c == 'g')) {
      form->unit = c;
      unit = true;
    } else if (!fmt && (c == 'x' || c == 'd' || c == 'u' || c == 'o' || c == 't' || c == 'c')) {
      form->format = c;
      fmt = true;
    } else {
      return false;
    }
  }
  return true;
}

// The rest of `line` after its first word and the blanks after it.
std::string_view after_word(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && is_blank(line[i])) i++;
  while (i < line.size() && !is_blank(line[i])) i++;
  while (i < line.size() && is_blank(line[i])) i++;
  return line.substr(i);
}

std::string watch_command(bool write, const WatchTable::Entry &e) {
  return format(e.length == 1 ? "watch %s 0x%" PRIx64 : "watch %s 0x%" PRIx64 " %u", write ? "write" : "read",
                e.address, e.length);
}

Plan unwatch_one(bool write, std::string_view address_text, const WatchTable &watches, const std::string &line) {
  Plan plan;
  plan.reply = Reply::Quiet;
  uint64_t address = 0;
  if (!whole_hex(trim(address_text), &address)) {
    plan.lines.push_back(line);  // Bochs says what is wrong with it
    plan.reply = Reply::Pass;
    return plan;
  }
  const std::vector<WatchTable::Entry> &same = write ? watches.writes() : watches.reads();
  const std::vector<WatchTable::Entry> &other = write ? watches.reads() : watches.writes();
  auto at = [address](const WatchTable::Entry &e) { return e.address == address; };
  auto found = std::find_if(same.begin(), same.end(), at);
  if (found == same.end()) {
    plan.lines.push_back(" ");  // nothing to remove; a blank line only brings the prompt
    return plan;
  }
  if (std::none_of(other.begin(), other.end(), at)) {
    // "unwatch ADDR" removes the first watchpoint of each kind at ADDR: here
    // exactly the one asked for.
    plan.lines.push_back(format("unwatch 0x%" PRIx64, address));
    return plan;
  }
  // A watchpoint of the other kind shares the address: remove all and set
  // the others again in their order, so the list keeps its order and lengths.
  plan.lines.push_back("unwatch");
  size_t skip = size_t(found - same.begin());
  for (size_t i = 0; i < watches.reads().size(); i++)
    if (write || i != skip) plan.lines.push_back(watch_command(false, watches.reads()[i]));
  for (size_t i = 0; i < watches.writes().size(); i++)
    if (!write || i != skip) plan.lines.push_back(watch_command(true, watches.writes()[i]));
  return plan;
}

}  // namespace

namespace {

// Text of the user's quoted in an error line: printable, short, no '<'.
std::string quoted(std::string_view text) {
  std::string out = "'";
  for (size_t i = 0; i < text.size(); i++) {
    if (i == 40) {
      out += "...";
      break;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    out += (c >= 0x20 && c < 0x7f && c != '<') ? char(c) : '?';
  }
  return out + "'";
}

Plan refuse(std::string error) {
  Plan plan;
  plan.refusal = "Error: " + std::move(error);
  return plan;
}

// A decimal number of at most `max`.
bool whole_decimal(std::string_view text, uint64_t max, uint64_t *value) {
  size_t used = 0;
  if (text.size() > 10 || !read_decimal(text, value, &used) || used != text.size()) return false;
  return *value <= max;
}

// "SEG:OFF", both hexadecimal, a 16-bit selector and a 32-bit offset.
bool read_virtual(std::string_view text, uint32_t *segment, uint32_t *offset) {
  size_t colon = text.find(':');
  return colon != std::string_view::npos && read_hex32(text.substr(0, colon), segment) && *segment <= 0xffff &&
         read_hex32(text.substr(colon + 1), offset);
}

std::string hex(uint32_t value) { return format("0x%x", value); }

// The registers "set" takes. Bochs 2.7's "set" knows no eflags.
bool settable_register(std::string_view name) {
  static const char *const names[] = {"eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "esp", "eip"};
  for (const char *n : names)
    if (name == n) return true;
  return false;
}

// "set REG = VALUE", also without blanks around '='.
Plan plan_set(std::string_view rest) {
  size_t eq = rest.find('=');
  if (eq == std::string_view::npos) return refuse("usage: set REGISTER = 0xVALUE");
  std::string_view name = trim(rest.substr(0, eq));
  std::string_view value_text = trim(rest.substr(eq + 1));
  if (name == "eflags") return refuse("Bochs 2.7 cannot set eflags");
  if (!settable_register(name)) return refuse("not a register set can change: " + quoted(name));
  uint32_t value = 0;
  if (!read_hex32(value_text, &value)) return refuse("not a 32-bit hexadecimal value: " + quoted(value_text));
  Plan plan;
  plan.lines.push_back("set " + std::string(name) + " = " + hex(value));
  return plan;
}

}  // namespace

bool read_hex32(std::string_view text, uint32_t *value) {
  uint64_t v = 0;
  size_t used = 0;
  if (!read_hex(text, &v, &used) || used != text.size()) return false;
  size_t digits = starts_with(text, "0x") || starts_with(text, "0X") ? 2 : 0;
  while (digits < text.size() && text[digits] == '0') digits++;
  if (text.size() - digits > 8) return false;
  *value = uint32_t(v);
  return true;
}

Plan plan_command(std::string_view raw, const WatchTable &watches) {
  // readline would complete file names on a TAB; a blank does what was meant.
  std::string line(raw);
  std::replace(line.begin(), line.end(), '\t', ' ');
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // Bochs runs every command of a line cut by ';', and readline acts on
  // control characters (Ctrl-D ends the input): neither reaches it.
  if (line.find(';') != std::string::npos) return refuse("one command to a line: " + quoted(line));
  for (char c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return refuse("a control character in " + quoted(line));
  Plan plan;
  std::vector<std::string_view> w = words(line);
  if (w.empty()) {
    // An empty line would repeat the last command; a blank one does nothing.
    plan.lines.push_back(" ");
    return plan;
  }
  std::string_view cmd = w[0];
  std::string_view rest = after_word(line);
  uint32_t address = 0, segment = 0, value = 0;
  uint64_t number = 0;
  auto usage = [](const char *form) { return refuse(std::string("usage: ") + form); };
  auto bad_address = [](std::string_view text) {
    return refuse("not a 32-bit hexadecimal address: " + quoted(text));
  };

  if (cmd == "s" || cmd == "step") {
    if (w.size() > 2 || (w.size() == 2 && (!whole_decimal(w[1], 0x7fffffff, &number) || number == 0)))
      return usage("s [COUNT]");
    plan.lines.push_back(w.size() == 1 ? "s" : "s " + std::to_string(number));
    plan.reply = Reply::Step;
    plan.runs = true;
  } else if (cmd == "c" || cmd == "cont" || cmd == "continue") {
    if (w.size() != 1) return usage("c");
    plan.lines.push_back("c");
    plan.reply = Reply::Continue;
    plan.runs = true;
  } else if ((cmd == "n" || cmd == "next" || cmd == "p") && w.size() == 1) {
    // Bochs's own step over, typed in the console: it runs the guest too,
    // so a SIGINT may stop it; its reply passes as it is.
    plan.lines.push_back(std::string(cmd));
    plan.runs = true;
  } else if (cmd == "q" || cmd == "quit" || cmd == "exit") {
    if (w.size() != 1) return usage("q");
    plan.lines.push_back("q");
    plan.reply = Reply::Quit;
  } else if (cmd == "trace-on" || cmd == "trace-off") {
    if (w.size() != 1) return usage(cmd == "trace-on" ? "trace-on" : "trace-off");
    plan.lines.push_back(cmd == "trace-on" ? "trace on" : "trace off");
  } else if (cmd == "pb" || cmd == "pbreak" || cmd == "lb" || cmd == "lbreak") {
    if (w.size() != 2) return usage(cmd[0] == 'p' ? "pb 0xADDRESS" : "lb 0xADDRESS");
    if (!read_hex32(w[1], &address)) return bad_address(w[1]);
    plan.lines.push_back(std::string(cmd) + " " + hex_address(w[1]));
  } else if (cmd == "vb" || cmd == "vbreak") {
    if (w.size() != 2) return usage("vb 0xSEGMENT:0xOFFSET");
    if (!read_virtual(w[1], &segment, &address))
      return refuse("not a 16-bit segment and 32-bit offset in hexadecimal: " + quoted(w[1]));
    plan.lines.push_back(std::string(cmd) + " " + hex_address(w[1]));
  } else if (cmd == "d" || cmd == "del" || cmd == "delete") {
    if (w.size() != 2) return usage("d NUMBER");
    if (!whole_decimal(w[1], 0xffffffff, &number)) return refuse("not a breakpoint number: " + quoted(w[1]));
    plan.lines.push_back("d " + std::to_string(number));
  } else if (cmd == "info" && w.size() == 2 && (w[1] == "break" || w[1] == "b")) {
    plan.lines.push_back("info break");
    plan.reply = Reply::BreakList;
  } else if (cmd == "watch" || cmd == "unwatch") {
    if (w.size() == 1) {
      plan.lines.push_back(std::string(cmd));
      if (cmd == "watch") plan.reply = Reply::WatchList;
      return plan;
    }
    if (w.size() != 3 || (w[1] != "read" && w[1] != "write"))
      return usage(cmd == "watch" ? "watch read|write 0xADDRESS" : "unwatch read|write 0xADDRESS");
    if (!read_hex32(w[2], &address)) return bad_address(w[2]);
    if (cmd == "unwatch") return unwatch_one(w[1] == "write", w[2], watches, line);
    plan.lines.push_back("watch " + std::string(w[1]) + " " + hex_address(w[2]));
  } else if (cmd == "dump_cpu") {
    if (w.size() != 1) return usage("dump_cpu");
    plan.lines.push_back("r;sreg;creg;dreg");
    plan.reply = Reply::Registers;
  } else if (cmd == "x" || cmd == "xp") {
    std::string_view count;
    if (w.size() != 3 || !read_examine_form(w[1], &plan.examine, &count) || count.empty())
      return usage(cmd == "x" ? "x /NUF 0xADDRESS" : "xp /NUF 0xADDRESS");
    if (count.size() > 9) return refuse("not a count: " + quoted(count));
    if (!read_hex32(w[2], &address)) return bad_address(w[2]);
    plan.reply = Reply::Examine;
    std::string form(w[1]);
    if (plan.examine.unit == 'g' && plan.examine.format == 't') {
      // 2.7 prints quadwords in binary as nothing at all.
      plan.examine.binary_from_hex = true;
      form = "/" + std::string(count) + "gx";
    }
    plan.lines.push_back(std::string(cmd) + " " + form + " " + std::string(w[2]));
  } else if (cmd == "u" || cmd == "disasm") {
    if (w.size() != 3 || w[1].size() < 2 || w[1][0] != '/') return usage("u /COUNT 0xADDRESS");
    if (!whole_decimal(w[1].substr(1), 64, &number) || number == 0)
      return refuse("not a count from 1 to 64: " + quoted(w[1].substr(1)));
    if (!read_hex32(w[2], &address)) return bad_address(w[2]);
    plan.lines.push_back("u /" + std::to_string(number) + " " + hex(address));
    plan.reply = Reply::Disassemble;
  } else if (cmd == "set") {
    return plan_set(rest);
  } else if (cmd == "setpmem") {
    if (w.size() != 4) return usage("setpmem 0xADDRESS SIZE 0xVALUE");
    if (!read_hex32(w[1], &address)) return bad_address(w[1]);
    if (w[2] != "1" && w[2] != "2" && w[2] != "4") return refuse("not a size of 1, 2 or 4 bytes: " + quoted(w[2]));
    if (!read_hex32(w[3], &value)) return refuse("not a 32-bit hexadecimal value: " + quoted(w[3]));
    unsigned size = unsigned(w[2][0] - '0');
    if (size < 4 && value >> (8 * size) != 0)
      return refuse(format("0x%x does not fit in %u byte%s", value, size, size == 1 ? "" : "s"));
    plan.lines.push_back(format("setpmem 0x%x %u 0x%x", address, size, value));
  } else {
    // A command of the console: one command, as typed.
    plan.lines.push_back(line);
  }
  return plan;
}

// ---------------------------------------------------------------------------
// Lines

namespace {

// The old disassembler's words for what 2.7 calls otherwise.
std::string old_instruction_text(std::string_view text) {
  static const struct {
    std::string_view now, old;
  } words_table[] = {
      {"rep", "rep:"},     {"repe", "repe:"}, {"repz", "repe:"},   {"repne", "repne:"},
      {"repnz", "repne:"}, {"callf", "call far"}, {"jmpf", "jmp far"},
  };
  size_t end = 0;
  while (end < text.size() && !is_blank(text[end])) end++;
  std::string_view first = text.substr(0, end);
  for (const auto &t : words_table)
    if (first == t.now) return std::string(t.old) + std::string(text.substr(end));
  return std::string(text);
}

// A hex number printed with leading zeros, shown with at least 8 digits.
std::string hex8(uint64_t value) { return format("%08" PRIx64, value); }

// The context field of an instruction line as two words, as the old grammar
// skips it: "(unk. ctxt)" and "(no symbol)" are; with symbols loaded Bochs
// writes one word, "(pm_loop+0)", which becomes "(pm_loop +0)".
std::string two_word_context(std::string_view context) {
  std::string_view inside = context.substr(1, context.size() - 2);
  if (inside.find(' ') != std::string_view::npos) return std::string(context);
  size_t plus = inside.rfind('+');
  if (plus == std::string_view::npos || plus == 0) return "(unk. ctxt)";
  return "(" + std::string(inside.substr(0, plus)) + " " + std::string(inside.substr(plus)) + ")";
}

}  // namespace

bool reformat_instruction_line(std::string_view line, std::string *out) {
  // "(0) [0x000000007c01] 0000:7c01 (unk. ctxt): xor ax, ax                ; 31c0"
  // "(0).[12936065] [0x…] …" (a trace line: the tick count goes)
  if (line.empty() || line[0] != '(') return false;
  size_t close = line.find(')');
  if (close == std::string_view::npos || close > 8) return false;
  std::string_view cpu = line.substr(0, close + 1);
  std::string_view rest = line.substr(close + 1);
  if (starts_with(rest, ".[")) {
    size_t end = rest.find(']');
    if (end == std::string_view::npos) return false;
    for (size_t i = 2; i < end; i++)
      if (!is_digit(rest[i])) return false;
    rest.remove_prefix(end + 1);
  }
  if (!starts_with(rest, " [0x")) return false;
  rest.remove_prefix(2);
  uint64_t physical = 0, segment = 0, offset = 0;
  size_t used = 0;
  if (!read_hex(rest, &physical, &used) || !starts_with(rest.substr(used), "] ")) return false;
  rest.remove_prefix(used + 2);
  if (!read_hex(rest, &segment, &used) || used > 4 || rest.size() <= used || rest[used] != ':') return false;
  rest.remove_prefix(used + 1);
  if (!read_hex(rest, &offset, &used) || rest.size() <= used || rest[used] != ' ') return false;
  const bool short_offset = used <= 4;
  rest.remove_prefix(used + 1);
  std::string context;
  if (!rest.empty() && rest[0] == '(') {
    size_t end = rest.find("): ");
    if (end == std::string_view::npos) return false;
    context = two_word_context(rest.substr(0, end + 1)) + ":";
    rest.remove_prefix(end + 3);
  }
  size_t semicolon = rest.rfind(';');
  if (semicolon == std::string_view::npos) return false;
  std::string_view text = trim(rest.substr(0, semicolon));
  std::string_view bytes = trim(rest.substr(semicolon + 1));
  std::string old_text = old_instruction_text(text);
  std::string s(cpu);
  s += " [0x" + hex8(physical) + "] ";
  s += format("%04" PRIx64 ":", segment);
  s += short_offset ? format("%04" PRIx64, offset) : hex8(offset);
  s += ' ';
  if (!context.empty()) {
    s += context;
    s += ' ';
  }
  s += format("%-24s ; ", old_text.c_str());
  s += bytes;
  *out = std::move(s);
  return true;
}

bool is_trace_line(std::string_view line, uint64_t *tick) {
  // "(0).[12936054] [0x000000007c0f] 0000:7c0f (unk. ctxt): int 0x03 ; cd03"
  size_t close = line.find(").[");
  if (line.empty() || line[0] != '(' || close == std::string_view::npos || close > 8) return false;
  uint64_t t = 0;
  size_t used = 0;
  std::string_view rest = line.substr(close + 3);
  if (!read_decimal(rest, &t, &used) || !starts_with(rest.substr(used), "] [0x")) return false;
  *tick = t;
  return true;
}

bool is_notice_line(std::string_view line) {
  size_t close = line.find(") ");
  if (line.empty() || line[0] != '(' || close == std::string_view::npos || close > 8) return false;
  for (size_t i = 1; i < close; i++)
    if (!is_digit(line[i])) return false;
  std::string_view rest = line.substr(close + 2);
  return !rest.empty() && rest[0] != '[' && !starts_with(rest, "Breakpoint ") && !starts_with(rest, "Caught ");
}

std::string reset_notice(std::string_view trace_line, bool triple_fault) {
  size_t close = trace_line.find(')');
  std::string cpu = close != std::string_view::npos && close < 8 ? std::string(trace_line.substr(0, close + 1)) : "(0)";
  return cpu + (triple_fault ? " Reset after a triple fault" : " Reset");
}

bool is_triple_fault_log(std::string_view line) {
  // "00012936054e[CPU0  ] exception(): 3rd (13) exception with no resolution, shutdown status is 00h, resetting"
  return line.find("exception with no resolution") != std::string_view::npos;
}

bool unreadable_linear_error(std::string_view line, std::string *out) {
  // "bx_dbg_read_linear: physical address not available for linear 0x0000000000401000"
  // "bx_dbg_read_linear: physical memory read error (phy=0x000002000000, lin=0x0000000002000000)"
  static const std::string_view unmapped = "bx_dbg_read_linear: physical address not available for linear ";
  static const std::string_view beyond = "bx_dbg_read_linear: physical memory read error (phy=";
  uint64_t linear = 0, physical = 0;
  size_t used = 0;
  if (starts_with(line, unmapped) && read_hex(line.substr(unmapped.size()), &linear, &used)) {
    *out = format("Error: reading linear 0x%08" PRIx64 ": page not present", linear & 0xffffffffu);
    return true;
  }
  if (starts_with(line, beyond) && read_hex(line.substr(beyond.size()), &physical, &used)) {
    size_t lin = line.find("lin=");
    if (lin == std::string_view::npos || !read_hex(line.substr(lin + 4), &linear, &used)) return false;
    *out = format("Error: reading linear 0x%08" PRIx64 ": no memory at physical 0x%08" PRIx64,
                  linear & 0xffffffffu, physical & 0xffffffffu);
    return true;
  }
  return false;
}

bool reformat_disassembly_line(std::string_view line, std::string *out) {
  // "0000000000007ca1: (           pm_loop+1): call .+26 pm_sub+0 (0x00007cc0) ; e81a000000"
  uint64_t address = 0;
  size_t used = 0;
  if (!read_hex(line, &address, &used) || used < 8 || !starts_with(line.substr(used), ": (")) return false;
  std::string_view rest = line.substr(used + 3);
  size_t close = rest.find("): ");
  if (close == std::string_view::npos) return false;
  std::string symbol(trim(rest.substr(0, close)));
  rest.remove_prefix(close + 3);
  size_t semicolon = rest.rfind(" ; ");
  if (semicolon == std::string_view::npos) return false;
  std::string text = old_instruction_text(trim(rest.substr(0, semicolon)));
  std::string_view bytes = trim(rest.substr(semicolon + 3));
  *out = format("%08" PRIx64 ": (%-20s): %-25s ; ", address & 0xffffffffu, symbol.c_str(), text.c_str());
  *out += bytes;
  return true;
}

std::string translate_line(std::string_view line, const WatchTable &watches) {
  std::string out;
  if (line.empty()) return out;
  if (line[0] == '(' && reformat_instruction_line(line, &out)) return out;
  size_t p = line.find(") Breakpoint ");
  if (line[0] == '(' && p != std::string_view::npos && p < 8) {
    // "(0) Breakpoint 1, 0x0000000000007c00 in ?? ()"
    // "(0) Breakpoint 7, in 0000:7c15 (0x00007c15)"
    std::string_view rest = line.substr(p + 13);
    uint64_t number = 0, address = 0;
    size_t used = 0;
    if (read_decimal(rest, &number, &used) && starts_with(rest.substr(used), ", ")) {
      std::string_view where = rest.substr(used + 2);
      size_t open = where.find("(0x");
      bool found = starts_with(where, "0x") ? read_hex(where, &address, &used)
                   : open != std::string_view::npos ? read_hex(where.substr(open + 1), &address, &used)
                                                    : false;
      if (found)
        return std::string(line.substr(0, p + 1)) + format(" Breakpoint %" PRIu64 ", 0x%" PRIx64 " in ?? ()", number, address);
    }
    return std::string(line);
  }
  p = line.find(") Caught ");
  if (line[0] == '(' && p != std::string_view::npos && p < 8) {
    // "(0) Caught write watch point at 0x000000000500": the access address.
    std::string_view rest = line.substr(p + 9);
    bool write = starts_with(rest, "write watch point at ");
    bool read = starts_with(rest, "read watch point at ");
    uint64_t access = 0;
    size_t used = 0;
    if ((write || read) && read_hex(rest.substr(write ? 21 : 20), &access, &used))
      return std::string(line.substr(0, p + 1)) +
             format(" Caught %s watch point at 0x%s", write ? "write" : "read",
                    hex8(watches.hit_address(write, access)).c_str());
    return std::string(line);
  }
  if (line == "Tracing enabled for CPU0") return "Tracing enabled for CPU 0";
  if (line == "Tracing disabled for CPU0") return "Tracing disabled for CPU 0";
  return std::string(line);
}

// ---------------------------------------------------------------------------
// Whole replies

std::string rewrite_breakpoint_list(std::string_view reply) {
  struct Entry {
    uint64_t number;
    std::string text;
  };
  std::vector<Entry> entries;
  std::string head, tail;
  for (std::string_view l : lines_of(reply)) {
    // "  5 vbreakpoint    keep y   0x0000:0000000000007c11 "
    std::vector<std::string_view> w = words(l);
    uint64_t number = 0, segment = 0, offset = 0;
    size_t used = 0;
    bool ok = w.size() == 5 && read_decimal(w[0], &number, &used) && used == w[0].size() &&
              (w[1] == "pbreakpoint" || w[1] == "lbreakpoint" || w[1] == "vbreakpoint");
    if (ok && w[1][0] == 'v') {
      size_t colon = w[4].find(':');
      ok = colon != std::string_view::npos && whole_hex(w[4].substr(0, colon), &segment) &&
           whole_hex(w[4].substr(colon + 1), &offset);
    } else if (ok) {
      ok = whole_hex(w[4], &offset);
    }
    if (!ok) {
      (entries.empty() ? head : tail) += std::string(l) + "\n";
      continue;
    }
    std::string text = format("%3" PRIu64 " %-15s%-5s%-4s0x", number, std::string(w[1]).c_str(),
                              std::string(w[2]).c_str(), std::string(w[3]).c_str());
    if (w[1][0] == 'v') text += format("%04" PRIx64 ":0x", segment);
    text += hex8(offset) + "\n";
    entries.push_back(Entry{number, std::move(text)});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry &a, const Entry &b) { return a.number < b.number; });
  std::string out = head;
  for (const Entry &e : entries) out += e.text;
  return out + tail;
}

std::string rewrite_watch_list(std::string_view reply, const WatchTable &watches) {
  struct Entry {
    bool labelled_write;
    uint64_t address;
    std::string value;
  };
  std::vector<Entry> entries;
  std::string other;
  for (std::string_view l : lines_of(reply)) {
    // "rd 0x000000007bfe len=1\t\t(7c0e)", "rd 0x000002000000 len=1\t\t(read error)"
    bool rd = starts_with(l, "rd 0x"), wr = starts_with(l, "wr 0x");
    uint64_t address = 0;
    size_t used = 0;
    size_t open = l.find('(');
    if ((rd || wr) && read_hex(l.substr(3), &address, &used) && open != std::string_view::npos && l.back() == ')') {
      std::string_view value = l.substr(open + 1, l.size() - open - 2);
      uint64_t v = 0;
      // 2.7 shows the 16-bit word at the address; an address beyond memory,
      // which reads as all ones, shows "(read error)".
      std::string text = whole_hex(value, &v) ? format("%04" PRIx64, v) : std::string("ffff");
      entries.push_back(Entry{wr, address, text});
    } else {
      other += std::string(l) + "\n";
    }
  }
  // 2.7 lists the read watchpoints first, then the writes, but labels a write
  // watchpoint beyond memory "rd". Bochs's own replies told how many reads it
  // holds; without them, a "rd" after a "wr" is a write.
  size_t reads = watches.reads().size();
  bool counted = reads + watches.writes().size() == entries.size();
  std::string out;
  bool seen_write = false;
  for (size_t i = 0; i < entries.size(); i++) {
    seen_write = seen_write || entries[i].labelled_write;
    bool write = counted ? i >= reads : seen_write;
    out += format("%s 0x%s (%s)\n", write ? "write" : "read", hex8(entries[i].address).c_str(),
                  entries[i].value.c_str());
  }
  return out + other;
}

namespace {

// Slots of the register values, in the order of the old dump.
enum RegisterSlot {
  kGeneral = 0,                 // eax ebx ecx edx ebp esi edi esp eflags eip
  kSegments = 10,               // cs ss ds es fs gs ldtr tr: s, dl, dh, valid each
  kTables = kSegments + 8 * 4,  // gdtr base, limit; idtr base, limit
  kDebug = kTables + 4,         // dr0 dr1 dr2 dr3 dr6 dr7
  kControl = kDebug + 6,        // cr0 cr2 cr3 cr4
  kSlots = kControl + 4,
};

const char *const kGeneralNames[] = {"eax", "ebx", "ecx", "edx", "ebp", "esi", "edi", "esp", "eflags", "eip"};
const char *const kSegmentNames[] = {"cs", "ss", "ds", "es", "fs", "gs", "ldtr", "tr"};

int general_slot(std::string_view two) {  // "ax" of "rax", "ip" of "rip"
  static const char *const names[] = {"ax", "bx", "cx", "dx", "bp", "si", "di", "sp"};
  for (int i = 0; i < 8; i++)
    if (two == names[i]) return kGeneral + i;
  return two == "ip" ? kGeneral + 9 : -1;
}

int segment_index(std::string_view name) {
  for (int i = 0; i < 8; i++)
    if (name == kSegmentNames[i]) return i;
  return -1;
}

}  // namespace

std::string rebuild_registers(std::string_view reply) {
  uint64_t value[kSlots] = {};
  bool have[kSlots] = {};
  auto put = [&](int slot, uint64_t v) {
    value[slot] = v & 0xffffffffu;  // VUM keeps 32 bits
    have[slot] = true;
  };
  for (std::string_view l : lines_of(reply)) {
    uint64_t v = 0;
    size_t used = 0;
    // "rax: 00000000_00000004"
    if (l.size() == 22 && l[0] == 'r' && l[3] == ':' && l[13] == '_') {
      int slot = general_slot(l.substr(1, 2));
      std::string digits = std::string(l.substr(5, 8)) + std::string(l.substr(14, 8));
      if (slot >= 0 && whole_hex(digits, &v)) put(slot, v);
      continue;
    }
    if (starts_with(l, "eflags 0x")) {
      if (read_hex(l.substr(7), &v, &used)) put(kGeneral + 8, v);
      continue;
    }
    // "cs:0x0008, dh=0x00cf9b00, dl=0x0000ffff, valid=1"
    size_t colon = l.find(":0x");
    int seg = colon != std::string_view::npos && colon <= 4 ? segment_index(l.substr(0, colon)) : -1;
    if (seg >= 0) {
      std::string_view r = l.substr(colon + 1);
      uint64_t sel = 0, dh = 0, dl = 0, valid = 0;
      if (!read_hex(r, &sel, &used)) continue;
      r.remove_prefix(used);
      if (!starts_with(r, ", dh=") || !read_hex(r.substr(5), &dh, &used)) continue;
      r.remove_prefix(5 + used);
      if (!starts_with(r, ", dl=") || !read_hex(r.substr(5), &dl, &used)) continue;
      r.remove_prefix(5 + used);
      if (!starts_with(r, ", valid=") || !read_decimal(r.substr(8), &valid, &used)) continue;
      int base = kSegments + 4 * seg;
      put(base, sel);
      put(base + 1, dl);
      put(base + 2, dh);
      put(base + 3, valid != 0);  // 2.7 shows a mask of cache states; VUM asks "valid or not"
      continue;
    }
    // "gdtr:base=0x00000000000f9ad7, limit=0x30"
    if (starts_with(l, "gdtr:base=") || starts_with(l, "idtr:base=")) {
      int slot = kTables + (l[0] == 'g' ? 0 : 2);
      uint64_t base = 0, limit = 0;
      std::string_view r = l.substr(10);
      if (!read_hex(r, &base, &used)) continue;
      r.remove_prefix(used);
      if (!starts_with(r, ", limit=") || !read_hex(r.substr(8), &limit, &used)) continue;
      put(slot, base);
      put(slot + 1, limit);
      continue;
    }
    // "CR0=0x60000010: …", "CR2=page fault laddr=0x…", "CR3=0x…", "DR6=0x…: …"
    if (l.size() > 4 && (l[0] == 'C' || l[0] == 'D') && l[1] == 'R' && is_digit(l[2]) && l[3] == '=') {
      std::string_view r = l.substr(4);
      if (starts_with(r, "page fault laddr=")) r.remove_prefix(17);
      if (!read_hex(r, &v, &used)) continue;
      static const int debug_slot[8] = {0, 1, 2, 3, -1, -1, 4, 5};
      static const int control_slot[5] = {0, -1, 1, 2, 3};
      int n = l[2] - '0';
      int slot = l[0] == 'D' ? (n < 8 && debug_slot[n] >= 0 ? kDebug + debug_slot[n] : -1)
                             : (n < 5 && control_slot[n] >= 0 ? kControl + control_slot[n] : -1);
      if (slot >= 0) put(slot, v);
    }
  }
  // The old dump, line by line; it stops at the first value Bochs did not
  // give, so that VUM's reader keeps its old values from there on. (Written
  // out by hand: it is on the path of every stop.)
  std::string out;
  out.reserve(1200);
  auto hex = [&out](uint64_t v, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    char buf[16];
    int n = 0;
    do {
      buf[n++] = kDigits[v & 15];
      v >>= 4;
    } while (v != 0 && n < 16);
    out += "0x";
    for (int i = n; i < digits; i++) out += '0';
    while (n > 0) out += buf[--n];
  };
  for (int i = 0; i < 10; i++) {
    if (!have[kGeneral + i]) return out;
    out += kGeneralNames[i];
    out += ':';
    hex(value[kGeneral + i], 8);
    out += '\n';
  }
  for (int i = 0; i < 8; i++) {
    int b = kSegments + 4 * i;
    if (!have[b] || !have[b + 1] || !have[b + 2] || !have[b + 3]) return out;
    out += kSegmentNames[i];
    out += ":s=";
    hex(value[b], 4);
    out += ", dl=";
    hex(value[b + 1], 8);
    out += ", dh=";
    hex(value[b + 2], 8);
    out += value[b + 3] ? ", valid=1\n" : ", valid=0\n";
  }
  for (int i = 0; i < 2; i++) {
    int b = kTables + 2 * i;
    if (!have[b] || !have[b + 1]) return out;
    out += i ? "idtr:base=" : "gdtr:base=";
    hex(value[b], 8);
    out += ", limit=";
    hex(value[b + 1], 1);
    out += '\n';
  }
  static const char *const debug_names[] = {"dr0:", "dr1:", "dr2:", "dr3:", "dr6:", "dr7:"};
  for (int i = 0; i < 6; i++) {
    if (!have[kDebug + i]) return out;
    out += debug_names[i];
    hex(value[kDebug + i], 8);
    out += '\n';
  }
  // Bochs 2.7 emulates no test registers.
  out += "tr3:0x00000000\ntr4:0x00000000\ntr5:0x00000000\ntr6:0x00000000\ntr7:0x00000000\n";
  static const char *const control_names[] = {"cr0:", "cr2:", "cr3:", "cr4:"};
  for (int i = 0; i < 4; i++) {
    if (!have[kControl + i]) return out;
    out += control_names[i];
    hex(value[kControl + i], 8);
    out += '\n';
    if (i == 0) out += "cr1:0x00000000\n";  // reserved: no source
  }
  // No 2.7 command shows the interrupt shadow; VUM never shows it either.
  out += "inhibit_mask:0\n";
  out += "done\n";
  return out;
}

namespace {

std::string old_value(std::string_view value, const ExamineForm &form) {
  uint64_t v = 0;
  if (form.binary_from_hex) {
    if (!whole_hex(value, &v)) return std::string(value);
    std::string bits(64, '0');
    for (int i = 0; i < 64; i++)
      if ((v >> i) & 1) bits[size_t(63 - i)] = '1';
    return bits;
  }
  if (form.format == 'x' && form.unit == 'g' && starts_with(value, "0x") && whole_hex(value, &v))
    return format("0x%016" PRIx64, v);
  if (form.format == 'o' && !value.empty() && is_digit(value[0])) return "0" + std::string(value);
  return std::string(value);
}

}  // namespace

std::string rewrite_disassembly(std::string_view reply) {
  std::string out, line;
  for (std::string_view l : lines_of(reply)) {
    if (l == "[bochs]:") continue;
    if (reformat_disassembly_line(l, &line) || unreadable_linear_error(l, &line)) {
      out += line + "\n";
      if (line[0] == 'E') break;  // the error stands in place of the rest
    } else if (!starts_with(l, "bx_dbg_")) {
      // Bochs's notes on the selectors of far jumps it decodes
      // ("bx_dbg_read_pmode_descriptor: …") are not lines of the listing.
      out += std::string(l) + "\n";
    }
  }
  return out;
}

std::string rewrite_examine(std::string_view reply, const ExamineForm &form) {
  // A linear range that touches a page that is not present: one error line
  // in place of every value.
  static const std::string_view unmapped = "bx_dbg_read_linear: physical address not available for linear ";
  size_t bad = reply.find(unmapped);
  if (bad != std::string_view::npos) {
    size_t end = reply.find('\n', bad);
    std::string error;
    if (unreadable_linear_error(reply.substr(bad, end == std::string_view::npos ? end : end - bad), &error))
      return error + "\n";
  }
  std::string out;
  for (std::string_view l : lines_of(reply)) {
    if (l == "[bochs]:" || l == "dbg_examine: repeat count given but is zero.") continue;
    // "0x0000000000007c00 <bogus+       0>:\t0xfa\t0x31"
    uint64_t address = 0, offset = 0;
    size_t used = 0;
    size_t label = l.find(" <bogus+");
    size_t end = l.find(">:");
    if (!read_hex(l, &address, &used) || used != label || end == std::string_view::npos || end < label) {
      out += std::string(l) + "\n";
      continue;
    }
    std::string_view number = trim(l.substr(label + 8, end - label - 8));
    if (!read_decimal(number, &offset, &used) || used != number.size()) {
      out += std::string(l) + "\n";
      continue;
    }
    std::string_view values = l.substr(end + 2);
    // A linear read that fails ends the line with Bochs's message; it goes on
    // a line of its own, where no reader takes it for a value.
    std::string_view error;
    size_t bad = values.find("bx_dbg_");
    if (bad != std::string_view::npos) {
      error = values.substr(bad);
      values = values.substr(0, bad);
    }
    out += format("0x%08" PRIx64 " <bogus+%" PRIu64 ">:", address, offset);
    if (form.format == 'c') {
      out += values;
    } else {
      size_t i = 0;
      while (i < values.size()) {
        if (values[i] == '\t') {
          out += '\t';
          i++;
          continue;
        }
        size_t next = values.find('\t', i);
        if (next == std::string_view::npos) next = values.size();
        out += old_value(values.substr(i, next - i), form);
        i = next;
      }
    }
    out += '\n';
    if (!error.empty()) out += std::string(error) + "\n";
  }
  return out;
}

}  // namespace bridge
