#!/usr/bin/python3
"""A screen-reader user's visit to the lobby, played through AT-SPI alone.

Starts the real lobby server and the real client, and a second user, Tamsin, who speaks the
wire protocol over a socket and hosts a 3-player hut with a password. Then, reading and acting
only through the accessibility bus: logs in as Wren, reads both trees (text, level, open and
selected state of every row), sends a chat line, hosts a hut of each size and leaves it, and
joins Tamsin's hut by pressing one of its empty places and answering the password dialog.

    screen_reader.py CLIENT SERVER PORT

The client must reach the server at localhost:PORT. Run it under an X server and a D-Bus
session (tests/atspi/run.sh sets them up). Every wait has a deadline; exit 0 on success.
"""
import os
import socket
import subprocess
import sys
import threading
import time

import pyatspi

SEP, END = b'\xa4', b'\x06'
DEADLINE = 10.0


class Failure(Exception):
    pass


def wait_for(what, condition, deadline=DEADLINE, seen=None):
    """Polls until condition() gives something true; returns it, or fails naming `what` and
    what seen() shows then."""
    end = time.monotonic() + deadline
    last = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Failure:
            raise
        except Exception as error:  # objects come and go while the client works
            last = error
        if time.monotonic() > end:
            raise Failure(f'timed out waiting for {what}' + (f' ({last})' if last else '') +
                          (f'; seen: {safely(seen)}' if seen else ''))
        time.sleep(0.05)


def safely(read):
    try:
        return read()
    except Exception as error:
        return error


# --- the other user, over a socket ----------------------------------------------------------

class WirePeer:
    """A lobby user without windows: logs in, hosts, and keeps every message it receives."""

    def __init__(self, port, name):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=DEADLINE)
        self.messages = []
        self.lock = threading.Lock()
        self.buffer = b''
        self.send(b'VERSION', b'1')
        self.expect(lambda m: m == b'VERSION' + SEP + b'GOOD')
        self.send(b'LOGIN', name.encode('cp1252'), b'127.0.0.1')
        login = self.expect(lambda m: m.startswith(b'LOGIN' + SEP))
        self.index = int(login.split(SEP)[1])
        self.send(b'GETUSERLIST')
        self.expect(lambda m: m == b'ENDUSERS')
        self.sock.settimeout(0.2)
        self.reader = threading.Thread(target=self.read_on, daemon=True)
        self.reader.start()

    def send(self, *fields):
        self.sock.sendall(SEP.join(fields) + END)

    def read_one(self):
        while END not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Failure('the server closed the peer')
            self.buffer += chunk
        message, self.buffer = self.buffer.split(END, 1)
        return message

    def expect(self, matches):
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            message = self.read_one()
            if matches(message):
                return message
        raise Failure('the peer missed an answer')

    def read_on(self):
        while True:
            try:
                message = self.read_one()
            except socket.timeout:
                continue
            except (OSError, Failure):
                return
            if message == b'PING':
                self.send(b'PINGREPLY')
            with self.lock:
                self.messages.append(message)

    def received(self, matches):
        with self.lock:
            return any(matches(m) for m in self.messages)


# --- reading the client through AT-SPI ------------------------------------------------------

def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def states(node):
    return {pyatspi.stateToString(s) for s in node.getState().getStates()}


def find(root, role, name=None, showing=True):
    for node in walk(root):
        if node.getRoleName() == role and (name is None or node.name == name) and \
                (not showing or 'showing' in states(node)):
            return node
    return None


def press(node):
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if 'Press' not in names:
        raise Failure(f'{node.getRoleName()} "{node.name}" has no Press action: {names}')
    action.doAction(names.index('Press'))


def rows(tree):
    """Each row as (text, level, open, selected); open is None for a row without children."""
    result = []
    for row in tree:
        if row is None or row.getRoleName() != 'table cell':
            continue
        s = states(row)
        description = row.description
        if not description.startswith('level '):
            # A row read just as the tree changes is gone: read again.
            raise ValueError(f'row "{row.name}" tells no level: "{description}"')
        level = int(description.split()[1].rstrip(','))
        opened = ('expanded' in s) if 'expandable' in s else None
        result.append((row.name, level, opened, 'selected' in s))
    return result


def row_named(tree, text, under=None):
    """The row with that text, optionally below the top-level row `under`."""
    parent = None
    for row in tree:
        if row is None or row.getRoleName() != 'table cell':
            continue
        if row.description == 'level 1':
            parent = row.name
        if row.name == text and (under is None or parent == under):
            return row
    return None


def hut_of(tree, host):
    """The rows of the host's hut, the hut line first, or an empty list."""
    found, inside = [], False
    for text, level, opened, selected in rows(tree):
        if level == 1:
            inside = text == host
        if inside:
            found.append((text, level))
    return found


def main():
    client, server, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    children = []
    try:
        lobby = subprocess.Popen([server, '--port', str(port), '--bind', '127.0.0.1',
                                  '--ping-interval', '0', '--chat-rate', '0',
                                  '--shutdown-notice', '0'],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        children.append(lobby)
        wait_for('the lobby server', lambda: 'listening on port' in lobby.stdout.readline())

        tamsin = WirePeer(port, 'Tamsin')
        tamsin.send(b'BEHOST', b'3', b'Secret')

        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', QT_ACCESSIBILITY='1')
        env.pop('QT_QPA_PLATFORM', None)
        children.append(subprocess.Popen([client], env=env))

        def application():
            if children[-1].poll() is not None:
                raise Failure('the client ended before it reached the accessibility bus')
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.name == 'Stonecall':
                    return app
        app = wait_for('the client on the accessibility bus', application)

        # Log in.
        login = wait_for('the login frame', lambda: find(app, 'frame', 'Login'))
        name = wait_for('the user-name box', lambda: find(login, 'text', 'Username'))
        name.queryEditableText().setTextContents('Wren')
        press(find(login, 'push button', 'Login'))
        window = wait_for('the lobby frame',
                          lambda: next((w for w in app if w is not None and w.getRoleName() ==
                                        'frame' and w.name.endswith('- Fernhollow') and
                                        'showing' in states(w)), None))
        wait_for('the login frame to go', lambda: not find(app, 'frame', 'Login'))
        print('logged in:', window.name)

        # Read both trees.
        users = find(window, 'tree', 'Users')
        huts = find(window, 'tree', 'Huts')
        if users is None or huts is None:
            raise Failure('the trees are not there')
        want_users = [('Waiting: 2', 1, True, False), ('Tamsin', 2, None, False),
                      ('Wren', 2, None, False), ('Playing: 0', 1, None, False)]
        wait_for(f'the user tree {want_users}', lambda: rows(users) == want_users,
                 seen=lambda: rows(users))
        want_huts = [('Tamsin', 1, True, False), ('Empty', 2, None, False),
                     ('Empty', 2, None, False)]
        wait_for(f'the hut tree {want_huts}', lambda: rows(huts) == want_huts,
                 seen=lambda: rows(huts))
        selection = huts.queryTable()
        print('users:', want_users)
        print('huts:', want_huts)

        # Selection through the tree: the first place is selected, and the row says so.
        if not selection.addRowSelection(1):
            raise Failure('the hut tree refused to select a row')
        wait_for('the selected place', lambda: rows(huts)[1][3] and
                 list(selection.getSelectedRows()) == [1])

        # A chat line: focus the input box, type, Enter.
        out = find(window, 'text', 'Chat message')
        out.queryEditableText().setTextContents('hello from Wren')
        window.queryComponent().grabFocus()
        wait_for('the lobby window to take the keyboard', lambda: 'active' in states(window))
        out.queryComponent().grabFocus()
        wait_for('the focus in the chat input', lambda: 'focused' in states(out))
        pyatspi.Registry.generateKeyboardEvent(0xff0d, None, pyatspi.KEY_SYM)  # Return
        chat = find(window, 'text', 'Chat')
        wait_for('the chat line in the log',
                 lambda: 'hello from Wren' in chat.queryText().getText(0, -1))
        print('chat line shown')

        # Host a hut of each size and leave it.
        for players in (2, 3, 4):
            press(wait_for('the create button', lambda: find(window, 'push button',
                                                             'Create hut')))
            label = wait_for(f'the "{players} Players" button',
                             lambda: find(window, 'push button', f'{players} Players'))
            press(label)
            want = [('Wren', 1)] + [('Empty', 2)] * (players - 1)
            wait_for(f'a hut for {players}', lambda: hut_of(huts, 'Wren') == want)
            press(wait_for('the exit button', lambda: find(window, 'push button',
                                                           'Exit hut')))
            wait_for('the hut to go', lambda: hut_of(huts, 'Wren') == [])
            print(f'hosted and left a hut for {players}')

        # Join Tamsin's hut: press an empty place, answer the password dialog.
        place = wait_for("an empty place in Tamsin's hut",
                         lambda: row_named(huts, 'Empty', under='Tamsin'))
        press(place)
        dialog = wait_for('the password dialog',
                          lambda: find(app, 'dialog', 'Join Hut: Password Needed'))
        field = wait_for('the password field', lambda: find(dialog, 'text'))
        field.queryEditableText().setTextContents('SECRET')
        press(find(dialog, 'push button', 'OK'))
        wait_for('Wren in Tamsin\'s hut',
                 lambda: hut_of(huts, 'Tamsin') ==
                 [('Tamsin', 1), ('Wren', 2), ('Empty', 2)])
        wait_for('the server to tell Tamsin', lambda: tamsin.received(
            lambda m: m.startswith(b'USERSTATE') and b'CLIENT' in m))
        print("joined Tamsin's hut")
        print('1 passed, 0 failed')
        return 0
    except Failure as failure:
        print('FAILED:', failure)
        print('0 passed, 1 failed')
        return 1
    finally:
        for child in reversed(children):
            child.terminate()
        for child in reversed(children):
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()


if __name__ == '__main__':
    sys.exit(main())
