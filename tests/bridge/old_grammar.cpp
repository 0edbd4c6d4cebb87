#include "old_grammar.hpp"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace old_grammar {
namespace {

bool white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void skip_field(const std::string &s, size_t *i) {
  while (*i < s.size() && !white(s[*i])) ++*i;
  while (*i < s.size() && white(s[*i])) ++*i;
}

// A stream over a copy of the text.
struct Stream {
  std::string text;
  FILE *f;
  explicit Stream(const std::string &t) : text(t) {
    f = text.empty() ? fopen("/dev/null", "r") : fmemopen(&text[0], text.size(), "r");
  }
  ~Stream() { fclose(f); }
};

}  // namespace

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

bool scan_instruction_line(const std::string &line, Location *at) {
  size_t i = 0;
  if (!line.empty() && line[0] == '(') skip_field(line, &i);
  unsigned phys = 0, cs = 0, eip = 0;
  if (sscanf(line.c_str() + i, "[0x%x] ", &phys) != 1) return false;
  skip_field(line, &i);
  if (sscanf(line.c_str() + i, "%x:%x ", &cs, &eip) != 2) return false;
  skip_field(line, &i);
  if (i < line.size() && line[i] == '(') {
    skip_field(line, &i);
    skip_field(line, &i);
  }
  size_t semi = line.find(';', i);
  std::string text = line.substr(i, semi == std::string::npos ? std::string::npos : semi - i);
  if (text.empty()) return false;
  at->physical = phys;
  at->cs = cs;
  at->eip = eip;
  at->length = 0;
  at->bytes.clear();
  if (semi != std::string::npos && semi + 2 <= line.size()) {
    int n = 0;
    unsigned dummy;
    if (sscanf(line.c_str() + semi + 2, "%x%n", &dummy, &n) == 1) at->length = unsigned(n) / 2;
    at->bytes = line.substr(semi + 2);
  }
  while (!text.empty() && white(text.back())) text.pop_back();
  at->text = text;
  return true;
}

bool scan_location(const std::string &reply, Location *at) {
  std::vector<std::string> l = lines(reply);
  // Two lines and the prompt: nothing else may stand before it.
  if (l.size() != 2) return false;
  return scan_instruction_line(l[1], at);
}

bool offers_next(const std::string &text) {
  char word[128] = {0};
  if (sscanf(text.c_str(), "%127s", word) != 1) return false;
  std::string w = word;
  for (char &c : w) c = char(tolower((unsigned char)c));
  if (w == "call" || w == "int" || w == "rep:" || w == "loop") return true;
  return word[0] == 'j' && w != "jmp";
}

bool scan_breakpoint_stop(const std::string &line, unsigned *number) {
  return sscanf(line.c_str(), "%*s Breakpoint %u,", number) == 1;
}

bool scan_watch_stop(const std::string &line, std::string *kind, uint32_t *address) {
  char k[10] = {0};
  unsigned a = 0;
  if (sscanf(line.c_str(), "%*s Caught %9s watch point at %x", k, &a) != 2) return false;
  *kind = k;
  *address = a;
  return true;
}

std::vector<Breakpoint> scan_breakpoint_list(const std::string &reply) {
  std::vector<Breakpoint> out;
  Stream s(reply);
  int c;
  do c = fgetc(s.f);
  while (c != EOF && !isdigit(c) && c != '<');
  if (c == EOF) return out;
  ungetc(c, s.f);
  for (int i = 0; i < 30; i++) {
    do c = fgetc(s.f);
    while (c != EOF && isspace(c));
    if (c == EOF || !isdigit(c)) break;
    ungetc(c, s.f);
    Breakpoint b;
    char letter = 0, enabled = 0;
    if (fscanf(s.f, "%u %c%*s ", &b.number, &letter) < 2) break;
    if (letter == 'p') b.kind = 0;
    else if (letter == 'l') b.kind = 1;
    else if (letter == 'v') b.kind = 2;
    else break;
    if (fscanf(s.f, "%*s %c ", &enabled) < 1) break;
    b.enabled = enabled == 'y';
    if (fscanf(s.f, "%x", &b.segment) < 1) break;
    if (fscanf(s.f, ":%x", &b.offset) < 1) {
      b.offset = b.segment;
      b.segment = 0;
    }
    out.push_back(b);
  }
  return out;
}

std::vector<Watchpoint> scan_watch_list(const std::string &reply) {
  std::vector<Watchpoint> out;
  Stream s(reply);
  for (int i = 0; i < 30; i++) {
    int c;
    do c = fgetc(s.f);
    while (c != EOF && c != 'r' && c != 'w' && c != '<');
    if (c == EOF || c == '<') break;
    ungetc(c, s.f);
    char kind[6] = {0}, value[16] = {0};
    Watchpoint w;
    if (fscanf(s.f, "%5s %x (%15s", kind, &w.address, value) < 3) break;
    if (strcmp(kind, "read") == 0) w.kind = 0;
    else if (strcmp(kind, "write") == 0) w.kind = 1;
    else break;
    size_t n = strlen(value);
    if (n == 0) break;
    value[n - 1] = '\0';
    if (n - 1 == 4) w.width = 2;
    else if (n - 1 == 8) w.width = 4;
    else break;
    sscanf(value, "%x", &w.value);
    out.push_back(w);
  }
  return out;
}

int scan_registers(const std::string &reply, uint32_t v[63]) {
  return sscanf(
      reply.c_str(),
      " eax:%x\nebx:%x\necx:%x\nedx:%x\nebp:%x\nesi:%x\nedi:%x\nesp:%x\neflags:%x\neip:%x\n"
      "cs:s=%x, dl=%x, dh=%x, valid=%u\nss:s=%x, dl=%x, dh=%x, valid=%u\nds:s=%x, dl=%x, dh=%x, valid=%u\n"
      "es:s=%x, dl=%x, dh=%x, valid=%u\nfs:s=%x, dl=%x, dh=%x, valid=%u\ngs:s=%x, dl=%x, dh=%x, valid=%u\n"
      "ldtr:s=%x, dl=%x, dh=%x, valid=%u\ntr:s=%x, dl=%x, dh=%x, valid=%u\ngdtr:base=%x, limit=%x\n"
      "idtr:base=%x, limit=%x\ndr0:%x\ndr1:%x\ndr2:%x\ndr3:%x\ndr6:%x\ndr7:%x\ntr3:%x\ntr4:%x\ntr5:%x\n"
      "tr6:%x\ntr7:%x\ncr0:%x\ncr1:%x\ncr2:%x\ncr3:%x\ncr4:%x\ninhibit_mask:%u\ndone\n",
      &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13],
      &v[14], &v[15], &v[16], &v[17], &v[18], &v[19], &v[20], &v[21], &v[22], &v[23], &v[24], &v[25], &v[26],
      &v[27], &v[28], &v[29], &v[30], &v[31], &v[32], &v[33], &v[34], &v[35], &v[36], &v[37], &v[38], &v[39],
      &v[40], &v[41], &v[42], &v[43], &v[44], &v[45], &v[46], &v[47], &v[48], &v[49], &v[50], &v[51], &v[52],
      &v[53], &v[54], &v[55], &v[56], &v[57], &v[58], &v[59], &v[60], &v[61], &v[62]);
}

bool scan_stack_element(const std::string &reply, uint32_t *value) {
  unsigned v = 0;
  if (sscanf(reply.c_str(), "%*s %*s 0x%x", &v) != 1) return false;
  *value = v;
  return true;
}

int scan_struct_field(const std::string &reply, uint32_t *first, uint32_t *second) {
  unsigned a = 0, b = 0;
  int n = sscanf(reply.c_str(), " %*s %*s 0x%X 0x%X", &a, &b);
  if (n >= 1) *first = a;
  if (n >= 2) *second = b;
  return n;
}

std::vector<DumpRow> read_dump(const std::string &reply) {
  std::vector<DumpRow> rows;
  std::string line;
  unsigned last_base = 0;
  auto finish = [&]() {
    DumpRow r;
    size_t i = 0;
    auto token = [&](std::string *out) {
      while (i < line.size() && white(line[i])) i++;
      size_t start = i;
      while (i < line.size() && !white(line[i])) i++;
      *out = line.substr(start, i - start);
      if (i < line.size()) i++;
    };
    std::string first, second;
    token(&first);
    unsigned base = 0;
    if (sscanf(first.c_str(), "%x", &base) == 1) last_base = base;
    char cell[18];
    snprintf(cell, sizeof cell, "%.8X", last_base);
    r.base = cell;
    token(&second);
    r.offset = second.substr(0, 16);
    r.values = line.substr(i);
    if (!r.offset.empty() && (r.offset[0] == 'r' || r.offset[0] == 'd')) r.base = r.offset = "";
    rows.push_back(r);
    line.clear();
  };
  // One byte is dropped first: the one left after the previous prompt.
  for (size_t i = 1; i < reply.size(); i++) {
    char c = reply[i];
    if (c == ' ' || c == '\t') {
      if (line.empty() || line.back() != ' ') line += ' ';
    } else if (c == '\n') {
      finish();
    } else if (c == '<' && line.empty()) {
      break;
    } else if (c == '<') {
      const char *bogus = "bogus";
      for (int k = 0; k < 5 && i + 1 < reply.size() && reply[i + 1] == bogus[k]; k++) i++;
    } else if (c == '>') {
      i++;  // and the byte after it
    } else {
      line += c;
    }
  }
  return rows;
}

}  // namespace old_grammar
