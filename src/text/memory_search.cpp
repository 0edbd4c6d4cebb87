#include "text/memory_search.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "text/reply_scan.hpp"

namespace {

// At most 24 characters of the text, printable, for a message.
std::string shown(const char *text, size_t length) {
  std::string s;
  for (size_t i = 0; i < length && text[i] != '\0'; i++) {
    if (s.size() == 24) return s + "...";
    unsigned char c = (unsigned char)text[i];
    s += c >= 0x20 && c < 0x7f ? (char)c : '?';
  }
  return s;
}

std::string trimmed(const char *text) {
  while (is_blank(*text)) text++;
  size_t n = strlen(text);
  while (n > 0 && is_blank(text[n - 1])) n--;
  return std::string(text, n);
}

bool too_long(const SearchPattern &p, char message[address_message_size]) {
  if (p.bytes.size() <= search_pattern_most) return false;
  snprintf(message, address_message_size, "Search for at most %zu bytes at a time", search_pattern_most);
  return true;
}

bool parse_bytes(const std::string &typed, SearchPattern *out, char message[address_message_size]) {
  size_t i = 0;
  while (i < typed.size()) {
    if (is_blank(typed[i]) || typed[i] == ',') {
      i++;
      continue;
    }
    size_t start = i;
    while (i < typed.size() && !is_blank(typed[i]) && typed[i] != ',') i++;
    std::string word = typed.substr(start, i - start);
    std::string digits = word;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    for (char c : digits) {
      if (hex_digit(c) < 0 && c != '?') {
        snprintf(message, address_message_size,
                 "\"%s\" is no byte: type hexadecimal bytes such as CD 10, and ?? for any byte",
                 shown(word.c_str(), word.size()).c_str());
        return false;
      }
    }
    if (digits.size() % 2 != 0) {
      snprintf(message, address_message_size, "Type two hexadecimal digits for each byte: \"%s\"",
               shown(word.c_str(), word.size()).c_str());
      return false;
    }
    for (size_t d = 0; d < digits.size(); d += 2) {
      uint8_t value = 0, mask = 0;
      for (size_t k = 0; k < 2; k++) {
        int v = hex_digit(digits[d + k]);
        value = (uint8_t)(value << 4 | (v < 0 ? 0 : v));
        mask = (uint8_t)(mask << 4 | (v < 0 ? 0 : 0xF));
      }
      out->bytes.push_back(value);
      out->mask.push_back(mask);
      if (too_long(*out, message)) return false;
    }
  }
  bool any = false;
  for (uint8_t m : out->mask) any = any || m != 0;
  if (!any) {
    snprintf(message, address_message_size, "Give at least one hexadecimal digit: wildcards alone match everything");
    return false;
  }
  return true;
}

bool parse_value(const std::string &typed, SearchPattern *out, char message[address_message_size]) {
  std::string digits = typed;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
  if (digits.empty()) {
    snprintf(message, address_message_size, "Type the value in hexadecimal, such as 600DF00D or 0x600df00d");
    return false;
  }
  uint64_t v = 0;
  for (char c : digits) {
    if (hex_digit(c) < 0) {
      snprintf(message, address_message_size, "\"%s\" is no value: type hexadecimal, such as 600DF00D or 0x600df00d",
               shown(typed.c_str(), typed.size()).c_str());
      return false;
    }
  }
  if (digits.size() > 16) {
    snprintf(message, address_message_size, "The value \"%s\" does not fit in 64 bits",
             shown(typed.c_str(), typed.size()).c_str());
    return false;
  }
  for (char c : digits) v = v << 4 | (uint64_t)hex_digit(c);
  size_t n = digits.size();
  size_t size = n <= 2 ? 1 : n <= 4 ? 2 : n <= 8 ? 4 : 8;
  for (size_t i = 0; i < size; i++) {
    out->bytes.push_back((uint8_t)(v >> (8 * i)));
    out->mask.push_back(0xFF);
  }
  return true;
}

bool parse_text(const char *typed, SearchPattern *out, char message[address_message_size]) {
  const char *bad_escape = "Use \\n \\r \\t \\0 \\\\ or \\xHH after a backslash";
  for (const char *p = typed; *p; p++) {
    uint8_t b = (uint8_t)*p;
    if (*p == '\\') {
      p++;
      switch (*p) {
        case 'n': b = '\n'; break;
        case 'r': b = '\r'; break;
        case 't': b = '\t'; break;
        case '0': b = 0; break;
        case '\\': b = '\\'; break;
        case 'x': {
          int hi = p[1] ? hex_digit(p[1]) : -1;
          int lo = hi >= 0 && p[2] ? hex_digit(p[2]) : -1;
          if (hi < 0 || lo < 0) {
            snprintf(message, address_message_size, "%s", bad_escape);
            return false;
          }
          b = (uint8_t)(hi << 4 | lo);
          p += 2;
          break;
        }
        default:
          snprintf(message, address_message_size, "%s", bad_escape);
          return false;
      }
    }
    out->bytes.push_back(b);
    out->mask.push_back(0xFF);
    if (too_long(*out, message)) return false;
  }
  if (out->bytes.empty()) {
    snprintf(message, address_message_size, "Type the text to find");
    return false;
  }
  return true;
}

uint8_t folded(uint8_t c) { return c >= 'A' && c <= 'Z' ? (uint8_t)(c + 32) : c; }

}  // namespace

bool parse_search_pattern(const char *typed, SearchKind kind, bool fold_case, SearchPattern *out,
                          char message[address_message_size]) {
  out->bytes.clear();
  out->mask.clear();
  out->fold_case = kind == SearchKind::text && fold_case;
  message[0] = '\0';
  if (kind == SearchKind::text) return parse_text(typed, out, message);
  std::string t = trimmed(typed);
  if (t.empty()) {
    snprintf(message, address_message_size, kind == SearchKind::bytes
                                                ? "Type the bytes to find in hexadecimal, such as CD 10"
                                                : "Type the value to find in hexadecimal, such as 600DF00D");
    return false;
  }
  return kind == SearchKind::bytes ? parse_bytes(t, out, message) : parse_value(t, out, message);
}

std::string pattern_hex(const SearchPattern &pattern) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < pattern.bytes.size(); i++) {
    if (i) s += ' ';
    uint8_t b = pattern.bytes[i], m = pattern.mask[i];
    s += (m & 0xF0) ? digits[b >> 4] : '?';
    s += (m & 0x0F) ? digits[b & 0xF] : '?';
  }
  return s;
}

SearchMatcher::SearchMatcher(const SearchPattern &pattern) : pattern_(pattern) {}

bool SearchMatcher::matches_at(const uint8_t *at) const {
  const size_t m = pattern_.bytes.size();
  for (size_t j = 0; j < m; j++) {
    uint8_t b = at[j], p = pattern_.bytes[j];
    if (pattern_.fold_case) {
      b = folded(b);
      p = folded(p);
    }
    if ((b & pattern_.mask[j]) != (p & pattern_.mask[j])) return false;
  }
  return true;
}

void SearchMatcher::feed(uint32_t address, const uint8_t *data, size_t length, std::vector<SearchHit> *hits,
                         size_t most) {
  const size_t m = pattern_.bytes.size();
  if (m == 0) return;
  std::vector<uint8_t> buffer;
  uint64_t base = address;
  if (have_tail_ && tail_end_ == address && !tail_.empty()) {
    buffer = tail_;
    base = address - tail_.size();
  }
  buffer.insert(buffer.end(), data, data + length);
  for (size_t i = 0; i + m <= buffer.size() && hits->size() < most; i++) {
    if (!matches_at(&buffer[i])) continue;
    SearchHit hit;
    hit.address = (uint32_t)(base + i);
    hit.context_length = (unsigned)std::min<size_t>(hit_context_size, buffer.size() - i);
    memcpy(hit.context, &buffer[i], hit.context_length);
    hits->push_back(hit);
  }
  size_t keep = std::min(m - 1, buffer.size());
  tail_.assign(buffer.end() - (long)keep, buffer.end());
  tail_end_ = (uint64_t)address + length;
  have_tail_ = true;
}

// ---------------------------------------------------------------------------

SearchPlan::SearchPlan(uint32_t first, uint32_t last, bool linear, uint32_t cr0, uint32_t cr3, uint32_t cr4,
                       uint32_t chunk)
    : first_(first), pos_(first), end_(last >= first ? (uint64_t)last + 1 : first), linear_(linear) {
  paged_ = linear && (cr0 & cr0_pg) != 0;
  pae_ = (cr4 & cr4_pae) != 0;
  pse_ = (cr4 & cr4_pse) != 0;
  cr3_ = cr3;
  chunk_ = chunk < 4096 ? 4096 : chunk;
  chunk_now_ = chunk_;
  PagingLevel levels[3];
  int count = paging_levels(pae_, levels);
  for (int i = 0; i < count; i++) {
    Level l;
    l.level = levels[i].level;
    l.shift = levels[i].shift;
    l.entries = levels[i].entries;
    l.entry_size = levels[i].entry_size;
    l.loaded = false;
    l.address = 0;
    levels_.push_back(l);
  }
}

uint64_t SearchPlan::region_end(uint64_t at, unsigned shift) const { return ((at >> shift) + 1) << shift; }

void SearchPlan::skip_to(uint64_t address) {
  if (address > pos_) pos_ = address < end_ ? address : end_;
}

void SearchPlan::stop(const std::string &why) {
  stop_note_ = why;
  asked_ = false;
}

bool SearchPlan::next(ReadRequest *request) {
  if (!stop_note_.empty()) return false;
  // An error named an address inside the last request: what came before it
  // has been read again; its page is left out.
  if (read_end_ != 0 && pos_ >= read_end_) {
    skip_to(region_end(read_end_, 12));
    pages_skipped_++;
    read_end_ = 0;
  }
  if (pos_ >= end_) return false;
  if (paged_) return next_mapped(request);
  uint64_t stop_at = (pos_ / chunk_now_ + 1) * chunk_now_;
  if (stop_at > end_) stop_at = end_;
  if (read_end_ != 0 && stop_at > read_end_) stop_at = read_end_;
  *request = {(uint32_t)pos_, (uint32_t)(stop_at - pos_), !linear_, false};
  last_ = *request;
  asked_ = true;
  return true;
}

bool SearchPlan::next_mapped(ReadRequest *request) {
  for (;;) {
    if (pos_ >= end_) return false;
    uint64_t table = top_table_address(cr3_, pae_);
    bool skipped = false;
    for (size_t i = 0; i < levels_.size() && !skipped; i++) {
      Level &l = levels_[i];
      WalkLevel level = l.level;
      uint32_t size = l.entries * l.entry_size;
      if (!l.loaded || l.address != table) {
        if (table + size - 1 > 0xFFFFFFFFull) {
          // A table above 4 GiB: the debugger cannot read it.
          if (i == 0) {
            stop("The page tables lie above 4 GiB, where the debugger does not read");
            return false;
          }
          uint64_t before = pos_;
          skip_to(region_end(pos_, levels_[i - 1].shift));
          pages_skipped_ += (uint32_t)((pos_ - before + 4095) / 4096);
          skipped = true;
          break;
        }
        *request = {(uint32_t)table, size, true, true};
        last_ = *request;
        last_level_ = (int)i;
        asked_ = true;
        return true;
      }
      uint64_t entry = l.entry[(pos_ >> l.shift) & (l.entries - 1)];
      if ((entry & 1) == 0) {
        skip_to(region_end(pos_, l.shift));
        skipped = true;
        break;
      }
      if (level == WalkLevel::table || entry_maps_page(entry, level, pae_, pse_)) {
        uint64_t limit = (pos_ / chunk_now_ + 1) * chunk_now_;
        if (limit > end_) limit = end_;
        if (read_end_ != 0 && limit > read_end_) limit = read_end_;
        uint64_t run_end = region_end(pos_, l.shift);
        // The entries after it in the same table that map pages too make one read.
        while (run_end < limit) {
          uint32_t index = (uint32_t)((run_end >> l.shift) & (l.entries - 1));
          if (index == 0) break;
          uint64_t e = l.entry[index];
          if ((e & 1) == 0 || !(level == WalkLevel::table || entry_maps_page(e, level, pae_, pse_))) break;
          run_end = region_end(run_end, l.shift);
        }
        if (run_end > limit) run_end = limit;
        *request = {(uint32_t)pos_, (uint32_t)(run_end - pos_), false, false};
        last_ = *request;
        asked_ = true;
        return true;
      }
      table = entry_address(entry, level, pae_, false);
    }
  }
}

void SearchPlan::took(const DumpBytes &reply) {
  if (!asked_) return;
  asked_ = false;
  char text[240];
  if (last_.table) {
    Level &l = levels_[(size_t)last_level_];
    if (reply.bytes.size() == last_.length) {
      l.entry.assign(l.entries, 0);
      for (unsigned i = 0; i < l.entries; i++) l.entry[i] = bytes_value(reply.bytes, (size_t)i * l.entry_size, l.entry_size);
      l.loaded = true;
      l.address = last_.address;
      return;
    }
    if (last_level_ == 0) {
      snprintf(text, sizeof text, "The page directory at %.8X could not be read: %s", last_.address,
               reply.error_text.c_str());
      stop(text);
      return;
    }
    // The pages of a table that cannot be read are left out.
    uint64_t before = pos_;
    skip_to(region_end(pos_, levels_[(size_t)last_level_ - 1].shift));
    pages_skipped_ += (uint32_t)((pos_ - before + 4095) / 4096);
    return;
  }
  bytes_read_ += reply.bytes.size();
  uint64_t asked_end = (uint64_t)last_.address + last_.length;
  if (reply.error == DumpError::none && reply.bytes.size() == last_.length) {
    pos_ = asked_end;
    return;
  }
  pos_ = last_.address + std::min<uint64_t>(reply.bytes.size(), last_.length);
  switch (reply.error) {
    case DumpError::page_not_present:
    case DumpError::unreadable_page: {
      uint64_t fault = reply.fault_address;
      if (fault < pos_ || fault >= asked_end) {
        snprintf(text, sizeof text, "The debugger named %.8" PRIX64 " outside the range asked for: %s", fault,
                 reply.error_text.c_str());
        stop(text);
        return;
      }
      if (fault > pos_) {
        read_end_ = fault;  // read up to it again, then leave its page out
      } else {
        skip_to(region_end(fault, 12));
        pages_skipped_++;
      }
      return;
    }
    case DumpError::past_end:
      if (paged_) {
        skip_to(region_end(pos_, 12));
        pages_skipped_++;
        return;
      }
      if (last_.length > 4096) {
        chunk_now_ = 4096;  // memory may end inside this chunk: closer steps find where
        return;
      }
      snprintf(text, sizeof text, "Memory ends before %.8X", (uint32_t)pos_);
      stop(text);
      return;
    case DumpError::none:
      snprintf(text, sizeof text, "The debugger gave %zu of %u bytes at %.8X", reply.bytes.size(), last_.length,
               last_.address);
      stop(text);
      return;
    default:
      snprintf(text, sizeof text, "Reading %.8X failed: %s", last_.address,
               reply.error_text.empty() ? "no reply" : reply.error_text.c_str());
      stop(text);
      return;
  }
}
