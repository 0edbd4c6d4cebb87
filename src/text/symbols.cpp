#include "text/symbols.hpp"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <unordered_map>

#include "text/reply_scan.hpp"

namespace {

// One symbol of the table, with the file it came from and the order it was
// loaded in (later loads win a name).
struct Entry {
  Symbol symbol;
  size_t file;
  uint64_t serial;
};

struct Table {
  std::vector<Entry> by_address;  // sorted by address, equal addresses in load order
  std::unordered_map<std::string, uint32_t> by_name;
  std::vector<std::string> files;
  uint64_t next_serial = 0;
  uint32_t generation = 0;
  std::deque<std::string> messages;
};

Table table;

const size_t longest_name = 255;
// A symbol file is read whole; one larger than this is surely no symbol file.
const size_t largest_text_file = 64u << 20;

// A short form of a text for a message: at most 24 characters, "..." after
// a longer one, anything outside printable ASCII as '?'.
std::string excerpt(const char *text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length && i < 24; i++) {
    unsigned char c = (unsigned char)text[i];
    out.push_back(c >= 0x20 && c < 0x7f ? (char)c : '?');
  }
  if (length > 24) out += "...";
  return out;
}

SymbolLoad failure(uint32_t line, const std::string &why) {
  SymbolLoad load = {};
  load.ok = false;
  load.line = line;
  load.error = why;
  return load;
}

// The span [begin, end) without the blanks at its ends.
void trim(const char *&begin, const char *&end) {
  while (begin < end && is_blank(*begin)) begin++;
  while (end > begin && is_blank(end[-1])) end--;
}

// The first word of [begin, end): its end; *rest is where the next one starts.
const char *word_end(const char *begin, const char *end, const char **rest) {
  const char *p = begin;
  while (p < end && !is_blank(*p)) p++;
  const char *r = p;
  while (r < end && is_blank(*r)) r++;
  *rest = r;
  return p;
}

enum class Hex { ok, not_hex, too_long };

// Hexadecimal digits, 0x optional, as a 64-bit value (leading zeros allowed,
// as nm writes 16 digits).
Hex read_hex_word(const char *begin, const char *end, uint64_t *value) {
  if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) begin += 2;
  if (begin == end) return Hex::not_hex;
  uint64_t v = 0;
  for (const char *p = begin; p < end; p++) {
    if (!is_hex_digit(*p)) return Hex::not_hex;
    if (v >> 60) return Hex::too_long;
    int digit = *p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10;
    v = (v << 4) | (uint64_t)digit;
  }
  *value = v;
  return Hex::ok;
}

// A name may hold printable ASCII only (it is drawn by the toolkit, which
// wants UTF-8, and typed back as an address).
bool printable_name(const char *begin, const char *end) {
  for (const char *p = begin; p < end; p++)
    if ((unsigned char)*p < 0x20 || (unsigned char)*p >= 0x7f) return false;
  return true;
}

void rebuild_name_index() {
  table.by_name.clear();
  std::vector<const Entry *> order;
  order.reserve(table.by_address.size());
  for (const Entry &e : table.by_address) order.push_back(&e);
  std::sort(order.begin(), order.end(), [](const Entry *a, const Entry *b) { return a->serial < b->serial; });
  for (const Entry *e : order) table.by_name[e->symbol.name] = e->symbol.address;
}

bool read_whole(const char *path, std::string *text, std::string *why) {
  FILE *file = fopen(path, "rb");
  if (file == NULL) {
    *why = strerror(errno);
    return false;
  }
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text->append(buffer, got);
    if (text->size() > largest_text_file) {
      fclose(file);
      *why = "larger than 64 MiB: no symbol file";
      return false;
    }
  }
  bool failed = ferror(file) != 0;
  int error = errno;
  fclose(file);
  if (failed) {
    *why = strerror(error);
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The text forms.

SymbolLoad scan_symbol_text(const char *text, size_t length, uint32_t offset, std::vector<Symbol> *out) {
  SymbolLoad load = {};
  load.ok = true;
  out->clear();
  uint32_t line_number = 0;
  for (size_t at = 0; at < length;) {
    const char *begin = text + at;
    const char *newline = static_cast<const char *>(memchr(begin, '\n', length - at));
    const char *end = newline ? newline : text + length;
    at = (size_t)(end - text) + 1;
    line_number++;
    if (end > begin && end[-1] == '\r') end--;
    trim(begin, end);
    if (begin == end) continue;
    for (const char *p = begin; p < end; p++)
      if ((unsigned char)*p < 0x20 && *p != '\t')
        return failure(line_number, "a control character in the line");

    const char *rest;
    const char *first_end = word_end(begin, end, &rest);
    uint64_t value = 0;
    Hex hex = read_hex_word(begin, first_end, &value);
    if (hex == Hex::too_long)
      return failure(line_number, "the address \"" + excerpt(begin, (size_t)(first_end - begin)) + "\" is too long");
    if (hex == Hex::not_hex) {
      size_t first_length = (size_t)(first_end - begin);
      // nm's lines of undefined symbols have no address; its headings of
      // several files end with a colon.
      if (first_length == 1 && rest < end && strchr("Uwv", *begin) != NULL) continue;
      if (rest == end && first_length > 1 && first_end[-1] == ':') continue;
      return failure(line_number, "no address at the start of the line: \"" + excerpt(begin, (size_t)(end - begin)) + "\"");
    }
    if (rest == end) return failure(line_number, "missing symbol name");

    // "ADDRESS TYPE NAME" when the second word is one character and a name
    // follows; otherwise "ADDRESS NAME".
    const char *after_type;
    const char *second_end = word_end(rest, end, &after_type);
    SymbolFormat format = SymbolFormat::address_name;
    const char *name = rest;
    if (second_end - rest == 1 && after_type < end) {
      format = SymbolFormat::nm;
      name = after_type;
    }
    size_t name_length = (size_t)(end - name);
    if (name_length > longest_name)
      return failure(line_number, "a name longer than 255 characters");
    if (!printable_name(name, end))
      return failure(line_number, "the name \"" + excerpt(name, name_length) + "\" holds a character outside printable ASCII");
    if (load.format == SymbolFormat::none) load.format = format;
    if (value > 0xffffffffu) {
      load.beyond_32_bits++;
      continue;
    }
    out->push_back(Symbol{(uint32_t)value + offset, 0, std::string(name, name_length)});
  }
  load.loaded = out->size();
  if (load.loaded == 0 && load.beyond_32_bits == 0) return failure(0, "no symbols in it");
  return load;
}

// ---------------------------------------------------------------------------
// ELF, through libelf.

SymbolLoad read_elf_symbols(const char *path, uint32_t offset, std::vector<Symbol> *out) {
  out->clear();
  if (elf_version(EV_CURRENT) == EV_NONE) return failure(0, "libelf is out of date");
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failure(0, strerror(errno));
  Elf *elf = elf_begin(fd, ELF_C_READ, NULL);
  SymbolLoad load = {};
  load.format = SymbolFormat::elf;
  GElf_Ehdr header;
  Elf_Scn *symbols = NULL;
  GElf_Shdr symbols_header = {};
  if (elf == NULL || elf_kind(elf) != ELF_K_ELF || gelf_getehdr(elf, &header) == NULL) {
    load = failure(0, "not an ELF file libelf can read");
  } else if (header.e_type == ET_REL) {
    load = failure(0, "an object file, not linked: its symbols have no addresses yet");
  } else {
    // .symtab has every symbol; a stripped file may still have .dynsym.
    for (Elf_Scn *section = NULL; (section = elf_nextscn(elf, section)) != NULL;) {
      GElf_Shdr sh;
      if (gelf_getshdr(section, &sh) == NULL) continue;
      if (sh.sh_type == SHT_SYMTAB || (sh.sh_type == SHT_DYNSYM && symbols == NULL)) {
        symbols = section;
        symbols_header = sh;
        if (sh.sh_type == SHT_SYMTAB) break;
      }
    }
    if (symbols == NULL) load = failure(0, "no symbol table in it (stripped?)");
  }
  if (symbols != NULL) {
    load.ok = true;
    Elf_Data *data = elf_getdata(symbols, NULL);
    size_t count = data != NULL && symbols_header.sh_entsize != 0 ? symbols_header.sh_size / symbols_header.sh_entsize : 0;
    for (size_t i = 1; i < count; i++) {
      GElf_Sym sym;
      if (gelf_getsym(data, (int)i, &sym) == NULL) continue;
      int type = GELF_ST_TYPE(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || type == STT_SECTION || type == STT_FILE) continue;
      const char *name = elf_strptr(elf, symbols_header.sh_link, sym.st_name);
      if (name == NULL || name[0] == '\0') continue;
      size_t length = strlen(name);
      if (length > longest_name || !printable_name(name, name + length)) continue;
      if (sym.st_value > 0xffffffffu) {
        load.beyond_32_bits++;
        continue;
      }
      uint32_t size = sym.st_size <= 0xffffffffu ? (uint32_t)sym.st_size : 0;
      out->push_back(Symbol{(uint32_t)sym.st_value + offset, size, name});
    }
    load.loaded = out->size();
    if (load.loaded == 0 && load.beyond_32_bits == 0) load = failure(0, "no symbols in its symbol table");
    load.format = SymbolFormat::elf;
  }
  if (elf != NULL) elf_end(elf);
  close(fd);
  return load;
}

// ---------------------------------------------------------------------------
// The table.

SymbolLoad load_symbols(const char *path, uint32_t offset) {
  std::string text;
  std::string why;
  if (!read_whole(path, &text, &why)) return failure(0, why);
  std::vector<Symbol> symbols;
  SymbolLoad load;
  if (text.size() >= 4 && memcmp(text.data(), "\177ELF", 4) == 0)
    load = read_elf_symbols(path, offset, &symbols);
  else
    load = scan_symbol_text(text.data(), text.size(), offset, &symbols);
  if (!load.ok) return load;

  size_t file = std::find(table.files.begin(), table.files.end(), path) - table.files.begin();
  if (file == table.files.size()) table.files.push_back(path);
  std::vector<Entry> kept;
  kept.reserve(table.by_address.size() + symbols.size());
  for (Entry &e : table.by_address)
    if (e.file != file) kept.push_back(std::move(e));
  for (Symbol &s : symbols) kept.push_back(Entry{std::move(s), file, table.next_serial++});
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Entry &a, const Entry &b) { return a.symbol.address < b.symbol.address; });
  table.by_address.swap(kept);
  rebuild_name_index();
  table.generation++;
  return load;
}

std::string describe_symbol_load(const char *path, const SymbolLoad &load) {
  char text[160];
  if (!load.ok) {
    if (load.line > 0)
      snprintf(text, sizeof text, ":%u: ", load.line);
    else
      snprintf(text, sizeof text, ": ");
    return path + std::string(text) + load.error;
  }
  snprintf(text, sizeof text, "Loaded %zu symbol%s from ", load.loaded, load.loaded == 1 ? "" : "s");
  std::string line = text + std::string(path);
  if (load.beyond_32_bits > 0) {
    snprintf(text, sizeof text, " (%zu beyond 32 bits passed over)", load.beyond_32_bits);
    line += text;
  }
  return line;
}

void clear_symbols() {
  table.by_address.clear();
  table.by_name.clear();
  table.files.clear();
  table.generation++;
}

size_t symbol_count() { return table.by_address.size(); }

uint32_t symbols_generation() { return table.generation; }

bool symbol_address(const char *name, uint32_t *address) {
  auto found = table.by_name.find(name);
  if (found == table.by_name.end()) return false;
  *address = found->second;
  return true;
}

bool symbol_at(uint32_t address, char *out, size_t size) {
  if (size > 0) out[0] = '\0';
  const std::vector<Entry> &all = table.by_address;
  auto above = std::upper_bound(all.begin(), all.end(), address,
                                [](uint32_t a, const Entry &e) { return a < e.symbol.address; });
  if (above == all.begin()) return false;
  auto found = above - 1;
  // Of several names for one address, the first loaded.
  while (found != all.begin() && (found - 1)->symbol.address == found->symbol.address) --found;
  const Symbol &s = found->symbol;
  uint32_t distance = address - s.address;
  if (distance >= symbol_reach || (s.size != 0 && distance >= s.size && distance != 0)) return false;
  if (size == 0) return true;
  if (distance == 0)
    snprintf(out, size, "%s", s.name.c_str());
  else
    snprintf(out, size, "%s+0x%x", s.name.c_str(), distance);
  return true;
}

void queue_symbol_message(const std::string &text) { table.messages.push_back(text); }

bool take_symbol_message(std::string *text) {
  if (table.messages.empty()) return false;
  *text = table.messages.front();
  table.messages.pop_front();
  return true;
}
