#!/usr/bin/env python3
"""Holds a .docx written from a Flat OPC against that Flat OPC, read with Python's zipfile and XML parser:
CRC-32s, one entry per part in order, content types, stored or deflated, bytes, and each XML part's tree and
declaration."""
import base64
import sys
import zipfile
import xml.etree.ElementTree as ET

PKG = "{http://schemas.microsoft.com/office/2006/xmlPackage}"
CT = "{http://schemas.openxmlformats.org/package/2006/content-types}"
DECLARATION = b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'


def same(a, b, where):
    if (a.tag, a.attrib, a.text or "", len(a)) != (b.tag, b.attrib, b.text or "", len(b)):
        sys.exit(f"{where}: {a.tag} {a.attrib} differs from {b.tag} {b.attrib}")
    for x, y in zip(a, b):
        if (x.tail or "") != (y.tail or ""):
            sys.exit(f"{where}: text after {x.tag} differs")
        same(x, y, where)


def main(flat_path, docx_path):
    source = ET.parse(flat_path).getroot()
    with zipfile.ZipFile(docx_path) as package:
        damaged = package.testzip()
        if damaged is not None:
            sys.exit(f"CRC error in {damaged}")
        types = ET.fromstring(package.read("[Content_Types].xml"))
        defaults = {d.get("Extension").lower(): d.get("ContentType") for d in types.iter(CT + "Default")}
        overrides = {o.get("PartName").lower(): o.get("ContentType") for o in types.iter(CT + "Override")}
        entries = ["[Content_Types].xml"]
        for part in source.iter(PKG + "part"):
            name = part.get(PKG + "name")
            entries.append(name[1:])
            data = package.read(name[1:])
            last = name.rsplit("/", 1)[1]
            extension = last.rsplit(".", 1)[1].lower() if "." in last else ""
            declared = overrides.get(name.lower(), defaults.get(extension))
            if declared != part.get(PKG + "contentType"):
                sys.exit(f"{name}: content type {declared!r}")
            stored = part.get(PKG + "compression") == "store"
            if (package.getinfo(name[1:]).compress_type == zipfile.ZIP_STORED) != stored:
                sys.exit(f"{name}: stored is not {stored}")
            binary = part.find(PKG + "binaryData")
            if binary is not None:
                if data != base64.b64decode("".join(binary.text.split())):
                    sys.exit(f"{name}: bytes differ")
            elif not data.startswith(DECLARATION):
                sys.exit(f"{name}: no XML declaration")
            else:
                same(ET.fromstring(data), part.find(PKG + "xmlData")[0], name)
        if package.namelist() != entries:
            sys.exit(f"entries {package.namelist()!r}, expected {entries!r}")
    print(f"{docx_path}: {len(entries)} entries as in the Flat OPC")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
