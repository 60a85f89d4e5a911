#!/usr/bin/env python3
"""A scripted lobby for screenshots: accepts one client on the lobby port, logs it in and shows
it a few users, a chat line, an open hut and a password hut. Runs until the client leaves."""

import socket
import sys

FIELD_SEP = b"\xa4"
MSG_END = b"\x06"
CODEC_SHIFT = 73


def scramble(text):
    return "".join("%02X" % ((b + CODEC_SHIFT) % 256) for b in text.encode("cp1252")).encode()


def message(*fields):
    return FIELD_SEP.join(f if isinstance(f, bytes) else str(f).encode("cp1252") for f in fields) + MSG_END


def listen(port):
    """Listens on the IPv4 and, where there is one, the IPv6 loopback address."""
    servers = []
    for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        try:
            server = socket.socket(family, socket.SOCK_STREAM)
            server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            server.bind((address, port))
            server.listen(1)
            servers.append(server)
        except OSError as error:
            if family == socket.AF_INET:
                sys.exit("screenshot lobby: cannot listen on %s:%d: %s" % (address, port, error))
    return servers


def accept(servers):
    import select

    ready, _, _ = select.select(servers, [], [], 60)
    if not ready:
        sys.exit("screenshot lobby: no client came within a minute")
    connection, _ = ready[0].accept()
    return connection


def lobby(name):
    """The lobby as the client sees it after log-in; the client is user 3."""
    users = [(0, "Bram"), (1, "Cora"), (2, "Dagny"), (3, name), (4, "Eskil"), (5, "Fenna"), (6, "Gorm")]
    replies = [message("USER", i, n, "") for i, n in users]
    replies += [
        message("USERSTATE", 0, "HOST", 4, "NONE"),  # an open hut for four
        message("USERSTATE", 1, "CLIENT", 0, 1),
        message("USERSTATE", 2, "HOST", 3, "moss"),  # a hut with a password
        message("USERSTATE", 5, "CLIENT", 2, 2),
        message("USERSTATE", 6, "GAMING", "", ""),
        message("ENDUSERS"),
    ]
    return replies


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 13511
    name = ""
    servers = listen(port)
    print("listening", flush=True)
    connection = accept(servers)
    buffer = b""
    while True:
        data = connection.recv(4096)
        if not data:
            return
        buffer += data
        while MSG_END in buffer:
            raw, buffer = buffer.split(MSG_END, 1)
            fields = raw.split(FIELD_SEP)
            keyword = fields[0]
            if keyword == b"VERSION":
                connection.sendall(message("VERSION", "GOOD"))
            elif keyword == b"LOGIN":
                name = fields[1].decode("cp1252") if len(fields) > 1 else ""
                connection.sendall(message("LOGIN", 3))
            elif keyword == b"GETUSERLIST":
                connection.sendall(b"".join(lobby(name)))
            elif keyword == b"MOTD":
                connection.sendall(
                    message("MOTDLINE", scramble("Welcome to Fernhollow! Be kind, and keep the fire burning."))
                    + message("MOTDLINE", scramble("Huts for 2, 3 or 4 players; ask the host for the password."))
                    + message("MSG", "<Bram> ", scramble("two places left in my hut, who's in?"))
                    + message("MSG", "<Dagny> ", scramble("mine is for friends only :)"))
                )
            elif keyword == b"PINGREPLY":
                pass
            elif keyword == b"LOGOUT":
                return


if __name__ == "__main__":
    main()
