// The Guest Output page on its own: what it shows of the guest's bytes, how
// much it keeps, and its log.
#include <sys/stat.h>

#include <string>

#include "guest/guest_output_page.hpp"
#include "text/guest_text.hpp"
#include "support/gui_fixture.hpp"

namespace {

class GuestOutputTest : public GuiTest {};

off_t file_size(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 ? st.st_size : -1;
}

}  // namespace

TEST_F(GuestOutputTest, BytesAreShownAsTextAndLoggedAsPrinted) {
  build_window();
  const std::string printed_bytes("boot\r\nA\x01\tB\xe9\n", 12);
  guest_output_received(printed_bytes.data(), printed_bytes.size());
  flush_guest_output();
  EXPECT_EQ(guest_output_text(), "boot\nA.\tB\xc3\xa9\n");
  EXPECT_EQ(read_file("__vum_guest.log__"), printed_bytes);
  click(guest_output_page().clear_button);
  EXPECT_EQ(guest_output_text(), "");
  EXPECT_EQ(read_file("__vum_guest.log__"), printed_bytes) << "Clear empties the page, not the log";
}

TEST_F(GuestOutputTest, ThePageKeepsItsBoundAndTheLogItsOwn) {
  build_window();
  std::string megabyte(1 << 20, 'x');
  for (size_t i = 0; i < megabyte.size(); i += 64) megabyte[i] = '\n';
  for (int i = 0; i < 66; i++) {
    guest_output_received(megabyte.data(), megabyte.size());
    if (i % 8 == 0) flush_guest_output();
  }
  flush_guest_output();
  EXPECT_LE(guest_output_text().size(), guest_text_kept + guest_text_kept / 4);
  EXPECT_GE(guest_output_text().size(), guest_text_kept / 2);
  EXPECT_NE(std::string(gtk_label_get_text(GTK_LABEL(guest_output_page().note))).find("Showing the last 256 KiB"),
            std::string::npos);
  const std::string note = "\n[VUM: the guest's output beyond 64 MiB is not logged]\n";
  EXPECT_EQ(file_size("__vum_guest.log__"), (off_t)(guest_log_kept + note.size()));
  EXPECT_EQ(guest_output_page().received, (size_t)66 << 20);
}

TEST_F(GuestOutputTest, MoreThanThePageKeepsAtOnceShowsItsLastPartWhole) {
  build_window();
  // A line first, then more than the page keeps in one go, with characters
  // of two bytes (0xE9) all through it: the page shows a tail of the text,
  // cut before a whole character.
  std::string bytes = "first\n";
  for (int i = 0; bytes.size() < guest_text_kept + 4096; i++) bytes += "line " + std::to_string(i) + " \xe9\xe9\xe9\n";
  guest_output_received(bytes.data(), bytes.size());
  flush_guest_output();
  std::string shown = guest_output_text();
  std::string all;
  append_guest_text(bytes.data(), bytes.size(), &all);
  ASSERT_GE(shown.size(), guest_text_kept - 1);
  ASSERT_LE(shown.size(), guest_text_kept);
  EXPECT_EQ(all.compare(all.size() - shown.size(), shown.size(), shown), 0) << "the newest text, in order";
  EXPECT_TRUE(g_utf8_validate(shown.data(), (gssize)shown.size(), NULL));
  EXPECT_NE(std::string(gtk_label_get_text(GTK_LABEL(guest_output_page().note))).find("Showing the last 256 KiB"),
            std::string::npos);
  // What comes next follows it.
  guest_output_received("next\n", 5);
  flush_guest_output();
  EXPECT_EQ(guest_output_text(), shown + "next\n");
  EXPECT_EQ(read_file("__vum_guest.log__"), bytes + "next\n") << "the log keeps all of it";
}
