#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""The documentation against the tree, read at test time so that what is added
to the code fails here until it is documented:

- docs/dev/layout.md names every source file (*.cpp, *.h) under apps/ and
  common/ by its path from the repository's root, in backticks
  (`apps/QuorvelOlvane/tray.cpp`), and names no such file that is gone;
- every member of docs/config.schema.json (the schema's "properties", walked
  through nested objects, "additionalProperties", "patternProperties",
  "items" and local "$ref"s) is explained in some docs/guide/*.md page: its
  name appears there as "name", or in backticks, alone or as the last part of
  a dotted path (`tray`, `bar.tray`, `areas.N.label`).

Prints each file or member that is missing, then FAIL.
Usage: test_docs.py SOURCE_DIR
"""
import glob
import json
import os
import re
import sys

SOURCE_FOLDERS = ("apps", "common")
SOURCE_SUFFIXES = (".cpp", ".h")


def source_files(root):
    found = []
    for folder in SOURCE_FOLDERS:
        for dirpath, _dirs, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if name.endswith(SOURCE_SUFFIXES):
                    found.append(os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/"))
    return sorted(found)


def check_layout(root):
    layout_path = os.path.join(root, "docs", "dev", "layout.md")
    if not os.path.isfile(layout_path):
        return ["docs/dev/layout.md does not exist"]
    with open(layout_path, encoding="utf-8") as f:
        layout = f.read()
    files = source_files(root)
    if not files:
        return ["no *.cpp or *.h under %s: wrong SOURCE_DIR?" % " or ".join(SOURCE_FOLDERS)]
    problems = ["docs/dev/layout.md does not name %s" % path
                for path in files if "`%s`" % path not in layout]
    pattern = r"`((?:%s)/[^`\s]*(?:%s))`" % (
        "|".join(SOURCE_FOLDERS), "|".join(re.escape(s) for s in SOURCE_SUFFIXES))
    for named in sorted(set(re.findall(pattern, layout))):
        if named not in files:
            problems.append("docs/dev/layout.md names %s, which is not in the tree" % named)
    return problems


def resolve(schema, ref):
    if not ref.startswith("#"):
        raise ValueError("only local $ref is followed, got %r" % ref)
    node = schema
    for part in ref.lstrip("#").split("/"):
        if part:
            node = node[part.replace("~1", "/").replace("~0", "~")]
    return node


def schema_members(schema):
    """(dotted path, name) of every property, however deep. A $ref already being
    walked further up is not followed again, so a recursive schema ends."""
    members = []

    def walk(node, path, refs):
        if isinstance(node, list):
            for item in node:
                walk(item, path, refs)
            return
        if not isinstance(node, dict):
            return
        ref = node.get("$ref")
        if isinstance(ref, str) and ref not in refs:
            walk(resolve(schema, ref), path, refs | {ref})
        for name, sub in node.get("properties", {}).items():
            members.append((path + name, name))
            walk(sub, path + name + ".", refs)
        for sub in node.get("patternProperties", {}).values():
            walk(sub, path + "*.", refs)
        for key in ("additionalProperties", "items", "prefixItems", "contains"):
            if key in node:
                inner = path + "*." if key == "additionalProperties" else path[:-1] + "[]." if path else "[]."
                walk(node[key], inner, refs)
        for key in ("allOf", "anyOf", "oneOf", "if", "then", "else"):
            if key in node:
                walk(node[key], path, refs)

    walk(schema, "", frozenset())
    return members


def check_config_members(root):
    with open(os.path.join(root, "docs", "config.schema.json"), encoding="utf-8") as f:
        schema = json.load(f)
    pages = sorted(glob.glob(os.path.join(root, "docs", "guide", "*.md")))
    if not pages:
        return ["no docs/guide/*.md pages"]
    guide = ""
    for page in pages:
        with open(page, encoding="utf-8") as f:
            guide += f.read() + "\n"
    members = schema_members(schema)
    if not members:
        return ["docs/config.schema.json has no properties: the walk found nothing"]
    problems = []
    for path, name in members:
        quoted = '"%s"' % name
        ticked = re.compile(r"`(?:[^`\s]*\.)?%s`" % re.escape(name))
        if quoted not in guide and not ticked.search(guide):
            problems.append("config member %s (%s) is explained in no docs/guide/*.md page" % (path, name))
    return problems


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: test_docs.py SOURCE_DIR")
    root = sys.argv[1]
    problems = check_layout(root) + check_config_members(root)
    for problem in problems:
        print(problem)
    if problems:
        print("FAIL: %d missing from the documentation" % len(problems))
        return 1
    print("docs: layout.md names every source file of apps/ and common/; "
          "the guide explains every config member")
    return 0

if __name__ == "__main__":
    sys.exit(main())
