#!/usr/bin/env python3
"""scripts/run's documents and, for the pictures, their backups.

  plant-backups.py --samples FOLDER     the documents as Word holds them now
  plant-backups.py FOLDER HISTORY       stamped backups in FOLDER (a Wine
                                        prefix's C:\\Backups) over the last
                                        hours, and the history that names them

Each document is written the way people write: a few sentences more, a word
changed, now and then a paragraph cut, from one backup to the next.  The
newest backup is a sentence behind the open document; the chapter's cut
paragraph about the lighthouse is what the search finds."""
import os, shutil, struct, sys, time, zipfile, zlib

CHAPTER = [
    "The ferry was late again. Mara stood at the rail with her collar up and watched the harbour lights "
    "come on one by one along the quay.",
    "Her brother had written that he would meet her at the pier, but the pier was empty except for a boy "
    "selling newspapers and a dog that belonged to nobody.",
    "She carried her own suitcase down the gangway. It was lighter than she remembered packing it, as if "
    "half of what she owned had stayed behind on the mainland.",
    "Above the town the old lighthouse still turned, though the keeper had been gone for eleven years. "
    "Someone in the village kept the lamp burning, and nobody asked who.",
    "At the inn the landlady gave her the room at the top of the stairs, the one with the window that "
    "would not close properly. \"You'll hear the sea all night,\" she said, as though that were a "
    "kindness.",
    "Mara unpacked the letters first. There were fourteen of them, tied with the blue ribbon from her "
    "mother's sewing box, and she laid them out on the bed in the order they had been written.",
]


def chapter_versions():
    """The chapter from its first backup to the open document, oldest first."""
    p = list(CHAPTER)
    third = p[2].replace("lighter than she remembered", "lighter than she had expected")
    return [
        p[0:2],
        p[0:3],
        [p[0], p[1].replace("a dog", "a thin grey dog"), p[2]],
        [p[0], p[1], p[2], p[3]],
        [p[0], p[1], p[2], p[3], p[4]],
        [p[0], p[1], third, p[3], p[4]],
        [p[0], p[1], third, p[4]],  # the lighthouse paragraph cut
        [p[0], p[1], third, p[4], p[5].split(". ")[0] + "."],
        [p[0], p[1], third, p[4], p[5]],  # open in Word: one sentence more
    ]


REPORT = [
    "Quarterly report, second quarter",
    "Sales rose by 12 percent against the first quarter, mostly from the new online shop.",
    "Costs stayed flat; the move to the smaller warehouse saved 4,300 euros a month.",
    "Two new staff start in July in customer service.",
]
LETTER = [
    "Dear Ms. Okafor,",
    "",
    "thank you for your letter of 3 March about the repairs to the roof of number 14.",
    "The contractor can start on 21 March and expects the work to take two weeks.",
    "Kind regards",
]
MINUTES = [
    "Minutes of the parents' meeting, 4 March",
    "Present: 23 parents, the head teacher and two class teachers.",
    "The summer fair will be held on 14 June; volunteers are still needed for the cake stall.",
    "The new crossing outside the school gate is promised for the autumn.",
]

# Document, minutes between its backups, its texts from the oldest backup on
# (the last is the document as Word holds it).
DOCUMENTS = [
    ("Quarterly report.docx", 40, [REPORT[:2], REPORT[:3], REPORT]),
    ("Letter.docx", 45, [LETTER[:3] + LETTER[4:], LETTER]),
    ("Minutes 4 March.docx", 25, [MINUTES[:2], MINUTES[:3], MINUTES[:3], MINUTES]),
    # Word's active document, selected in the pictures.
    ("Chapter 3.docx", 20, chapter_versions()),
]


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def write_package(path, paragraphs):
    body = "".join('<w:p><w:r><w:t xml:space="preserve">%s</w:t></w:r></w:p>' % escape(p) if p else "<w:p/>"
                   for p in paragraphs)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.'
                   'wordprocessingml.document.main+xml"/></Types>')
        z.writestr("_rels/.rels", '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
                   'officeDocument" Target="word/document.xml"/></Relationships>')
        z.writestr("word/document.xml", '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<w:document '
                   'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>%s<w:sectPr/>'
                   '</w:body></w:document>' % body)


def samples(folder):
    os.makedirs(folder, exist_ok=True)
    for name, _, texts in DOCUMENTS:
        write_package(os.path.join(folder, name), texts[-1])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes((30, 80, 160)) * 48 for _ in range(24))  # a blue 48 x 24 logo
    with open(os.path.join(folder, "Logo.png"), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 48, 24, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def backups(folder, history):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
    now = time.time()
    lines = []
    for name, every, texts in DOCUMENTS:
        backed_up = texts[:-1]
        for age, paragraphs in enumerate(reversed(backed_up)):
            t = now - 60 * (age * every + 7)
            tm = time.localtime(t)
            stamp = "%s %d %d" % (months[tm.tm_mon - 1], tm.tm_mday, tm.tm_year)
            clock = time.strftime("%I %M %S ", tm) + ("AM" if tm.tm_hour < 12 else "PM")
            file_name = "%s Date %s Time %s.docx" % (name, stamp, clock)
            path = os.path.join(folder, file_name)
            write_package(path, paragraphs)
            os.utime(path, (t, t))
            hour = tm.tm_hour % 12 or 12
            general = "%d/%d/%d %d:%02d:%02d %s" % (tm.tm_mon, tm.tm_mday, tm.tm_year, hour, tm.tm_min,
                                                    tm.tm_sec, "AM" if tm.tm_hour < 12 else "PM")
            lines.append((t, "%s was backup saved as C:\\Backups\\%s at %s\r\n" % (name, file_name, general)))
    os.makedirs(os.path.dirname(history), exist_ok=True)
    with open(history, "w", encoding="cp1252", newline="") as f:
        f.writelines(line for _, line in sorted(lines))


if __name__ == "__main__":
    if sys.argv[1] == "--samples":
        samples(sys.argv[2])
    else:
        backups(sys.argv[1], sys.argv[2])
