#include "kit/x_errors.hpp"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace {

XErrorHandler toolkit_handler = NULL;
bool installed = false;
int let_pass = 0;

// A question about a window's state, answered "no such window": nothing was
// changed, and the window is gone.
bool only_a_vanished_window(const XErrorEvent *error) {
  if (error->error_code != BadWindow && error->error_code != BadDrawable) return false;
  switch (error->request_code) {
    case X_GetWindowAttributes:
    case X_GetGeometry:
    case X_QueryTree:
    case X_QueryPointer:
    case X_TranslateCoords:
      return true;
    default:
      return false;
  }
}

int on_x_error(Display *display, XErrorEvent *error) {
  if (only_a_vanished_window(error)) {
    let_pass++;
    return 0;
  }
  return toolkit_handler != NULL ? toolkit_handler(display, error) : 0;
}

}  // namespace

void tolerate_vanished_windows() {
  if (installed || gdk_display_get_default() == NULL) return;
  installed = true;
  toolkit_handler = XSetErrorHandler(on_x_error);
}

int vanished_window_errors() { return let_pass; }
