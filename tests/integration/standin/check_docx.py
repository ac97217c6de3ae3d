#!/usr/bin/env python3
"""Checks a .docx that the Word stand-in wrote with Python's own zipfile and
XML parser: a valid package whose text is what the integration test saved;
and the Flat OPC that its WordOpenXML answered, beside the picture it holds."""
import base64
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


def check_flat_opc(path):
    raw = open(path, encoding="utf-8", newline="").read()
    if not raw.startswith('<?xml version="1.0" standalone="yes"?>\r\n<?mso-application progid="Word.Document"?>'):
        sys.exit("Flat OPC without Word's declarations")
    pkg = "{http://schemas.microsoft.com/office/2006/xmlPackage}"
    parts = {p.get(pkg + "name"): p for p in ET.fromstring(raw).iter(pkg + "part")}
    def xml(name):
        return parts[name].find(pkg + "xmlData")[0]
    targets = {r.get("Target") for r in xml("/word/_rels/document.xml.rels")}
    if not {"styles.xml", "header1.xml", "media/image1.png"} <= targets or "/_rels/.rels" not in parts:
        sys.exit(f"relationships {targets!r}")
    if paragraphs(xml("/word/document.xml")) != ["Body", ""] or paragraphs(xml("/word/header1.xml")) != ["Kopf & <Zeile>"]:
        sys.exit("document or header text differs")
    if xml("/docProps/core.xml").find("{http://purl.org/dc/terms/}modified") is None:
        sys.exit("no modified time in docProps/core.xml")
    lines = parts["/word/media/image1.png"].find(pkg + "binaryData").text.split()
    if max(map(len, lines)) != 76 or base64.b64decode("".join(lines)) != open(path + ".png", "rb").read():
        sys.exit("picture differs from the one given")
    print(f"{path}: Flat OPC with {len(parts)} parts, header and picture as given")


if __name__ == "__main__":
    main(sys.argv[1])
    check_flat_opc(sys.argv[2])
