#!/usr/bin/env python3
"""Writes catalogue/parameter_table.inc from the vendor's published API metadata.

Usage:
  scripts/gen_parameter_table.py MIRROR > catalogue/parameter_table.inc

MIRROR is a git directory of aliyun/aliyun-openapi-meta (read with `git show`,
nothing is fetched). The actions covered are every name the catalogue lists
or holds a template for (read from catalogue/browsing.cc, actions.cc and
catalogue.cc), each spelling once. Only facts are taken: each parameter's
name, type, whether it is required, whether it goes in the body, and the
members of a list of records. An action the metadata does not hold is left
out; so is a product whose metadata describes another API version than the
one this program speaks, except IoT: its metadata is of 2018-01-20 only, and
its lists are taken all the same (the checks treat them as incomplete). What
was left out is said on the error stream and in the table's head.
"""
import json
import pathlib
import re
import subprocess
import sys

# Service name -> (the data's product code, folder, the API version we speak,
# the C++ service constant).
SERVICES = {
    "ecs": ("Ecs", "ecs", "2014-05-26", "kEcsService"),
    "iot": ("Iot", "iot", "2016-05-30", "kIotService"),
    "apigateway": ("CloudAPI", "cloudapi", "2016-07-14", "kApiGatewayService"),
}
TYPES = {"String": "s", "Integer": "i", "Long": "l", "Boolean": "b", "Float": "f",
         "Double": "d", "Json": "j", "RepeatList": "r", "Struct": "t", "Array": "a"}
# A newer version's lists stand in for these (see the checks in parameters.cc).
NEWER_VERSION_TAKEN = {"iot": "2018-01-20"}
NAME = re.compile(r"^[A-Za-z][A-Za-z0-9._-]*$")
ACTION = re.compile(r"^[A-Z][A-Za-z0-9]*$")
ROOT = pathlib.Path(__file__).resolve().parent.parent


def source(name):
    return (ROOT / "catalogue" / name).read_text(encoding="utf-8")


def literal_names(text):
    found = []
    for literal in re.findall(r'"((?:[^"\\]|\\.)*)"', text):
        found.extend(part for part in literal.split("\\0") if ACTION.match(part))
    return found


def listed_actions():
    """Every action name the catalogue lists or has a template for."""
    browsing = source("browsing.cc")
    ecs = browsing[browsing.index("kEcsActionLists"):browsing.index("kIotCategoryNames")]
    actions = {"ecs": set(literal_names(ecs)), "iot": set(), "apigateway": set()}
    templates = source("actions.cc")
    for kind, service in (("Ecs", "ecs"), ("Iot", "iot"), ("Gateway", "apigateway")):
        for match in re.finditer(kind + r'\(\s*(?:\d+,\s*)?(?:\d+,\s*)?([^,]+),', templates):
            actions[service].update(literal_names(match.group(1))[:1])
    for match in re.finditer(r'\{\d+, "[^"]*"sv, "([A-Za-z0-9]+)"sv\}', source("catalogue.cc")):
        actions["apigateway"].add(match.group(1))
    return actions


def git_show(mirror, path):
    done = subprocess.run(["git", "-C", mirror, "show", "HEAD:" + path],
                          capture_output=True, check=False)
    return done.stdout.decode("utf-8") if done.returncode == 0 else None


def encode(parameter):
    """One parameter: type letter, '!' if required, '^' if in the body, the
    name, then its members in parentheses."""
    if parameter.get("hidden") or parameter.get("visibility") == "Private":
        return None
    name, kind = parameter["name"], parameter["type"]
    if not NAME.match(name) or kind not in TYPES:
        sys.exit(f"unexpected parameter {name!r} of type {kind!r}")
    text = TYPES[kind]
    if parameter.get("required"):
        text += "!"
    if parameter.get("position") == "Body":
        text += "^"
    text += name
    members = [m for m in (encode(p) for p in parameter.get("sub_parameters") or []) if m]
    if members:
        text += "(" + ",".join(members) + ")"
    return text


def main(mirror):
    products = json.loads(git_show(mirror, "metadatas/products.json"))["products"]
    versions = {p.get("code"): p.get("version") for p in products}
    listed = listed_actions()
    rows, notes = [], []
    for service, (code, folder, version, constant) in SERVICES.items():
        actions = sorted(listed[service])
        if versions.get(code) != version:
            if versions.get(code) != NEWER_VERSION_TAKEN.get(service):
                notes.append(f"{service}: the metadata describes API {versions.get(code)}, not "
                             f"{version}; none of its {len(actions)} actions taken")
                continue
            notes.append(f"{service}: the lists are of API {versions.get(code)}, not {version}")
        listing = subprocess.run(["git", "-C", mirror, "ls-tree", "--name-only", "HEAD",
                                  f"metadatas/{folder}/"], capture_output=True, text=True,
                                 check=True).stdout.split()
        files = {n.rsplit("/", 1)[-1][:-5].lower(): n.rsplit("/", 1)[-1][:-5] for n in listing}
        missing = []
        for action in actions:
            # The service also answers some actions under another spelling.
            spelled = files.get(action.lower(), action)
            text = git_show(mirror, f"metadatas/{folder}/{spelled}.json")
            if text is None:
                missing.append(action)
                continue
            data = json.loads(text)
            encoded = [e for e in (encode(p) for p in data.get("parameters") or []) if e]
            rows.append(f'    {{{constant}, "{action}"sv, "{",".join(encoded)}"sv}},')
        if missing:
            notes.append(f"{service}: not in the metadata: {' '.join(missing)}")
    for note in notes:
        print(note, file=sys.stderr)
    out = ["// Generated by scripts/gen_parameter_table.py from the vendor's published",
           "// API metadata (names, types, required flags and places only). Do not edit;",
           "// run the script again. Each parameter: a type letter (s String, i Integer,",
           "// l Long, b Boolean, f Float, d Double, j Json, r RepeatList, t Struct,",
           "// a Array), '!' when required, '^' when sent in the body, the name, and a",
           "// list's members in parentheses; parameters separated by commas.",
           "// Sorted by service, then action."]
    out.extend("// " + note for note in notes)
    out.append(f"constexpr std::array<ListedParameters, {len(rows)}> kListedParameters = {{{{")
    out.extend(rows)
    out.append("}};")
    print("\n".join(out))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
