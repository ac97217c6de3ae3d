#!/usr/bin/env python3
"""The Group Policy templates against the program: both files well-formed,
every policy of the template one that the program reads (its table in
src/mainwindow/Policies.h) with values it understands, and every policy the
program reads in the template."""
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}


def program_table(src):
    """{value name: allowed values (None: any text)} from the program's table."""
    text = "".join((src / f).read_text() for f in ("mainwindow/Settings.h", "mainwindow/Policies.h"))
    names = dict(re.findall(r'constexpr wchar_t (k\w+)\[\] = L"([^"]*)"', text))
    lists = {k: re.findall(r'L"([^"]*)"', v)
             for k, v in re.findall(r'constexpr const wchar_t\* (k\w+)\[\] = \{([^}]*)\}', text)}
    table = re.search(r"kPolicies\[\] = \{(.*?)\n\};", text, re.S).group(1)
    rows = re.findall(r"\{(?:\w+::)?(k\w+), (\{\}|k\w+),", table)
    return {names[n]: (None if v == "{}" else lists[v]) for n, v in rows}


def template(admx, adml):
    """{value name: values the template can write (None: free text)}, after
    checking the template's own references."""
    policies = ET.parse(admx).getroot()
    resources = ET.parse(adml).getroot()
    strings = {s.get("id") for s in resources.iterfind(".//p:stringTable/p:string", NS)}
    presentations = {p.get("id") for p in resources.iterfind(".//p:presentationTable/p:presentation", NS)}
    for element in policies.iter():
        for attribute in element.attrib.values():
            for kind, ref in re.findall(r"\$\((string|presentation)\.([^)]+)\)", attribute):
                assert ref in (strings if kind == "string" else presentations), f"{kind}.{ref} missing in the ADML"
    categories = {c.get("name") for c in policies.iterfind(".//p:category", NS)}
    assert len(categories) == 1, categories
    found = {}
    for policy in policies.iterfind(".//p:policy", NS):
        assert policy.get("key") == r"SOFTWARE\Policies\Kelvane\Orvelle", policy.get("name")
        assert policy.find("p:parentCategory", NS).get("ref") in categories
        if policy.get("valueName"):
            found[policy.get("valueName")] = [v.text for v in policy.iterfind("./*/p:string", NS)]
        for element in policy.iterfind("./p:elements/*", NS):
            tag = element.tag.split("}")[1]
            values = None if tag == "text" else [v.text for v in element.iterfind(".//p:value/p:string", NS)]
            assert element.get("valueName") not in found, element.get("valueName")
            found[element.get("valueName")] = values
    return found


def main():
    root = pathlib.Path(__file__).resolve().parents[3]
    program = program_table(root / "src")
    admx = root / "packaging/policies/Orvelle.admx"
    found = template(admx, root / "packaging/policies/en-US/Orvelle.adml")
    assert len(program) >= 12, program
    assert set(found) == set(program), f"template only: {set(found) - set(program)}, program only: {set(program) - set(found)}"
    for name, values in found.items():
        allowed = program[name]
        if allowed is None:
            assert values is None, f"{name}: free text in the program"
        else:
            assert values and set(values) <= set(allowed), f"{name}: {values} not among {allowed}"
    print(f"{len(found)} policies agree")


if __name__ == "__main__":
    main()
