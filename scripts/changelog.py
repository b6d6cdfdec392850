#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""CHANGELOG.md (Keep a Changelog) made into what the packages carry, so that the release
notes are written once:

  changelog.py debian CHANGELOG.md VERSION PACKAGE MAINTAINER OUT.gz
      the Debian changelog of a native package, compressed as gzip -9n does
  changelog.py appstream CHANGELOG.md VERSION OUT.xml
      the <releases> element of the AppStream metadata

Both fail unless VERSION (CMake's project version) is the newest released section, so that
a version raised in CMakeLists.txt without its notes, or the other way round, stops the build.
"""
import datetime
import gzip
import re
import sys
import textwrap
from xml.sax.saxutils import escape

SECTION = re.compile(r"^## \[(?P<version>[^\]]+)\](?: - (?P<date>\d{4}-\d{2}-\d{2}))?\s*$")


def plain(text):
    """Markdown inline markup dropped: `code` and [links](...) as their text."""
    text = re.sub(r"\[([^\]]+)\]\([^)]*\)", r"\1", text)
    return text.replace("`", "").replace("**", "")


def releases(path):
    """[(version, date, paragraphs, [(heading, [item, ...]), ...])], newest first."""
    found = []
    current = None
    for line in open(path, encoding="utf-8").read().splitlines() + [""]:
        match = SECTION.match(line)
        if match:
            current = {"version": match["version"], "date": match["date"], "text": [],
                       "groups": [], "item": None}
            found.append(current)
            continue
        if current is None or line.startswith("<!--"):
            continue
        if line.startswith("### "):
            current["groups"].append((line[4:].strip(), []))
            current["item"] = None
        elif line.startswith("- "):
            if not current["groups"]:
                current["groups"].append(("", []))
            current["groups"][-1][1].append(plain(line[2:].strip()))
            current["item"] = current["groups"][-1][1]
        elif line.startswith("  ") and line.strip() and current["item"] is not None:
            current["item"][-1] += " " + plain(line.strip())
        elif line.strip() and not current["groups"]:
            if current["text"] and current["text"][-1] is not None:
                current["text"][-1] += " " + plain(line.strip())
            else:
                current["text"].append(plain(line.strip()))
        elif not line.strip() and current["text"]:
            current["text"].append(None)  # paragraph break
    out = []
    for r in found:
        if r["version"].lower() == "unreleased":
            continue
        if not r["date"]:
            sys.exit(f"changelog: section {r['version']} has no date (## [{r['version']}] - YYYY-MM-DD)")
        out.append((r["version"], r["date"], [p for p in r["text"] if p], r["groups"]))
    return out


def checked(path, version):
    found = releases(path)
    if not found:
        sys.exit(f"changelog: {path} has no released section")
    if found[0][0] != version:
        sys.exit(f"changelog: the project's version is {version}, but the newest section of "
                 f"{path} is {found[0][0]}: give {version} its section (or set the version)")
    return found


def debian(path, version, package, maintainer, out):
    lines = []
    for number, date, paragraphs, groups in checked(path, version):
        lines.append(f"{package} ({number}) unstable; urgency=medium")
        lines.append("")
        for paragraph in paragraphs:
            lines += textwrap.wrap(paragraph, 78, initial_indent="  * ", subsequent_indent="    ")
        for heading, items in groups:
            for item in items:
                text = f"{heading}: {item}" if heading else item
                lines += textwrap.wrap(text, 78, initial_indent="  * ", subsequent_indent="    ")
        when = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        lines.append("")
        lines.append(f" -- {maintainer}  {when.strftime('%a, %d %b %Y %H:%M:%S +0000')}")
        lines.append("")
    data = "\n".join(lines).rstrip("\n").encode("utf-8") + b"\n"
    # As gzip -9n: best compression, no name and no time stamp, so the package is reproducible.
    with open(out, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw,
                                               compresslevel=9, mtime=0) as f:
        f.write(data)


def appstream(path, version, out):
    parts = ["<releases>"]
    for number, date, paragraphs, groups in checked(path, version):
        parts.append(f'    <release version="{escape(number)}" date="{date}">')
        parts.append("      <description>")
        for paragraph in paragraphs:
            parts.append(f"        <p>{escape(paragraph)}</p>")
        for heading, items in groups:
            if heading:
                parts.append(f"        <p>{escape(heading)}:</p>")
            parts.append("        <ul>")
            parts += [f"          <li>{escape(item)}</li>" for item in items]
            parts.append("        </ul>")
        parts.append("      </description>")
        parts.append("    </release>")
    parts.append("  </releases>")
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(parts) + "\n")


def main(argv):
    if len(argv) == 7 and argv[1] == "debian":
        debian(*argv[2:])
    elif len(argv) == 5 and argv[1] == "appstream":
        appstream(*argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
