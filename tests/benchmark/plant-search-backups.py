#!/usr/bin/env python3
"""Backups for the search benchmark, planted from Linux (Wine creates files slowly): in FOLDER, 100 backups of
"Book.docx", 50,000 words (a main part of about 3 MB, a run per two words as Word's revision marks split
them), and 1,000 backups of "Letter.docx", 5,000 words; each backup 200 words changed from the one before.
With --memory instead: 200 backups of "Tome.docx", 500,000 words.
Packages as Word writes them: deflated parts, the main part through _rels/.rels, a header beside it."""
import os, random, shutil, sys, time, zipfile

memory = sys.argv[1] == "--memory"
folder = sys.argv[-1]
shutil.rmtree(folder, ignore_errors=True)
os.makedirs(folder)
rng = random.Random(7)
vocabulary = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(3000)]
W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
RELS = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
TYPES = ('<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
         '<Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" '
         'ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')


def document(words):
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<w:document %s><w:body>' % W]
    for p in range(0, len(words), 20):
        out.append('<w:p w:rsidR="00A1%04X" w:rsidRDefault="00B2C3D4"><w:pPr><w:spacing w:after="120"/></w:pPr>' % (p % 65536))
        chunk = words[p:p + 20]
        step = 20 if memory else 2  # the long one: a run per paragraph, so that planting takes seconds
        for r in range(0, len(chunk), step):
            out.append('<w:r w:rsidRPr="00C4%04X"><w:rPr><w:lang w:val="en-GB"/></w:rPr>'
                       '<w:t xml:space="preserve">%s </w:t></w:r>' % (r, " ".join(chunk[r:r + step])))
        out.append('</w:p>')
    return "".join(out) + '<w:sectPr><w:headerReference w:type="default" r:id="rId9"/></w:sectPr></w:body></w:document>'


def package(path, words, when):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", TYPES)
        z.writestr("_rels/.rels", RELS + '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/'
                   'officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>')
        z.writestr("word/document.xml", document(words))
        z.writestr("word/_rels/document.xml.rels", RELS + '<Relationship Id="rId9" Type="http://schemas.'
                   'openxmlformats.org/officeDocument/2006/relationships/header" Target="header1.xml"/></Relationships>')
        z.writestr("word/header1.xml", '<w:hdr %s><w:p><w:r><w:t>Planted for the benchmark</w:t></w:r></w:p></w:hdr>' % W)
    os.utime(path, (when, when))


months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
now = time.time()
kinds = (("Tome.docx", 200, 500000),) if memory else (("Book.docx", 100, 50000), ("Letter.docx", 1000, 5000))
for name, count, length in kinds:
    words = [rng.choice(vocabulary) for _ in range(length)]
    for n in range(count):
        if n:
            for at in rng.sample(range(length), 200):
                words[at] = rng.choice(vocabulary)
        when = now - 60 * (count - n)
        tm = time.localtime(when)
        stamp = "Date %s %d %d Time %s" % (months[tm.tm_mon - 1], tm.tm_mday, tm.tm_year,
                                           time.strftime("%I %M %S ", tm) + ("AM" if tm.tm_hour < 12 else "PM"))
        package(os.path.join(folder, "%s %s.docx" % (name, stamp)), words, when)
