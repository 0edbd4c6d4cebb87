// The Guest Output page on its own: what it shows of the guest's bytes, how
// much it keeps, and its log.
#include <sys/stat.h>

#include <string>

#include "guest/guest_output_page.hpp"
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
