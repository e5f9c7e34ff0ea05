#!/usr/bin/env python3
"""Looks at every window of the program as a screen reader does.

Opens the main window and each dialog the way its button or menu item does
(through a11y_host) and reads them over the accessibility bus. Fails on
  - an interactive control without a name,
  - a text field that carries the name of a group around it instead of its own,
  - a button that takes no focus and names neither a menu path that exists
    ("Menü Bearbeiten › Kopieren") nor a key,
  - a Tab cycle that gets stuck, misses a field or visits the fields out of
    the order in which they stand on the screen.
Exits with 77 (skipped) when the accessibility bus cannot be reached.

Usage: walk.py PATH_TO_A11Y_HOST   (inside a D-Bus session and an X display)
"""
import os
import re
import shutil
import subprocess
import sys
import time

SKIP = 77


def skip(why):
    print(f"SKIP: {why}")
    sys.exit(SKIP)


try:
    import pyatspi
except ImportError:
    skip("python3-pyatspi is not installed")

R = pyatspi
FIELD_ROLES = {R.ROLE_TEXT, R.ROLE_ENTRY, R.ROLE_PASSWORD_TEXT, R.ROLE_COMBO_BOX,
               R.ROLE_SPIN_BUTTON}
INTERACTIVE_ROLES = FIELD_ROLES | {
    R.ROLE_PUSH_BUTTON, R.ROLE_TOGGLE_BUTTON, R.ROLE_CHECK_BOX, R.ROLE_RADIO_BUTTON,
    R.ROLE_SLIDER, R.ROLE_LIST, R.ROLE_LIST_BOX, R.ROLE_TABLE, R.ROLE_TREE,
    R.ROLE_TREE_TABLE, R.ROLE_PAGE_TAB, R.ROLE_CALENDAR, R.ROLE_DATE_EDITOR}
# Their children are cells, items and pop-up lists, named by their contents.
CONTAINERS = {R.ROLE_TABLE, R.ROLE_TREE, R.ROLE_TREE_TABLE, R.ROLE_LIST, R.ROLE_LIST_BOX,
              R.ROLE_COMBO_BOX, R.ROLE_MENU_BAR, R.ROLE_MENU, R.ROLE_SCROLL_BAR}
WINDOW_ROLES = {R.ROLE_FRAME, R.ROLE_DIALOG, R.ROLE_WINDOW, R.ROLE_ALERT, R.ROLE_FILE_CHOOSER,
                R.ROLE_COLOR_CHOOSER}
STUCK = 60  # Tabs on one control that make it a trap; the handbook's start page takes one per link
MENU_PATH = re.compile(r"Menü (.+?) › (.+?)(?: \(|;|$)")

# (how to open it, the main window's control or the dialog, what to call it)
WINDOWS = [
    ("trigger", "Suchen", "Suchen"),
    ("exec", "FormPersonAuswahl", "Person wählen"),
    ("trigger", "ButtonTabelle", "Tabellenansicht"),
    ("trigger", "UmschlagDrucken", "Umschlag drucken"),
    ("trigger", "ListeDrucken", "Liste drucken"),
    ("trigger", "ButtonSeePic", "Bild ansehen"),
    ("trigger", "ButtonSavePic", "Bild laden"),
    ("trigger", "ButtonGeburtstag", "Kalender"),
    ("trigger", "EingabefelderHintergrund", "Farben"),
    ("trigger", "Hilfethemen1", "Hilfe"),
    ("trigger", "Info1", "Info"),
    ("trigger", "Standardtabelle", "Standardtabelle"),
    ("trigger", "Bildgroesse", "Bildgröße"),
    ("trigger", "Exportieren", "Exportieren"),
    ("trigger", "Importieren", "Importieren"),
    ("trigger", "Geburtstage", "Geburtstage"),
    ("trigger", "DoppelteAdressen", "Doppelte Adressen"),
    ("trigger", "EtikettenDrucken", "Etiketten drucken"),
    ("trigger", "SerienbriefDrucken", "Serienbrief"),
    ("trigger", "Synchronisation", "Synchronisation"),
    ("trigger", "Konflikte", "Konflikte"),
]


class Host:
    def __init__(self, path):
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_ACCESSIBILITY="1", VELLUMO_SPLASH_MS="0")
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     env=env, text=True, bufsize=1)
        if self.proc.stdout.readline().strip() != "ready":
            raise SystemExit("the program did not start")

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if answer != "ok":
            raise SystemExit(f"{line}: {answer or 'no answer'}")

    def quit(self):
        try:
            self.send("quit")
            self.proc.wait(timeout=20)
        except Exception:
            self.proc.kill()


def states(acc):
    return acc.getState()


def has(acc, state):
    try:
        return states(acc).contains(state)
    except Exception:
        return False


def showing(acc):
    return has(acc, R.STATE_SHOWING)


def children(acc):
    try:
        return [c for c in acc if c is not None]
    except Exception:
        return []


def descendants(acc, path=(), into_containers=False):
    """(node, its ancestors) for every showing node below acc."""
    for child in children(acc):
        if not showing(child):
            continue
        yield child, path
        if into_containers or child.getRole() not in CONTAINERS:
            yield from descendants(child, path + (child,), into_containers)


def name_of(acc):
    """What a screen reader announces: the name; for a combo box, which Qt
    names by its value, the label it is labelled by."""
    if acc.getRole() == R.ROLE_COMBO_BOX:
        try:
            for relation in acc.getRelationSet():
                if relation.getRelationType() != R.RELATION_LABELLED_BY:
                    continue
                for i in range(relation.getNTargets()):
                    target = relation.getTarget(i)
                    if target.getRole() == R.ROLE_LABEL and target.name.strip():
                        return target.name.strip()
        except Exception:
            pass
    return acc.name.strip()


def position(acc):
    """Top left corner in the window: stays when the window manager moves the window."""
    e = acc.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    return e.x, e.y


def key(acc):
    """Identifies a control across fresh reads of the tree."""
    return (acc.getRole(), acc.name, position(acc))


def describe(acc):
    return f"{acc.getRoleName()} \"{name_of(acc)}\""


def wait_for(predicate, seconds=15.0, what="something"):
    end = time.time() + seconds
    while time.time() < end:
        result = predicate()
        if result:
            return result
        time.sleep(0.1)
    raise SystemExit(f"timed out waiting for {what}")


def find_app(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in children(desktop):
        try:
            if app.get_process_id() == pid:
                return app
        except Exception:
            pass
    return None


def windows_of(app):
    app.clear_cache()
    return [w for w in children(app) if showing(w) and w.getRole() in WINDOW_ROLES]


def menu_items(app):
    """Every menu path of the main window as (menu, item), ampersands dropped."""
    paths = set()

    def visit(acc, menu):
        for child in children(acc):
            role = child.getRole()
            name = child.name.replace("&", "")
            if role == R.ROLE_MENU:
                visit(child, name)
            elif role == R.ROLE_MENU_ITEM:
                paths.add((menu, name))
                visit(child, name)
            elif role in (R.ROLE_MENU_BAR, R.ROLE_POPUP_MENU, R.ROLE_FILLER, R.ROLE_PANEL):
                visit(child, menu)

    for window in windows_of(app):
        visit(window, None)
    return paths


def key_binding(acc):
    try:
        action = acc.queryAction()
        return any(action.getKeyBinding(i) for i in range(action.nActions))
    except NotImplementedError:
        return False


class Walk:
    def __init__(self, app):
        self.app = app
        self.checked = 0
        self.faults = []
        self.menus = menu_items(app)

    def fault(self, window, text):
        self.faults.append(f"{window}: {text}")

    def check_names(self, title, window):
        window.clear_cache()
        for acc, ancestors in descendants(window):
            role = acc.getRole()
            if role not in INTERACTIVE_ROLES and not has(acc, R.STATE_FOCUSABLE):
                continue
            if role in WINDOW_ROLES:
                continue
            self.checked += 1
            name = name_of(acc)
            if not name:
                self.fault(title, f"{acc.getRoleName()} without a name at {position(acc)}")
                continue
            if role in FIELD_ROLES and any(a.name == name for a in ancestors if a.name):
                self.fault(title, f"{describe(acc)} at {position(acc)} is named after the group "
                           "around it")
            if role == R.ROLE_PUSH_BUTTON and not has(acc, R.STATE_FOCUSABLE):
                match = MENU_PATH.search(acc.description or "")
                if match and (match.group(1), match.group(2)) in self.menus:
                    continue
                if not key_binding(acc):
                    self.fault(title, f"{describe(acc)} takes no focus and has no menu path")

    def focused(self, window):
        window.clear_cache()
        # A grid, a list or a combo box has the focus itself while one of its
        # cells or its line shows it; a cell alone may still say so after the
        # focus has gone.
        for acc, _ in descendants(window):
            if has(acc, R.STATE_FOCUSED) and acc.getRole() not in WINDOW_ROLES:
                return acc
        return None

    def check_tab_cycle(self, title, window):
        window.clear_cache()
        nodes = list(descendants(window))
        fields = [(acc, anc) for acc, anc in nodes
                  if acc.getRole() in FIELD_ROLES and has(acc, R.STATE_FOCUSABLE)
                  and has(acc, R.STATE_ENABLED)]
        stops = sum(1 for acc, _ in nodes if has(acc, R.STATE_FOCUSABLE))
        if not stops:
            return 0
        visual = [key(acc) for acc, _ in sorted(fields, key=lambda f: visual_key(*f))]
        columns = [key(acc) for acc, _ in sorted(fields, key=lambda f: visual_key(*f, True))]
        # Round from wherever the focus is, back to it.
        start = self.focused(window)
        if start is None:
            self.press_tab()
            start = wait_for(lambda: self.focused(window), 5, f"the focus in {title}")
        seen, previous, same = [key(start)], key(start), 0
        # A text with links takes a Tab per link before it lets the focus go.
        for _ in range(stops + STUCK * 2):
            self.press_tab()
            now = wait_for(lambda: self.focused(window), 5, "a control with the focus")
            current = key(now)
            if current == seen[0] and (len(seen) > 1 or stops == 1):
                break
            same = same + 1 if current == previous else 0
            if same >= STUCK:
                self.fault(title, f"Tab does not leave {describe(now)}")
                return len(seen)
            previous = current
            if current not in seen:
                seen.append(current)
        else:
            self.fault(title, f"Tab never comes back to {seen[0][1]!r}")
            return len(seen)
        if not visual:
            return len(seen)
        order = [k for k in seen if k in visual]
        missing = [k[1] for k in visual if k not in order]
        if missing:
            self.fault(title, f"Tab misses {', '.join(missing)}")
            return len(seen)
        # A cycle: compared from where the screen starts.
        if rotated(order, visual[0]) != visual and rotated(order, columns[0]) != columns:
            self.fault(title, "Tab visits the fields as " + ", ".join(k[1] for k in order) +
                       "; on the screen they stand as " + ", ".join(k[1] for k in visual))
        return len(seen)

    @staticmethod
    def press_tab():
        pyatspi.Registry.generateKeyboardEvent(0xFF09, None, pyatspi.KEY_SYM)
        time.sleep(0.05)


def rotated(cycle, start):
    i = cycle.index(start)
    return cycle[i:] + cycle[:i]


def visual_key(acc, ancestors, by_columns=False):
    """Groups in columns (left column top to bottom, then the next column),
    inside a group or a window by rows, each row from left to right (or by
    columns, each from top to bottom, for a form laid out in columns)."""
    groups = [a for a in ancestors if a.getRole() in (R.ROLE_PANEL, R.ROLE_GROUPING) and a.name]
    gx, gy = position(groups[-1]) if groups else (0, 0)
    x, y = position(acc)
    return (gx, gy, x, y) if by_columns else (gx, gy, round(y / 8), x)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    try:
        pyatspi.Registry.getDesktop(0).childCount
    except Exception as error:
        skip(f"the accessibility bus cannot be reached ({error})")

    # A window manager gives the keyboard to the window in front, as on a desktop.
    manager = None
    if shutil.which("openbox"):
        manager = subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        time.sleep(1)
    host = Host(sys.argv[1])
    try:
        try:
            app = wait_for(lambda: find_app(host.proc.pid), 20, "the program on the bus")
        except SystemExit:
            skip("the program does not appear on the accessibility bus")
        main_window = wait_for(lambda: windows_of(app), what="the main window")[0]
        walk = Walk(app)
        report = []

        def look(title, window):
            print(f"-- {title}", flush=True)
            before = walk.checked
            walk.check_names(title, window)
            stops = walk.check_tab_cycle(title, window)
            report.append(f"{title}: {walk.checked - before} controls, {stops} tab stops")

        look("Hauptfenster", main_window)
        for how, name, title in WINDOWS:
            known = {key(w) for w in windows_of(app)}
            host.send(f"{how} {name}")
            window = wait_for(lambda: [w for w in windows_of(app) if key(w) not in known],
                              what=title)[0]
            time.sleep(0.3)
            look(title, window)
            host.send("close")
            wait_for(lambda: not [w for w in windows_of(app) if key(w) not in known],
                     what=f"{title} to close")
    finally:
        host.quit()
        if manager:
            manager.terminate()

    print("\n".join(report))
    print(f"{walk.checked} controls checked in {len(report)} windows, "
          f"{len(walk.faults)} faults")
    for fault in walk.faults:
        print("FAULT " + fault)
    sys.exit(1 if walk.faults else 0)


if __name__ == "__main__":
    main()
