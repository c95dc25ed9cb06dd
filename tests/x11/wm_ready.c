/* Waits until the window manager of $DISPLAY handles requests: it owns WM_S0
 * and answers _NET_REQUEST_FRAME_EXTENTS for a hidden window, or a conversion
 * of WM_S0 (kwin answers only the latter). openbox owns the selection some
 * 100 ms before it stops dropping requests, so owning it is not enough.
 * Usage: wm_ready [timeout-ms]; exits 0 when ready, 1 on timeout. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "intern_atom.h"

static double nowMs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
  double limit = argc > 1 ? atof(argv[1]) : 5000;
  double deadline = nowMs() + limit;
  xcb_connection_t* c = NULL;
  while (nowMs() < deadline) {
    c = xcb_connect(NULL, NULL);
    if (!xcb_connection_has_error(c)) break;
    xcb_disconnect(c);
    c = NULL;
    usleep(10000);
  }
  if (!c) return 1;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_atom_t wmS0 = atom(c, "WM_S0");
  xcb_atom_t request = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
  xcb_atom_t extents = atom(c, "_NET_FRAME_EXTENTS");
  xcb_atom_t timestamp = atom(c, "TIMESTAMP");
  xcb_atom_t answer = atom(c, "KESTROVE_WM_READY");
  for (;;) {
    if (nowMs() >= deadline) return 1;
    xcb_get_selection_owner_reply_t* r =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, wmS0), NULL);
    int owned = r && r->owner != XCB_WINDOW_NONE;
    free(r);
    if (owned) break;
    usleep(5000);
  }
  xcb_window_t probe = xcb_generate_id(c);
  uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
  int ready = 0;
  while (!ready && nowMs() < deadline) {
    xcb_client_message_event_t message;
    memset(&message, 0, sizeof message);
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = probe;
    message.type = request;
    xcb_send_event(c, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   (const char*)&message);
    xcb_convert_selection(c, probe, wmS0, timestamp, answer, XCB_CURRENT_TIME);
    xcb_flush(c);
    /* A request sent too early is dropped: ask again every 50 ms. */
    double retry = nowMs() + 50;
    while (!ready && nowMs() < retry) {
      xcb_generic_event_t* event = xcb_poll_for_event(c);
      if (!event) {
        if (xcb_connection_has_error(c)) return 1;
        usleep(2000);
        continue;
      }
      int type = event->response_type & 0x7f;
      if (type == XCB_PROPERTY_NOTIFY && ((xcb_property_notify_event_t*)event)->atom == extents) ready = 1;
      if (type == XCB_SELECTION_NOTIFY && ((xcb_selection_notify_event_t*)event)->property == answer)
        ready = 1;
      free(event);
    }
  }
  /* Questions asked again may still be answered: the probe outlives us, as
   * metacity exits when it cannot deliver a selection answer. */
  xcb_set_close_down_mode(c, XCB_CLOSE_DOWN_RETAIN_TEMPORARY);
  /* Disconnecting drops requests not yet sent: a round trip sends it. */
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
  xcb_disconnect(c);
  return ready ? 0 : 1;
}
