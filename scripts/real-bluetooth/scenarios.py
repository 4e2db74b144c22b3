#!/usr/bin/env python3
"""Runs inside the virtual machine: the system bus, btvirt, bluetoothd, the pistol
(peripheral.py on hci1) and vk5-host on hci0, then one scenario after another.

Every wait is for a line from one of the programs, bounded by a timeout; nothing
sleeps for a fixed time. Each scenario prints its figures; the last line is
"N passed, N failed" and the exit status is non-zero on any failure.
"""
import os
import re
import signal
import statistics
import subprocess
import sys
import threading
import time

import dbus

REPO, OUT = sys.argv[1], sys.argv[2]
BIN = os.path.join(REPO, "build/release/bin")
DRIVER = os.path.join(REPO, "build/release/vantorelle_k5")
T0 = time.monotonic()

CONNECTED = "Device successfully connected."
LOST = "Device connection lost."
CONNECTING = "Connecting to device: "
WATCHING = "Starting the advertisement watcher."
# Not "unsubscribed".
SUBSCRIBED = re.compile(r"^subscribed$")
PRESS_PATHS = {"fire": "/input/fire/click", "eject": "/input/eject_mag/click", "load": "/input/load_mag/click"}
# Generous bounds: the machine running the emulator may be shared and slow, and after a
# link ends bluetoothd has been seen to report nothing of the returning pistol for up to
# a minute of discovery although the controller passed its advertisements up.
LINK_TIMEOUT = 90
PRESS_TIMEOUT = 10
SETTLE_TIMEOUT = 30


def now():
    return time.monotonic()


def say(text):
    print(f"[{now() - T0:7.2f}] {text}", flush=True)


class Program:
    """A child whose output lines are kept with the monotonic time they arrived
    (or, for the pistol, the time it printed in front of them)."""

    def __init__(self, name, argv, stdin=False, stamped=False):
        self.name, self.stamped = name, stamped
        self.lines = []
        self.cond = threading.Condition()
        self.log = open(os.path.join(OUT, name + ".log"), "a", buffering=1)
        self.log.write(f"==== {' '.join(argv)}\n")
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.started = now()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            at = now()
            line = line.rstrip("\n")
            if self.stamped:
                stamp, _, rest = line.partition(" ")
                try:
                    at, line = float(stamp), rest
                except ValueError:
                    pass
            self.log.write(f"{at - T0:9.3f} {line}\n")
            with self.cond:
                self.lines.append((at, line))
                self.cond.notify_all()
        with self.cond:
            self.lines.append((now(), None))  # end of output
            self.cond.notify_all()

    def mark(self):
        with self.cond:
            return len(self.lines)

    def wait(self, text, since=0, timeout=LINK_TIMEOUT):
        """The first line at or after index `since` holding `text` (a string or compiled
        pattern): (index, time, line), or None when the time is up or the program ended."""
        deadline = now() + timeout
        with self.cond:
            i = since
            while True:
                while i < len(self.lines):
                    at, line = self.lines[i]
                    if line is None:
                        return None
                    if (text.search(line) if hasattr(text, "search") else text in line):
                        return i, at, line
                    i += 1
                left = deadline - now()
                if left <= 0:
                    return None
                self.cond.wait(left)

    def count(self, text, since, until=None):
        with self.cond:
            return sum(1 for _, line in self.lines[since:until] if line and text in line)

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def stop(self, sig=signal.SIGTERM, timeout=15):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        return self.proc.returncode


class Bus:
    """The runner's own view of bluetoothd, for the adapter checks and switches."""

    def __init__(self):
        self.bus = dbus.SystemBus()

    def adapters(self):
        try:
            manager = dbus.Interface(self.bus.get_object("org.bluez", "/"), "org.freedesktop.DBus.ObjectManager")
            objects = manager.GetManagedObjects(timeout=5)
        except dbus.DBusException:
            return {}
        return {str(p).rsplit("/", 1)[1]: bool(i["org.bluez.Adapter1"].get("Powered"))
                for p, i in objects.items() if "org.bluez.Adapter1" in i}

    def set_powered(self, adapter, on):
        props = dbus.Interface(self.bus.get_object("org.bluez", "/org/bluez/" + adapter),
                               "org.freedesktop.DBus.Properties")
        props.Set("org.bluez.Adapter1", "Powered", dbus.Boolean(on), timeout=10)


def wait_until(check, timeout, what):
    """For state that only a query shows (the adapters on the bus): asks again on each
    bluetoothd line, at least every 0.2 s, until `timeout`."""
    deadline = now() + timeout
    while now() < deadline:
        if check():
            return True
        with daemon.cond:
            daemon.cond.wait(0.2)
    say(f"timed out waiting for {what}")
    return False


def start_bluetoothd():
    return Program("bluetoothd", ["/usr/sbin/bluetoothd", "-n", "-d"])


def start_btvirt():
    return Program("btvirt", ["btvirt", "-l2", "-L"])


def both_powered():
    found = bus.adapters()
    return found.get("hci0") and found.get("hci1")


class Scenario:
    def __init__(self, name):
        self.name = name
        self.ok = True
        self.notes = []
        self.figures = []
        self.sent = 0
        self.seen = 0
        self.latencies = []

    def fail(self, why):
        self.ok = False
        self.notes.append(why)
        say(f"  {self.name}: {why}")

    def figure(self, text):
        self.figures.append(text)


results = []
all_latencies = []
missed_goals = []
# Time goals, in seconds: the first link and a relink after the pistol's drop, and a relink
# after bluetoothd or the adapter came back.
GOAL_LINK, GOAL_REAPPEAR = 3, 5


def link(sc, since, origin, origin_name, goal):
    """Waits for the host's next link after `since`; records the Connect attempts and
    the time from `origin` against `goal` (a figure, not a pass condition). True when linked."""
    got = host.wait(CONNECTED, since, LINK_TIMEOUT)
    attempts = host.count(CONNECTING, since, got[0] if got else None)
    if not got:
        sc.fail(f"no link within {LINK_TIMEOUT} s ({attempts} Connect attempts)")
        sc.figure(f"Connect attempts {attempts}, no link")
        return False
    took = got[1] - origin
    sc.figure(f"Connect attempts {attempts}; {origin_name} -> \"{CONNECTED}\" {took:.2f} s "
              f"(goal {goal} s{'' if took <= goal else ': missed'})")
    if took > goal:
        missed_goals.append(sc.name)
    sc.attempts = attempts
    sc.link_seconds = got[1] - origin
    return True


def presses(sc, pistol_since):
    if not pistol.wait(SUBSCRIBED, pistol_since, PRESS_TIMEOUT):
        sc.fail("the pistol never saw a subscription")
        return
    for kind in ("fire", "eject", "load"):
        mark_host, mark_pistol = host.mark(), pistol.mark()
        pistol.send(kind)
        sent = pistol.wait(re.compile(rf"^(sent {kind}|{kind}: not sent)"), mark_pistol, PRESS_TIMEOUT)
        if not sent or not sent[2].startswith("sent"):
            sc.fail(f"{kind} not sent ({sent[2] if sent else 'no answer'})")
            continue
        sc.sent += 1
        seen = host.wait(f"input {PRESS_PATHS[kind]} = true", mark_host, PRESS_TIMEOUT)
        if not seen:
            sc.fail(f"{kind} sent, never pressed on the host")
            continue
        sc.seen += 1
        sc.latencies.append((seen[1] - sent[1]) * 1000)
    all_latencies.extend(sc.latencies)


def linked_now():
    """Whether the host's last link event is a link, waiting for one if a link is on its way."""
    with host.cond:
        for _, line in reversed(host.lines):
            if line and (CONNECTED in line or LOST in line):
                return CONNECTED in line
    return False


def need_link(sc):
    if linked_now():
        return True
    # The scenario before has already waited its full time for a link; this is a last chance.
    if host.wait(CONNECTED, host.mark(), PRESS_TIMEOUT) or linked_now():
        return True
    sc.fail("not linked at the start")
    return False


def restart_daemon():
    global daemon
    daemon.stop()
    daemon = start_bluetoothd()
    return daemon.started


def run(name, body):
    sc = Scenario(name)
    say(f"== {name}")
    started = now()
    try:
        body(sc)
    except Exception as e:  # one broken scenario must not hide the others' figures
        sc.fail(f"runner error: {type(e).__name__}: {e}")
    if sc.sent or sc.seen:
        text = f"presses sent {sc.sent}, seen {sc.seen}"
        if sc.latencies:
            text += f"; latency median {statistics.median(sc.latencies):.0f} ms, max {max(sc.latencies):.0f} ms"
        sc.figure(text)
    sc.figure(f"took {now() - started:.1f} s")
    results.append(sc)
    for f in sc.figures:
        say(f"  {name}: {f}")
    say(f"  {name}: {'PASSED' if sc.ok else 'FAILED'}")


def show(sc):
    """The pistol advertises again: the line of its advertisement, or None (a failure)."""
    mark_pistol = pistol.mark()
    pistol.send("show")
    adv = pistol.wait("advertising", mark_pistol, SETTLE_TIMEOUT)
    if not adv:
        sc.fail("the pistol could not advertise")
    return adv


def first_link(sc):
    """The host scans first; the advertisement starts once it does, so the time from the
    advertisement to the link is the driver's and the stack's, not the host's start-up."""
    global host
    if not pistol.wait("application registered", 0, SETTLE_TIMEOUT):
        sc.fail("the pistol's service was not registered")
        return
    host = Program("host", [os.path.join(BIN, "vk5-host"), DRIVER, "--seconds", "3600", "--rate", "90",
                            "--pose-interval", "3600"])
    if not host.wait(WATCHING, 0, SETTLE_TIMEOUT):
        sc.fail("the host never started scanning")
        return
    adv = show(sc)
    if not adv:
        return
    if link(sc, 0, adv[1], "advertisement", GOAL_LINK):
        sc.figure(f"host start -> linked {sc.link_seconds + adv[1] - host.started:.2f} s")
        presses(sc, 0)


def pistol_drop(sc):
    if not need_link(sc):
        return
    mark_host, mark_pistol = host.mark(), pistol.mark()
    dropped = now()
    pistol.send("hide")
    lost = host.wait(LOST, mark_host, SETTLE_TIMEOUT)
    if not lost:
        sc.fail("the host never saw the drop")
        return
    sc.figure(f"drop -> \"{LOST}\" {lost[1] - dropped:.2f} s")
    mark_pistol = pistol.mark()
    adv = show(sc)
    if not adv:
        return
    if link(sc, lost[0], adv[1], "advertisement (relink)", GOAL_LINK):
        presses(sc, mark_pistol)


def daemon_restart_linked(sc):
    if not need_link(sc):
        return
    mark_host, mark_pistol = host.mark(), pistol.mark()
    started = restart_daemon()
    if link(sc, mark_host, started, "bluetoothd start (relink)", GOAL_REAPPEAR):
        sc.figure(f"host saw the loss: {'yes' if host.count(LOST, mark_host) else 'no'}")
        presses(sc, mark_pistol)


def daemon_restart_scanning(sc):
    if not need_link(sc):
        return
    mark_host = host.mark()
    pistol.send("hide")
    lost = host.wait(LOST, mark_host, SETTLE_TIMEOUT)
    scanning = lost and host.wait(WATCHING, lost[0], SETTLE_TIMEOUT)
    if not scanning:
        sc.fail("the host did not go back to scanning")
        return
    mark_host = host.mark()
    started = restart_daemon()
    if not wait_until(both_powered, SETTLE_TIMEOUT, "both adapters powered"):
        sc.fail("the adapters did not come back")
        return
    sc.figure(f"bluetoothd start -> both adapters powered {now() - started:.2f} s")
    mark_pistol = pistol.mark()
    adv = show(sc)
    if not adv:
        return
    if link(sc, mark_host, adv[1], "advertisement (relink)", GOAL_LINK):
        sc.figure(f"bluetoothd start -> linked {adv[1] + sc.link_seconds - started:.2f} s")
        presses(sc, mark_pistol)


def power_cycle(sc):
    if not need_link(sc):
        return
    mark_host, mark_pistol = host.mark(), pistol.mark()
    bus.set_powered("hci0", False)
    lost = host.wait(LOST, mark_host, SETTLE_TIMEOUT)
    sc.figure(f"host saw the loss: {'yes' if lost else 'no'}")
    bus.set_powered("hci0", True)
    on = now()
    if link(sc, mark_host, on, "power on (relink)", GOAL_REAPPEAR):
        presses(sc, mark_pistol)


def btvirt_restart(sc):
    global btvirt
    if not need_link(sc):
        return
    mark_host, mark_pistol = host.mark(), pistol.mark()
    btvirt.stop()
    if not wait_until(lambda: not bus.adapters(), SETTLE_TIMEOUT, "the adapters to go"):
        sc.fail("the adapters stayed on the bus")
    lost = host.wait(LOST, mark_host, SETTLE_TIMEOUT)
    sc.figure(f"host saw the loss: {'yes' if lost else 'no'}")
    btvirt = start_btvirt()
    if link(sc, mark_host, btvirt.started, "btvirt start (relink)", GOAL_REAPPEAR):
        presses(sc, mark_pistol)


def doctor(sc):
    global host
    stopped = host.stop(signal.SIGTERM, SETTLE_TIMEOUT)
    if not host.wait("Cleanup returned", 0, 0):
        sc.fail(f"vk5-host did not end cleanly (status {stopped})")
    mark_pistol = pistol.mark()
    doc = Program("doctor", [os.path.join(BIN, "vk5-doctor"), "--no-install-check", "--seconds", str(LINK_TIMEOUT),
                             "--listen", "3"])
    started = doc.started
    got = doc.wait(CONNECTED, 0, LINK_TIMEOUT)
    if got:
        sc.figure(f"Connect attempts {doc.count(CONNECTING, 0, got[0])}; doctor start -> linked "
                  f"{got[1] - started:.2f} s")
        if pistol.wait(SUBSCRIBED, mark_pistol, PRESS_TIMEOUT):
            pistol.send("fire")
    verdict = doc.wait("verdict:", 0, LINK_TIMEOUT + 15)
    try:
        status = doc.proc.wait(SETTLE_TIMEOUT)
    except subprocess.TimeoutExpired:
        status = doc.stop(signal.SIGTERM, SETTLE_TIMEOUT)
    sc.figure(f"{verdict[2] if verdict else 'no verdict'} (exit {status})")
    if not verdict or "pistol found and subscribed" not in verdict[2] or status != 0:
        sc.fail("the doctor did not find and subscribe to the pistol")


def main():
    global daemon, btvirt, pistol, bus, host
    say(f"runner up; kernel {os.uname().release}")
    os.makedirs("/run/dbus", exist_ok=True)
    programs = [Program("dbus", ["dbus-daemon", "--system", "--nofork", "--nopidfile"])]
    deadline = now() + SETTLE_TIMEOUT
    while not os.path.exists("/run/dbus/system_bus_socket") and now() < deadline:
        programs[0].wait("\n", 0, 0.05)  # dbus-daemon prints nothing when it starts
    programs.append(Program("btmon", ["btmon", "-w", os.path.join(OUT, "btmon.snoop")]))
    programs.append(Program("dbus-monitor", ["dbus-monitor", "--system"]))
    btvirt = start_btvirt()
    daemon = start_bluetoothd()
    bus = Bus()
    host = None
    if not wait_until(both_powered, 2 * SETTLE_TIMEOUT, "both adapters powered"):
        say(f"adapters: {bus.adapters()}")
        print("0 passed, 1 failed", flush=True)
        return 1
    say(f"bluetoothd has both adapters powered, {now() - T0:.1f} s after the runner started")
    pistol = Program("pistol", ["python3", "-u", os.path.join(REPO, "scripts/real-bluetooth/peripheral.py"),
                                "hci1", "Pistol", "--hidden"], stdin=True, stamped=True)

    run("first link, all three buttons", first_link)
    run("the pistol drops the link and comes back", pistol_drop)
    run("bluetoothd restarted while linked", daemon_restart_linked)
    run("bluetoothd restarted while scanning", daemon_restart_scanning)
    run("adapter powered off and on", power_cycle)
    run("btvirt killed and started again", btvirt_restart)
    run("vk5-doctor against the real stack", doctor)

    for p in [pistol, daemon, btvirt] + programs[::-1]:
        p.stop(signal.SIGTERM, 5)
    passed = sum(r.ok for r in results)
    print("\n== summary", flush=True)
    for r in results:
        print(f"   {'PASS' if r.ok else 'FAIL'}  {r.name}: {'; '.join(r.figures)}", flush=True)
    if all_latencies:
        print(f"   notification -> press: median {statistics.median(all_latencies):.0f} ms, "
              f"max {max(all_latencies):.0f} ms over {len(all_latencies)} presses", flush=True)
    if missed_goals:
        print(f"   time goals missed in: {', '.join(missed_goals)}", flush=True)
    print(f"{passed} passed, {len(results) - passed} failed", flush=True)
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
