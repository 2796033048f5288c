#!/usr/bin/python3
# Prints, one a line, the texts of the labels in the dialog windows of a process (its message, its
# buttons, its check boxes), as the accessibility bus reports them. Only dialogs are looked into:
# a web page behind them may be waiting on the dialog and cannot answer.
import sys

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402

DIALOGS = (Atspi.Role.DIALOG, Atspi.Role.ALERT, Atspi.Role.FILE_CHOOSER)


def labels_under(node, found, depth=0):
    if depth > 64:
        return
    try:
        if node.get_role() == Atspi.Role.LABEL:
            found.append(node.get_name())
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return  # the widget went away while we looked
    for child in children:
        if child is not None:
            labels_under(child, found, depth + 1)


def main():
    pid = int(sys.argv[1])
    desktop = Atspi.get_desktop(0)
    found = []
    for i in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(i)
        if application is None or application.get_process_id() != pid:
            continue
        for j in range(application.get_child_count()):
            window = application.get_child_at_index(j)
            if window is not None and window.get_role() in DIALOGS:
                labels_under(window, found)
    for label in found:
        print(label.replace('\n', ' '))


main()
