#!/usr/bin/env python3
"""The search's reference: the packages' text read with Python's zipfile and XML parser (the main part through
_rels/.rels, its headers, footers, footnotes, endnotes and comments through its relationships), case and accents
folded by Unicode's rules (NFKD, marks dropped, casefold), white space as one space.  Every package that the
reference finds the words in must be among those the Backups window found (found.txt: words TAB files)."""
import posixpath
import sys
import unicodedata
import zipfile
import xml.etree.ElementTree as ET

W = "{http://schemas.openxmlformats.org/wordprocessingml/2006/main}"
R = "{http://schemas.openxmlformats.org/package/2006/relationships}"
KINDS = ("/officeDocument", "/header", "/footer", "/footnotes", "/endnotes", "/comments")


def targets(package, rels, folder, ends):
    if rels not in package.namelist():
        return []
    found = []
    for rel in ET.fromstring(package.read(rels)).iter(R + "Relationship"):
        if rel.get("TargetMode") != "External" and rel.get("Type").endswith(ends):
            target = rel.get("Target")
            found.append(target[1:] if target.startswith("/") else posixpath.normpath(folder + target))
    return found


def text(xml):
    out, stops = [], 0
    for event, element in ET.iterparse(xml, ("start", "end")):
        if element.tag == W + "tabs":
            stops += 1 if event == "start" else -1
        elif event == "end" and element.tag == W + "t":
            out.append(element.text or "")
        elif event == "start" and element.tag in (W + "br", W + "cr") or element.tag == W + "tab" and not stops:
            out.append(" " if event == "start" else "")
        elif event == "end" and element.tag == W + "p":
            out.append("\n")
    return "".join(out)


def fold(s):
    s = "".join(c for c in unicodedata.normalize("NFKD", s) if unicodedata.category(c) != "Mn").casefold()
    return " ".join(s.split())


def main(folder):
    folded = {}
    for name in ("rich.docx", "plain.docx"):
        with zipfile.ZipFile(posixpath.join(folder, name)) as package:
            main_part = targets(package, "_rels/.rels", "", "/officeDocument")[0]
            base = posixpath.dirname(main_part) + "/"
            rels = base + "_rels/" + posixpath.basename(main_part) + ".rels"
            parts = [main_part] + targets(package, rels, base, KINDS[1:])
            folded[name] = [fold(text(package.open(part))) for part in parts]
    checked = 0
    with open(posixpath.join(folder, "found.txt"), encoding="utf-8") as lines:
        for line in lines:
            words, files = line.rstrip("\n").split("\t")
            query = fold(words)
            for name, parts in folded.items():
                if any(query in part for part in parts) and name not in files.split():
                    sys.exit(f"{words!r}: the reference finds it in {name}, the search did not")
            checked += 1
    if checked == 0:
        sys.exit("found.txt holds no search")
    print(f"{checked} searches: nothing the reference finds was missed")


if __name__ == "__main__":
    main(sys.argv[1])
