#!/usr/bin/env python3
"""Writes the seed corpora (corpus/<target>/) from real conversations between client and lobby."""
import os

S, E = b"\xa4", b"\x06"
SHIFT = 73


def enc(text: bytes) -> bytes:
    return b"".join(b"%02X" % ((c + SHIFT) % 256) for c in text)


def msg(*fields: bytes) -> bytes:
    return S.join(fields) + E


def chunks(stream: bytes, size: int) -> bytes:
    """The dispatcher target's input: arrivals of at most `size` bytes, each led by its length."""
    out = b""
    for i in range(0, len(stream), size):
        part = stream[i:i + size]
        out += bytes([len(part)]) + part
    return out


login = (msg(b"VERSION", b"GOOD") + msg(b"LOGIN", b"2") +
         msg(b"USER", b"0", b"NONE", b"") + msg(b"USER", b"1", b"Big_Bob", b"x") +
         msg(b"USER", b"2", b"Fuzz", b"x") + msg(b"USER", b"3", b"Ann", b"") +
         msg(b"USERSTATE", b"1", b"HOST", b"3", b"NONE") + msg(b"USERSTATE", b"2", b"IDLE") +
         msg(b"USERSTATE", b"3", b"CLIENT", b"1", b"1") + msg(b"ENDUSERS") +
         msg(b"MOTDLINE", enc(b"Welcome to the lobby")))
play = (msg(b"MSG", b"Ann: ", enc(b"hello")) + msg(b"PUBMSG", b"Server", b" restarts soon") +
        msg(b"PING") + msg(b"VERIFY", b"1234") + msg(b"CREATEHOST", b"3") +
        msg(b"USERSTATE", b"2", b"CLIENT", b"1") + msg(b"USERSTATE", b"1", b"IDLE") +
        msg(b"USERSTATE", b"3", b"GAMING") + msg(b"USER", b"3", b"NONE", b"") +
        msg(b"USERSTATE", b"2", b"HOST", b"4", b"secret"))

seeds = {
    "fuzz_dispatcher": [chunks(login, 255), chunks(login + play, 7), chunks(play, 1)],
    "fuzz_codec": [enc(b"hello"), b"6a6B6c", b"4 1", b"ABC", b""],
    "fuzz_numbers": [b"12", b"-3.5", b" 1 e 3", b"32768", b"abc", b"2.5"],
    "fuzz_link": [b"SENDBROADCAST\xa9hello\xae", b"sendbroadcast\xa9A\xa9B\xae\xae", b"SEND"],
    "fuzz_server": [chunks(msg(b"VERSION", b"1") + msg(b"LOGIN", b"Ann", b"127.0.0.1") + msg(b"GETUSERLIST") +
                           msg(b"MOTD") + msg(b"SENDMSG", enc(b"hi")) + msg(b"BEHOST", b"3", b"NONE") +
                           msg(b"BEIDLE") + msg(b"PINGREPLY") + msg(b"LOGOUT"), 16)],
}

here = os.path.dirname(os.path.abspath(__file__))
for target, items in seeds.items():
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for n, data in enumerate(items):
        with open(os.path.join(folder, f"seed{n}"), "wb") as f:
            f.write(data)
