#!/usr/bin/python3
# Prints, one a line, the texts of labels in the windows of a process, as the accessibility bus
# reports them: what a person reads, which X window names do not carry.
#   labels.py dialogs PID         the labels of its dialogs (message, buttons, check boxes). Only
#                                 dialogs are looked into: a web page behind them may be waiting
#                                 on the dialog and cannot answer.
#   labels.py buttons PID TITLE   the labels of the buttons in its windows whose accessible name
#                                 begins with TITLE.
#   labels.py children PID NAME   the names of what the objects named NAME in its windows hold (a
#                                 widget's children: what is docked in a web view).
#   labels.py window PID          the labels of its windows besides dialogs, those of its web pages
#                                 left out (a page may be busy and cannot answer).
#   labels.py answers PID         the labels of the buttons of its dialogs shown now that can be
#                                 pressed (a dialog holds its answer back for a moment as it comes
#                                 up).
import sys

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402

DIALOGS = (Atspi.Role.DIALOG, Atspi.Role.ALERT, Atspi.Role.FILE_CHOOSER)


def labels_under(node, found, buttons_only, in_button=False, depth=0, skip=None):
    if depth > 64:
        return
    try:
        if skip is not None and node.get_name() == skip:
            return
        role = node.get_role()
        if role == Atspi.Role.LABEL and (in_button or not buttons_only):
            found.append(node.get_name())
        in_button = in_button or role == Atspi.Role.PUSH_BUTTON
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return  # the widget went away while we looked
    for child in children:
        if child is not None:
            labels_under(child, found, buttons_only, in_button, depth + 1, skip)


def children_of_named(node, name, found, depth=0):
    if depth > 64:
        return
    try:
        named = node.get_name() == name
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return
    for child in children:
        if child is None:
            continue
        if named:
            try:
                found.append(child.get_name())
            except gi.repository.GLib.Error:
                continue
        children_of_named(child, name, found, depth + 1)


def sensitive_buttons(node, found, depth=0):
    if depth > 64:
        return
    try:
        if node.get_role() == Atspi.Role.PUSH_BUTTON:
            if node.get_state_set().contains(Atspi.StateType.SENSITIVE):
                labels_under(node, found, buttons_only=True, in_button=True, depth=depth)
            return
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return
    for child in children:
        if child is not None:
            sensitive_buttons(child, found, depth + 1)


def shown(window):
    try:
        return window.get_state_set().contains(Atspi.StateType.VISIBLE)
    except gi.repository.GLib.Error:
        return False


def windows_of(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(i)
        if application is None or application.get_process_id() != pid:
            continue
        for j in range(application.get_child_count()):
            window = application.get_child_at_index(j)
            if window is not None:
                yield window


def main():
    mode, pid = sys.argv[1], int(sys.argv[2])
    if mode not in ('dialogs', 'buttons', 'children', 'window', 'answers'):
        sys.exit(f'unknown mode {mode}: dialogs PID, buttons PID TITLE, children PID NAME, window PID, or answers PID')
    found = []
    for window in windows_of(pid):
        if mode == 'children':
            children_of_named(window, sys.argv[3], found)
        elif mode == 'dialogs' and window.get_role() in DIALOGS:
            labels_under(window, found, buttons_only=False)
        elif mode == 'window' and window.get_role() not in DIALOGS:
            labels_under(window, found, buttons_only=False, skip='WebKitWebView')
        elif mode == 'answers' and window.get_role() in DIALOGS and shown(window):
            sensitive_buttons(window, found)
        elif mode == 'buttons' and window.get_name().startswith(sys.argv[3]):
            labels_under(window, found, buttons_only=True)
    for label in found:
        print(label.replace('\n', ' '))


main()
