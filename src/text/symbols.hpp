// The symbol table: names of addresses, read from symbol files, kept once
// for the whole program (a sorted vector searched by address, and an index
// by name). Three forms of file are read:
//   - "ADDRESS NAME" lines, the form Bochs's own symbol loading reads: the
//     address in hexadecimal (0x optional), one or more blanks, the name (the
//     rest of the line, blanks at its ends dropped);
//   - the output of nm: "ADDRESS TYPE NAME", TYPE one character; lines of
//     undefined symbols ("U NAME", no address) and the "FILE:" headings of
//     several files are passed over. A line whose second word is a single
//     character is always read this way;
//   - ELF executables with a symbol table (read with libelf): the defined
//     symbols of .symtab (else .dynsym), neither sections nor file names.
// Addresses are linear. A blank line is passed over; the first line that
// reads as none of these ends the loading with its line number, and nothing
// of that file is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Symbol {
  uint32_t address;
  uint32_t size;  // bytes the symbol covers, from an ELF file; 0 when not known
  std::string name;
};

// A name is looked up by address within this many bytes above the symbol
// (and within its size, when the file gave one): beyond it an address has no
// name, so that the BIOS or a far buffer is never "start+0xf83c0".
const uint32_t symbol_reach = 0x10000;

// Looks a name up (exactly, letter case counts): its address. The signature
// of a SymbolResolver (text/address.hpp), so that a name can be typed
// wherever an address is asked for.
bool symbol_address(const char *name, uint32_t *address);

// The nearest symbol at or below the address, within symbol_reach: "name"
// at its address, "name+0x1f" beyond it (lower-case hexadecimal), cut to
// `size` - 1 characters. False, with "" written, when there is none.
bool symbol_at(uint32_t address, char *out, size_t size);

size_t symbol_count();

// Changes whenever the table changes, so that views know to draw again.
uint32_t symbols_generation();

enum class SymbolFormat { none, address_name, nm, elf };

// What one load gave.
struct SymbolLoad {
  bool ok;
  SymbolFormat format;
  size_t loaded;         // symbols taken
  size_t beyond_32_bits; // symbols passed over: their address does not fit 32 bits
  uint32_t line;         // the line of the error in a text file; 0 otherwise
  std::string error;     // why nothing was taken
};

// Reads the text of a symbol file (either text form) into `out`, each
// address plus `offset` (modulo 2^32).
SymbolLoad scan_symbol_text(const char *text, size_t length, uint32_t offset, std::vector<Symbol> *out);

// Reads an ELF file's symbols into `out` (nothing when it is no ELF file).
SymbolLoad read_elf_symbols(const char *path, uint32_t offset, std::vector<Symbol> *out);

// Loads a file of any of the three forms into the table. The symbols an
// earlier load of the same path gave are replaced; those of other files
// stay. On an error the table is left as it was.
SymbolLoad load_symbols(const char *path, uint32_t offset);

// The one-line report of a load: "Loaded 12 symbols from FILE" (with the
// symbols passed over, when any), or "FILE:3: why" / "FILE: why".
std::string describe_symbol_load(const char *path, const SymbolLoad &load);

// Empties the table.
void clear_symbols();

// Reports of loads made before the History page was built (the
// configuration file is read first), kept until the page takes them.
void queue_symbol_message(const std::string &text);
bool take_symbol_message(std::string *text);
