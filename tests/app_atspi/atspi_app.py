"""An application driven as a user and a screen reader meet it: through AT-SPI, by the
accessible names and roles of its controls, never by reaching into its objects.

The session (X server, session bus, accessibility bus) is made by run.sh; this module finds
the application on it, presses, types, reads, and waits for conditions with a deadline.
"""

import collections
import os
import signal
import subprocess
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402
import pyatspi  # noqa: E402


class Failure(Exception):
    """A fact that did not hold; its message says which, and what was seen instead."""


def wait_for(what, condition, seconds=20.0, every=0.05, seen=None):
    """Returns condition()'s first true value, asking again until `seconds` have passed;
    raises Failure naming `what` and the last value seen (or what seen() then says). AT-SPI
    errors while the application settles count as "not yet"."""
    deadline = time.monotonic() + seconds
    last = None
    while True:
        try:
            last = condition()
        except (gi.repository.GLib.Error, LookupError) as error:
            last = error
        else:
            if last:
                return last
        if time.monotonic() >= deadline:
            if seen is not None:
                last = seen()
            raise Failure(f"{what}: not within {seconds:g} s (last seen: {last!r})")
        time.sleep(every)


def _walk(root, limit=20000):
    """Every accessible below root, breadth first, at most `limit` of them."""
    queue = collections.deque([root])
    seen = 0
    while queue and seen < limit:
        node = queue.popleft()
        seen += 1
        yield node
        try:
            count = node.get_child_count()
        except gi.repository.GLib.Error:
            continue
        for i in range(count):
            try:
                child = node.get_child_at_index(i)
            except gi.repository.GLib.Error:
                continue
            if child is not None:
                queue.append(child)


def _role(node):
    try:
        return node.get_role_name()
    except gi.repository.GLib.Error:
        return ""


def _labels(node):
    """The names of the labels that label `node`, without a closing colon."""
    names = []
    for relation in node.get_relation_set():
        if relation.get_relation_type() != Atspi.RelationType.LABELLED_BY:
            continue
        for i in range(relation.get_n_targets()):
            names.append(relation.get_target(i).get_name().rstrip(":"))
    return names


def _text(node):
    """A field's text, else the description (which a label's text is kept equal to)."""
    iface = node.get_text_iface()
    if iface is not None:
        value = iface.get_text(0, iface.get_character_count())
        if value:
            return value
    return node.get_description()


def _text_of(node):
    """The words an accessible shows: its name, its description and its text, joined."""
    parts = []
    for getter in (node.get_name, node.get_description):
        try:
            value = getter()
        except gi.repository.GLib.Error:
            value = ""
        if value:
            parts.append(value)
    try:
        text = node.get_text_iface()
        if text is not None:
            value = text.get_text(0, text.get_character_count())
            if value and value not in parts:
                parts.append(value)
    except gi.repository.GLib.Error:
        pass
    return " ".join(parts)


class App:
    """A running program with its accessible tree."""

    def __init__(self, argv, name, env, log_path):
        """Starts the program: argv, with the environment `env`, its output into log_path. With
        argv None, the program is one started by someone else, found by its name alone."""
        self.name = name
        self.log = open(log_path, "wb") if argv else None
        self.process = subprocess.Popen(argv, env=env, stdout=self.log, stderr=subprocess.STDOUT,
                                        start_new_session=True) if argv else None
        self.root = None

    # The application and its controls.

    def find(self, seconds=30, every=0.05):
        """Waits until the program is on the accessibility bus with a window shown."""

        def found():
            if self.process is not None and self.process.poll() is not None:
                raise Failure(f"{self.name} ended with status {self.process.returncode}")
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.get_child_count()):
                app = desktop.get_child_at_index(i)
                if app is None:
                    continue
                if self.process is None and app.get_name() != self.name:
                    continue
                if self.process is not None and app.get_process_id() != self.process.pid:
                    continue
                if app.get_name() != self.name:
                    raise Failure(f"the program calls itself {app.get_name()!r}, not {self.name!r}")
                for j in range(app.get_child_count()):
                    window = app.get_child_at_index(j)
                    if window.get_state_set().contains(Atspi.StateType.SHOWING):
                        return app
            return None

        self.root = wait_for(f"{self.name} shows a window", found, seconds, every)
        # Read every property afresh: a cached one may be older than the change waited for.
        self.root.set_cache_mask(Atspi.Cache.NONE)
        return self

    def controls(self, name=None, roles=None):
        """The accessibles named `name` (any when None) of one of `roles` (any when None). A
        combo box is named by the label for it ("Listen on:" names "Listen on"): on Linux Qt
        gives AT-SPI the current item as its name, and a screen reader reads the label."""
        found = []
        for node in _walk(self.root):
            role = _role(node)
            if roles is not None and role not in roles:
                continue
            if name is not None and node.get_name() != name:
                if role != "combo box" or name not in _labels(node):
                    continue
            found.append(node)
        return found

    def control(self, name, roles=None, seconds=10):
        """The one control named `name` (of one of `roles`), once it is there."""

        def one():
            matches = self.controls(name, roles)
            if len(matches) > 1:
                raise Failure(f"{len(matches)} controls are named {name!r}")
            return matches[0] if matches else None

        return wait_for(f"a control named {name!r} ({', '.join(roles or ['any role'])})", one,
                        seconds)

    # What a user does.

    def press(self, name, roles=("push button", "check box", "toggle button", "radio button")):
        """Activates the control as a click does ("Press" where offered, else its first
        action); waits until it is enabled first."""
        node = self.control(name, list(roles))
        wait_for(f"{name!r} is enabled",
                 lambda: node.get_state_set().contains(Atspi.StateType.ENABLED))
        action = node.get_action_iface()
        if action is None:
            raise Failure(f"{name!r} offers no action")
        names = [action.get_action_name(i) for i in range(action.get_n_actions())]
        index = names.index("Press") if "Press" in names else 0
        if not action.do_action(index):
            raise Failure(f"{name!r} refused the action {names[index]!r}")

    def set_text(self, name, text, enter=True):
        """Replaces the text of the editable field named `name`, then (`enter`) types Return
        in it, as a user ends an entry."""
        node = self.control(name, ["text", "entry", "spin button", "editbar"])
        editable = node.get_editable_text_iface()
        if editable is None:
            raise Failure(f"{name!r} is not editable")
        if not editable.set_text_contents(text):
            raise Failure(f"{name!r} refused the text {text!r}")
        wait_for(f"{name!r} holds {text!r}", lambda: _text(node) == text)
        if enter:
            self.key(0xFF0D, node)

    def set_value(self, name, number):
        """Sets the number of the spin box (or slider) named `name`."""
        node = self.control(name, ["spin button", "slider"])
        value = node.get_value_iface()
        if value is None or not value.set_current_value(number):
            raise Failure(f"{name!r} refused the value {number}")
        wait_for(f"{name!r} holds {number}", lambda: value.get_current_value() == number)

    def choose(self, name, item):
        """Makes the first item holding the words `item` the current one of the combo box named
        `name`, as a user does: its list opened, the arrow keys, Return."""
        node = self.control(name, ["combo box"])
        view = node.get_child_at_index(0)
        items = [view.get_child_at_index(i).get_name() for i in range(view.get_child_count())]
        wanted = [i for i, title in enumerate(items) if item in title]
        if not wanted:
            raise Failure(f"{name!r} offers no {item!r}, only {items}")
        steps = wanted[0] - items.index(node.get_name())
        self.press(name, ["combo box"])
        wait_for(f"the list of {name!r} opens",
                 lambda: view.get_state_set().contains(Atspi.StateType.SHOWING))
        # The open list holds the keyboard: the keys go to it wherever the focus was.
        for _ in range(abs(steps)):
            self.key(0xFF54 if steps > 0 else 0xFF52)  # Down, Up
        self.key(0xFF0D)  # Return
        shown = items[wanted[0]]
        wait_for(f"{name!r} shows {shown!r}", lambda: node.get_name() == shown)

    def activate(self, label="Status"):
        """Makes the program's window the active one, which the keyboard goes to, as a user
        does: a click on a label of it (with no window manager to do it on showing)."""
        window = self.root.get_child_at_index(0)
        if window.get_state_set().contains(Atspi.StateType.ACTIVE):
            return
        box = self.control(label, ["label"]).get_component_iface().get_extents(
            Atspi.CoordType.SCREEN)
        Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
        wait_for("the window is active",
                 lambda: window.get_state_set().contains(Atspi.StateType.ACTIVE))

    def key(self, keysym, control=None):
        """Types one key, by its X keysym (0xff0d: Return), into `control` (an accessible or the
        name of one), given the keyboard focus first, else wherever the keyboard goes."""
        if control is not None:
            node = self.control(control) if isinstance(control, str) else control
            self.activate()
            component = node.get_component_iface()
            if component is None or not component.grab_focus():
                raise Failure(f"{node.get_name()!r} cannot take the focus")
            wait_for(f"{node.get_name()!r} has the focus",
                     lambda: node.get_state_set().contains(Atspi.StateType.FOCUSED))
        if not Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM):
            raise Failure(f"the key {keysym:#x} could not be typed")

    # What a user reads.

    def text(self, name, roles=None):
        """The text of the control named `name`: the field's text, else its description."""
        return _text(self.control(name, roles))

    def wait_text(self, name, words, roles=None, seconds=20):
        """Waits until the text of the control named `name` holds every one of `words`;
        returns it."""
        def holds():
            text = self.text(name, roles)
            return text if all(word in text for word in words) else None

        return wait_for(f"{name!r} says {words}", holds, seconds,
                        seen=lambda: self.text(name, roles))

    def checked(self, name):
        node = self.control(name, ["check box", "toggle button", "radio button"])
        return node.get_state_set().contains(Atspi.StateType.CHECKED)

    def status(self):
        """The description of "Status", which the program keeps equal to the label's text."""
        return self.control("Status").get_description()

    def wait_status(self, prefix, seconds=20):
        return wait_for(f"the status begins with {prefix!r}",
                        lambda: (lambda s: s if s.startswith(prefix) else None)(self.status()),
                        seconds)

    def words(self, under=None, roles=("table", "tree", "tree table", "list")):
        """Every word the window shows under the control named `under` of one of `roles` (the
        whole program when None): names, descriptions and texts, one line each."""
        root = self.root if under is None else self.control(under, list(roles))
        return "\n".join(t for t in (_text_of(n) for n in _walk(root)) if t)

    def rows(self, name, roles=("table", "tree", "tree table")):
        """The cells of the table (or tree) named `name`, row by row, as their names."""
        table = self.control(name, list(roles)).get_table_iface()
        if table is None:
            raise Failure(f"{name!r} is no table")
        return [[table.get_accessible_at(row, column).get_name()
                 for column in range(table.get_n_columns())] for row in range(table.get_n_rows())]

    def tree(self):
        """The accessible tree, one line an accessible: role, name, description, text."""
        lines = []

        def visit(node, depth):
            text = ""
            iface = node.get_text_iface()
            if iface is not None:
                text = iface.get_text(0, min(iface.get_character_count(), 60))
            action = node.get_action_iface()
            actions = [action.get_action_name(i) for i in range(action.get_n_actions())
                       ] if action is not None else []
            lines.append(f"{'  ' * depth}{_role(node)} {node.get_name()!r}"
                         f" {node.get_description()!r} {text!r}"
                         f" {' '.join(node.get_interfaces())} {actions}")
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is not None:
                    visit(child, depth + 1)

        visit(self.root, 0)
        return "\n".join(lines)

    def picture(self, path, seconds=10):
        """Writes a PNG of the program's first window as the screen shows it, once two pictures
        taken one after the other agree (the window has drawn what it shows)."""
        window = self.root.get_child_at_index(0)
        box = window.get_component_iface().get_extents(Atspi.CoordType.SCREEN)
        crop = f"{box.width}x{box.height}+{box.x}+{box.y}"
        previous = None

        def steady():
            nonlocal previous
            shot = subprocess.run(["import", "-window", "root", "-crop", crop, "+repage",
                                   "ppm:-"], capture_output=True, check=True).stdout
            same, previous = shot == previous, shot
            return same

        wait_for(f"the window drawn steady for {path}", steady, seconds, every=0.2)
        # No time stamps: the same window makes the same file.
        subprocess.run(["convert", "ppm:-", "-strip", f"png:{path}"], input=previous, check=True)

    def quit_from_menu(self, item="Quit", seconds=10):
        """Chooses the menu item `item`, as a user quits; returns the program's exit status."""
        self.press(item, ["menu item"])
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            raise Failure(f"{self.name} still runs {seconds} s after {item!r}") from None

    def quit(self, seconds=10):
        """Ends the program: asked with SIGTERM, then killed; returns its exit status (None for
        a program someone else started, which is only asked)."""
        if self.process is None:
            if self.root is not None:
                pid = self.root.get_process_id()
                self.root = None  # asked once
                os.kill(pid, signal.SIGTERM)
                wait_for(f"{self.name} ends", lambda: not os.path.exists(f"/proc/{pid}"), seconds)
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(seconds)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()
        return self.process.returncode
