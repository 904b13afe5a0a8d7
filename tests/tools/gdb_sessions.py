#!/usr/bin/env python3
"""gaugebench --gdb with real debuggers in batch mode, one row a session.

Each session starts a command with --gdb on port 0 (so that sessions never
share a port), reads the port the command says it waits on, runs a debugger
with the row's commands (or, for a hostile one, sends the row's packets
itself) and checks what the debugger printed, the command's exit status and
messages, and for renders that the picture is the same as without a
debugger. Every wait has a limit and every process started is
ended, whatever happens. Exits 77 (skipped) without i686-w64-mingw32-gdb.

gdb_sessions.py GAUGEBENCH PE_DIR SOURCE_DIR WORK_DIR
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

SKIPPED = 77
# Limits for a hang, never reached by a working session (a few seconds each)
# even on a loaded machine.
LIMIT = 120

gaugebench, pe, source, work = map(os.path.abspath, sys.argv[1:5])
debuggee = f"{source}/tests/fixtures/debuggee"
korvane = f"{pe}/debug/Korvane.gau"

# Line 22 of debuggee.cpp is scaled_reading's first statement, 23 its
# return; 30 counts the update in g_updates; 35 writes through null.
CONNECT = "target remote 127.0.0.1:{port}"
SYMBOLS = ["file {pe}/Debuggee.gau", CONNECT]
BREAK_SCALED = SYMBOLS + ["break scaled_reading", "continue"]
HIT_SCALED = r"^Breakpoint 1, \(anonymous namespace\)::scaled_reading \(raw=\d+\) at .*debuggee\.cpp:22\n22\t"

DEBUGGEE = ["render", f"{debuggee}/debuggee.cfg", "--modules", pe]
# The same module built as a designer builds one, with the C runtime's
# start-up (TLS callbacks, frame registration, constructors), in crt/.
STARTUP = ["render", f"{debuggee}/debuggee.cfg", "--modules", f"{pe}/crt"]
STARTUP_SYMBOLS = ["file {pe}/crt/Debuggee.gau", CONNECT]
# Built so in other ways, each in a folder of its own: its logic in C
# (in_c/probe.c, whose line 12 is scaled_reading's first statement and 18
# the call after the count), and optimised, where scaled_reading is inlined.
def built_as(folder):
    return (["render", f"{debuggee}/debuggee.cfg", "--modules", f"{pe}/{folder}"],
            [f"file {pe}/{folder}/Debuggee.gau", CONNECT])
IN_C, IN_C_SYMBOLS = built_as("crt-c")
OPTIMISED, OPTIMISED_SYMBOLS = built_as("crt-o2")
OPTIMISED_C, OPTIMISED_C_SYMBOLS = built_as("crt-c-o2")
# A watch stops once for each store: the second update's count follows the first.
COUNTED_ONCE = r"^Old value = 1\nNew value = 2\n"
PANEL = ["render", f"{source}/panel/panel.cfg", "--modules", f"{pe}/debug", "--gdb-module", "Korvane.gau"]
# A hostile debugger's packets (sent by raw_session): points and writes
# beyond the module refused, reads of what module code reads answered, a
# breakpoint on every byte of the module's code and a watch on every byte
# of its data, one more refused, then detached at once. The descriptor
# table's bytes written back are its user code descriptor's own.
TIB_SELF = "00e0fd7f"  # fs:[0x18], the thread block's address
HOSTILE = ["Z0,0,1", "Z0,ffffffff,1", "Z0,7ffd0000,1", "Z0,7ffc0010,1", "Z1,10000000,1", "Z0,{data:x},1",
           "Z2,7ffde000,4", "Z3,10000000,4", "M7ffd0018,8:ffff000000fbcf00", "M7ffc0010,2:9090",
           "M7ffde000,4:00000000", "m7ffd0000,8", "m7ffde018,4", "Z2,{rdata:x},4", "z2,{rdata:x},4",
           ("Z0,{at:x},1", "code", 4096), ("Z2,{at:x},1", "data", 4096), "Z2,{rdata:x},4", "D"]
# name, debugger (None: none attaches), command (--gdb 0 added unless it
# has --gdb), debugger commands ({port}, {gdb} substituted), what the
# debugger prints (regular expressions of whole lines, in order), exit
# status, what the command prints on stderr, the picture that must equal
# the one drawn without a debugger (None: no picture).
ROWS = [
    ("break, arguments, next, locals", "mingw", DEBUGGEE,
     BREAK_SCALED + ["bt", "info args", "next", "info locals", "print doubled == 2 * raw", "detach"],
     [HIT_SCALED, r"^#1 .*probe_callback", r"^raw = \d+$", r"^23\t    return doubled \+ 1;$",
      r"^doubled = \d+$", r"^\$1 = true$"],
     0, [r"a debugger attached from 127\.0\.0\.1", r"the debugger detached: the session goes on"], "debuggee"),
    ("watch", "mingw", DEBUGGEE,
     SYMBOLS + ["watch g_updates", "continue", "detach"],
     [r"^Hardware watchpoint 1: g_updates$", r"^Old value = 0\nNew value = 1\n.*probe_callback .*debuggee\.cpp:31\n31\t"],
     0, [], "debuggee"),
    ("fault", "mingw", ["scenario", f"{debuggee}/fault.txt", "--modules", pe, "--out", "{work}/fault"],
     SYMBOLS + ["continue", "bt", "continue"],
     [r"^stopped in Debuggee!Probe, gauge_callback \(update\), probe_callback, debuggee\.cpp:35: write at 0x00000000 ",
      r"^Program received signal SIGSEGV, Segmentation fault\.\n.*probe_callback .*debuggee\.cpp:35\n"
      r"35\t        \*nowhere = g_updates;$", r"^#0  .*probe_callback .*debuggee\.cpp:35\n#1 ",
      r"^\[Inferior 1 \(Remote target\) exited with code 01\]$"],
     1, [r"fault\.txt:6: Debuggee\.gau: gauge Probe, gauge_callback \(update\): write at 0x00000000 .*"
         r"\(debuggee\.cpp:35, in probe_callback\)$", r"the program ended with status 1: the debugger was let go"],
     None),
    ("a module never loaded", "mingw", DEBUGGEE + ["--gdb-module", "Nope.gau"], [CONNECT, "continue"],
     [r"^Remote connection closed$"], 0,
     [r"warning: --gdb-module Nope\.gau: no module of that name was loaded \(loaded: Debuggee\.gau\)"],
     "debuggee"),
    # Korvane's debug build: a needle's callback, its argument and its local
    # (a double, on the x87 stack); a gauge callback's update, by condition.
    ("Korvane", "mingw", PANEL,
     ["file " + korvane, CONNECT, "break airspeed_curve", "continue", "info args", "print needle->source.value",
      "next", "info locals", "print s == needle->source.value", "detach"],
     [r"^Breakpoint 1, .*airspeed_curve \(needle=0x[0-9a-f]+ <.*>\) at .*pressure_instruments\.cpp:47\n47\t",
      r"^needle = 0x[0-9a-f]+ ", r"^\$1 = \d+$", r"^48\t    if \(s > 220\.0\) ", r"^s = \d+$", r"^\$2 = true$"],
     0, [], "korvane"),
    ("Korvane, a condition", "mingw", PANEL,
     ["file " + korvane, CONNECT, "break undercarriage_lamps if service_id == 6", "continue", "info args",
      "print left", "next", "detach"],
     [r"^Breakpoint 1, .*undercarriage_lamps \(gauge=0x[0-9a-f]+ <.*>, service_id=6\) at .*flaps_undercarriage\.cpp:113\n113\t",
      r"^service_id = 6$", r"^\$1 = \(MODULE_VAR &\) @0x[0-9a-f]+: \{token = \d+, ",
      r"^118\t    if \(service_id != kServiceUpdate\) return;$"],
     0, [], "korvane"),
    ("a second debugger", "mingw", DEBUGGEE,
     BREAK_SCALED + ["shell timeout 60 {gdb} -batch -nx -ex 'target remote 127.0.0.1:{port}'", "info args", "detach"],
     [HIT_SCALED, r"^raw = \d+$"],
     0, [r"a second debugger was refused: one is attached", r"the debugger detached"], "debuggee"),
    ("a debugger killed at a breakpoint", "mingw", DEBUGGEE,
     BREAK_SCALED + ["shell kill -9 $PPID"],
     [HIT_SCALED], 0, [r"the debugger went away: the session goes on"], "debuggee"),
    # With the C runtime's start-up: breakpoints and watches set at the first
    # stop, inside a TLS callback, before frame registration and the
    # constructors call back and forth between module and host.
    ("the C runtime's start-up", "mingw", STARTUP,
     STARTUP_SYMBOLS + ["break scaled_reading", "continue", "print raw * 2", "next", "detach"],
     [HIT_SCALED, r"^\$1 = \d+$", r"^23\t    return doubled \+ 1;$"], 0, [r"the debugger detached"], "debuggee"),
    ("the C runtime's start-up, a watch", "mingw", STARTUP,
     STARTUP_SYMBOLS + ["watch g_updates", "continue", "detach"],
     [r"^Hardware watchpoint 1: g_updates$", r"^Old value = 0\nNew value = 1\n.*probe_callback .*debuggee\.cpp:31\n31\t"],
     0, [], "debuggee"),
    ("the C runtime's start-up, gdb-multiarch", "multiarch", STARTUP,
     ["set architecture i386"] + STARTUP_SYMBOLS + ["break scaled_reading", "continue", "detach"],
     [HIT_SCALED], 0, [], "debuggee"),
    ("a module in C", "mingw", IN_C,
     IN_C_SYMBOLS + ["break scaled_reading", "continue", "print raw * 2", "next", "watch g_updates", "continue",
                     "detach"],
     [r"^Breakpoint 1, scaled_reading \(raw=\d+\) at .*probe\.c:12\n12\t", r"^\$1 = \d+$",
      r"^13\t    return doubled \+ 1;$", COUNTED_ONCE + r"probe_update \(airspeed=\d+\) at .*probe\.c:18\n"],
     0, [r"the debugger detached"], "debuggee"),
    ("a module in C, gdb-multiarch", "multiarch", IN_C,
     ["set architecture i386"] + IN_C_SYMBOLS + ["break scaled_reading", "continue", "detach"],
     [r"^Breakpoint 1, scaled_reading \(raw=\d+\) at .*probe\.c:12\n"], 0, [], "debuggee"),
    # Optimised: an inlined function's breakpoint, a step, and a watch on a
    # count the code adds to in memory in one instruction.
    ("optimised", "mingw", OPTIMISED,
     OPTIMISED_SYMBOLS + ["break scaled_reading", "continue", "print g_updates", "next", "watch g_updates",
                          "continue", "detach"],
     [r"^Breakpoint 1, .*scaled_reading \(raw=<optimized out>\) at .*debuggee\.cpp:23\n", r"^\$1 = 1$",
      r"^31\t", COUNTED_ONCE + r".*probe_callback .*debuggee\.cpp:31\n"],
     0, [r"the debugger detached"], "debuggee"),
    ("optimised C, gdb-multiarch", "multiarch", OPTIMISED_C,
     ["set architecture i386"] + OPTIMISED_C_SYMBOLS + ["break scaled_reading", "continue", "next", "watch g_updates",
                                                        "continue", "detach"],
     # Stopped at the inlined call's first instruction, gdb-multiarch names the
     # inlined routine or the routine it was inlined into, depending on how the
     # compiler laid out that address's line rows; either is the breakpoint.
     [r"^Breakpoint 1, .*(scaled_reading \(raw=<optimized out>\) at .*probe\.c:13|"
      r"probe_update \(airspeed=\d+\) at .*probe\.c:18)\n", r"^18\t",
      COUNTED_ONCE + r"probe_update \(airspeed=\d+\) at .*probe\.c:18\n"],
     0, [], "debuggee"),
    ("gdb-multiarch", "multiarch", DEBUGGEE,
     ["set architecture i386"] + BREAK_SCALED + ["detach"],
     [HIT_SCALED], 0, [], "debuggee"),
    ("beyond the module, refused", "mingw", DEBUGGEE,
     SYMBOLS + ["break *0x10000000", "continue", "delete", "print *(int *)0x7ffde000 = 0", "detach"],
     [r"^Cannot insert breakpoint 1\.\nCannot access memory at address 0x10000000$",
      r"^Cannot access memory at address 0x7ffde000$", r"^\[Inferior 1 \(Remote target\) detached\]$"],
     0, [r"the debugger detached"], "debuggee"),
    ("a hostile debugger's packets", "raw", DEBUGGEE, HOSTILE,
     [r"^Z0,0,1 -> E01$", r"^Z0,ffffffff,1 -> E01$", r"^Z0,7ffd0000,1 -> E01$", r"^Z0,7ffc0010,1 -> E01$",
      r"^Z1,10000000,1 -> E01$", r"^Z0,[0-9a-f]+,1 -> E01$", r"^Z2,7ffde000,4 -> E01$", r"^Z3,10000000,4 -> E01$",
      r"^M7ffd0018,8:\w+ -> E14$", r"^M7ffc0010,2:9090 -> E14$", r"^M7ffde000,4:00000000 -> E14$",
      r"^m7ffd0000,8 -> E14$", r"^m7ffde018,4 -> " + TIB_SELF + "$", r"^Z2,[0-9a-f]+,4 -> OK$",
      r"^z2,[0-9a-f]+,4 -> OK$", r"^Z0,[0-9a-f]+,1 x4096 -> OK$", r"^Z2,[0-9a-f]+,1 x4096 -> OK$",
      r"^Z2,[0-9a-f]+,4 -> E01$", r"^D -> OK$"],
     0, [r"the debugger detached"], "debuggee"),
    ("an address that stands for nothing", None,
     DEBUGGEE + ["-o", "{work}/nowhere.png", "--gdb", "[fe80::1%no-such-interface]:0"],
     [], [], 2, [r"\Agaugebench render: --gdb \[fe80::1%no-such-interface\]:0: no such address: .*\n\Z"], None),
    ("another machine's address, refused", None, DEBUGGEE + ["-o", "{work}/refused.png", "--gdb", "0.0.0.0:0"],
     [], [], 2, [r"\Agaugebench render: --gdb 0\.0\.0\.0:0: .* takes --gdb-anywhere\n\Z"], None),
    ("another machine's address, allowed", "mingw", DEBUGGEE + ["--gdb", "0.0.0.0:0", "--gdb-anywhere"],
     SYMBOLS + ["detach"], [r"^\[Inferior 1 \(Remote target\) detached\]$"],
     0, [r"warning: the debugger's port is open to other machines \(0\.0\.0\.0:\d+\)"], "debuggee"),
]

children = []


def end_children(*_):
    for child in children:
        if child.poll() is None:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
    if _:
        sys.exit(1)


def start(arguments, **options):
    child = subprocess.Popen(arguments, start_new_session=True, **options)
    children.append(child)
    return child


def waiting_port(command, errors):
    """The port the command says it waits on, None when it ended first."""
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        with open(errors) as said:
            found = re.search(r"waiting for a debugger: target remote \S*:(\d+)\b", said.read())
        if found:
            return int(found.group(1))
        if command.poll() is not None:
            return None
        time.sleep(0.05)
    return None


def frame(data):
    return f"${data}#{sum(data.encode()) % 256:02x}".encode()


def read_packet(reader):
    """The next packet's data (acknowledgements skipped); checksums are the stub's own test's."""
    while (byte := reader.read(1)) != b"$":
        if not byte:
            raise ConnectionError("the stub closed the connection")
    data = b""
    while (byte := reader.read(1)) != b"#":
        if not byte:
            raise ConnectionError("the stub closed the connection")
        data += byte
    reader.read(2)
    return data.decode()


def raw_session(port, packets):
    """Sends each packet and prints 'packet -> answer'; a (template, place,
    n) triple is n packets at successive addresses from the place, answered
    on one line. The places are Debuggee.gau's code, data and read-only
    data, its sections' pages in that order."""
    lines = []
    with socket.create_connection(("127.0.0.1", port), timeout=LIMIT) as connection:
        # As a debugger does: each small packet goes at once, not behind the last one's acknowledgement.
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        reader = connection.makefile("rb")

        def ask(data):
            connection.sendall(frame(data))
            answer = read_packet(reader)
            connection.sendall(b"+")
            return answer

        libraries = ask("qXfer:libraries:read::0,fff")
        code = int(re.search(r'segment address="0x([0-9a-f]+)"', libraries).group(1), 16)
        places = {"code": code, "data": code + 0x1000, "rdata": code + 0x2000}
        for packet in packets:
            if isinstance(packet, tuple):
                template, place, count = packet
                answers = {ask(template.format(at=places[place] + i)) for i in range(count)}
                lines.append(f"{template.format(at=places[place])} x{count} -> {' '.join(sorted(answers))}")
            else:
                data = packet.format(**places)
                lines.append(f"{data} -> {ask(data)}")
    return "\n".join(lines) + "\n"


def render(name, arguments):
    """The reference picture: the same command without a debugger."""
    picture = f"{work}/{name}.png"
    subprocess.run([gaugebench] + arguments + ["-o", picture], check=True, timeout=LIMIT,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(picture, "rb") as f:
        return f.read()


def run(index, row, debuggers, references):
    name, debugger, command, commands, printed, status, said, picture = row
    fill = lambda text, port=None: text.format(pe=pe, work=work, gdb=debuggers["mingw"], port=port)
    arguments = [gaugebench] + [fill(a) for a in command]
    if picture:
        arguments += ["-o", f"{work}/session{index}.png"]
    if debugger:
        arguments += [] if "--gdb" in arguments else ["--gdb", "0"]
    errors = f"{work}/session{index}.err"
    with open(errors, "w") as sink:
        bench = start(arguments, stdout=subprocess.DEVNULL, stderr=sink, cwd=work)
    output = ""
    failures = []
    if debugger:
        port = waiting_port(bench, errors)
        if port is None:
            failures.append("the command never said where it waits for a debugger")
        elif debugger == "raw":
            try:
                output = raw_session(port, commands)
            except (OSError, AttributeError) as error:
                failures.append(f"the hostile debugger's session broke off: {error!r}")
        else:
            invocation = [debuggers[debugger], "-batch", "-nx"]
            for c in commands:
                invocation += ["-ex", fill(c, port)]
            gdb = start(invocation, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                        text=True, cwd=source)
            try:
                output = gdb.communicate(timeout=LIMIT)[0]
            except subprocess.TimeoutExpired:
                failures.append(f"the debugger did not end within {LIMIT} s")
    try:
        bench.wait(timeout=LIMIT)
    except subprocess.TimeoutExpired:
        failures.append(f"the command did not end within {LIMIT} s")
    end_children()
    with open(errors) as said_file:
        stderr = said_file.read()
    at = 0
    for expression in printed:
        found = re.compile(expression, re.M).search(output, at)
        if not found:
            failures.append(f"the debugger did not print (after what went before) {expression!r}")
            break
        at = found.end()
    if bench.returncode != status:
        failures.append(f"exit status {bench.returncode}, expected {status}")
    failures += [f"stderr lacks {e!r}" for e in said if not re.search(e, stderr, re.M)]
    if picture and not failures:
        with open(f"{work}/session{index}.png", "rb") as f:
            if f.read() != references[picture]:
                failures.append(f"session{index}.png differs from {picture}.png, drawn without a debugger")
    if failures:
        print(f"FAIL {name}: " + "; ".join(failures))
        print(f"  {' '.join(arguments)}\n--- debugger:\n{output}--- stderr:\n{stderr}---")
    else:
        print(f"ok   {name}")
    return not failures


def main():
    signal.signal(signal.SIGTERM, end_children)
    signal.signal(signal.SIGINT, end_children)
    debuggers = {"mingw": shutil.which("i686-w64-mingw32-gdb"), "multiarch": shutil.which("gdb-multiarch"),
                 "raw": "raw"}
    if not debuggers["mingw"]:
        print("i686-w64-mingw32-gdb is not installed (scripts/install-deps.sh installs it): skipped")
        return SKIPPED
    os.makedirs(work, exist_ok=True)
    references = {"debuggee": render("debuggee", DEBUGGEE), "korvane": render("korvane", PANEL[:4])}
    passed = True
    try:
        for index, row in enumerate(ROWS):
            if row[1] and not debuggers[row[1]]:
                print(f"skip {row[0]}: gdb-multiarch is not installed")
                continue
            passed = run(index, row, debuggers, references) and passed
    finally:
        end_children()
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
