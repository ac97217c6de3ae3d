#!/usr/bin/env python3
"""Backups of scripts/run's sample documents for the pictures: stamped files
in FOLDER (a Wine prefix's C:\\Backups) with their times over the last hours,
and the history file that names them.  Replaces what an earlier call planted.
Each is a Word package whose text changes a little from one backup to the next."""
import os, random, shutil, sys, time, zipfile

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
WORDS = ("the harbour boats came in late and the crew counted the nets twice before the market opened "
         "while rain moved over the hills and the ferry waited at the pier for the last of the passengers").split()


def write_package(path, name, version, size):
    rng = random.Random(name)
    paragraphs = [[rng.choice(WORDS) for _ in range(rng.randint(8, 18))] for _ in range(max(3, size // 700))]
    for v in range(version):  # each backup a few words changed from the one before
        for _ in range(3):
            p = paragraphs[rng.randrange(len(paragraphs))]
            p[rng.randrange(len(p))] = rng.choice(WORDS)
    body = "".join("<w:p><w:r><w:t xml:space=\"preserve\">%s</w:t></w:r></w:p>" % " ".join(p).capitalize()
                   for p in paragraphs)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.'
                   'wordprocessingml.document.main+xml"/></Types>')
        z.writestr("_rels/.rels", '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
                   'officeDocument" Target="word/document.xml"/></Relationships>')
        z.writestr("word/document.xml", '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<w:document '
                   'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>%s</w:body>'
                   '</w:document>' % body)


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
        write_package(path, name, len(sizes) - 1 - age, size)
        os.utime(path, (t, t))
        hour = tm.tm_hour % 12 or 12
        general = "%d/%d/%d %d:%02d:%02d %s" % (tm.tm_mon, tm.tm_mday, tm.tm_year, hour, tm.tm_min, tm.tm_sec,
                                                "AM" if tm.tm_hour < 12 else "PM")
        lines.append((t, "%s was backup saved as C:\\Backups\\%s at %s\r\n" % (name, file_name, general)))
os.makedirs(os.path.dirname(history), exist_ok=True)
with open(history, "w", encoding="cp1252", newline="") as f:
    f.writelines(line for _, line in sorted(lines))
