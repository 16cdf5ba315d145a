#!/usr/bin/python3
"""What closing the main window does, asked the way a window manager asks
(WM_DELETE_WINDOW on a real X server), with and without a tray.

Without a tray, closing while sound plays keeps Orbitune running in the
background (the Background portal is told so); the media controls (MPRIS
Raise) bring the window back, and closing it while silent quits. With a tray,
closing while silent keeps it running: the tray brings the window back.

    window_close.py <orbitune binary>

The test brings up its own display (Xvfb), session bus, a stand-in tray and
Background portal, and a local sound file as the current program.
"""
import os
import plistlib
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "a11y"))
from screen_reader import (fail, need, private_env, run_scenario, start,  # noqa: E402
                           start_display, wait_for)

MPRIS = "org.mpris.MediaPlayer2.orbitune"
PORTAL_XML = """
<node>
  <interface name="org.freedesktop.portal.Background">
    <method name="RequestBackground">
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
  </interface>
</node>
"""


def sound_file(path, seconds):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"\0\0" * 8000 * seconds)


class Desktop:
    """The display and the session bus as seen by the test."""

    def __init__(self, env):
        from Xlib import X, display, protocol
        self.X, self.protocol = X, protocol
        self.env = env
        self.display = display.Display(env["DISPLAY"])
        self.root = self.display.screen().root
        self.dbus_send = need("dbus-send")

    def windows_of(self, pid):
        net_pid = self.display.intern_atom("_NET_WM_PID")
        found = []
        for w in self.root.query_tree().children:
            try:
                prop = w.get_full_property(net_pid, self.X.AnyPropertyType)
                if prop and prop.value[0] == pid and \
                        w.get_attributes().map_state == self.X.IsViewable:
                    found.append(w)
            except Exception:
                pass
        return found

    def request_close(self, window):
        protocols = self.display.intern_atom("WM_PROTOCOLS")
        delete = self.display.intern_atom("WM_DELETE_WINDOW")
        event = self.protocol.event.ClientMessage(
            window=window, client_type=protocols,
            data=(32, [delete, self.X.CurrentTime, 0, 0, 0]))
        window.send_event(event)
        self.display.flush()

    def own_tray(self):
        """A stand-in system tray: owns the tray selection and says so."""
        screen = self.display.get_default_screen()
        selection = self.display.intern_atom("_NET_SYSTEM_TRAY_S%d" % screen)
        self.tray = self.root.create_window(0, 0, 1, 1, 0, self.X.CopyFromParent)
        self.tray.set_selection_owner(selection, self.X.CurrentTime)
        event = self.protocol.event.ClientMessage(
            window=self.root, client_type=self.display.intern_atom("MANAGER"),
            data=(32, [self.X.CurrentTime, selection, self.tray.id, 0, 0]))
        self.root.send_event(event, event_mask=self.X.StructureNotifyMask)
        self.display.flush()

    def mpris(self, method):
        return subprocess.run(
            [self.dbus_send, "--session", "--print-reply", "--dest=" + MPRIS,
             "/org/mpris/MediaPlayer2", method], env=self.env,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def status(self):
        r = subprocess.run(
            [self.dbus_send, "--session", "--print-reply", "--dest=" + MPRIS,
             "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties.Get",
             "string:org.mpris.MediaPlayer2.Player", "string:PlaybackStatus"],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        for status in ("Playing", "Paused", "Stopped"):
            if '"%s"' % status in r.stdout:
                return status
        return None


class Portal:
    """A stand-in XDG desktop portal that records background requests."""

    def __init__(self, address):
        from gi.repository import Gio, GLib
        self.GLib = GLib
        self.requests = []
        self.bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        info = Gio.DBusNodeInfo.new_for_xml(PORTAL_XML).interfaces[0]
        self.bus.register_object("/org/freedesktop/portal/desktop", info, self.on_call)
        self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "RequestName",
                           GLib.Variant("(su)", ("org.freedesktop.portal.Desktop", 0)),
                           None, Gio.DBusCallFlags.NONE, -1, None)
        self.context = GLib.MainContext.default()

    def on_call(self, connection, sender, path, interface, method, params, invocation):
        self.requests.append(params.unpack()[1])
        invocation.return_value(self.GLib.Variant(
            "(o)", ("/org/freedesktop/portal/desktop/request/1",)))

    def pump(self):
        while self.context.iteration(False):
            pass


def start_bus(scratch, env, log):
    address = "unix:path=" + os.path.join(scratch, "session-bus")
    start([need("dbus-daemon"), "--session", "--nofork", "--nopidfile",
           "--address=" + address], env, log)
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    return address


def stays_up(app, seconds, pump):
    """Whether app is still running after `seconds` (its window is gone, so
    nothing but time tells that it did not quit)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        pump()
        if app.poll() is not None:
            return False
        time.sleep(0.1)
    return True


def run(binary, scratch, log):
    env = private_env(scratch)
    env.update(QT_QPA_PLATFORM="xcb", PULSE_SERVER="unix:" + os.path.join(scratch, "no-pulse"))
    sound = os.path.join(scratch, "quiet.wav")
    sound_file(sound, 90)
    data_dir = os.path.join(scratch, "data", "orbitune")
    os.makedirs(data_dir)
    local = {"name": "Quiet", "url": "file://" + sound, "image": ""}
    with open(os.path.join(data_dir, "data.plist"), "wb") as f:
        plistlib.dump({"data": [local], "live": local}, f)

    env["DISPLAY"] = start_display(scratch, env, log)
    address = start_bus(scratch, env, log)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
    desktop = Desktop(env)
    portal = Portal(address)
    pump = portal.pump

    def launch():
        app = start([binary], env, log)
        wait_for("the main window", lambda: app.poll() is None and desktop.windows_of(app.pid),
                 timeout=40, pump=pump)
        wait_for("the media controls", lambda: desktop.status() is not None, pump=pump)
        return app

    # No tray: closing while sound plays keeps it running in the background.
    app = launch()
    if desktop.mpris("org.mpris.MediaPlayer2.Player.Play").returncode != 0:
        fail("MPRIS Play was refused")
    wait_for("playing", lambda: desktop.status() == "Playing", pump=pump)
    desktop.request_close(desktop.windows_of(app.pid)[0])
    wait_for("the window to close", lambda: not desktop.windows_of(app.pid), pump=pump)
    if not stays_up(app, 2, pump):
        fail("closing the window while playing quit the app (no tray)")
    if desktop.status() != "Playing":
        fail("closing the window stopped the sound")
    wait_for("a background request", lambda: portal.requests, pump=pump)
    if portal.requests[0].get("reason") != "Playing radio":
        fail("background request without its reason: %r" % portal.requests[0])

    # The desktop's media controls bring the window back.
    desktop.mpris("org.mpris.MediaPlayer2.Raise")
    wait_for("the window to come back", lambda: desktop.windows_of(app.pid), pump=pump)

    # Silent, a close quits.
    desktop.mpris("org.mpris.MediaPlayer2.Player.Pause")
    wait_for("paused", lambda: desktop.status() == "Paused", pump=pump)
    desktop.request_close(desktop.windows_of(app.pid)[0])
    wait_for("the app to quit", lambda: app.poll() is not None, pump=pump)
    if app.returncode != 0:
        fail("the app ended with status %d" % app.returncode)

    # With a tray, closing while silent keeps it running.
    desktop.own_tray()
    app = launch()
    desktop.request_close(desktop.windows_of(app.pid)[0])
    wait_for("the window to close", lambda: not desktop.windows_of(app.pid), pump=pump)
    if not stays_up(app, 2, pump):
        fail("closing the window quit the app although a tray can bring it back")
    print("PASS: window close with and without a tray")


if __name__ == "__main__":
    run_scenario("window_close", run)
