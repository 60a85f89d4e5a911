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


LS, LE = b"\xa9", b"\xae"


def link_chunk(data: bytes, nested: bool = False) -> bytes:
    """The link target's input: [flags][length][bytes]; flag 1 arrives inside a message box."""
    return bytes([1 if nested else 0, len(data)]) + data


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

def turns(*steps, size=255) -> bytes:
    """The server target's input: (slot, bytes[, after]) steps, cut into pieces of at most
    `size` bytes, each led by its control byte (slot, and after the last piece what follows:
    1 a tick, 2 the connection lost) and its length."""
    out = b""
    for step in steps:
        slot, data, after = (step + (0,))[:3]
        pieces = [data[i:i + size] for i in range(0, len(data), size)] or [b""]
        for n, piece in enumerate(pieces):
            control = slot | ((after if n == len(pieces) - 1 else 0) << 3)
            out += bytes([control, len(piece)]) + piece
    return out


def hello(name: bytes) -> bytes:
    return (msg(b"VERSION", b"1") + msg(b"LOGIN", name, b"127.0.0.1") + msg(b"GETUSERLIST") +
            msg(b"MOTD"))


TICK, LOST = 1, 2
VERIFY_100 = msg(b"VERIFY", b"4275800")  # the answer to the fixed challenge 100


def server_seeds():
    chat_and_huts = turns(
        (0, hello(b"Ann")), (1, hello(b"Big_Bob")), (0, msg(b"SENDMSG", enc(b"hi all"))),
        (0, msg(b"BEHOST", b"3", b"NONE")), (1, msg(b"BECLIENT", b"1", b"")), (2, hello(b"Cid"), TICK),
        (2, msg(b"BECLIENT", b"1", b"2")), (1, msg(b"SENDMSG", enc(b"ready?")), TICK),
        (1, msg(b"BEIDLE")), (0, msg(b"BEIDLE")), (1, msg(b"LOGOUT")), (0, msg(b"PINGREPLY")),
        (2, msg(b"BEHOST", b"2", b"secret")), (0, msg(b"BECLIENT", b"3", b"1")), (0, msg(b"LOGOUT")))
    # Slots 4 to 7 answer pings and challenges only with what the input says.
    unanswered = turns(
        (4, hello(b"Dan"), TICK), (4, msg(b"PINGREPLY") + VERIFY_100, TICK),
        (5, msg(b"VERSION", b"1") + msg(b"LOGIN", b"Eve", b"10.0.0.2"), TICK),
        (5, msg(b"PINGREPLY") + msg(b"VERIFY", b"1")), (4, msg(b"PINGREPLY"), TICK), (4, b"", TICK),
        (6, msg(b"VERSION", b"2")), (7, msg(b"LOGIN", b"Early", b"")), size=9)
    refusals = turns(
        (0, hello(b"Ann")), (1, hello(b"Ann")), (1, hello(b"f_g")), (2, hello(b"f g")),
        (3, hello(b"NONE")), (4, hello(b"Gil")), (5, hello(b"Hal")), (6, hello(b"Ivy")),
        (7, hello(b"Jon")), (1, msg(b"BEHOST", b"4", b"pw"), LOST), (2, hello(b"Kim")),
        (0, msg(b"BECLIENT", b"4", b"3")), (4, msg(b"BEHOST", b"4", b"x")), (4, b"A" * 300, LOST))
    return [chat_and_huts, turns(*[(0, hello(b"Ann"))], size=5), unanswered, refusals]


seeds = {
    "fuzz_dispatcher": [chunks(login, 255), chunks(login + play, 7), chunks(play, 1)],
    "fuzz_codec": [enc(b"hello"), b"6a6B6c", b"4 1", b"ABC", b""],
    "fuzz_numbers": [b"12", b"-3.5", b" 1 e 3", b"32768", b"abc", b"2.5"],
    "fuzz_link": [link_chunk(LS.join([b"SENDBROADCAST", b"hello"]) + LE),
                  link_chunk(b"sendbroad") + link_chunk(b"cast" + LS + b"A" + LS + b"B" + LE + LE),
                  link_chunk(b"SENDBROADCAST" + LS + b"outer" + LE + b"SEND") +
                  link_chunk(b"BROADCAST" + LS + b"inner" + LE, nested=True),
                  link_chunk(b"NOPE" + LS + b"x" + LE + b"SENDBROADCAST" + LE)],
    "fuzz_server": server_seeds(),
}

here = os.path.dirname(os.path.abspath(__file__))
for target, items in seeds.items():
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for n, data in enumerate(items):
        with open(os.path.join(folder, f"seed{n}"), "wb") as f:
            f.write(data)
