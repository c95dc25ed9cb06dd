#!/usr/bin/python3
"""A header-bar (client-side decorated) GTK window for the tests, as GNOME
applications draw theirs. Usage: csd_client.py 3|4 CLASS [plain]

With `plain` the window has no header bar and asks the manager for no
decorations: a window that draws no title bar at all.

The window's WM_CLASS class is CLASS. Reads lines from stdin and answers each
with one JSON line on stdout:
  report  -> {"xid": N, "headerbar": [x, y, w, h] or null, "content": [x, y, w, h]}
             where the header bar and the content area are, in pixels
             relative to the X window's top-left corner (add xwininfo's
             absolute corner for root coordinates)
Prints {"ready": XID} once the window is mapped.
"""
import json
import sys

import gi

VERSION = sys.argv[1] if len(sys.argv) > 1 else "3"
CLASS = sys.argv[2] if len(sys.argv) > 2 else "KtCsd"
PLAIN = sys.argv[3:4] == ["plain"]
gi.require_version("Gtk", VERSION + ".0")
gi.require_version("GdkX11", VERSION + ".0")
from gi.repository import GLib, Gtk, GdkX11  # noqa: E402

# GTK 4 takes the class from the program name; GTK 3 has its own setting.
GLib.set_prgname(CLASS)
GLib.set_application_name(CLASS)
if VERSION == "3":
    from gi.repository import Gdk  # noqa: E402
    Gdk.set_program_class(CLASS)


def say(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


class Window:
    def __init__(self):
        self.window = Gtk.Window(title=CLASS)
        self.header = None if PLAIN else Gtk.HeaderBar()
        if PLAIN:
            self.window.set_decorated(False)
        elif VERSION == "4":
            self.header.set_title_widget(Gtk.Label(label=CLASS))
            self.header.set_show_title_buttons(True)
        else:
            self.header.set_title(CLASS)
            self.header.set_show_close_button(True)
        if self.header:
            self.window.set_titlebar(self.header)
        self.content = Gtk.Label(label="content")
        self.content.set_vexpand(True)
        self.content.set_hexpand(True)
        self.window.set_default_size(500, 400)
        if VERSION == "4":
            self.window.set_child(self.content)
            self.window.connect("close-request", lambda *_: self.quit())
            self.window.present()
        else:
            self.window.add(self.content)
            self.window.connect("delete-event", lambda *_: self.quit())
            self.window.show_all()
        self.loop = GLib.MainLoop()
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, self.command)
        GLib.timeout_add(20, self.announce)

    def quit(self):
        self.loop.quit()
        return False

    def xid(self):
        if VERSION == "4":
            surface = self.window.get_surface()
            return GdkX11.X11Surface.get_xid(surface) if surface else 0
        gdk = self.window.get_window()
        return GdkX11.X11Window.get_xid(gdk) if gdk else 0

    def announce(self):
        if not self.window.get_mapped():
            return True
        say({"ready": self.xid()})
        return False

    def rect(self, widget):
        """The widget's allocation in X-window pixels."""
        if VERSION == "4":
            # Widget coordinates are the window's; the surface adds the
            # invisible shadow margin around it.
            ok, point = widget.compute_point(self.window, _graphene_point(0, 0))
            dx, dy = self.window.get_surface_transform()
            return [round(point.x + dx), round(point.y + dy), widget.get_width(), widget.get_height()]
        x, y = widget.translate_coordinates(self.window, 0, 0)
        a = widget.get_allocation()
        return [x, y, a.width, a.height]

    def command(self, source, condition):
        line = sys.stdin.readline()
        if not line:
            self.loop.quit()
            return False
        if line.strip() == "report":
            say({"xid": self.xid(), "headerbar": self.rect(self.header) if self.header else None,
                 "content": self.rect(self.content)})
        return True


def _graphene_point(x, y):
    gi.require_version("Graphene", "1.0")
    from gi.repository import Graphene
    point = Graphene.Point()
    point.x, point.y = x, y
    return point


if __name__ == "__main__":
    if VERSION == "3":
        Gtk.init(None)
    Window().loop.run()
