#!/usr/bin/env python3
"""Backups of scripts/run's sample documents for the pictures: stamped files
in FOLDER (a Wine prefix's C:\\Backups) with their times over the last hours,
and the history file that names them.  Replaces what an earlier call planted."""
import os, shutil, sys, time

folder, history = sys.argv[1], sys.argv[2]
shutil.rmtree(folder, ignore_errors=True)
os.makedirs(folder)
months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
# Document, minutes between its backups, its sizes from the oldest on.
documents = [
    ("Quarterly report.txt", 20, [3900, 5100, 5200]),
    ("Letter.docx", 45, [9100, 9300, 9800, 10400]),
    ("Shopping list.txt", 90, [4100, 4300]),
    # The stand-in's active document, selected in the picture: a large shrink.
    ("Document4", 30, [11200, 12900, 14100, 15800, 16100, 6300, 6900, 8800]),
]
now = time.time()
lines = []
for name, every, sizes in documents:
    for age, size in enumerate(reversed(sizes)):
        t = now - 60 * (age * every + 7)
        tm = time.localtime(t)
        stamp = "%s %d %d" % (months[tm.tm_mon - 1], tm.tm_mday, tm.tm_year)
        clock = time.strftime("%I %M %S ", tm) + ("AM" if tm.tm_hour < 12 else "PM")
        file_name = "%s Date %s Time %s.docx" % (name, stamp, clock)
        path = os.path.join(folder, file_name)
        with open(path, "wb") as f:
            f.write(os.urandom(size))
        os.utime(path, (t, t))
        hour = tm.tm_hour % 12 or 12
        general = "%d/%d/%d %d:%02d:%02d %s" % (tm.tm_mon, tm.tm_mday, tm.tm_year, hour, tm.tm_min, tm.tm_sec,
                                                "AM" if tm.tm_hour < 12 else "PM")
        lines.append((t, "%s was backup saved as C:\\Backups\\%s at %s\r\n" % (name, file_name, general)))
os.makedirs(os.path.dirname(history), exist_ok=True)
with open(history, "w", encoding="cp1252", newline="") as f:
    f.writelines(line for _, line in sorted(lines))
