#!/usr/bin/python3
# Prints, one a line, the labels of the buttons in the windows of a process whose accessible name
# begins with the given title: what a person reads on them, which X window names do not carry.
import sys

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402


def labels_under(node, in_button, found, depth=0):
    if depth > 64:
        return
    try:
        role = node.get_role()
        if in_button and role == Atspi.Role.LABEL:
            found.append(node.get_name())
        in_button = in_button or role == Atspi.Role.PUSH_BUTTON
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return  # the widget went away while we looked
    for child in children:
        if child is not None:
            labels_under(child, in_button, found, depth + 1)


def main():
    pid, title = int(sys.argv[1]), sys.argv[2]
    desktop = Atspi.get_desktop(0)
    found = []
    for i in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(i)
        if application is None or application.get_process_id() != pid:
            continue
        for j in range(application.get_child_count()):
            window = application.get_child_at_index(j)
            if window is not None and window.get_name().startswith(title):
                labels_under(window, False, found)
    for label in found:
        print(label)


main()
