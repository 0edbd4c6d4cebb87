// Descriptors, gates, vectors and the TSS, from their bytes to the rows of
// the Tables page. The descriptors are those of the simulated PC's paging
// guest and of the demo floppy, and the kinds neither has.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/descriptor_tables.hpp"

namespace {

std::vector<uint8_t> bytes_of(const std::vector<uint32_t> &dwords) {
  std::vector<uint8_t> out;
  for (uint32_t d : dwords)
    for (int i = 0; i < 4; i++) out.push_back((uint8_t)(d >> (8 * i)));
  return out;
}

std::string row_text(const DescriptorRow &r) {
  return std::string(r.index) + "|" + r.selector + "|" + r.base + "|" + r.limit + "|" + r.type + "|" + r.dpl + "|" +
         r.present + "|" + r.bits;
}

std::string gate_text(const GateRow &r) {
  return std::string(r.vector) + "|" + r.name + "|" + r.gate + "|" + r.target + "|" + r.dpl + "|" + r.present;
}

}  // namespace

TEST(Descriptors, GdtRows) {
  struct Case {
    const char *what;
    TableKind kind;
    uint32_t index, low, high;
    const char *row;
  } cases[] = {
      {"the null descriptor", TableKind::gdt, 0, 0, 0, "0|0000|||Null|||"},
      {"entry 0 holding bytes is still unused", TableKind::gdt, 0, 0x0000FFFF, 0x00CF9A00, "0|0000|||Null (not used)|||"},
      {"flat 32-bit code, 4 KiB granular", TableKind::gdt, 1, 0x0000FFFF, 0x00CF9A00,
       "1|0008|00000000|FFFFFFFF|Code, execute/read|0|yes|D=1 L=0"},
      {"flat 32-bit data", TableKind::gdt, 2, 0x0000FFFF, 0x00CF9200,
       "2|0010|00000000|FFFFFFFF|Data, read/write|0|yes|B=1 L=0"},
      {"a 16-bit stack at 20000, byte granular", TableKind::gdt, 3, 0x0000FFFF, 0x00009202,
       "3|0018|00020000|0000FFFF|Data, read/write|0|yes|B=0 L=0"},
      {"16-bit code", TableKind::gdt, 4, 0x0000FFFF, 0x00009A00,
       "4|0020|00000000|0000FFFF|Code, execute/read|0|yes|D=0 L=0"},
      {"a 386 TSS before ltr", TableKind::gdt, 5, 0x7D900067, 0x00008900,
       "5|0028|00007D90|00000067|TSS (32-bit, available)|0|yes|"},
      {"the same once busy", TableKind::gdt, 5, 0x7D900067, 0x00008B00,
       "5|0028|00007D90|00000067|TSS (32-bit, busy)|0|yes|"},
      {"ring-3 data at B8000", TableKind::gdt, 6, 0x80000FFF, 0x0000F20B,
       "6|0030|000B8000|00000FFF|Data, read/write|3|yes|B=0 L=0"},
      {"data not present at 100000", TableKind::gdt, 7, 0x0000FFFF, 0x00001210,
       "7|0038|00100000|0000FFFF|Data, read/write|0|no|B=0 L=0"},
      {"base in all three parts", TableKind::gdt, 8, 0x56780010, 0x12409334,
       "8|0040|12345678|00000010|Data, read/write, accessed|0|yes|B=1 L=0"},
      {"granularity keeps the low 12 bits set", TableKind::gdt, 9, 0x00000001, 0x00809A00,
       "9|0048|00000000|00001FFF|Code, execute/read|0|yes|D=0 L=0"},
      {"64-bit code", TableKind::gdt, 10, 0x0000FFFF, 0x00AF9B00,
       "10|0050|00000000|FFFFFFFF|Code, execute/read, accessed|0|yes|D=0 L=1"},
      {"execute-only conforming code", TableKind::gdt, 11, 0x0000FFFF, 0x00CF9C00,
       "11|0058|00000000|FFFFFFFF|Code, execute-only, conforming|0|yes|D=1 L=0"},
      {"read-only expand-down data", TableKind::gdt, 12, 0x0000FFFF, 0x00CF9400,
       "12|0060|00000000|FFFFFFFF|Data, read-only, expand-down|0|yes|B=1 L=0"},
      {"an LDT", TableKind::gdt, 13, 0x8000003F, 0x00008200, "13|0068|00008000|0000003F|LDT|0|yes|"},
      {"a busy 16-bit TSS", TableKind::gdt, 14, 0x9000002B, 0x00008300,
       "14|0070|00009000|0000002B|TSS (16-bit, busy)|0|yes|"},
      {"a 32-bit call gate with parameters", TableKind::gdt, 15, 0x00081234, 0x5678EC02,
       "15|0078|0008:56781234||Call gate (32-bit, 2 parameters)|3|yes|"},
      {"a 16-bit call gate", TableKind::gdt, 16, 0x00201234, 0x0000E400,
       "16|0080|0020:1234||Call gate (16-bit)|3|yes|"},
      {"a reserved system type", TableKind::gdt, 17, 0x00000001, 0x00008800, "17|0088|00000000|00000001|Reserved (type 8)|0|yes|"},
      {"an empty entry", TableKind::gdt, 18, 0, 0, "18|0090|||Empty|||"},
      {"an LDT's selectors have TI set, entry 0 included", TableKind::ldt, 0, 0x0000FFFF, 0x00CFFA00,
       "0|0004|00000000|FFFFFFFF|Code, execute/read|3|yes|D=1 L=0"},
      {"and its entry 1", TableKind::ldt, 1, 0, 0, "1|000C|||Empty|||"},
      {"the last index of a table", TableKind::gdt, 8191, 0, 0, "8191|FFF8|||Empty|||"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DescriptorRow row;
    format_descriptor_row(c.kind, c.index, decode_descriptor(c.low, c.high), &row);
    EXPECT_EQ(row_text(row), c.row);
  }
}

TEST(Descriptors, FieldsOfARecord) {
  Descriptor d = decode_descriptor(0x56780010, 0x12C09334);  // G and D set, accessed data
  EXPECT_EQ(d.base, 0x12345678u);
  EXPECT_EQ(d.limit, 0x00010FFFu);
  EXPECT_TRUE(d.granularity);
  EXPECT_TRUE(d.db);
  EXPECT_FALSE(d.system);
  EXPECT_EQ(d.type, 0x3u);
  EXPECT_TRUE(d.present);
  EXPECT_FALSE(d.gate);
  Descriptor gate = decode_descriptor(0x00087CF0, 0x00008F00);
  EXPECT_TRUE(gate.gate);
  EXPECT_EQ(gate.selector, 0x08u);
  EXPECT_EQ(gate.offset, 0x7CF0u);
  Descriptor task = decode_descriptor(0x00280000, 0x00008500);
  EXPECT_TRUE(task.gate);
  EXPECT_EQ(task.selector, 0x28u);
}

TEST(Descriptors, ReadFromTableBytes) {
  std::vector<uint8_t> table = bytes_of({0, 0, 0x0000FFFF, 0x00CF9A00, 0x7D900067});  // 2.5 entries
  EXPECT_TRUE(descriptor_at(table, 0).empty);
  EXPECT_EQ(descriptor_at(table, 1).limit, 0xFFFFFFFFu);
  EXPECT_TRUE(descriptor_at(table, 2).empty) << "an entry cut short is not read";
  EXPECT_TRUE(descriptor_at(table, 100).empty);
}

TEST(Descriptors, EntriesOfATableRegister) {
  EXPECT_EQ(table_entries(0x3F, 8, 8192), 8u);
  EXPECT_EQ(table_entries(0x187, 8, 256), 49u);
  EXPECT_EQ(table_entries(0xFFFF, 8, 8192), 8192u);
  EXPECT_EQ(table_entries(0xFFFF, 8, 256), 256u);
  EXPECT_EQ(table_entries(0x3FF, 4, 256), 256u);
  EXPECT_EQ(table_entries(0, 8, 8192), 0u) << "a limit of 0 holds no whole entry";
  EXPECT_EQ(table_entries(0xFFFFFFFF, 8, 8192), 8192u);
}

TEST(Gates, IdtRows) {
  struct Case {
    const char *what;
    uint32_t vector, low, high;
    const char *row;
  } cases[] = {
      {"an empty vector", 0, 0, 0, "00 (0)|#DE Divide error|Empty|||"},
      {"a task gate", 2, 0x00280000, 0x00008500, "02 (2)|NMI|Task gate|TSS 0028|0|yes"},
      {"a 32-bit trap gate", 3, 0x00087CF0, 0x00008F00, "03 (3)|#BP Breakpoint|Trap gate (32-bit)|0008:00007CF0|0|yes"},
      {"a 32-bit interrupt gate", 14, 0x00087D00, 0x00008E00,
       "0E (14)|#PF Page fault|Interrupt gate (32-bit)|0008:00007D00|0|yes"},
      {"the offset's high half", 13, 0x00081234, 0xC0008E00,
       "0D (13)|#GP General protection|Interrupt gate (32-bit)|0008:C0001234|0|yes"},
      {"a 16-bit interrupt gate ignores the high half", 0x30, 0x00207D28, 0xFFFF8600,
       "30 (48)||Interrupt gate (16-bit)|0020:7D28|0|yes"},
      {"a 16-bit trap gate for ring 3", 0x80, 0x00201000, 0x0000E700, "80 (128)||Trap gate (16-bit)|0020:1000|3|yes"},
      {"a gate not present", 8, 0x00087D20, 0x00000E00, "08 (8)|#DF Double fault|Interrupt gate (32-bit)|0008:00007D20|0|no"},
      {"a call gate is no IDT gate", 5, 0x00081234, 0x00008C00, "05 (5)|#BR Bound range exceeded|Not a gate (system type C)||0|yes"},
      {"nor is a segment", 6, 0x0000FFFF, 0x00CF9A00, "06 (6)|#UD Invalid opcode|Not a gate (segment type A)||0|yes"},
      {"the last vector", 255, 0, 0, "FF (255)||Empty|||"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    GateRow row;
    format_gate_row(c.vector, decode_descriptor(c.low, c.high), &row);
    EXPECT_EQ(gate_text(row), c.row);
  }
}

TEST(Gates, RealModeVectors) {
  GateRow row;
  format_vector_row(0x10, 0xFF53, 0xF000, &row);
  EXPECT_EQ(gate_text(row), "10 (16)||Vector|F000:FF53 (FFF53)||");
  format_vector_row(0, 0, 0, &row);
  EXPECT_EQ(gate_text(row), "00 (0)||Vector|0000:0000 (00000)||");
  format_vector_row(0xFF, 0xFFFF, 0xFFFF, &row);
  EXPECT_EQ(gate_text(row), "FF (255)||Vector|FFFF:FFFF (10FFEF)||") << "past 1 MiB, as the A20 line allows";
}

TEST(Gates, ExceptionNames) {
  EXPECT_STREQ(exception_name(8), "#DF Double fault");
  EXPECT_STREQ(exception_name(15), "");
  EXPECT_STREQ(exception_name(21), "#CP Control protection");
  EXPECT_STREQ(exception_name(31), "");
  EXPECT_STREQ(exception_name(32), "");
  EXPECT_STREQ(exception_name(0xFFFFFFFF), "");
}

TEST(TaskState, WideTssRows) {
  // The paging guest's TSS: link 0, ESP0 FFF0, SS0 18, the rest 0; a few
  // more fields set to see their offsets.
  std::vector<uint8_t> tss(104, 0);
  auto put = [&](uint32_t at, uint32_t v, int size) {
    for (int i = 0; i < size; i++) tss[at + i] = (uint8_t)(v >> (8 * i));
  };
  put(0x04, 0xFFF0, 4);
  put(0x08, 0xAB0018, 4);  // the reserved high half is not shown
  put(0x1C, 0x10000, 4);
  put(0x20, 0x7CC0, 4);
  put(0x4C, 0x0008, 2);
  put(0x64, 0xFFFF, 2);  // only bit 0 is T
  put(0x66, 0x0068, 2);
  std::vector<TssRow> rows = tss_rows(true, tss, 0x67);
  ASSERT_EQ(rows.size(), 27u);
  std::vector<std::string> text;
  for (const TssRow &r : rows) text.push_back(std::string(r.offset) + " " + r.name + " " + r.value);
  EXPECT_EQ(text[0], "00 Link 0000");
  EXPECT_EQ(text[1], "04 ESP0 0000FFF0");
  EXPECT_EQ(text[2], "08 SS0 0018");
  EXPECT_EQ(text[7], "1C CR3 00010000");
  EXPECT_EQ(text[8], "20 EIP 00007CC0");
  EXPECT_EQ(text[19], "4C CS 0008");
  EXPECT_EQ(text[24], "60 LDT 0000");
  EXPECT_EQ(text[25], "64 T (debug trap) 0001");
  EXPECT_EQ(text[26], "66 I/O map base 0068");

  // A limit short of the last fields, and bytes short of the limit.
  rows = tss_rows(true, std::vector<uint8_t>(tss.begin(), tss.begin() + 0x50), 0x63);
  EXPECT_STREQ(rows[19].value, "0008") << "CS, within the bytes read";
  EXPECT_STREQ(rows[20].value, "not read") << "SS at 50";
  EXPECT_STREQ(rows[24].value, "not read") << "LDT at 60, within the limit";
  EXPECT_STREQ(rows[25].value, "beyond the limit");
  EXPECT_STREQ(rows[26].value, "beyond the limit");
}

TEST(TaskState, NarrowTssRows) {
  std::vector<uint8_t> tss(44, 0);
  tss[0x02] = 0x00, tss[0x03] = 0x7C;  // SP0 7C00
  tss[0x0E] = 0x34, tss[0x0F] = 0x12;  // IP 1234
  tss[0x2A] = 0x30;                    // LDT 0030
  std::vector<TssRow> rows = tss_rows(false, tss, 0x2B);
  ASSERT_EQ(rows.size(), 22u);
  EXPECT_STREQ(rows[1].name, "SP0");
  EXPECT_STREQ(rows[1].value, "7C00");
  EXPECT_STREQ(rows[7].name, "IP");
  EXPECT_STREQ(rows[7].value, "1234");
  EXPECT_STREQ(rows[21].name, "LDT");
  EXPECT_STREQ(rows[21].offset, "2A");
  EXPECT_STREQ(rows[21].value, "0030");
}

TEST(TaskState, TheRegistersSayWhereTheLdtAndTheTssAre) {
  struct Case {
    const char *what;
    bool ldt;
    SegmentState reg;
    bool loaded, usable, wide, busy;
    uint32_t base, limit;
    const char *note;
  } cases[] = {
      {"no LDT", true, {0, 0, 0, 0}, false, false, false, false, 0, 0, "LDTR is 0000: none is loaded"},
      {"a null selector with an RPL", true, {3, 0, 0, 1}, false, false, false, false, 0, 0, "LDTR is 0003: none is loaded"},
      {"an LDT", true, {0x40, 0x8000003F, 0x00008200, 1}, true, true, false, false, 0x8000, 0x3F,
       "LDTR 0040: LDT at 00008000, limit 0000003F"},
      {"LDTR not valid", true, {0x40, 0x8000003F, 0x00008200, 0}, false, false, false, false, 0, 0, "LDTR 0040 is not valid"},
      {"LDTR holding a TSS", true, {0x28, 0x7D900067, 0x00008B00, 1}, true, false, false, false, 0x7D90, 0x67,
       "LDTR 0028 holds a descriptor that is no LDT (TSS (32-bit, busy))"},
      {"the paging guest's TR", false, {0x28, 0x7D900067, 0x00008B00, 1}, true, true, true, true, 0x7D90, 0x67,
       "TR 0028: TSS (32-bit, busy) at 00007D90, limit 00000067"},
      {"a 16-bit TSS", false, {0x30, 0x9000002B, 0x00008100, 1}, true, true, false, false, 0x9000, 0x2B,
       "TR 0030: TSS (16-bit, available) at 00009000, limit 0000002B"},
      {"no TR", false, {0, 0, 0, 0}, false, false, false, false, 0, 0, "TR is 0000: none is loaded"},
      {"TR holding code", false, {0x08, 0x0000FFFF, 0x00CF9A00, 1}, true, false, false, false, 0, 0xFFFFFFFF,
       "TR 0008 holds a descriptor that is no TSS (Code, execute/read)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SystemSegment s = c.ldt ? ldt_segment(c.reg) : tss_segment(c.reg);
    EXPECT_EQ(s.loaded, c.loaded);
    EXPECT_EQ(s.usable, c.usable);
    EXPECT_EQ(s.wide, c.wide);
    EXPECT_EQ(s.busy, c.busy);
    EXPECT_EQ(s.base, c.base);
    EXPECT_EQ(s.limit, c.limit);
    EXPECT_EQ(s.note, c.note);
  }
}
