#!/usr/bin/env python3
"""Checks a .docx that the Word stand-in wrote with Python's own zipfile and
XML parser: a valid package whose text is what the integration test saved."""
import sys
import zipfile
import xml.etree.ElementTree as ET

W = "{http://schemas.openxmlformats.org/wordprocessingml/2006/main}"
EXPECTED = ["Erste Zeile ä €", "Zweite <&> \"x\" 'y'", "", "\tTab"]


def paragraphs(document):
    out = []
    for p in document.iter(W + "p"):
        text = ""
        for element in p.iter():
            if element.tag == W + "t":
                text += element.text or ""
            elif element.tag == W + "tab":
                text += "\t"
            elif element.tag == W + "br":
                text += "\v"
        out.append(text)
    return out


def main(path):
    with zipfile.ZipFile(path) as package:
        damaged = package.testzip()  # reads every entry and checks its CRC-32
        if damaged is not None:
            sys.exit(f"CRC error in {damaged}")
        names = set(package.namelist())
        for part in ("[Content_Types].xml", "_rels/.rels", "word/document.xml"):
            if part not in names:
                sys.exit(f"missing part {part}")
        types = ET.fromstring(package.read("[Content_Types].xml"))
        if not any(o.get("PartName") == "/word/document.xml" for o in types):
            sys.exit("document part has no content type")
        rels = ET.fromstring(package.read("_rels/.rels"))
        if not any(r.get("Target") == "word/document.xml" for r in rels):
            sys.exit("package has no relationship to the document")
        found = paragraphs(ET.fromstring(package.read("word/document.xml")))
    if found != EXPECTED:
        sys.exit(f"paragraphs {found!r}, expected {EXPECTED!r}")
    print(f"{path}: valid package, {len(found)} paragraphs as saved")


if __name__ == "__main__":
    main(sys.argv[1])
