#!/usr/bin/env python3
"""Soak load for stonecall-lobbyd over loopback.

Starts the given server on a free port and runs ROUNDS rounds; in each, USERS clients log in
together, fetch the user list and the message of the day, chat, host huts (every third
client) and join them (the others), give the huts up again and leave, half of them with
LOGOUT and half by dropping the connection. Pings and challenges are answered as a client
would. The server's memory (its SIGUSR1 status line: resident set and C heap in use) and its open
files are read after the first round (warm-up) and after the last, each time once closing connections have
had their grace time, then an observer checks that the lobby is empty again, and the server is stopped with
SIGTERM so that a leak checker in it can report.

    python3 server/tools/soakload.py build/stonecall-lobbyd 500 5

Prints one line "RESULT key=value ..." for scripts/soak.sh; exits 1 when a step fails.
"""
import asyncio
import collections
import os
import queue
import re
import signal
import subprocess
import sys
import threading
import time

SEP, END = b'\xa4', b'\x06'
VERIFY_CONSTANT = 21179
STEP_TIMEOUT = 120.0
# A connection the server closes after LOGOUT may linger this long (its grace for the last
# bytes); memory is read once they are gone.
SETTLE = 6.0


def verify_response(challenge):
    """The client's answer to a VERIFY challenge (16-bit sum, 32-bit product)."""
    return 2 * challenge * ((challenge + VERIFY_CONSTANT) + challenge)


def msg(*fields):
    return SEP.join(fields) + END


def encode(text):
    return b''.join(b'%02X' % ((c + 73) % 256) for c in text)


class ServerLog:
    """Reads the server's log on the side; status() asks the server for its figures."""

    def __init__(self, server):
        self.server, self.lines = server, queue.Queue()
        self.tail = collections.deque(maxlen=400)  # shown when the server fails
        self.thread = threading.Thread(target=self.pump, daemon=True)
        self.thread.start()

    def pump(self):
        for line in self.server.stderr:
            if b'status: ' in line:  # after the time and level, outside the journal
                self.lines.put(line.decode())
            else:
                self.tail.append(line.decode(errors='replace'))

    def status(self):
        self.server.send_signal(signal.SIGUSR1)
        line = self.lines.get(timeout=STEP_TIMEOUT)
        heap, taken, resident = map(int, re.search(
            r'heap in use (\d+) KiB of (\d+) KiB taken, resident (\d+) KiB', line).groups())
        fds = len(os.listdir(f'/proc/{self.server.pid}/fd'))
        return {'heap': heap, 'taken': taken, 'rss': resident, 'fds': fds}


class Barrier:
    """All clients of a round meet here between phases."""

    def __init__(self, parties):
        self.parties, self.count, self.event = parties, 0, asyncio.Event()

    async def wait(self):
        self.count += 1
        if self.count == self.parties:
            self.event.set()
        await asyncio.wait_for(self.event.wait(), STEP_TIMEOUT)


class Client:
    def __init__(self, name):
        self.name = name
        self.index = None
        self.pending = []  # (condition on the fields, future)
        self.heard = []    # every message, when recording
        self.closed = False

    async def open(self, port, record=False):
        self.record = record
        self.reader, self.writer = await asyncio.open_connection('127.0.0.1', port)
        self.task = asyncio.get_running_loop().create_task(self.read())

    async def read(self):
        buf = b''
        while True:
            try:
                chunk = await self.reader.read(1 << 16)
            except ConnectionError:  # an answer to a ping crossed the server's close
                chunk = b''
            if not chunk:
                self.closed = True
                for _, future in self.pending:
                    if not future.done():
                        future.set_exception(ConnectionError(f'{self.name}: server closed'))
                return
            buf += chunk
            *messages, buf = buf.split(END)
            for message in messages:
                fields = message.split(SEP)
                if fields[0] == b'PING':
                    self.writer.write(msg(b'PINGREPLY'))
                elif fields[0] == b'VERIFY':
                    self.writer.write(msg(b'VERIFY', b'%d' % verify_response(int(fields[1]))))
                if self.record:
                    self.heard.append(fields)
                for entry in list(self.pending):
                    if entry[0](fields):
                        self.pending.remove(entry)
                        if not entry[1].done():
                            entry[1].set_result(fields)

    async def send_and_wait(self, data, condition):
        if self.closed:
            raise ConnectionError(f'{self.name}: server closed')
        future = asyncio.get_running_loop().create_future()
        self.pending.append((condition, future))
        self.writer.write(data)
        return await asyncio.wait_for(future, STEP_TIMEOUT)

    def own_state(self, word):
        return lambda f: f[0] == b'USERSTATE' and f[1] == self.index and f[2] == word

    async def close(self, logout):
        if logout:
            self.writer.write(msg(b'LOGOUT'))
            await asyncio.wait_for(self.task, STEP_TIMEOUT)  # the server ends the connection
        else:
            self.task.cancel()
        self.writer.close()


def keyword(word):
    return lambda f: f[0] == word


async def log_in(client, port, record=False):
    await client.open(port, record)
    client.writer.write(msg(b'VERSION', b'1'))
    reply = await client.send_and_wait(msg(b'LOGIN', client.name, b'127.0.0.1'), keyword(b'LOGIN'))
    client.index = reply[1]
    await client.send_and_wait(msg(b'GETUSERLIST'), keyword(b'ENDUSERS'))


async def one_client(port, number, phases, hosts, connecting):
    client = Client(b'soak%d' % number)
    async with connecting:  # a few log-ins at a time, so the listen backlog never overflows
        await log_in(client, port)
        await client.send_and_wait(msg(b'MOTD'), keyword(b'MOTDLINE'))
    await phases[0].wait()

    # Chat, and every third client opens a hut of 2, 3 or 4 players, some with a password.
    client.writer.write(msg(b'SENDMSG', encode(b'hello from %s' % client.name)))
    if number % 3 == 0:
        size = b'%d' % (2 + (number // 3) % 3)
        password = b'NONE' if number % 2 else b'pw%d' % number
        await client.send_and_wait(msg(b'BEHOST', size, password), client.own_state(b'HOST'))
        hosts[number] = client.index
    await phases[1].wait()

    # The others join the hut of the host before them; a full hut answers nothing.
    if number % 3 != 0:
        client.writer.write(msg(b'BECLIENT', hosts[number - number % 3], b''))
    client.writer.write(msg(b'SENDMSG', encode(b'ready')))
    await phases[2].wait()

    # Give the huts up: members leave, then hosts close theirs.
    if number % 3 != 0:
        await client.send_and_wait(msg(b'BEIDLE'), client.own_state(b'IDLE'))
    await phases[3].wait()
    if number % 3 == 0:
        await client.send_and_wait(msg(b'BEIDLE'), client.own_state(b'IDLE'))
    await phases[4].wait()
    await client.close(logout=number % 2 == 0)


async def one_round(port, users):
    phases = [Barrier(users) for _ in range(5)]
    hosts = {}
    connecting = asyncio.Semaphore(32)
    await asyncio.gather(*(one_client(port, n, phases, hosts, connecting) for n in range(users)))


async def lobby_is_empty(port):
    """An observer logs in and reads the user list: it alone may be named."""
    observer = Client(b'observer')
    await log_in(observer, port, record=True)
    await observer.close(logout=True)
    names = [f[2] for f in observer.heard if f[0] == b'USER' and f[2] != b'NONE']
    return names == [observer.name]


def main():
    exe, users, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    # Pings every 5 s: one loaded process plays all the clients and may answer a few seconds
    # late, which a real lobby would rightly take for a dead client.
    server = subprocess.Popen([exe, '--port', '0', '--max-users', str(users + 10),
                               '--ping-interval', '5'],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    ok = False
    log = ServerLog(server)
    try:
        port = int(server.stdout.readline().split()[-1])
        idle = log.status()
        seconds = 0.0
        for number in range(rounds):
            begin = time.perf_counter()
            asyncio.run(one_round(port, users))
            seconds += time.perf_counter() - begin
            if number == 0 or number == rounds - 1:
                time.sleep(SETTLE)
            figures = log.status()
            print(f'round {number + 1}: {users} clients, server rss {figures["rss"]} KiB, '
                  f'heap in use {figures["heap"]} KiB, {figures["fds"]} open files', flush=True)
            if number == 0:
                start = figures
        end = figures
        empty = asyncio.run(lobby_is_empty(port))
        if not empty:
            print('the lobby still lists users after everyone left', file=sys.stderr)
        print(f'server soak: {rounds} rounds of {users} clients in {seconds:.1f} s')
        print(f'RESULT users={users} rounds={rounds} rss_idle_kib={idle["rss"]} '
              f'rss_start_kib={start["rss"]} rss_end_kib={end["rss"]} '
              f'heap_start_kib={start["heap"]} heap_end_kib={end["heap"]} '
              f'heap_taken_end_kib={end["taken"]} fds_idle={idle["fds"]} fds_end={end["fds"]} '
              f'lobby_empty={int(empty)}')
        ok = empty
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            code = server.wait(timeout=60)
        except subprocess.TimeoutExpired:
            server.kill()
            code = 'killed'
        if code != 0:
            print(f'server exit: {code}', file=sys.stderr)
            ok = False
        if not ok:
            log.thread.join(timeout=10)
            sys.stderr.write('server log, last lines:\n' + ''.join(list(log.tail)[-60:]))
    sys.exit(0 if ok else 1)


if __name__ == '__main__':
    main()
