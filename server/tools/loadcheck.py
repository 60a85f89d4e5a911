#!/usr/bin/env python3
"""Load check for stonecall-lobbyd over loopback.

Starts the given server on a free port, logs in N users one after another (each login is
announced to everyone already there), has the last one fetch the user list, then lets the
first user send M chat lines that reach everyone, and prints the times and the server's CPU.

    python3 server/tools/loadcheck.py build/stonecall-lobbyd 1000 300
"""
import os
import socket
import subprocess
import sys
import time

SEP, END = b'\xa4', b'\x06'


def next_message(sock, buf, keyword):
    """Reads until a message starting with keyword arrives; earlier ones are skipped."""
    while True:
        while END in buf[0]:
            message, buf[0] = buf[0].split(END, 1)
            if message.startswith(keyword):
                return message
        chunk = sock.recv(1 << 20)
        if not chunk:
            raise SystemExit('server closed a connection')
        buf[0] += chunk


def main():
    exe, users, lines = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    server = subprocess.Popen([exe, '--port', '0', '--max-users', str(users + 10),
                               '--ping-interval', '0'],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        port = int(server.stdout.readline().split()[-1])
        clients = []
        start = time.perf_counter()
        for i in range(users):
            sock = socket.create_connection(('127.0.0.1', port))
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            sock.sendall(b'VERSION' + SEP + b'1' + END +
                         b'LOGIN' + SEP + b'user%d' % i + SEP + b'127.0.0.1' + END)
            buf = [b'']
            next_message(sock, buf, b'LOGIN')
            clients.append((sock, buf))
        logged_in = time.perf_counter()

        last = clients[-1]
        last[0].sendall(b'GETUSERLIST' + END)
        next_message(last[0], last[1], b'ENDUSERS')
        listed = time.perf_counter()

        for _ in range(lines):
            clients[0][0].sendall(b'SENDMSG' + SEP + b'A1B2C3' + END)
        for _ in range(lines):
            next_message(last[0], last[1], b'MSG')
        chatted = time.perf_counter()

        stat = open(f'/proc/{server.pid}/stat').read().rsplit(')', 1)[1].split()
        tick = os.sysconf('SC_CLK_TCK')
        print(f'{users} logins: {logged_in - start:.2f} s '
              f'({(logged_in - start) / users * 1e3:.2f} ms each)')
        print(f'user list of {users}: {(listed - logged_in) * 1e3:.1f} ms')
        print(f'{lines} chat lines to {users} users: {chatted - listed:.3f} s '
              f'({(chatted - listed) / lines * 1e3:.3f} ms per line)')
        print(f'server cpu: user {int(stat[11]) / tick:.2f} s, system {int(stat[12]) / tick:.2f} s')
    finally:
        server.terminate()
        server.wait()


if __name__ == '__main__':
    main()
