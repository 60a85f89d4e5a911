#!/usr/bin/env python3
"""A hostile lobby server for the hardening check (scripts/hostile.sh).

Listens on a free loopback port, prints "hostile server listening on port N", and takes one
client connection per attack, in order:

  1. unended: 100 MB that never hold a message end. The client must drop the connection.
  2. users:   the log-in answers, then a million USER messages with random indexes up to
              32767 (32767 among them) and random names, some "NONE".
  3. states:  the log-in answers, then a USERSTATE for every index 0 to 32767 with random
              state words and random arguments (numbers in and out of range, text, none).
  4. random:  the log-in answers, then random bytes.
  5. long prefix: a MSG whose prefix is 1,000,000 characters without a blank.
  6. long public line: a PUBMSG of 1,000,000 characters without a blank.
  7. long decoded line: a MSG whose text decodes to 500,000 characters.
  8. long name: a USER with a 1 MB name, then that user hosting a hut.
  9. long lines: 1 MB of PUBMSG lines that each just fit the chat log by themselves.
 10. unread: the log-in answers, then PING after PING while the server reads nothing more;
              the client must close the connection once its unsent replies pass its cap.
 11. big users: 1,000 USER messages for the numbers 1 to 1000, each with a 500 KB name and a
              500 KB further text, then the same numbers with short names again.
 12. big states: 600 USERSTATE messages for the numbers 1 to 600, each with a 900 KB state
              word, then the same numbers back to "IDLE".

Every message of attacks 11 and 12 fits the client's 1 MiB message cap, so only the bound on
what the client stores holds their memory down. After attacks 2 to 9, 11 and 12 it sends PING and waits for the PINGREPLY, which the client can only
send once it has handled everything before it, then ends the connection. Each of attacks 5 to
9 is at most 1 MiB, so the client takes it in one arrival. Prints the figures
of each attack and exits 1 when the client misbehaves (keeps taking the endless message, or
does not answer the PING in time).

    python3 tests/soak/hostile_server.py [--random-mib 32] [--seed 1]
"""
import argparse
import random
import socket
import sys
import threading
import time

SEP, END = b'\xa4', b'\x06'
UNENDED_BYTES = 100 * 1000 * 1000
USER_MESSAGES = 1000 * 1000
MAX_INDEX = 32767
PING_TIMEOUT = 60.0


def msg(*fields):
    return SEP.join(fields) + END


class Peer:
    """One accepted client; a thread reads what it sends, message by message."""

    def __init__(self, conn):
        self.conn, self.messages, self.cond = conn, [], threading.Condition()
        self.closed = False
        self.deaf = threading.Event()  # set: nothing more is read
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        buf = b''
        while True:
            if self.deaf.is_set():
                return
            try:
                chunk = self.conn.recv(1 << 16)
            except OSError:
                chunk = b''
            with self.cond:
                if not chunk:
                    self.closed = True
                    self.cond.notify_all()
                    return
                buf += chunk
                *done, buf = buf.split(END)
                self.messages.extend(done)
                self.cond.notify_all()

    def wait_for(self, keyword, timeout):
        """Waits until a message starting with keyword has come; True when it has."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for n, message in enumerate(self.messages):
                    if message.split(SEP)[0] == keyword:
                        del self.messages[:n + 1]
                        return True
                remaining = deadline - time.monotonic()
                if self.closed or remaining <= 0:
                    return False
                self.cond.wait(remaining)

    def send(self, data):
        """Sends all of data; the number of bytes that went out before the client gave up."""
        view, sent = memoryview(data), 0
        try:
            while sent < len(view):
                sent += self.conn.send(view[sent:sent + (1 << 20)])
        except OSError:
            pass
        return sent

    def close(self):
        try:
            self.conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.conn.close()


def log_in(peer):
    if not peer.wait_for(b'VERSION', PING_TIMEOUT):
        raise RuntimeError('no VERSION from the client')
    peer.send(msg(b'VERSION', b'GOOD'))
    if not peer.wait_for(b'LOGIN', PING_TIMEOUT):
        raise RuntimeError('no LOGIN from the client')
    peer.send(msg(b'LOGIN', b'1'))


def send_until_refused(peer, block, limit):
    """Sends `block` over and over, `limit` bytes in all, until the client stops taking it;
    returns the bytes sent and the seconds it took."""
    sent, begin = 0, time.monotonic()
    while sent < limit:
        chunk = block[:limit - sent]
        part = peer.send(chunk)
        sent += part
        if part < len(chunk):
            break
    return sent, time.monotonic() - begin


def unended(peer, rng):
    block = bytearray(rng.randbytes(1 << 20))
    for i, byte in enumerate(block):
        if byte == 6:
            block[i] = 7
    block = bytes(block)
    peer.wait_for(b'VERSION', PING_TIMEOUT)
    sent, seconds = send_until_refused(peer, block, UNENDED_BYTES)
    dropped = sent < UNENDED_BYTES
    print(f'attack 1 (unended): {sent / 1e6:.1f} MB went out in {seconds:.2f} s before the client '
          f'{"dropped the connection" if dropped else "had taken all 100 MB"}', flush=True)
    return dropped


def users(rng):
    alphabet = b'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_ \xe9\xfc\xa0!'
    names = [b'NONE'] * 64 + [bytes(rng.choices(alphabet, k=rng.randint(1, 16)))
                              for _ in range(4096)]
    parts = [msg(b'USER', b'%d' % MAX_INDEX, b'Last', b'')]
    for _ in range(USER_MESSAGES - 1):
        parts.append(b'USER\xa4%d\xa4%s\xa4\x06' % (rng.randint(0, MAX_INDEX), rng.choice(names)))
    parts.append(msg(b'ENDUSERS'))
    return b''.join(parts)


def states(rng):
    words = [b'HOST', b'CLIENT', b'GAMING', b'IDLE', b'', b'host', b'NONE', b'HOSTX']

    def argument():
        kind = rng.randint(0, 7)
        if kind < 3:
            return b'%d' % rng.randint(-1, MAX_INDEX + 1)
        if kind == 3:
            return b'%d' % rng.randint(-(1 << 40), 1 << 40)
        if kind == 4:
            return rng.choice([b'NONE', b'', b'1e308', b'-0.5', b'2.5', b' 7 ', b'x'])
        return bytes(rng.choices(b'0123456789-.e +abc', k=rng.randint(0, 12)))

    parts = []
    for index in range(MAX_INDEX + 1):
        word = rng.choice(words) if rng.random() < 0.9 else bytes(rng.randbytes(rng.randint(1, 8)))
        word = word.replace(END, b'').replace(SEP, b'')
        fields = [b'USERSTATE', b'%d' % index, word]
        fields += [argument() for _ in range(rng.randint(0, 3))]
        parts.append(msg(*fields))
    return b''.join(parts)


def flood(peer, name, number, payload):
    """Logs the client in, sends payload, and waits for the PING behind it to be answered."""
    log_in(peer)
    begin = time.monotonic()
    sent = peer.send(payload + END + msg(b'PING'))
    answered = peer.wait_for(b'PINGREPLY', PING_TIMEOUT)
    seconds = time.monotonic() - begin
    print(f'attack {number} ({name}): {sent / 1e6:.1f} MB, handled and answered in {seconds:.2f} s'
          if answered else f'attack {number} ({name}): no PINGREPLY within {PING_TIMEOUT:.0f} s '
          f'({sent / 1e6:.1f} MB went out)', flush=True)
    return answered


LONG = 1000 * 1000
UNREAD_BYTES = 300 * 1000 * 1000


def long_lines(rng):
    def hex_text(n):
        return bytes(rng.choices(b'0123456789ABCDEF', k=n))
    return [
        ('long prefix', msg(b'MSG', b'p' * LONG, b'6869')),
        ('long public line', msg(b'PUBMSG', b'q' * (LONG // 2), b'r' * (LONG // 2))),
        ('long decoded line', msg(b'MSG', b'Ann: ', hex_text(LONG))),
        ('long name', msg(b'USER', b'5', b'n' * LONG, b'') +
         msg(b'USERSTATE', b'5', b'HOST', b'4', b'NONE')),
        ('long lines', msg(b'PUBMSG', b's' * 14998, b'') * (LONG // 15008)),
    ]


def unread(peer):
    """Logs the client in, stops reading and sends PINGs; the client must let go first."""
    log_in(peer)
    peer.deaf.set()
    block = msg(b'PING') * (1 << 18)
    sent, seconds = send_until_refused(peer, block, UNREAD_BYTES)
    dropped = sent < UNREAD_BYTES
    print(f'attack 10 (unread): {sent / 1e6:.1f} MB of PING went out in {seconds:.2f} s before the '
          f'client {"dropped the connection" if dropped else "had taken all of it"}', flush=True)
    return dropped


BIG_USERS, BIG_STATES = 1000, 600


def big_fields(peer, number, name, big, short):
    """Logs the client in, streams the messages of big(i), then of short(i), for i from 1 to
    the count, and waits for the PING behind them to be answered."""
    log_in(peer)
    count = BIG_USERS if number == 11 else BIG_STATES
    begin, sent = time.monotonic(), 0
    for i in range(1, count + 1):
        sent += peer.send(big(i))
    sent += peer.send(b''.join(short(i) for i in range(1, count + 1)) + msg(b'PING'))
    answered = peer.wait_for(b'PINGREPLY', PING_TIMEOUT)
    seconds = time.monotonic() - begin
    print(f'attack {number} ({name}): {sent / 1e6:.1f} MB, handled and answered in {seconds:.2f} s'
          if answered else f'attack {number} ({name}): no PINGREPLY within {PING_TIMEOUT:.0f} s '
          f'({sent / 1e6:.1f} MB went out)', flush=True)
    return answered


def big_users(peer):
    name, extra = b'N' * 500000, b'E' * 500000
    return big_fields(peer, 11, 'big users',
                      lambda i: msg(b'USER', b'%d' % i, name, extra),
                      lambda i: msg(b'USER', b'%d' % i, b'u%d' % i, b''))


def big_states(peer):
    word = b'S' * 900000
    return big_fields(peer, 12, 'big states',
                      lambda i: msg(b'USERSTATE', b'%d' % i, word),
                      lambda i: msg(b'USERSTATE', b'%d' % i, b'IDLE'))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--random-mib', type=int, default=32)
    parser.add_argument('--seed', type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)

    payloads = [('users', users(rng)), ('states', states(rng)),
                ('random', rng.randbytes(args.random_mib << 20))] + long_lines(rng)

    listener = socket.socket()
    listener.bind(('127.0.0.1', 0))
    listener.listen(4)
    print(f'hostile server listening on port {listener.getsockname()[1]}', flush=True)
    ok = True
    for number in range(1, 13):
        listener.settimeout(PING_TIMEOUT)
        conn, _ = listener.accept()
        peer = Peer(conn)
        try:
            if number == 1:
                ok &= unended(peer, rng)
            elif number == 10:
                ok &= unread(peer)
            elif number == 11:
                ok &= big_users(peer)
            elif number == 12:
                ok &= big_states(peer)
            else:
                name, payload = payloads[number - 2]
                ok &= flood(peer, name, number, payload)
        except (RuntimeError, OSError) as error:
            print(f'attack {number}: {error}', flush=True)
            ok = False
        peer.close()
    listener.close()
    sys.exit(0 if ok else 1)


if __name__ == '__main__':
    main()
