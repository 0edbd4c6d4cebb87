// X errors: a question about a window that has just gone does not end VUM;
// any other error still reaches the toolkit.
#include "kit/x_errors.hpp"

#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"

// After the test framework, whose names Xlib's macros (None, Bool) would take.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

class XErrorsTest : public GuiTest {
 protected:
  // A window of this program's, made and destroyed on the server: its id
  // now names no window.
  Window vanished_window() {
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_realize(window);
    Window id = GDK_WINDOW_XID(window->window);
    gtk_widget_destroy(window);
    XSync(display(), False);
    return id;
  }

  Display *display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }
};

TEST_F(XErrorsTest, QuestionsAboutAWindowThatIsGoneAreLetPassAndVumGoesOn) {
  build_window();  // VUM's own start-up
  const int before = vanished_window_errors();
  Window gone = vanished_window();
  Window root, child;
  int x, y, wx, wy;
  unsigned int mask, width, height, border, depth;
  EXPECT_FALSE(XQueryPointer(display(), gone, &root, &child, &x, &y, &wx, &wy, &mask));
  EXPECT_FALSE(XGetGeometry(display(), gone, &root, &x, &y, &width, &height, &border, &depth));
  XSync(display(), False);
  EXPECT_EQ(vanished_window_errors(), before + 2);
  // The window and its dialogue with the X server go on.
  gtk_widget_show(main_window().window);
  EXPECT_TRUE(pump_until([] { return gdk_window_is_viewable(main_window().window->window); }));
}

TEST_F(XErrorsTest, AnyOtherErrorStillReachesTheToolkit) {
  build_window();
  const int before = vanished_window_errors();
  Window gone = vanished_window();
  // A change asked of the window, not a question: the toolkit's handler
  // takes it, as its error trap shows.
  gdk_error_trap_push();
  XMapWindow(display(), gone);
  XSync(display(), False);
  EXPECT_EQ(gdk_error_trap_pop(), BadWindow);
  EXPECT_EQ(vanished_window_errors(), before);
}
