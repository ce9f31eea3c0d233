#!/usr/bin/env python3
"""canhub against an independent socketcand client: python-can 4.1's `socketcand` interface.

usage: python_can_test.py CANHUB CANBUS_ECHO

Checks frames between two python-can clients in both directions, a burst of 1000 back-to-back
frames with none lost, and frames between python-can and our own client (canbus_echo) in both
directions, where our client also sends remote frames that python-can must never receive.
Exits 77 (skipped) only when python-can or its socketcand interface cannot be imported.
"""
import subprocess
import sys

try:
    import can
    from can.interfaces.socketcand import SocketCanDaemonBus  # noqa: F401
except ImportError as error:
    print(f"SKIP: python-can with the socketcand interface is not available: {error}")
    sys.exit(77)

import logging

# python-can's socketcand client logs a warning for every separator byte it skips.
logging.getLogger("can").setLevel(logging.ERROR)

BURST = 1000
passed = 0
failed = 0


def check(condition, what):
    global passed, failed
    if condition:
        passed += 1
        print(f"ok: {what}")
    else:
        failed += 1
        print(f"FAILED: {what}")


def start(command, first_line_prefix):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline().strip()
    if not line.startswith(first_line_prefix):
        process.kill()
        raise RuntimeError(f"{command[0]} printed {line!r}")
    return process, line


def bus(port, channel):
    return can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel=channel)


def receive(b, count, timeout=5.0):
    messages = []
    while len(messages) < count:
        m = b.recv(timeout)
        if m is None:
            break
        messages.append(m)
    return messages


def frame(i, extended=False):
    arbitration_id = (0x10000000 + i) if extended else (0x100 + i % 0x600)
    return can.Message(arbitration_id=arbitration_id, is_extended_id=extended,
                       data=[i & 0xFF, (i >> 8) & 0xFF, 0xA5][: i % 4])


def same(received, sent):
    return (received.arbitration_id == sent.arbitration_id and
            bytes(received.data) == bytes(sent.data))


def main():
    hub_path, echo_path = sys.argv[1], sys.argv[2]
    hub, line = start([hub_path, "--listen", "127.0.0.1:0"], "listening on 127.0.0.1:")
    port = int(line.rsplit(":", 1)[1])
    echo = None
    try:
        # Two python-can clients, both directions.
        a = bus(port, "py")
        b = bus(port, "py")
        hello = can.Message(arbitration_id=0x181, is_extended_id=False, data=[0xD2, 0x04])
        a.send(hello)
        got = receive(b, 1)
        check(len(got) == 1 and same(got[0], hello), "python a -> python b")
        reply = can.Message(arbitration_id=0x12345678, is_extended_id=True, data=[1, 2, 3])
        b.send(reply)
        got = receive(a, 1)
        check(len(got) == 1 and same(got[0], reply), "python b -> python a (extended id)")
        empty = can.Message(arbitration_id=0x080, is_extended_id=False, data=[])
        a.send(empty)
        got = receive(b, 1)
        check(len(got) == 1 and same(got[0], empty), "DLC 0 frame")
        check(a.recv(0.2) is None, "no frame back to its sender")

        # A burst of back-to-back frames: none lost, none reordered.
        sent = [frame(i) for i in range(BURST)]
        for m in sent:
            a.send(m)
        got = receive(b, BURST)
        check(len(got) == BURST, f"burst of {BURST}: {len(got)} received")
        check(all(same(r, s) for r, s in zip(got, sent)), "burst in order and intact")
        a.shutdown()
        b.shutdown()

        # python-can <-> our client: every frame echoed back, remote frames never shown.
        echo, _ = start([echo_path, f"socketcand://127.0.0.1:{port}/mix", str(BURST + 1)], "ready")
        p = bus(port, "mix")
        sent = [frame(i, extended=(i % 5 == 0)) for i in range(BURST)]
        sent.append(can.Message(arbitration_id=0x1FFFFFFF, is_extended_id=True, data=[0xFF] * 8))
        for m in sent:
            p.send(m)
        got = receive(p, len(sent))
        check(len(got) == len(sent), f"our client echoed {len(got)} of {len(sent)}")
        check(all(same(r, s) for r, s in zip(got, sent)), "echoed frames in order and intact")
        check(not any(r.arbitration_id == 0x700 for r in got), "no remote frame reached python-can")
        check(p.recv(0.2) is None, "nothing more")
        check(echo.wait(timeout=10) == 0, "our client saw every frame")
        p.shutdown()
    finally:
        if echo is not None and echo.poll() is None:
            echo.kill()
        hub.terminate()
        code = hub.wait(timeout=10)
    check(code == 0, f"canhub exited {code} on SIGTERM")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
