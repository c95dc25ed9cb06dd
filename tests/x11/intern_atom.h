/* Interns an atom, XCB_ATOM_NONE when the server does not answer. */
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/xcb.h>

static inline xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* r =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), NULL);
  xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
  free(r);
  return a;
}
