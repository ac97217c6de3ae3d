#!/usr/bin/env python3
"""The window half of scripts/benchmark: orvelle.exe (release build) beside
the baseline window, started and measured in turn under the bench's Wine.

First, with Word registered but not running, Orvelle started alone, once
per repeat: the time until its window is visible and until it is ready
(its message loop runs: start-up is over), and the Word instances it
created (the stand-in's call log).  Then, per repeat, both programs started
in turn beside the stand-in as the user's Word and then counting side by
side: the same two times and the instances Orvelle created, private memory
3 s after the start and 15 s after it (the threads COM started for talking
to Word have ended: the figure "while counting"), CPU per countdown second
over the next seconds, the same seconds for both; then Orvelle's private
memory 3 s and 15 s after a backup run of 50 documents, and 15 s after a
second one.  Then the final table with every ratio, min and median over the
repeats, what each run added to Orvelle's private memory by part, and where
each program's private memory lies (per part and module).

Usage: window-bench.py BENCH_DIR BUILD_BIN ORVELLE_EXE FLOOR_FILE TRIPS_PER_DOC
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

bench, bin_dir, orvelle_exe, floor_file, trips_per_doc = sys.argv[1:6]
REPEATS = int(os.environ.get("BENCH_REPEATS", "3"))
COUNT_SECONDS = float(os.environ.get("BENCH_COUNT_SECONDS", "20"))
DOCS = 50
env = dict(os.environ, WINEPREFIX=f"{bench}/prefix", WINEARCH="win64", WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=open(f"{bench}/display").read().strip())
probe_exe = f"{bin_dir}/bench-probe.exe"
baseline_exe = f"{bin_dir}/baseline-window.exe"
standin_exe = f"{bin_dir}/word-standin.exe"
ORVELLE_CLASS, BASELINE_CLASS = "OrvelleMainWindow", "OrvelleBaselineWindow"
BACKUP_NOW = "1002"  # PushButton2, "Backup Save Now (Test)"
SWITCHES = r"HKCU\Software\Orvelle Test\Word Stand-in"


def wine(*args, check=True):
    return subprocess.run(["wine", *args], env=env, capture_output=True, text=True, check=check).stdout


def probe(*args):
    # Output through a file, not a pipe: a program that "start" leaves running
    # inherits the probe's standard handles and would hold a pipe open.
    with open(f"{bench}/probe.out", "w+") as out, open(f"{bench}/probe.err", "w+") as err:
        code = subprocess.run(["wine", probe_exe, *args], env=env, stdout=out, stderr=err).returncode
        out.seek(0), err.seek(0)
        if code != 0:
            raise RuntimeError(f"bench-probe {' '.join(args)}: {err.read().strip()}")
        return out.read()


def unix_path(windows_path):
    return subprocess.run(["winepath", "-u", windows_path], env=env, capture_output=True,
                          text=True).stdout.strip()


def windows_path(path):
    return subprocess.run(["winepath", "-w", path], env=env, capture_output=True, text=True).stdout.strip()


def unix_pid(exe_name):
    """The Linux process that runs EXE_NAME in this bench's prefix (others may run
    the same exe in their own prefixes)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cmd = open(f"/proc/{pid}/cmdline", "rb").read().decode(errors="replace")
            if exe_name.lower() not in cmd.lower():
                continue
            environ = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
            if f"WINEPREFIX={env['WINEPREFIX']}".encode() in environ:
                found.append(int(pid))
        except OSError:
            pass
    if not found:
        raise RuntimeError(f"no Linux process for {exe_name}")
    return max(found)


def cpu_ns(pid):
    """CPU time of every thread of a Linux process, in nanoseconds (schedstat:
    exact, where /proc/PID/stat counts 10 ms ticks)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            total += int(open(f"/proc/{pid}/task/{task}/schedstat").read().split()[0])
        except OSError:
            pass
    return total


def status_private(pid):
    """RssAnon + VmSwap from /proc/PID/status: the process's private memory.  Wine 8's
    GetProcessMemoryInfo answers PrivateUsage 0 (PagefileUsage, i.e. swap), so the
    Windows-side figure cannot be asked for."""
    fields = {}
    for line in open(f"/proc/{pid}/status"):
        key, _, value = line.partition(":")
        fields[key] = value.split()
    return (int(fields.get("RssAnon", ["0"])[0]) + int(fields.get("VmSwap", ["0"])[0])) * 1024


def private_usage(wpid):
    return int(probe("memory", str(wpid)).split()[0])


STACKS, PROCESS_HEAP, HEAPS, UNIX_HEAP, OTHER = ("thread stacks", "process heap", "other heaps (the C runtime's...)",
                                                "[heap]: Wine's unix-side malloc", "other anonymous memory")


def memory_map(wpid, upid):
    """Anonymous (private) resident KB per part: the stacks of the live threads,
    the process heap and the other heaps (their reservations, from
    bench-probe), each module image, Wine's unix-side malloc heap, and the rest
    (the stack of a thread that ended, which Wine frees only when the next one
    ends, Wine's own stack and memory per thread)."""
    modules = []
    for line in probe("modules", str(wpid)).splitlines():
        base, size, name = line.split(" ", 2)
        modules.append((int(base, 16), int(base, 16) + int(size, 16), name.rsplit("\\", 1)[-1].lower()))
    for line in probe("regions", str(wpid)).splitlines():
        kind, low, high = line.split()
        modules.append((int(low, 16), int(high, 16),
                        {"thread-stack": STACKS, "process-heap": PROCESS_HEAP}.get(kind, HEAPS)))
    parts = {}
    start = name = None
    for line in open(f"/proc/{upid}/smaps"):
        head = line.split()
        if "-" in head[0] and not head[0].endswith(":"):
            start = int(head[0].split("-")[0], 16)
            name = head[5] if len(head) > 5 else ""
        elif head[0] == "Anonymous:":
            kb = int(head[1])
            if not kb:
                continue
            owner = next((m[2] for m in modules if m[0] <= start < m[1]), None)
            if owner is None:
                owner = UNIX_HEAP if name == "[heap]" else \
                    ("unix: " + os.path.basename(name)) if name.startswith("/") else OTHER
            parts[owner] = parts.get(owner, 0) + kb
    return parts


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return False


# ---- the world Orvelle needs: the stand-in as the user's Word, settings -----------
work = f"{bench}/window-bench"
shutil.rmtree(work, ignore_errors=True)
os.makedirs(f"{work}/docs")
os.makedirs(f"{work}/backups")
files = []
for i in range(DOCS):
    line = f"Paragraph {i}: the quick brown fox jumps over the lazy dog.\n"
    path = f"{work}/docs/Doc{i}.txt"
    with open(path, "w") as f:
        f.write(line * (100 * 1024 // len(line) + 1))
    files.append(windows_path(path))
wine(standin_exe, "/regserver")
call_log = f"{work}/calls.txt"
wine("reg", "add", SWITCHES, "/v", "CallLog", "/d", windows_path(work) + "\\calls.txt", "/f")
store = r"HKCU\Software\VB and VBA Program Settings\Kelvane\Orvelle"
for name, value in [("Path", windows_path(f"{work}/backups") + "\\"), ("WhereOption", "1"), ("BackupOption", "1"),
                    ("OftenIndex", "10"), ("BackupSwitch", "On"), ("Minimized", "Off"), ("WindowsStartup", "Off")]:
    wine("reg", "add", store, "/v", name, "/d", value, "/f")
temp = wine("cmd", "/c", "echo %TEMP%").strip()
history = unix_path(temp + "\\Orvelle.txt")
results = {"baseline": {}, "orvelle": {}}


def record(program, key, value):
    results[program].setdefault(key, []).append(value)


def created():
    """Word instances created so far, by the stand-in's call log."""
    if not os.path.exists(call_log):
        return 0
    return sum(line.count(b"\tClassFactory.CreateInstance\t") for line in open(call_log, "rb"))


def start(program, cls, exe, side, suffix=""):
    before = created()
    out = probe("start", cls, exe).split()
    record(program, "visible" + suffix, float(out[0]))
    record(program, "ready" + suffix, float(out[1]))
    if side:
        probe("place", cls, side)
    return int(out[2]), unix_pid(os.path.basename(exe)), before


# Start-up with Word registered and not running: its registration answers.
for repeat in range(REPEATS):
    _, _, before = start("orvelle", ORVELLE_CLASS, orvelle_exe, None, "-registered")
    time.sleep(3)  # whatever start-up would still create shows in the log by now
    record("orvelle", "instances-registered", created() - before)
    probe("close", ORVELLE_CLASS)

user_word = subprocess.Popen(["wine", standin_exe, *files], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
time.sleep(2)
if user_word.poll() is not None:
    sys.exit(f"the Word stand-in ended at once (code {user_word.returncode})")
# The pointer rests far from both windows (they are centred).
subprocess.run(["xdotool", "mousemove", "1279", "1023"], env=env, check=False)

def run_backup(timed):
    if os.path.exists(history):
        os.remove(history)
    for f in os.listdir(f"{work}/backups"):
        os.remove(f"{work}/backups/{f}")
    started = time.time()
    probe("click", ORVELLE_CLASS, BACKUP_NOW)
    lines = lambda: os.path.exists(history) and sum(1 for _ in open(history, "rb")) >= DOCS
    if not wait_for(lines, 120):
        sys.exit("the backup run of 50 documents did not finish within 120 s")
    if timed:
        record("orvelle", "run", time.time() - started)


baseline_map = {}
for repeat in range(REPEATS):
    # Both count side by side, so that each repeat's CPU ratio comes from the
    # same seconds of a machine shared with others.
    bw, bu, _ = start("baseline", BASELINE_CLASS, baseline_exe, "left")
    ow, ou, before = start("orvelle", ORVELLE_CLASS, orvelle_exe, "right")
    time.sleep(3)
    record("orvelle", "instances", created() - before)
    record("baseline", "private-early", status_private(bu))
    record("orvelle", "private-early", status_private(ou))
    record("baseline", "reported", private_usage(bw))
    record("orvelle", "reported", private_usage(ow))
    # The threads that COM started for the start-up's Word probes end once
    # idle (Wine ends an idle RPC thread within about 10 s): the steady state.
    time.sleep(12)
    record("baseline", "private", status_private(bu))
    record("orvelle", "private", status_private(ou))
    before = {p: cpu_ns(p) for p in (bu, ou)}
    time.sleep(COUNT_SECONDS)
    record("baseline", "cpu", (cpu_ns(bu) - before[bu]) / 1e6 / COUNT_SECONDS)
    record("orvelle", "cpu", (cpu_ns(ou) - before[ou]) / 1e6 / COUNT_SECONDS)
    if repeat == REPEATS - 1:
        baseline_map = memory_map(bw, bu)
    probe("close", BASELINE_CLASS)

    record("orvelle", "map", memory_map(ow, ou))
    # Two runs: what the first leaves is mostly once for the process (see the
    # report); the second tells whether a run leaves anything behind.
    for after in ("after", "after-2"):
        run_backup(after == "after")
        time.sleep(3)  # the run's own Word instances told to quit, the run over
        record("orvelle", f"private-{after}-early", status_private(ou))
        time.sleep(12)
        record("orvelle", f"private-{after}", status_private(ou))
        record("orvelle", f"map-{after}", memory_map(ow, ou))
    probe("close", ORVELLE_CLASS)

user_word.terminate()
wine(standin_exe, "/unregserver", check=False)
wine("reg", "delete", SWITCHES, "/v", "CallLog", "/f", check=False)


# ---- report ------------------------------------------------------------------------
def mb(b):
    return b / 1048576


def spread(values, fmt):
    return f"{fmt(min(values))} / {fmt(statistics.median(values))}"


def ratio_row(figure, o, b, fmt, target, label=""):
    ratios = [x / y for x, y in zip(o, b)]
    ok = "ok" if statistics.median(ratios) <= target else "OVER"
    print(f"  {figure:<44} {spread(o, fmt):>19} {spread(b, fmt):>19} "
          f"{spread(ratios, lambda r: f'{r:.2f}'):>13}   <= {target:<4} {ok} {label}")


def grown(after, before):
    return [(a - b) / 1024 for a, b in zip(after, before)]


def kb_row(figure, values, target, label):
    """Orvelle's own growth in KB, against a bound in KB (or none)."""
    check = f"<= {target:<4} {'ok' if statistics.median(values) <= target else 'OVER'}" if target is not None else "shown"
    print(f"  {figure:<44} {spread(values, lambda v: f'{v:+.0f}'):>19} {'':>19} {'':>13}   {check} {label}")


PARTS = (STACKS, PROCESS_HEAP, HEAPS, "module images", UNIX_HEAP, OTHER)


def by_part(parts):
    out = dict.fromkeys(PARTS, 0)
    for name, kb in parts.items():
        out[name if name in PARTS else "module images"] += kb
    return out


def growth(before, after):
    return [{k: by_part(a)[k] - by_part(b)[k] for k in PARTS} for b, a in zip(before, after)]


floors = [dict(zip(l.split()[1::2], map(float, l.split()[2::2]))) for l in open(floor_file) if l.startswith("#floor")]
O, B = results["orvelle"], results["baseline"]
first, second = growth(O["map"], O["map-after"]), growth(O["map-after"], O["map-after-2"])
print()
print(f"Orvelle (release build) against its yardsticks; min / median over {REPEATS} repeats"
      f" ({len(floors)} for the backup runs), ratio per repeat:")
print(f"  {'figure':<44} {'Orvelle':>19} {'yardstick':>19} {'ratio':>13}   target")
trips = float(trips_per_doc)
print(f"  {'round trips per further document':<44} {trips:>19.1f} {24:>19} {trips / 24:>13.2f}   <= 1.2  "
      f"{'ok' if trips / 24 <= 1.2 else 'OVER'} (a minimal client: 24)")
doc = [f["doc-ms-fastest-tenth"] for f in floors]
floor = [24 * f["round-trip-ms"] + f["stand-in-ms-per-doc"] for f in floors]
ratio_row("ms per further document (fastest tenth)", doc, floor, lambda v: f"{v:.1f}", 1.3, "(floor)")
ratio_row("private MiB while counting", O["private"], B["private"], lambda v: f"{mb(v):.2f}", 1.3)
ratio_row("private MiB after a run of 50 documents", O["private-after"], B["private"], lambda v: f"{mb(v):.2f}", 1.5)
kb_row("  KB more after the first run", grown(O["private-after"], O["private"]), None, "(once per process: parts below)")
kb_row("  KB more after a second run", grown(O["private-after-2"], O["private-after"]), None,
       "(high-water marks: parts below)")
kb_row("    of which in the Windows heaps", [g[PROCESS_HEAP] + g[HEAPS] for g in second], 16, "(what a run leaves behind)")
ratio_row("CPU ms per countdown second", O["cpu"], B["cpu"], lambda v: f"{v:.3f}", 1.1)
ratio_row("ms until the window is visible", O["visible"], B["visible"], lambda v: f"{v:.0f}", 1.2)


def start_rows(label, suffix):
    ready, count = O["ready" + suffix], O["instances" + suffix]
    ok = "ok" if statistics.median(ready) < 300 else "OVER"
    print(f"  {'ms until ready, ' + label:<44} {spread(ready, lambda v: f'{v:.0f}'):>19} "
          f"{spread(B['ready'], lambda v: f'{v:.0f}'):>19} "
          f"{spread([o / b for o, b in zip(ready, B['ready'])], lambda r: f'{r:.2f}'):>13}   < 300 ms {ok}")
    print(f"  {'  Word instances start-up created':<44} {spread(count, str):>19} {'':>19} {'':>13}   "
          f"= 0    {'ok' if max(count) == 0 else 'OVER'}")


start_rows("Word running", "")
start_rows("Word registered, not running", "-registered")
size_o, size_b = os.path.getsize(orvelle_exe), os.path.getsize(baseline_exe)
print(f"  {'stripped exe KB':<44} {size_o / 1024:>19.0f} {size_b / 1024:>19.0f} {size_o / size_b:>13.1f}"
      f"   < 600 KB {'ok' if size_o < 600 * 1024 else 'OVER'}")
print()
print("  floor = 24 round trips x " + spread([f["round-trip-ms"] for f in floors], lambda v: f"{v:.3f}") +
      " ms + the stand-in's own " + spread([f["stand-in-ms-per-doc"] for f in floors], lambda v: f"{v:.1f}") +
      " ms per document; median document " + spread([f["doc-ms-median"] for f in floors], lambda v: f"{v:.1f}") + " ms")
own = probe("self-memory").split()
print("  private memory: RssAnon + VmSwap of the Wine process (/proc/PID/status); GetProcessMemoryInfo's PrivateUsage "
      f"says {max(O['reported'] + B['reported'])} for both, and {own[0]} for bench-probe itself (RssAnon {int(own[1]) // 1024} KB)")
print("  private memory 3 s after the start and 3 s after the run, while the threads COM started still live: Orvelle " +
      spread(O["private-early"], lambda v: f"{mb(v):.2f}") + " / " + spread(O["private-after-early"], lambda v: f"{mb(v):.2f}") +
      " MiB, baseline " + spread(B["private-early"], lambda v: f"{mb(v):.2f}") + " MiB (those threads: about 1 MiB each)")
print("  the 50-document run through the window took " + spread(O["run"], lambda v: f"{v:.1f}") + " s")
print()
kb = lambda v: f"{v:+.0f}"
print("What the runs add to Orvelle's private memory, KB (min / median; from /proc/PID/smaps and bench-probe's regions):")
print(f"  {'':<44} {'the first run':>19} {'a second run':>19}")
print(f"  {'in all (RssAnon + VmSwap)':<44} "
      f"{spread(grown(O['private-after'], O['private']), kb):>19} "
      f"{spread(grown(O['private-after-2'], O['private-after']), kb):>19}")
for part in PARTS:
    print(f"  {part:<44} {spread([g[part] for g in first], kb):>19} {spread([g[part] for g in second], kb):>19}")
print()
maps = {"baseline": baseline_map, "orvelle counting": O["map"][-1], "after a run": O["map-after"][-1],
        "after a second run": O["map-after-2"][-1]}
print("Where the private memory lies (anonymous resident KB per part and module image, last repeat):")
names = sorted(set().union(*maps.values()), key=lambda n: -max(m.get(n, 0) for m in maps.values()))
print(f"  {'':<44}" + "".join(f"{k:>19}" for k in maps))
for n in names:
    if max(m.get(n, 0) for m in maps.values()) >= 40:
        print(f"  {n[:44]:<44}" + "".join(f"{m.get(n, 0):>19}" for m in maps.values()))
print(f"  {'total':<44}" + "".join(f"{sum(m.values()):>19}" for m in maps.values()))
