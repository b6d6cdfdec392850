#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""scripts/changelog.py, which makes the .deb's changelog.gz and the AppStream <releases> from
CHANGELOG.md: on the real CHANGELOG.md with CMake's version, and on a made-up one with two
releases and unreleased work. The Debian changelog must parse (dpkg-parsechangelog) with every
release newest first and lines of at most 80 columns, the AppStream releases likewise, and the
unreleased section must be in neither; a version without a section of its own is refused.

Usage: test_changelog.py SOURCE_DIR BUILD_DIR
"""
import gzip
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

MADE_UP = """# Changelog

## [Unreleased]

### Added

- Something not yet released.

## [2.1.0] - 2027-03-04

A `minor` release, with [a link](https://example.invalid/) in it.

### Fixed

- A very long line about a fault that was mended, long enough that it has to be wrapped
  onto a second line of the Debian changelog, and then some more words.

## [2.0.0] - 2027-01-02

### Added

- The second major version.
"""
MAINTAINER = "Someone <someone@example.org>"


def run(*args):
    return subprocess.run([sys.executable, *args], capture_output=True, text=True)


def main():
    src, build = (os.path.abspath(a) for a in sys.argv[1:3])
    script = os.path.join(src, "scripts", "changelog.py")
    version = None
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("CMAKE_PROJECT_VERSION:STATIC="):
                version = line.split("=", 1)[1].strip()
    failures = []
    with tempfile.TemporaryDirectory() as work:
        # The real CHANGELOG.md has CMake's version as its newest release, and no other.
        real = os.path.join(src, "CHANGELOG.md")
        out = os.path.join(work, "real.xml")
        result = run(script, "appstream", real, version, out)
        if result.returncode != 0:
            failures.append(f"CHANGELOG.md does not fit CMake's version {version}: {result.stderr}")
        if run(script, "appstream", real, version + ".1", out).returncode == 0:
            failures.append(f"version {version}.1, which CHANGELOG.md lacks, was accepted")

        made_up = os.path.join(work, "CHANGELOG.md")
        with open(made_up, "w", encoding="utf-8") as f:
            f.write(MADE_UP)
        if run(script, "debian", made_up, "2.0.0", "pkg", MAINTAINER, os.path.join(work, "x.gz")).returncode == 0:
            failures.append("2.0.0, not the newest release, was accepted")

        deb = os.path.join(work, "changelog.gz")
        result = run(script, "debian", made_up, "2.1.0", "pkg", MAINTAINER, deb)
        if result.returncode != 0:
            sys.exit(f"FAIL: changelog.py debian failed: {result.stderr}")
        raw = open(deb, "rb").read()
        # gzip -9n: no name, no time stamp, best compression (XFL 2).
        if raw[3] & 0x08 or raw[4:8] != b"\0\0\0\0" or raw[8] != 2:
            failures.append("changelog.gz is not compressed as gzip -9n")
        text = gzip.decompress(raw).decode("utf-8")
        plain = os.path.join(work, "changelog")
        with open(plain, "w", encoding="utf-8") as f:
            f.write(text)
        parsed = subprocess.run(["dpkg-parsechangelog", "-l", plain, "--format", "rfc822", "--all"],
                                capture_output=True, text=True)
        versions = re.findall(r"^Version: (\S+)$", parsed.stdout, re.M)
        if parsed.returncode != 0 or versions != ["2.1.0", "2.0.0"]:
            failures.append(f"dpkg-parsechangelog reads versions {versions}: {parsed.stderr}")
        maintainer = subprocess.run(["dpkg-parsechangelog", "-l", plain, "-S", "Maintainer"],
                                    capture_output=True, text=True).stdout.strip()
        if maintainer != MAINTAINER:
            failures.append(f"maintainer {maintainer!r}, expected {MAINTAINER!r}")
        date = subprocess.run(["dpkg-parsechangelog", "-l", plain, "-S", "Date"],
                              capture_output=True, text=True).stdout.strip()
        if date != "Thu, 04 Mar 2027 00:00:00 +0000":
            failures.append(f"date of 2.1.0 is {date!r}")
        for line in text.splitlines():
            if len(line) > 80:
                failures.append(f"Debian changelog line over 80 columns: {line!r}")
        if "not yet released" in text:
            failures.append("the unreleased section is in the Debian changelog")
        if "`" in text or "](" in text:
            failures.append("Markdown markup left in the Debian changelog")
        if "wrapped onto a second line" not in " ".join(l.strip() for l in text.splitlines()):
            failures.append("an item continued on a second line lost its continuation")

        xml_path = os.path.join(work, "releases.xml")
        result = run(script, "appstream", made_up, "2.1.0", xml_path)
        if result.returncode != 0:
            sys.exit(f"FAIL: changelog.py appstream failed: {result.stderr}")
        root = ET.parse(xml_path).getroot()
        releases = [(r.get("version"), r.get("date")) for r in root.findall("release")]
        if root.tag != "releases" or releases != [("2.1.0", "2027-03-04"), ("2.0.0", "2027-01-02")]:
            failures.append(f"AppStream releases {releases}")
        if "not yet released" in open(xml_path, encoding="utf-8").read():
            failures.append("the unreleased section is in the AppStream releases")
        items = [li.text for li in root.iter("li")]
        if len(items) != 2:
            failures.append(f"AppStream releases hold {len(items)} items, expected 2")
        if not re.search(r"<p>A minor release, with a link in it\.</p>", open(xml_path, encoding="utf-8").read()):
            failures.append("the release's paragraph is not a plain <p>")

    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"changelog ok: CHANGELOG.md fits {version}; Debian and AppStream forms of a made-up one")


if __name__ == "__main__":
    main()
