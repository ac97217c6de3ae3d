#!/usr/bin/env python3
"""The Group Policy templates against the program: both files well-formed, every policy of the template one
that the program reads (its table in src/mainwindow/Policies.h) with values it understands, and the other way
round."""
import pathlib, re, xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
ROOT = pathlib.Path(__file__).resolve().parents[3]


def program_table():
    """{value name: allowed values (None: any text)} from the program's table."""
    text = "".join((ROOT / "src/mainwindow" / f).read_text() for f in ("Settings.h", "Policies.h"))
    names = dict(re.findall(r'constexpr wchar_t (k\w+)\[\] = L"([^"]*)"', text))
    lists = {k: re.findall(r'L"([^"]*)"', v) for k, v in re.findall(r"constexpr const wchar_t\* (k\w+)\[\] = \{([^}]*)\}", text)}
    rows = re.findall(r"\{(?:\w+::)?(k\w+), (\{\}|k\w+),", re.search(r"kPolicies\[\] = \{(.*?)\n\};", text, re.S).group(1))
    return {names[n]: (None if v == "{}" else lists[v]) for n, v in rows}


def template(admx, adml):
    """{value name: values the template can write (None: free text)}, its references checked."""
    policies, resources = ET.parse(admx).getroot(), ET.parse(adml).getroot()
    known = {"string": {s.get("id") for s in resources.iterfind(".//p:stringTable/p:string", NS)},
             "presentation": {p.get("id") for p in resources.iterfind(".//p:presentationTable/p:presentation", NS)}}
    for element in policies.iter():
        for value in element.attrib.values():
            for kind, ref in re.findall(r"\$\((string|presentation)\.([^)]+)\)", value):
                assert ref in known[kind], f"{kind}.{ref} missing in the ADML"
    assert len(policies.findall(".//p:category", NS)) == 1
    found = {}
    for policy in policies.iterfind(".//p:policy", NS):
        assert policy.get("key") == r"SOFTWARE\Policies\Kelvane\Orvelle", policy.get("name")
        assert policy.find("p:parentCategory", NS).get("ref") == "Orvelle"
        if policy.get("valueName"):
            found[policy.get("valueName")] = [v.text for v in policy.iterfind("./*/p:string", NS)]
        for element in policy.iterfind("./p:elements/*", NS):
            assert element.get("valueName") not in found, element.get("valueName")
            found[element.get("valueName")] = (None if element.tag.endswith("}text") else
                                               [v.text for v in element.iterfind(".//p:value/p:string", NS)])
    return found


program = program_table()
found = template(ROOT / "packaging/policies/Orvelle.admx", ROOT / "packaging/policies/en-US/Orvelle.adml")
assert len(program) >= 12, program
assert set(found) == set(program), f"template only: {set(found) - set(program)}, program only: {set(program) - set(found)}"
for name, values in found.items():
    allowed = program[name]
    assert (values is None) if allowed is None else (values and set(values) <= set(allowed)), f"{name}: {values} vs {allowed}"
print(f"{len(found)} policies agree")
