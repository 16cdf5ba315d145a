#!/usr/bin/python3
"""The real program read and driven through the desktop accessibility bus, as
a screen reader does.

The test brings up its own display (Xvfb), its own session bus and the
accessibility bus on it (at-spi-bus-launcher), and starts orbitune with its own
XDG directories and a program list whose addresses are all on 127.0.0.1. Then,
only through AT-SPI, it reads the current program from the title, presses Play
on a program whose port is closed and hears "Error, switch next one.", opens
the list and reads every row's name and address, plays a row, and deletes a
program by pressing the row's Delete button and OK in the confirmation,
moves a program down with Alt+Down, hearing where it went, and folds and
unfolds a group by its heading's button. Then it opens
the Song History with Ctrl+H, reads its songs, searches, stars a song with
Ctrl+D and copies it with Ctrl+C, all from the keyboard. Last, a station on
loopback plays, and Left and End move it behind live and back, read from
the position's description.

    screen_reader.py <orbitune binary>

Every wait polls with a deadline; only processes started here are stopped.
"""
import os
import plistlib
import random
import select
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import uuid

TITLE_DESCRIPTION = "Name of the current program, or what the player is doing"
LIST_DESCRIPTION = ("Arrow keys choose a program, Alt+Up and Alt+Down move it, Return plays it, "
                    "Delete removes it, the Menu key moves it into a group")
ORDER_DESCRIPTION = "Where the moved program is now"
FAILED = "Error, switch next one."

started = []  # Popen objects, stopped in reverse order at the end


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def need(tool):
    path = shutil.which(tool) or (tool if os.access(tool, os.X_OK) else None)
    if not path:
        fail(tool + " is not installed (scripts/install-deps.sh --test)")
    return path


def wait_for(what, check, timeout=20.0, pump=None):
    """Polls check() until it returns something true; fails after timeout."""
    deadline = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < deadline:
        if pump:
            pump()
        try:
            value = check()
            if value:
                return value
        except Exception as error:  # the tree changes under us while polling
            last_error = error
        time.sleep(0.1)
    fail("timed out waiting for " + what + (" (%s)" % last_error if last_error else ""))


def start(args, env, log, new_session=False, **kwargs):
    process = subprocess.Popen(args, env=env, stdout=log, stderr=subprocess.STDOUT,
                               start_new_session=new_session, **kwargs)
    started.append((process, new_session))
    return process


def stop_all():
    for process, own_group in reversed(started):
        if process.poll() is not None:
            continue
        try:
            # A process started in a session of its own is stopped with the
            # helpers it spawned (the accessibility bus and its registry).
            if own_group:
                os.killpg(process.pid, signal.SIGTERM)
            else:
                process.terminate()
            process.wait(timeout=10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            try:
                if own_group:
                    os.killpg(process.pid, signal.SIGKILL)
                else:
                    process.kill()
                process.wait(timeout=5)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass


def closed_loopback_port():
    """A 127.0.0.1 port nothing listens on: bound once by us, then released."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def program(name, port):
    base = "http://127.0.0.1:%d/%s" % (port, name.split()[0].lower())
    return {"name": name, "url": base + ".mp3", "image": base + ".png"}


def display_answers(name):
    """Whether an X client can open display `name` now."""
    from Xlib import display as xdisplay
    try:
        xdisplay.Display(name).close()
        return True
    except Exception:
        return False


def start_display(scratch, env, log):
    # A display that no client can open (another server on its number, going
    # away as this one starts) is given up and another one started.
    for _ in range(3):
        name, server = start_one_display(env, log)
        if display_answers(name):
            return name
        server.terminate()
        server.wait(timeout=10)
        print("display %s did not answer; starting another" % name, file=log, flush=True)
    fail("Xvfb started, but no client could open its display")


def start_one_display(env, log):
    # A display number of its own, well away from :0, which the tests before
    # it have just let go.
    number = random.randrange(100, 1000)
    while os.path.exists("/tmp/.X%d-lock" % number):
        number = random.randrange(100, 1000)
    read_end, write_end = os.pipe()
    # -noreset: the server would otherwise start over each time its last
    # client leaves (the check below, the accessibility bus launcher), and a
    # client connecting while it does is turned away.
    server = start([need("Xvfb"), ":%d" % number, "-displayfd", str(write_end), "-screen", "0",
                    "1024x768x24", "-nolisten", "tcp", "-noreset"], env, log,
                   pass_fds=(write_end,))
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([read_end], [], [], left)[0]:
            break
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip():
        fail("Xvfb did not start")
    return ":" + number.decode().strip(), server


def start_buses(scratch, env, log):
    address = "unix:path=" + os.path.join(scratch, "session-bus")
    start([need("dbus-daemon"), "--session", "--nofork", "--nopidfile", "--address=" + address],
          env, log)
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    dbus_send = need("dbus-send")
    wait_for("the session bus", lambda: subprocess.run(
        [dbus_send, "--session", "--dest=org.freedesktop.DBus", "--print-reply",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0)
    launcher = need("/usr/libexec/at-spi-bus-launcher")
    start([launcher, "--launch-immediately"], env, log, new_session=True)
    wait_for("the accessibility bus", lambda: subprocess.run(
        [dbus_send, "--session", "--dest=org.a11y.Bus", "--print-reply",
         "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0)


class Reader:
    """What a screen reader sees of one application."""

    def __init__(self, pyatspi, Atspi, pid):
        self.pyatspi = pyatspi
        self.Atspi = Atspi
        self.pid = pid
        self.app = None

    def find_app(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == self.pid:
                # Read live values, never what an earlier look cached.
                app.set_cache_mask(self.Atspi.Cache.NONE)
                self.app = app
                return app
        return None

    def walk(self, root=None, depth=0):
        root = root or self.app
        yield root
        if depth > 25:
            return
        for i in range(root.childCount):
            child = root.getChildAtIndex(i)
            if child is not None:
                yield from self.walk(child, depth + 1)

    def showing(self, accessible):
        return accessible.getState().contains(self.pyatspi.STATE_SHOWING)

    def find(self, test, root=None):
        for accessible in self.walk(root):
            if test(accessible):
                return accessible
        return None

    def find_showing(self, role, name=None, description=None, root=None):
        def test(a):
            return (a.getRole() == role and (name is None or a.name == name)
                    and (description is None or a.description == description)
                    and self.showing(a))
        return self.find(test, root)

    def press(self, accessible):
        if accessible is None:
            fail("nothing to press")
        action = accessible.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        for wanted in ("Press", "press", "click", "Toggle", "toggle"):
            if wanted in names:
                return action.doAction(names.index(wanted))
        fail("%r offers no press action, only %r" % (accessible.name, names))

    def title(self):
        label = self.find_showing(self.pyatspi.ROLE_LABEL, description=TITLE_DESCRIPTION)
        return label.name if label else None


def stored(data_file):
    with open(data_file, "rb") as f:
        return plistlib.load(f)


def run_scenario(name, run):
    """Runs run(binary, scratch, log) on the binary named on the command line,
    in a scratch folder; prints the processes' log if it fails, and always
    stops what it started."""
    if len(sys.argv) != 2:
        fail("usage: %s.py <orbitune binary>" % name)
    binary = os.path.abspath(sys.argv[1])
    if not os.access(binary, os.X_OK):
        fail(binary + " is not the built program")

    scratch = tempfile.mkdtemp(prefix="orbitune-%s." % name)
    log_path = os.path.join(scratch, "processes.log")
    log = open(log_path, "w")
    try:
        run(binary, scratch, log)
    except BaseException:
        log.flush()
        with open(log_path, errors="replace") as f:
            sys.stderr.write(f.read()[-6000:])
        raise
    finally:
        stop_all()
        log.close()
        shutil.rmtree(scratch, ignore_errors=True)


def private_env(scratch):
    """This environment without the user's display, buses and session, with
    XDG folders of its own in scratch."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                        "AT_SPI_BUS_ADDRESS", "QT_QPA_PLATFORM", "SESSION_MANAGER")}
    for d in ("data", "config", "cache", "runtime"):
        os.makedirs(os.path.join(scratch, d), mode=0o700)
    env.update(XDG_DATA_HOME=os.path.join(scratch, "data"),
               XDG_CONFIG_HOME=os.path.join(scratch, "config"),
               XDG_CACHE_HOME=os.path.join(scratch, "cache"),
               XDG_RUNTIME_DIR=os.path.join(scratch, "runtime"),
               ORBITUNE_NO_SYSLOG="1")
    return env


def run(binary, scratch, log):
    env = private_env(scratch)

    # Every address in the list is a closed port on this machine: nothing
    # leaves it, and playing fails as it does when a station is down.
    port = closed_loopback_port()
    programs = [program("Alpha Radio", port), program("Beta Radio", port),
                program("Gamma Radio", port)]
    data_dir = os.path.join(scratch, "data", "orbitune")
    os.makedirs(data_dir)
    data_file = os.path.join(data_dir, "data.plist")
    with open(data_file, "wb") as f:
        plistlib.dump({"data": programs, "live": programs[0]}, f)

    # A station of our own on loopback for time-shift (its files are made
    # while the display and buses come up).
    support = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support")
    station_dir = os.path.join(scratch, "station")
    os.makedirs(station_dir)
    station_server = subprocess.Popen(
        [sys.executable, os.path.join(support, "stream_http.py"), "--dir", station_dir],
        env=env, stdout=subprocess.PIPE, stderr=log, text=True)
    started.append((station_server, False))

    # A speaker on the network: a stand-in renderer answering on loopback.
    speaker = subprocess.Popen(
        [sys.executable, os.path.join(support, "..", "cast", "standin_renderer.py"), "--mode",
         "sonos", "--name", "Kitchen Speaker", "--uuid", str(uuid.uuid4())],
        env=env, stdout=subprocess.PIPE, stderr=log, text=True)
    started.append((speaker, False))
    if not speaker.stdout.readline().startswith("READY"):
        fail("the stand-in speaker did not start")

    env["DISPLAY"] = start_display(scratch, env, log)
    start_buses(scratch, env, log)

    app_env = dict(env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_ACCESSIBILITY="1", PULSE_SERVER="unix:" + os.path.join(scratch, "no-pulse"))
    app = start([binary], app_env, log)

    # The screen reader joins the same buses.
    os.environ.update({k: env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                           "XDG_RUNTIME_DIR")})
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
    import pyatspi
    # A press answers once its handler has run (opening a window, say); the
    # sanitizer build on a busy machine can take longer than AT-SPI's 0.8 s.
    Atspi.set_timeout(20000, -1)

    reader = Reader(pyatspi, Atspi, app.pid)
    context = GLib.MainContext.default()

    def pump():
        while context.iteration(False):
            pass

    def alive():
        if app.poll() is not None:
            fail("orbitune ended with status %d" % app.returncode)

    wait_for("orbitune on the accessibility bus",
             lambda: alive() or reader.find_app(), timeout=40, pump=pump)

    def names_heard(description):
        """Every name the screen reader hears an object of the app with this
        description take, and the listener that gathers them."""
        names = []

        def on_name(event):
            try:
                if event.source.get_process_id() == app.pid and \
                        event.source.description == description:
                    names.append(event.source.name)
            except Exception:
                pass
        pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
        return names, on_name

    # What the screen reader hears when the title changes.
    heard, on_name = names_heard(TITLE_DESCRIPTION)

    # 1. The title reads as the current program.
    wait_for("the title to read 'Alpha Radio'",
             lambda: reader.title() == "Alpha Radio", pump=pump)
    print("ok: the title reads the current program")
    if not reader.find(lambda a: a.name == "Alpha Radio picture" and reader.showing(a)):
        fail("the main window's picture is not named after the program")
    print("ok: the picture says whose it is")

    # 2. Play fails on a closed port, and the failure is readable and heard.
    play = wait_for("the Play button", lambda: reader.find_showing(
        pyatspi.ROLE_PUSH_BUTTON, name="Play"), pump=pump)
    if not play.description:
        fail("the Play button has no description")
    reader.press(play)
    wait_for("the title to read %r" % FAILED, lambda: reader.title() == FAILED, pump=pump)
    wait_for("the failure to be announced", lambda: FAILED in heard, timeout=10, pump=pump)
    print("ok: a failed play reads and announces %r" % FAILED)


    # 3. The list: every row reads as its program and its address.
    def open_list():
        button = wait_for("the program list button", lambda: reader.find_showing(
            pyatspi.ROLE_PUSH_BUTTON, name="Program list"), pump=pump)
        reader.press(button)
        return wait_for("the list window", lambda: reader.find(
            lambda a: a.description == LIST_DESCRIPTION and reader.showing(a)), pump=pump)

    def rows(table):
        found = {}
        for a in reader.walk(table):
            if a.description.startswith("http://127.0.0.1:") and reader.showing(a) and \
                    a.getRole() != pyatspi.ROLE_LABEL:
                found[a.name] = a
        return found

    table = open_list()
    expected = {p["name"]: p["url"] for p in programs}
    listed = wait_for("the rows", lambda: (lambda r: r if set(r) == set(expected) else None)(
        rows(table)), pump=pump)
    for name, row in listed.items():
        if row.description != expected[name]:
            fail("row %r describes itself as %r" % (name, row.description))
        texts = [a.name for a in reader.walk(row) if a.getRole() == pyatspi.ROLE_LABEL]
        if name not in texts or expected[name] not in texts:
            fail("row %r shows %r to a screen reader" % (name, texts))
    print("ok: every row reads as its program and its address")

    # 4. Play a row through its button: the list closes, the program is current
    # and fails in turn.
    heard.clear()
    reader.press(reader.find_showing(pyatspi.ROLE_PUSH_BUTTON, name="Play Beta Radio",
                                     root=listed["Beta Radio"]))
    wait_for("Beta Radio to become the current program",
             lambda: stored(data_file).get("live", {}).get("name") == "Beta Radio", pump=pump)
    wait_for("the list to close", lambda: not reader.find(
        lambda a: a.description == LIST_DESCRIPTION and reader.showing(a)), pump=pump)
    wait_for("the row's failure to be announced", lambda: FAILED in heard, pump=pump)
    if reader.title() != FAILED:
        fail("the title reads %r after the row failed" % reader.title())
    print("ok: a row's Play button plays it")

    # 5. Delete a program: the row's button, then OK in the real confirmation.
    table = open_list()
    gamma = wait_for("the Gamma Radio row", lambda: rows(table).get("Gamma Radio"), pump=pump)
    reader.press(reader.find_showing(pyatspi.ROLE_PUSH_BUTTON, name="Delete Gamma Radio",
                                     root=gamma))

    def confirmation():
        for window in reader.walk():
            if window.getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG) and \
                    reader.showing(window) and any(
                        a.name == "Are you sure?" for a in reader.walk(window)):
                return window
        return None
    alert = wait_for("the delete confirmation", confirmation, pump=pump)
    reader.press(reader.find_showing(pyatspi.ROLE_PUSH_BUTTON, name="OK", root=alert))
    wait_for("Gamma Radio to leave the data file", lambda: [
        p.get("name") for p in stored(data_file)["data"]] == ["Alpha Radio", "Beta Radio"],
        pump=pump)
    wait_for("Gamma Radio to leave the list",
             lambda: set(rows(table)) == {"Alpha Radio", "Beta Radio"}, pump=pump)
    print("ok: Delete and OK remove the program")

    # 6. Move a program with the keyboard: Down chooses the first row, Alt+Down
    # moves it below the next one; the file keeps the order and the new place
    # is spoken.
    moved, on_moved = names_heard(ORDER_DESCRIPTION)
    # The keys go to the window under the pointer when no window manager
    # gives one the focus, and within it to the list.
    component = table.queryComponent()
    if not component.grabFocus():
        fail("the list does not take the keyboard focus")
    box = component.getExtents(pyatspi.DESKTOP_COORDS)
    Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height - 4, "abs")
    down, alt = 0xff54, 64  # the Down keysym; Alt_L's key code on the X server
    Atspi.generate_keyboard_event(down, None, Atspi.KeySynthType.SYM)
    Atspi.generate_keyboard_event(alt, None, Atspi.KeySynthType.PRESS)
    Atspi.generate_keyboard_event(down, None, Atspi.KeySynthType.SYM)
    Atspi.generate_keyboard_event(alt, None, Atspi.KeySynthType.RELEASE)
    wait_for("Alpha Radio to move below Beta Radio in the data file", lambda: [
        p.get("name") for p in stored(data_file)["data"]] == ["Beta Radio", "Alpha Radio"],
        pump=pump)
    wait_for("the move to be announced",
             lambda: "Alpha Radio moved to position 2 of 2" in moved, pump=pump)

    def row_top(name):
        return rows(table)[name].queryComponent().getExtents(pyatspi.DESKTOP_COORDS).y
    wait_for("the rows to show the new order",
             lambda: row_top("Beta Radio") < row_top("Alpha Radio"), pump=pump)
    pyatspi.Registry.deregisterEventListener(on_moved, "object:property-change:accessible-name")
    print("ok: Alt+Down moves the program, keeps the order and says where it went")

    # 6b. Groups: a program put in one by another writer shows under the
    # group's heading, whose button folds and unfolds it and says which.
    top = stored(data_file)
    next(p for p in top["data"] if p["name"] == "Alpha Radio")["group"] = "Jazz"
    with open(data_file + ".new", "wb") as f:
        plistlib.dump(top, f)
    os.replace(data_file + ".new", data_file)

    def fold_button():
        return reader.find(lambda a: a.name == "Jazz group" and reader.showing(a) and
                           a.getRole() in (pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TOGGLE_BUTTON))
    fold = wait_for("the Jazz group's heading", fold_button, pump=pump)
    for shown in (False, True):
        reader.press(fold)
        wait_for("the Jazz group to be %s" % ("shown" if shown else "folded"),
                 lambda: ("Alpha Radio" in rows(table)) == shown and
                 fold_button().getState().contains(pyatspi.STATE_CHECKED) == shown, pump=pump)
        fold = fold_button()
    print("ok: a group's heading folds and unfolds it through its button")

    # 7. The song history, from the keyboard: songs heard are read out,
    # searched, starred and copied.
    history_file = os.path.join(data_dir, "history.sqlite")
    wait_for("the song history file", lambda: os.path.exists(history_file), pump=pump)
    now = int(time.time() * 1000)
    with sqlite3.connect(history_file, timeout=5) as db:
        for i, (name, title, artist, song) in enumerate([
                ("Alpha Radio", "Kino - Gruppa krovi", "Kino", "Gruppa krovi"),
                ("Beta Radio", "News at noon", "", "")]):
            db.execute("INSERT INTO songs (program, stream_url, title, artist, song, started, "
                       "ended) VALUES (?, ?, ?, ?, ?, ?, ?)",
                       (name, "http://127.0.0.1/", title, artist, song,
                        now - 60000 * (3 - i), now - 60000 * (2 - i)))
    db.close()

    # Keys are typed on the display as a keyboard would (XTEST).
    from Xlib import X, XK, display as xdisplay
    from Xlib.ext import xtest
    keyboard = xdisplay.Display(env["DISPLAY"])

    def keys(name, control=False):
        code = keyboard.keysym_to_keycode(XK.string_to_keysym(name))
        ctrl = keyboard.keysym_to_keycode(XK.XK_Control_L)
        if control:
            xtest.fake_input(keyboard, X.KeyPress, ctrl)
        xtest.fake_input(keyboard, X.KeyPress, code)
        xtest.fake_input(keyboard, X.KeyRelease, code)
        if control:
            xtest.fake_input(keyboard, X.KeyRelease, ctrl)
        keyboard.sync()
        pump()

    def window_named(name):
        for i in range(reader.app.childCount):
            window = reader.app.getChildAtIndex(i)
            if window is not None and window.name == name and reader.showing(window):
                return window
        return None

    def history_window():
        return window_named("Song History")

    # The list window is over the main window: closed first.
    reader.press(reader.find_showing(pyatspi.ROLE_PUSH_BUTTON, name="Close"))
    wait_for("the list to close", lambda: not reader.find(
        lambda a: a.description == LIST_DESCRIPTION and reader.showing(a)), pump=pump)
    # A click on the window's title gives it the keyboard, as on a desktop.
    label = reader.find_showing(pyatspi.ROLE_LABEL, description=TITLE_DESCRIPTION)
    box = label.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
    wait_for("the main window to take the keyboard", lambda: reader.find(
        lambda a: a.getState().contains(pyatspi.STATE_ACTIVE)), pump=pump)

    keys("h", control=True)
    window = wait_for("Ctrl+H to open the Song History", history_window, pump=pump)

    def cells(name=None):
        table = reader.find_showing(pyatspi.ROLE_TABLE, name="Songs heard", root=window)
        return [a for a in reader.walk(table) if a.getRole() == pyatspi.ROLE_TABLE_CELL
                and reader.showing(a) and (name is None or a.name == name)]
    wait_for("the songs to read out", lambda: cells("Kino - Gruppa krovi") and
             cells("News at noon") and cells("Not starred"), pump=pump)
    print("ok: Ctrl+H opens the song history and every song reads out")

    search = reader.find_showing(pyatspi.ROLE_TEXT, name="Search songs", root=window)
    if search is None or not search.getState().contains(pyatspi.STATE_FOCUSED):
        fail("the search field is not focused in the song history")
    for letter in "kino":
        keys(letter)
    wait_for("the search to leave one song", lambda: cells("Kino - Gruppa krovi") and
             not cells("News at noon"), pump=pump)
    print("ok: the search filters as typed")

    def status():
        label = reader.find_showing(pyatspi.ROLE_LABEL, root=window,
                                    description="What the song history did last")
        return label.name if label else None

    def starred():
        with sqlite3.connect(history_file, timeout=5) as db:
            return [row[0] for row in db.execute(
                "SELECT title FROM songs WHERE favourite = 1")]
    keys("Down")  # to the songs
    # Qt handles a shortcut as its key arrives, ahead of keys still queued.
    wait_for("Down to reach the songs", lambda: reader.find_showing(
        pyatspi.ROLE_TABLE, name="Songs heard", root=window).getState().contains(
            pyatspi.STATE_FOCUSED), pump=pump)
    keys("d", control=True)
    wait_for("Ctrl+D to star the song", lambda: starred() == ["Kino - Gruppa krovi"]
             and cells("Starred"), pump=pump)
    print("ok: Ctrl+D stars the song, and its star reads out")
    keys("c", control=True)
    wait_for("Ctrl+C to copy the song",
             lambda: status() == "Copied \u201cKino - Gruppa krovi\u201d.", pump=pump)
    print("ok: Ctrl+C copies the song")

    # The Schedules window, from the keyboard: Escape closes the history,
    # Ctrl+T in the main window opens it, and a schedule added through its
    # form reads out in the list.
    keys("Escape")
    wait_for("the song history to close", lambda: history_window() is None, pump=pump)
    label = reader.find_showing(pyatspi.ROLE_LABEL, description=TITLE_DESCRIPTION)
    box = label.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
    wait_for("the main window to take the keyboard again", lambda: reader.find(
        lambda a: a.getState().contains(pyatspi.STATE_ACTIVE) and a.name != "Song History"),
        pump=pump)
    # Play On: the button reads by its name and says what it does.
    play_on = wait_for("the Play On button", lambda: reader.find(
        lambda a: a.name == "Play On" and reader.showing(a) and
        a.getRole() == pyatspi.ROLE_PUSH_BUTTON), pump=pump)
    if "plays" not in play_on.description.lower():
        fail("the Play On button does not say what it does: %r" % play_on.description)
    print("ok: the Play On button reads by its name and says what it does")
    # A menu is not among the application's windows: a screen reader hears
    # its items as they take the focus.
    focused = []
    menu_items = []

    def on_focus(event):
        if event.detail1 and event.source is not None:
            focused.append(event.source.name)
            menu_items.append(event.source)

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    reader.press(play_on)
    wanted = {"This Computer", "Kitchen Speaker"}

    def down_through_menu():
        keys("Down")
        return wanted <= set(focused)

    wait_for("Down to go through 'This Computer' and the speaker", down_through_menu, pump=pump)
    pyatspi.Registry.deregisterEventListener(on_focus, "object:state-changed:focused")
    # Until it has closed, the menu would take the next key itself.
    keys("Escape")
    wait_for("the menu to close", lambda: not reader.showing(menu_items[-1]), pump=pump)
    print("ok: its menu reads 'This Computer' and the speaker found")

    keys("t", control=True)
    window = wait_for("Ctrl+T to open the Schedules", lambda: window_named("Schedules"),
                      pump=pump)
    reader.press(reader.find_showing(pyatspi.ROLE_PUSH_BUTTON, name="Add schedule", root=window))

    def labelled(a):
        return [r.getTarget(i).name for r in a.getRelationSet()
                if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                for i in range(r.getNTargets())]
    combo = wait_for("the form's program", lambda: reader.find_showing(
        pyatspi.ROLE_COMBO_BOX, root=window), pump=pump)
    if "Program:" not in labelled(combo):
        fail("the program box is not labelled: %r" % labelled(combo))
    if [a for a in reader.walk(window) if a.getRoleName() == "label" and a.name == "New Schedule"]:
        fail("an empty label reads as the form's title")
    for role, name in ((pyatspi.ROLE_RADIO_BUTTON, "Play"),
                       (pyatspi.ROLE_SPIN_BUTTON, "Length in minutes"),
                       (pyatspi.ROLE_CHECK_BOX, "Enabled")):
        wait_for("the form's %s" % name, lambda: reader.find_showing(
            role, name=name, root=window), pump=pump)
    reader.press(reader.find_showing(pyatspi.ROLE_PUSH_BUTTON, name="Save schedule", root=window))
    table = reader.find_showing(pyatspi.ROLE_TABLE, name="Schedules", root=window)
    chosen = combo.name
    wait_for("the new schedule to read out", lambda: [
        a for a in reader.walk(table) if a.getRole() == pyatspi.ROLE_TABLE_CELL
        and a.name == chosen and reader.showing(a)], pump=pump)
    print("ok: Ctrl+T opens the Schedules, a schedule is added from its form and reads out")

    # 9. Time-shift: a station that plays becomes current; after Left the
    # position's description says how far behind live, announced, and after
    # End it says "Live".
    keys("Escape")
    wait_for("the Schedules to close", lambda: window_named("Schedules") is None, pump=pump)
    if not select.select([station_server.stdout], [], [], 60)[0]:
        fail("the loopback station did not start")
    ready = station_server.stdout.readline().split()
    if ready[:1] != ["READY"]:
        fail("the loopback station said %r" % ready)
    station = {"name": "Delta Radio", "url": "http://127.0.0.1:%s/icy.mp3" % ready[1],
               "image": ""}
    data = stored(data_file)
    data["data"].append(station)
    with open(data_file, "wb") as f:
        plistlib.dump(data, f)
    table = open_list()
    delta = wait_for("the Delta Radio row", lambda: rows(table).get("Delta Radio"), pump=pump)
    reader.press(reader.find_showing(pyatspi.ROLE_PUSH_BUTTON, name="Play Delta Radio",
                                     root=delta))

    def position():
        label = reader.find_showing(pyatspi.ROLE_LABEL, name="Time behind live")
        return label.description if label else None
    wait_for("the time-shift position to read 'Live'", lambda: position() == "Live",
             timeout=30, pump=pump)
    described = []

    def on_description(event):
        try:
            if event.source.get_process_id() == app.pid:
                described.append(event.source.description)
        except Exception:
            pass
    pyatspi.Registry.registerEventListener(on_description,
                                           "object:property-change:accessible-description")
    time.sleep(3)  # some of the station kept
    label = reader.find_showing(pyatspi.ROLE_LABEL, description=TITLE_DESCRIPTION)
    box = label.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
    # The list window had the keyboard: Left only once the main window has it.
    def main_window_active():
        for i in range(reader.app.childCount):
            window = reader.app.getChildAtIndex(i)
            if window is not None and window.getState().contains(pyatspi.STATE_ACTIVE):
                return reader.find_showing(pyatspi.ROLE_LABEL, description=TITLE_DESCRIPTION,
                                           root=window)
        return None
    wait_for("the main window to take the keyboard", main_window_active, pump=pump)
    keys("Left")
    wait_for("Left to read as behind live", lambda: (position() or "").startswith("\u2212")
             and position().endswith(" behind live"), pump=pump)
    wait_for("the step back to be announced",
             lambda: any(d.endswith(" behind live") for d in described), pump=pump)
    keys("End")
    wait_for("End to read 'Live'", lambda: position() == "Live", pump=pump)
    pyatspi.Registry.deregisterEventListener(on_description,
                                             "object:property-change:accessible-description")
    print("ok: Left reads and announces how far behind live, End reads 'Live'")

    pyatspi.Registry.deregisterEventListener(on_name, "object:property-change:accessible-name")
    alive()


if __name__ == "__main__":
    run_scenario("screen_reader", run)
