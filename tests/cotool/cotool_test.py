#!/usr/bin/env python3
"""cotool against the simulated module on the virtual bus: canhub, rq730sim and cotool as
separate programs, the way a user runs them. Usage: cotool_test.py CANHUB RQ730SIM COTOOL"""
import queue
import subprocess
import sys
import threading

canhub, rq730sim, cotool = sys.argv[1:4]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def expect_line(process, start, what):
    # Blocks until the program prints the line; the programs end (EOF) when they fail.
    for line in process.stdout:
        if line.startswith(start):
            return line
    raise SystemExit(f"{what}: never printed '{start}'")


hub = subprocess.Popen([canhub, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
sim = None
try:
    port = expect_line(hub, "listening on", "canhub").strip().rsplit(":", 1)[1]
    url = f"socketcand://127.0.0.1:{port}/bench"
    sim = subprocess.Popen([rq730sim, "--channel", url], stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, text=True)
    expect_line(sim, "ready", "rq730sim")

    def run(*args, timeout=30):
        return subprocess.run([cotool, "--channel", url, *args], capture_output=True, text=True,
                              timeout=timeout)

    name = run("read", "1", "0x1008", "0", "text")
    check(name.returncode == 0 and "RQ 730" in name.stdout and len(name.stdout.strip()) > 4,
          f"device name: {name}")
    serial = run("read", "1", "0x1018", "4", "u32")
    check(serial.returncode == 0 and serial.stdout.startswith("73012345 "), f"serial: {serial}")
    missing = run("read", "1", "0x1234", "0", "u32")
    check(missing.returncode == 1 and
          "SDO abort 0x06020000: object does not exist in the object dictionary" in missing.stderr,
          f"missing object: {missing}")
    write = run("write", "1", "0x1017", "0", "u16", "250")
    back = run("read", "1", "0x1017", "0", "u16")
    check(write.returncode == 0 and back.stdout.startswith("250 "), f"write/read back: {write} {back}")
    nmt = run("nmt", "1", "start")
    check(nmt.returncode == 0, f"nmt: {nmt}")
    scan = run("scan", "1")
    check(scan.returncode == 0 and scan.stdout.startswith("node 1: RQ 730"), f"scan: {scan}")

    # listen: an emergency and a reboot of the module show up as lines.
    listen = subprocess.Popen([cotool, "--channel", url, "listen", "20"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    listen.stderr.readline()  # "cotool: listening": the library is on the bus
    sim.stdin.write("emcy 0x8110 0x11\nreboot\n")
    sim.stdin.flush()
    emcy = expect_line(listen, "EMCY", "cotool listen")
    boot = expect_line(listen, "boot-up", "cotool listen")
    listen.terminate()
    listen.wait(timeout=10)
    check(emcy.strip() == "EMCY node 1: error register 0x11", f"emcy line: {emcy!r}")
    check(boot.strip() == "boot-up node 1", f"boot line: {boot!r}")

    # The hub goes away and comes back on the same port: a running cotool (the library in it)
    # reopens the channel by itself and hears the module again. Frames sent before the library
    # is back are lost on the bus, so the module reboots until its boot-up is heard.
    listen = subprocess.Popen([cotool, "--channel", url, "listen", "60"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    listen.stderr.readline()
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in listen.stdout],
                     daemon=True).start()
    sim.terminate()
    sim.wait(timeout=10)
    sim = None
    hub.terminate()
    hub.wait(timeout=10)
    hub = subprocess.Popen([canhub, "--listen", f"127.0.0.1:{port}"], stdout=subprocess.PIPE,
                           text=True)
    expect_line(hub, "listening on", "restarted canhub")
    sim = subprocess.Popen([rq730sim, "--channel", url], stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, text=True)
    expect_line(sim, "ready", "restarted rq730sim")
    heard = False
    for attempt in range(100):
        sim.stdin.write("reboot\n")
        sim.stdin.flush()
        try:
            while not heard:
                heard = lines.get(timeout=0.2).strip() == "boot-up node 1"
        except queue.Empty:
            pass
        if heard:
            break
    listen.terminate()
    listen.wait(timeout=10)
    check(heard, "no boot-up heard after the hub restart")

    for args, code in [([], 2), (["read", "1", "0x1018", "4", "u64"], 2),
                       (["write", "1", "0x1017", "0", "u8", "256"], 2), (["nmt", "1", "go"], 2),
                       (["frobnicate"], 2)]:
        result = subprocess.run([cotool, *(["--channel", url] if args else []), *args],
                                capture_output=True, text=True, timeout=30)
        check(result.returncode == code, f"{args}: exit {result.returncode}, wanted {code}")
    unreachable = subprocess.run([cotool, "--channel", "socketcand://127.0.0.1:1/x", "nmt", "0",
                                  "start"], capture_output=True, text=True, timeout=30)
    check(unreachable.returncode == 1 and "127.0.0.1:1" in unreachable.stderr,
          f"unreachable hub: {unreachable}")
finally:
    if sim:
        sim.terminate()
        sim.wait(timeout=10)
    hub.terminate()
    hub.wait(timeout=10)

sys.exit(1 if failures else 0)
