#!/usr/bin/env python3
"""The main window as a screen reader sees it, through the accessibility bus.

Run inside an X server and a session bus of its own:
    xvfb-run -a dbus-run-session -- python3 a11y_bus_check.py BUILD/bin/vardex2
Exit status 0 when every control has its name, 1 when one is missing, 77 (skipped)
when the bus or pyatspi is not available here.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

SKIP = 77

# The names an operator's screen reader must say for the controls that have no text of
# their own (icon buttons, number fields, the list and the combo boxes).
BUTTON = {"push button", "toggle button"}
EXPECTED = [
    ("Добавить новую карту(ключ)", BUTTON),
    ("Редактировать карту(ключ)", BUTTON),
    ("Удалить карту(ключ)", BUTTON),
    ("Поиск карты(ключа) в базе", BUTTON),
    ("Время открывания замка", {"spin button"}),
    ("Повторное считывание карты (ключа)", {"spin button"}),
    # The vardex button says its value with its name.
    ("Вардекс: Отсутствует", BUTTON),
    ("Поиск", {"text", "entry"}),
    ("Панель инструментов", {"tool bar"}),
    ("База карт(ключей)", {"tree table", "table", "tree", "list"}),
    # A combo box says its current entry as its name; its label comes by relation.
    ("Формат отображения", {"combo box"}),
    ("Порт подключения", {"combo box"}),
]
# The port remembered by the program but not plugged in: the box marks it, and the mark is
# said too (as the combo box's description).
ABSENT_PORT = "/dev/ttyVX-absent"
ABSENT_MARK = "не подключён"
RUSSIAN = re.compile("[А-Яа-яЁё]")


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = sys.argv[1]
    if not os.environ.get("DISPLAY") or not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        skip("no X display or session bus (run under xvfb-run and dbus-run-session)")
    try:
        import pyatspi  # noqa: F401  (python3-pyatspi)
    except ImportError:
        skip("python3-pyatspi is not installed")
    import pyatspi

    home = tempfile.mkdtemp(prefix="vx_a11y_")
    os.makedirs(os.path.join(home, ".config", "Vardex2"))
    with open(os.path.join(home, ".config", "Vardex2", "Vardex2.conf"), "w") as conf:
        conf.write("[General]\nComPort=%s\n" % ABSENT_PORT)
    env = dict(os.environ)
    env.update({
        "QT_QPA_PLATFORM": "xcb",
        "QT_ACCESSIBILITY": "1",
        "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        "NO_AT_BRIDGE": "0",
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local/share"),
        "LANG": "C.UTF-8",
    })
    # The bus of the accessibility tools is started by its launcher on the session bus.
    launcher = None
    for path in ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"):
        if os.path.exists(path):
            launcher = subprocess.Popen([path, "--launch-immediately"], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            break
    if launcher is None:
        skip("at-spi-bus-launcher (at-spi2-core) is not installed")
    time.sleep(0.5)
    app = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
    try:
        window = None
        deadline = time.time() + 30
        while time.time() < deadline and window is None:
            if app.poll() is not None:
                print("the program ended: " + app.stderr.read().decode(errors="replace"))
                return 1
            try:
                desktop = pyatspi.Registry.getDesktop(0)
                for i in range(desktop.childCount):
                    a = desktop.getChildAtIndex(i)
                    if a is None:
                        continue
                    for j in range(a.childCount):
                        w = a.getChildAtIndex(j)
                        if w is not None and w.name.startswith("Vardex 2"):
                            window = w
            except Exception:  # the registry is still starting
                pass
            if window is None:
                time.sleep(0.5)
        if window is None:
            skip("the window did not appear on the accessibility bus")

        nodes = []  # (name, role, names of the labels it is labelled by, focusable, description)

        def walk(node, depth=0):
            if node is None or depth > 40:
                return
            try:
                name = node.name
                role = node.getRoleName()
                labels = []
                for relation in node.getRelationSet():
                    if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                        for t in range(relation.getNTargets()):
                            labels.append(relation.getTarget(t).name)
                states = node.getState()
                focusable = (states.contains(pyatspi.STATE_FOCUSABLE) and
                             states.contains(pyatspi.STATE_SHOWING))
                description = node.description
            except Exception:
                return
            nodes.append((name, role, labels, focusable, description))
            for k in range(node.childCount):
                walk(node.getChildAtIndex(k), depth + 1)

        walk(window)
        missing = []
        for name, roles in EXPECTED:
            hit = [n for n in nodes
                   if n[1] in roles and (n[0] == name or name in [l.rstrip(':') for l in n[2]])]
            if hit:
                print("named: %s (%s)" % (name, hit[0][1]))
            else:
                missing.append(name)
        # Every control that takes the focus is named in Russian, by itself or its label
        # (the entries of a list are data: a device path is said as it is).
        for n in nodes:
            if n[1] in ("list item", "table cell", "tree item"):
                continue
            if n[3] and not RUSSIAN.search(n[0] + " ".join(n[2])):
                missing.append("%s %r" % (n[1], n[0]))
        ports = [n for n in nodes if n[1] == "combo box" and n[0] == ABSENT_PORT]
        if not ports or ABSENT_MARK not in ports[0][4]:
            missing.append("the mark %r of the port %s" % (ABSENT_MARK, ABSENT_PORT))
        if missing:
            print("no accessible name: " + ", ".join(missing))
            for n in nodes:
                print("  seen: %r %s %r focusable=%s %r" % n)
            return 1
        return 0
    finally:
        app.terminate()
        try:
            app.wait(5)
        except subprocess.TimeoutExpired:
            app.kill()
        launcher.terminate()


if __name__ == "__main__":
    sys.exit(main())
