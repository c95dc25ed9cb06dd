/* A scriptable X client for the tests: one process, many windows, so that
 * windows can appear and vanish within one observed application. Reads lines
 * from stdin: "open" maps a new 400x300 window and prints its id once the
 * window manager manages it; "close ID" destroys one. Like a real application
 * it takes part in WM_DELETE_WINDOW, so a manager's close destroys the window
 * (jwm asks the user before killing a client that does not).
 * Usage: test_client CLASS */
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "intern_atom.h"

static int managed(xcb_connection_t* c, xcb_window_t root, xcb_window_t w, xcb_atom_t list,
                   xcb_atom_t extents) {
  xcb_get_property_cookie_t listCookie = xcb_get_property(c, 0, root, list, XCB_ATOM_WINDOW, 0, 65536);
  xcb_get_property_cookie_t extentsCookie = xcb_get_property(c, 0, w, extents, XCB_ATOM_CARDINAL, 0, 4);
  xcb_get_window_attributes_cookie_t attributesCookie = xcb_get_window_attributes(c, w);
  xcb_get_property_reply_t* listReply = xcb_get_property_reply(c, listCookie, NULL);
  xcb_get_property_reply_t* extentsReply = xcb_get_property_reply(c, extentsCookie, NULL);
  xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(c, attributesCookie, NULL);
  int listed = 0;
  if (listReply && listReply->format == 32) {
    xcb_window_t* ids = (xcb_window_t*)xcb_get_property_value(listReply);
    int count = xcb_get_property_value_length(listReply) / 4;
    for (int i = 0; i < count && !listed; ++i) listed = ids[i] == w;
  }
  int framed = extentsReply && xcb_get_property_value_length(extentsReply) == 16;
  /* mutter lists a window before it places and maps it. */
  int shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  free(listReply);
  free(extentsReply);
  free(attributes);
  return listed && framed && shown;
}

int main(int argc, char** argv) {
  const char* klass = argc > 1 ? argv[1] : "KestroveTestClient";
  xcb_connection_t* c = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(c)) return 1;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_atom_t pidAtom = atom(c, "_NET_WM_PID");
  xcb_atom_t extentsAtom = atom(c, "_NET_FRAME_EXTENTS");
  xcb_atom_t listAtom = atom(c, "_NET_CLIENT_LIST");
  xcb_atom_t protocolsAtom = atom(c, "WM_PROTOCOLS");
  xcb_atom_t deleteAtom = atom(c, "WM_DELETE_WINDOW");
  char line[128];
  setvbuf(stdout, NULL, _IOLBF, 0);
  setvbuf(stdin, NULL, _IONBF, 0);
  for (;;) {
    struct pollfd fds[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(c), POLLIN, 0}};
    xcb_generic_event_t* e;
    while ((e = xcb_poll_for_event(c)) != NULL) {
      if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        xcb_client_message_event_t* m = (xcb_client_message_event_t*)e;
        if (m->type == protocolsAtom && m->data.data32[0] == deleteAtom) {
          xcb_destroy_window(c, m->window);
          xcb_flush(c);
        }
      }
      free(e);
    }
    if (xcb_connection_has_error(c)) break;
    if (poll(fds, 2, -1) < 0) break;
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    if (!fgets(line, sizeof line, stdin)) break;
    if (strncmp(line, "open", 4) == 0) {
      xcb_window_t w = xcb_generate_id(c);
      uint32_t values[2] = {screen->white_pixel, XCB_EVENT_MASK_PROPERTY_CHANGE};
      xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 100, 100, 400, 300, 0,
                        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                        XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
      char wmClass[256];
      int n = snprintf(wmClass, sizeof wmClass, "%s%c%s", "testclient", 0, klass);
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, (uint32_t)n + 1,
                          wmClass);
      uint32_t pid = (uint32_t)getpid();
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, pidAtom, XCB_ATOM_CARDINAL, 32, 1, &pid);
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 4, "test");
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, protocolsAtom, XCB_ATOM_ATOM, 32, 1, &deleteAtom);
      xcb_map_window(c, w);
      xcb_flush(c);
      /* Managed once the window is in the client list, framed and shown, as
       * the helper sees it (openbox frames it before listing it). Bounded. */
      for (int tries = 0; tries < 500 && !managed(c, screen->root, w, listAtom, extentsAtom); ++tries) {
        usleep(2000);
      }
      printf("%u\n", w);
    } else if (strncmp(line, "close ", 6) == 0) {
      xcb_destroy_window(c, (xcb_window_t)strtoul(line + 6, NULL, 10));
      xcb_flush(c);
      printf("closed\n");
    }
  }
  xcb_disconnect(c);
  return 0;
}
