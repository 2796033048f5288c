#!/usr/bin/python3
# Prints the accessible objects of a process, one a line: its role name, a tab, its name.
import sys

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402


def walk(node, depth=0):
    if node is None or depth > 64:
        return
    try:
        print(f"{node.get_role_name()}\t{node.get_name()}", flush=True)
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return  # the widget went away while we looked
    for child in children:
        walk(child, depth + 1)


def main():
    pid = int(sys.argv[1])
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(i)
        if application is not None and application.get_process_id() == pid:
            walk(application)


main()
