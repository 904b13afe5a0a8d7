#!/usr/bin/env python3
"""The panel beside a real simulator: JSBSim flies the cruise in real time,
sending its FLIGHTGEAR output to `gaugebench serve --feed` and taking the
panel's controls on its UDP input (--controls jsbsim). The page's status (read
as a page reads it, over the WebSocket) is checked against JSBSim's own CSV of
the same run: the figures while live and those held once the feed stops (the
engines' among them: the page holds START until they catch, on the panel's
magnetos), the stop said within 2 s; the page's throttle keys open JSBSim's
throttle; garbage
datagrams of any size are counted and leave the server serving. Beside it
`gaugebench record` takes a second FLIGHTGEAR output of the same run: its
scenario replays through `gaugebench scenario` with JSBSim's last figures; and
a second server, fed by a third output, sends FlightGear's controls packet
(--controls flightgear), read here as FlightGear would: its page's throttle
and the scenario's magnetos arrive in their fields.

    jsbsim_feed.py GAUGEBENCH JSBSIM FDM_DIR MODULES WORK

Exit status 77 (skipped) where JSBSim is not installed."""
import base64
import csv
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time

GAUGEBENCH, JSBSIM, FDM_DIR, MODULES, WORK = (os.path.abspath(arg) for arg in sys.argv[1:6])
FLIGHT_SECONDS = 18
CAUGHT_RPM = 400
RECORD_SECONDS = FLIGHT_SECONDS + 3  # the last ones held after JSBSim ends
PATIENCE = 60


def fail(why):
    print("FAIL:", why)
    sys.exit(1)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Page:
    """The WebSocket a page opens, reduced to reading statuses and sending messages."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n"
                           f"Origin: http://127.0.0.1:{port}\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                fail("the server closed the WebSocket's handshake")
            head += chunk
        if b" 101 " not in head.split(b"\r\n")[0]:
            fail("no WebSocket: " + head.decode(errors="replace"))

    def _exactly(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("closed")
            data += chunk
        return data

    def message(self):
        """The next text message as JSON (pictures skipped)."""
        while True:
            first, second = self._exactly(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._exactly(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._exactly(8))[0]
            payload = self._exactly(length)
            opcode = first & 0x0F
            if opcode == 1:
                return json.loads(payload)
            if opcode == 2:  # a picture: drawn, as a page says, so that the next comes
                self.send({"t": "drawn"})
            elif opcode == 9:
                self._frame(0x8A, payload)

    def _frame(self, head, payload):
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(bytes([head, 0x80 | len(payload)]) + mask + masked)

    def send(self, message):
        self._frame(0x81, json.dumps(message, separators=(",", ":")).encode())


def compare(what, figures, last):
    """The figures against JSBSim's last CSV row, each within a dial's reading."""
    expected = {"airspeed": (last[1], 1.0), "altitude": (last[2] + (1013.0 - 1013.25) * 27.31, 10.0),
                "heading": (last[3] % 360.0, 1.0), "engine_speed.1": (last[4], 5.0),
                "boost.1": ((last[5] * 70.7262 - 2073.0) / 144.0, 0.1)}
    for name, (value, within) in expected.items():
        print(f"{what}: {name} {figures[name]:.3f}, JSBSim {value:.3f}")
        if abs(figures[name] - value) > within:
            fail(f"{what}: {name} reads {figures[name]} where JSBSim's last was {value} (within {within})")


def main():
    if not os.access(JSBSIM, os.X_OK):
        print(f"JSBSim is not installed at {JSBSIM}: scripts/install-deps.sh installs it. Test skipped.")
        return 77
    shutil.rmtree(WORK, ignore_errors=True)
    root = os.path.join(WORK, "root")
    for folder in ("aircraft", "scripts"):
        shutil.copytree(os.path.join(FDM_DIR, folder), os.path.join(root, folder))
    feed_port, controls_port, record_port = free_udp_port(), free_udp_port(), free_udp_port()
    second_feed_port = free_udp_port()
    # FlightGear's end of the second server's controls: bound before serve
    # starts sending, so no packet is lost to an unbound port.
    fg_controls = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    fg_controls.bind(("127.0.0.1", 0))
    fg_controls.settimeout(1.0)
    packets = []  # read as they come: a full socket buffer would keep only the first

    def take_controls():
        while True:
            try:
                packets.append(fg_controls.recv(2048))
            except socket.timeout:
                continue
            except OSError:
                return
    threading.Thread(target=take_controls, daemon=True).start()
    recorded = os.path.join(WORK, "recorded.txt")
    recorder = subprocess.Popen([GAUGEBENCH, "record", "--feed", f"flightgear:{record_port}", "--seconds",
                                 str(RECORD_SECONDS), "-o", recorded, "--feed-pounds-per-gallon", "7.2",
                                 "--wait", str(PATIENCE), "--no-progress"],
                                stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)

    # The panel's magnetos on, as a crew leaves them in flight: the controls
    # send them with every datagram, so with them off JSBSim's engines stop.
    magnetos = os.path.join(WORK, "magnetos_on.txt")
    with open(magnetos, "w") as f:
        f.write(f"panel {os.path.join(os.path.dirname(FDM_DIR), 'panel', 'panel.cfg')}\n" + "".join(
            f"set magneto_{m}.{engine} 1\n" for engine in range(1, 5) for m in (1, 2)) + "update\n")
    server = subprocess.Popen([GAUGEBENCH, "serve", "--port", "0", "--modules", MODULES, "--scenario", magnetos,
                               "--feed", f"flightgear:{feed_port}", "--controls", f"jsbsim:localhost:{controls_port}",
                               "--feed-pounds-per-gallon", "7.2"],
                              stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
    second = subprocess.Popen([GAUGEBENCH, "serve", "--port", "0", "--modules", MODULES, "--scenario", magnetos,
                               "--feed", f"flightgear:{second_feed_port}",
                               "--controls", f"flightgear:localhost:{fg_controls.getsockname()[1]}"],
                              stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
    said, said_second = [], []
    threading.Thread(target=lambda: said.extend(server.stderr), daemon=True).start()
    threading.Thread(target=lambda: said_second.extend(second.stderr), daemon=True).start()
    jsbsim = None
    try:
        deadline = time.time() + PATIENCE
        while not any("is live at" in line for line in said):
            if time.time() > deadline or server.poll() is not None:
                fail("serve did not start:\n" + "".join(said))
            time.sleep(0.1)
        text = "".join(said)
        port = int(text.split("is live at http://127.0.0.1:")[1].split("/")[0])
        while not any("is live at" in line for line in said_second):
            if time.time() > deadline or second.poll() is not None:
                fail("the second serve did not start:\n" + "".join(said_second))
            time.sleep(0.1)
        second_port = int("".join(said_second).split("is live at http://127.0.0.1:")[1].split("/")[0])
        directive = text[text.index("<input"):text.index("</input>") + len("</input>")]
        # The engines running from the start; the panel's controls, which
        # hold the starters as the panel does (let go) and the magnetos on,
        # take over at once and keep them running.
        init = os.path.join(root, "aircraft", "korvane", "cruise.xml")
        with open(init) as f:
            xml = f.read()
        with open(init, "w") as f:
            f.write(xml.replace("</initialize>", "  <running> -1 </running>\n</initialize>"))
        # The aircraft takes the panel's controls with the <input> serve printed.
        aircraft = os.path.join(root, "aircraft", "korvane", "korvane.xml")
        with open(aircraft) as f:
            xml = f.read()
        with open(aircraft, "w") as f:
            f.write(xml.replace("</fdm_config>", directive + "\n</fdm_config>"))
        for name, udp_port in (("outputs.xml", feed_port), ("record.xml", record_port),
                               ("second.xml", second_feed_port)):
            with open(os.path.join(WORK, name), "w") as f:
                f.write(f'<?xml version="1.0"?>\n<output name="localhost" type="FLIGHTGEAR" port="{udp_port}" '
                        f'protocol="UDP" rate="18"/>\n')
        with open(os.path.join(WORK, "csv.xml"), "w") as f:
            f.write('<?xml version="1.0"?>\n<output name="flight.csv" type="CSV" rate="18">\n' + "".join(
                f"  <property>{p}</property>\n" for p in (
                    "velocities/vc-kts", "position/h-sl-ft", "attitude/psi-deg", "propulsion/engine[0]/engine-rpm",
                    "propulsion/engine[0]/map-inhg", "fcs/throttle-cmd-norm[0]")) + "</output>\n")
        # The starters held from the page, as a pilot holds START, until each
        # engine catches: the panel's controls carry the starters to JSBSim.
        vocabulary = json.loads(subprocess.run([GAUGEBENCH, "vocabulary", "--json", "-"], capture_output=True,
                                               text=True, timeout=PATIENCE, check=True).stdout)
        start_events = {entry["name"]: entry["number"] for entry in vocabulary if entry["kind"] == "event"}
        start_events = [start_events[f"engine_start.{engine}"] for engine in range(1, 5)]
        page, second_page = Page(port), Page(second_port)
        jsbsim_log = open(os.path.join(WORK, "jsbsim.log"), "w")
        jsbsim = subprocess.Popen([JSBSIM, f"--root={root}", "--script=scripts/cruise.xml", "--realtime",
                                   f"--end={FLIGHT_SECONDS}", f"--logdirectivefile={WORK}/outputs.xml",
                                   f"--logdirectivefile={WORK}/record.xml", f"--logdirectivefile={WORK}/second.xml",
                                   f"--logdirectivefile={WORK}/csv.xml"],
                                  stdout=jsbsim_log, stderr=subprocess.STDOUT, cwd=WORK)
        live, opened_at, ended_at, stopped = [], None, None, None
        deadline = time.time() + FLIGHT_SECONDS + PATIENCE
        while stopped is None and time.time() < deadline:
            status = page.message()
            if status.get("type") != "status" or "feed" not in status:
                continue
            state = status["feed"]["state"]
            if os.environ.get("FEED_DEBUG"):
                print(round(time.time(), 2), state, status["feed"]["text"], status["figures"]["airspeed"], flush=True)
            if state == "live":
                live.append(status)
                for engine, event in enumerate(start_events):
                    if status["rpm"][engine] < CAUGHT_RPM and len(live) < 18 * 10:
                        page.send({"t": "key", "event": event})
                # The page's throttle keys (Home, held 3 s, the levers closed from the cold start) once the flight has settled.
                if len(live) == 18 * 4:
                    page.send({"t": "controls", "elevator": 0, "aileron": 0, "rudder": 0, "brakes": 0, "throttle": 1})
                    opened_at = time.time()
                if opened_at and time.time() - opened_at > 3.0 and len(live) % 9 == 0:
                    page.send({"t": "controls", "elevator": 0, "aileron": 0, "rudder": 0, "brakes": 0, "throttle": 0})
            if len(live) == 18 * 4:
                second_page.send({"t": "controls", "elevator": 0, "aileron": 0, "rudder": 0, "brakes": 0,
                                  "throttle": 1})
            if jsbsim.poll() is not None and ended_at is None:
                ended_at = time.time()
            if state == "stopped" and ended_at is not None:
                stopped = time.time() - ended_at, status
        if jsbsim.wait(timeout=30) != 0:
            fail(f"JSBSim ended with {jsbsim.returncode} (see {WORK}/jsbsim.log)")
        if f"Successfully bound to UDP input socket on port {controls_port}" not in open(
                os.path.join(WORK, "jsbsim.log")).read():
            fail("JSBSim took no UDP input")
        if len(live) < 18 * 6:
            fail(f"only {len(live)} live statuses in a {FLIGHT_SECONDS} s flight")
        if stopped is None:
            fail("the stopped feed was never said")
        if stopped[0] > 2.0:
            fail(f"the stopped feed was said {stopped[0]:.1f} s after JSBSim ended")
        if "no data for" not in stopped[1]["feed"]["text"]:
            fail("the status does not say the feed stopped: " + stopped[1]["feed"]["text"])
        rates = [s["feed"]["rate"] for s in live[18 * 2:]]
        if not 14.0 <= sum(rates) / len(rates) <= 22.0:
            fail(f"a packet rate of {sum(rates) / len(rates):.1f}/s, where JSBSim sends 18")

        with open(os.path.join(root, "flight.csv")) as f:
            rows = [[float(x) for x in row] for row in list(csv.reader(f))[1:]]
        last = rows[-1]
        # Engine figures compared only mean something with the engines running.
        if last[4] < CAUGHT_RPM:
            fail(f"JSBSim's engine 1 turns at {last[4]:.0f} rpm at the end: the panel's controls stopped it")
        held = stopped[1]
        # Held, not zeroed: the last packet's figures, within a dial's reading.
        held_figures = {"airspeed": held["figures"]["airspeed"], "altitude": held["figures"]["altitude"],
                        "heading": held["figures"]["heading"], "engine_speed.1": held["rpm"][0],
                        "boost.1": held["figures"]["boost"][0]}
        compare("serve's page", held_figures, last)
        # While live, every airspeed the page showed is one JSBSim flew.
        low, high = min(r[1] for r in rows), max(r[1] for r in rows)
        for status in live:
            if not low - 1.0 <= status["figures"]["airspeed"] <= high + 1.0:
                fail(f"airspeed {status['figures']['airspeed']} outside JSBSim's {low:.1f}..{high:.1f}")
        throttle = [r[6] for r in rows]
        print(f"throttle command: {throttle[18 * 3]:.3f} before the keys, {max(throttle):.3f} at most")
        if not (throttle[18 * 3] < 0.95 and max(throttle) > 0.99):
            fail("the page's throttle did not open JSBSim's")

        # FlightGear's controls packet, read by the protocol's own offsets
        # (version 27, 744 bytes, network order): the page's throttle open,
        # both magnetos of every engine on, as the scenario left them.
        if not packets:
            fail("the second server sent no FlightGear controls")
        wrong = [len(p) for p in packets if len(p) != 744 or struct.unpack_from(">I", p, 0)[0] != 27]
        if wrong:
            fail(f"{len(wrong)} of {len(packets)} controls packets not version 27 of 744 bytes: sizes {wrong[:5]}")
        engines = struct.unpack_from(">I", packets[-1], 88)[0]
        magnetos_sent = struct.unpack_from(">4I", packets[-1], 124)
        throttles = [struct.unpack_from(">d", p, 160)[0] for p in packets]
        print(f"FlightGear controls: {len(packets)} packets, {engines} engines, magnetos {magnetos_sent}, "
              f"throttle 1 at most {max(throttles):.3f}")
        if engines != 4 or magnetos_sent != (3, 3, 3, 3) or max(throttles) != 1.0:
            fail("the FlightGear controls packet does not carry the page's throttle and the panel's magnetos")

        # Garbage of any size is counted and ignored; the server serves on.
        before = held["feed"]["malformed"]
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
            for size in (0, 1, 4, 407, 408, 409, 1500, 9000):
                sender.sendto(os.urandom(size) if size != 408 else b"\0\0\0\x19" + os.urandom(404),
                              ("127.0.0.1", feed_port))
        deadline = time.time() + 10
        while True:
            status = page.message()
            if status.get("type") == "status" and status["feed"]["malformed"] == before + 8:
                break
            if time.time() > deadline:
                fail("the garbage was not counted: " + json.dumps(status.get("feed")))
        print("garbage:", status["feed"]["text"])
        if server.poll() is not None:
            fail("the server ended on garbage")

        # The recording replays with the same last figures.
        try:
            _, said_by_record = recorder.communicate(timeout=PATIENCE)
        except subprocess.TimeoutExpired:
            fail("record did not end")
        if recorder.returncode != 0:
            fail(f"record ended with {recorder.returncode}:\n{said_by_record}")
        print(said_by_record.strip().splitlines()[-1])
        replay = os.path.join(WORK, "replay.txt")
        with open(recorded) as f, open(replay, "w") as out:
            out.write(f.read() + "print " + " ".join(held_figures) + "\n")
        replayed = subprocess.run([GAUGEBENCH, "scenario", replay, "--modules", MODULES, "--json", "-"],
                                  capture_output=True, text=True, timeout=PATIENCE)
        if replayed.returncode != 0:
            fail(f"the recording's replay ended with {replayed.returncode}:\n{replayed.stderr}")
        summary = json.loads(replayed.stdout)
        if summary["updates"] != RECORD_SECONDS * 18:
            fail(f"the recording replays {summary['updates']} updates, not {RECORD_SECONDS * 18}")
        compare("the recording", {v["variable"]: v["value"] for v in summary["printed"][-1]["values"]}, last)
        print("ok")
        return 0
    finally:
        fg_controls.close()
        for child in (jsbsim, server, second, recorder):
            if child is not None and child.poll() is None:
                child.terminate()
                try:
                    child.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    child.kill()


sys.exit(main())
