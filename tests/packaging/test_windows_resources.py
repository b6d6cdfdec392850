#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""Configures packaging/windows/QuorvelOlvane.rc.in as CMake does (the version written
into a copy in another folder), compiles it with the mingw-w64 resource compiler the way
the build does (with the .rc.in's folder as include path), then reads the compiled .res back: the icon group must
hold every image of packaging/windows/QuorvelOlvane.ico, the manifest must be resource 1 of type
RT_MANIFEST with the file's exact bytes, and the version, in numbers and as text, must be the one written in; no @VARIABLE@ may be
left unsubstituted.

Usage: test_windows_resources.py SOURCE_DIR
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
WINDRES = "x86_64-w64-mingw32-windres"
VERSION = (3, 14, 15)  # deliberately not the project's, so a hard-coded version shows


def read_id(data, pos):
    """A .res type or name: 0xFFFF then an ordinal, or a NUL-terminated UTF-16 string."""
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        (ordinal,) = struct.unpack_from("<H", data, pos + 2)
        return ordinal, pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def parse_res(data):
    """Yields (type, name, bytes) for every resource in a 32-bit .res file."""
    pos = 0
    while pos + 8 <= len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        rtype, after = read_id(data, pos + 8)
        name, after = read_id(data, after)
        body = pos + header_size
        payload = data[body:body + data_size]
        if not (rtype == 0 and name == 0 and data_size == 0):  # the leading empty entry
            yield rtype, name, payload
        pos = (body + data_size + 3) & ~3


def ico_images(data):
    """(width, height, bytes) of every image in an .ico file; 0 means 256."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert reserved == 0 and kind == 1, "icon.ico is not an icon file"
    images = []
    for i in range(count):
        w, h, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((w, h, data[offset:offset + size]))
    return images


def main():
    src = os.path.abspath(sys.argv[1])
    rc_dir = os.path.join(src, "packaging", "windows")
    if shutil.which(WINDRES) is None:
        sys.exit(f"FAIL: {WINDRES} is not installed (scripts/setup.sh --tests)")
    failures = []

    with tempfile.TemporaryDirectory() as work:
        res_path = os.path.join(work, "QuorvelOlvane.res")
        with open(os.path.join(rc_dir, "QuorvelOlvane.rc.in"), encoding="utf-8") as f:
            text = f.read()
        values = dict(zip(("MAJOR", "MINOR", "PATCH"), VERSION))
        text = re.sub(r"@PROJECT_VERSION_(MAJOR|MINOR|PATCH)@", lambda m: str(values[m.group(1)]), text)
        text = text.replace("@PROJECT_VERSION@", ".".join(map(str, VERSION)))
        if re.search(r"@[A-Za-z_]+@", text):
            failures.append(f"unknown variables in the .rc.in: {re.findall(r'@[A-Za-z_]+@', text)}")
        rc_path = os.path.join(work, "QuorvelOlvane.rc")
        with open(rc_path, "w", encoding="utf-8") as f:
            f.write(text)
        base = [WINDRES, "-I", rc_dir, "-i", rc_path]
        run = subprocess.run(base + ["-O", "res", "-o", res_path],
                             cwd=work, capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"FAIL: windres failed:\n{run.stderr}")
        # The COFF object the linker takes must build as well.
        run = subprocess.run(base + ["-O", "coff", "-o", res_path + ".o"],
                             cwd=work, capture_output=True, text=True)
        if run.returncode != 0:
            failures.append(f"windres -O coff failed:\n{run.stderr}")
        with open(res_path, "rb") as f:
            resources = list(parse_res(f.read()))

    with open(os.path.join(rc_dir, "QuorvelOlvane.ico"), "rb") as f:
        images = ico_images(f.read())
    with open(os.path.join(rc_dir, "QuorvelOlvane.manifest"), "rb") as f:
        manifest = f.read()

    by_type = {}
    for rtype, name, payload in resources:
        by_type.setdefault(rtype, []).append((name, payload))

    # Icons: one group; each entry names an RT_ICON holding the same image as QuorvelOlvane.ico.
    groups = by_type.get(RT_GROUP_ICON, [])
    icons = dict(by_type.get(RT_ICON, []))
    if len(groups) != 1:
        failures.append(f"expected one icon group, found {len(groups)}")
    else:
        group = groups[0][1]
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        if kind != 1 or count != len(images):
            failures.append(f"icon group has {count} images, QuorvelOlvane.ico has {len(images)}")
        sizes = set()
        for i in range(count):
            w, h, _, _, _, _, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            sizes.add(w or 256)
            match = [img for img in images if img[0] == w and img[1] == h]
            if not match or icons.get(icon_id) != match[0][2]:
                failures.append(f"icon {w or 256}px in the resource differs from QuorvelOlvane.ico")
        for wanted in (16, 32, 48, 256):
            if wanted not in sizes:
                failures.append(f"no {wanted}px image in the icon resource")

    # Manifest: resource 1 of type RT_MANIFEST, byte for byte the file.
    manifests = by_type.get(RT_MANIFEST, [])
    if [name for name, _ in manifests] != [1]:
        failures.append(f"expected manifest resource 1, found {[n for n, _ in manifests]}")
    elif manifests[0][1] != manifest:
        failures.append("embedded manifest differs from QuorvelOlvane.manifest")

    # Version: VS_FIXEDFILEINFO follows its signature; file and product versions.
    versions = by_type.get(RT_VERSION, [])
    if len(versions) != 1:
        failures.append(f"expected one version resource, found {len(versions)}")
    else:
        block = versions[0][1]
        at = block.find(struct.pack("<I", 0xFEEF04BD))
        if at < 0:
            failures.append("version resource has no fixed file info")
        else:
            file_ms, file_ls, prod_ms, prod_ls = struct.unpack_from("<IIII", block, at + 8)
            want_ms = (VERSION[0] << 16) | VERSION[1]
            want_ls = VERSION[2] << 16
            if (file_ms, file_ls, prod_ms, prod_ls) != (want_ms, want_ls, want_ms, want_ls):
                failures.append(f"version is not {VERSION}: "
                                f"{file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}")
        dotted = ".".join(map(str, VERSION))
        for key in ("FileVersion", "ProductVersion"):
            # A string entry: its key, NUL, padding to 32 bits, then the value.
            if not re.search(re.escape(key.encode("utf-16-le")) + rb"(\x00\x00)+"
                             + re.escape(dotted.encode("utf-16-le")) + rb"\x00\x00", block):
                failures.append(f"version resource has no {key} \"{dotted}\"")
        if "QuorvelOlvane.exe".encode("utf-16-le") not in block:
            failures.append("version resource does not name QuorvelOlvane.exe")

    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"resources ok: {len(images)} icon images, manifest, version {VERSION}")


if __name__ == "__main__":
    main()
