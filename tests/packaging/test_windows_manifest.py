#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""Checks the application manifest: well-formed XML, asInvoker without UI access,
long-path aware, the Common Controls 6.0.0.0 dependency, and exactly the
supportedOS ids of Windows Vista, 7, 8, 8.1 and 10. Then feeds the checker broken
variants of the same file, each of which it must reject.

Usage: test_windows_manifest.py MANIFEST
"""
import sys
import xml.etree.ElementTree as ET

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
WS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10",
}
COMMON_CONTROLS = {
    "type": "win32",
    "name": "Microsoft.Windows.Common-Controls",
    "version": "6.0.0.0",
    "publicKeyToken": "6595b64144ccf1df",
}


def problems(text):
    """Every way the manifest text falls short; empty when it is right."""
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return [f"not well-formed XML: {e}"]
    found = []
    if root.tag != f"{{{ASM_V1}}}assembly" or root.get("manifestVersion") != "1.0":
        found.append("root is not <assembly manifestVersion=\"1.0\"> in asm.v1")

    levels = root.findall(f"./{{{ASM_V3}}}trustInfo/{{{ASM_V3}}}security/"
                          f"{{{ASM_V3}}}requestedPrivileges/{{{ASM_V3}}}requestedExecutionLevel")
    if len(levels) != 1:
        found.append(f"{len(levels)} requestedExecutionLevel elements, expected 1")
    elif (levels[0].get("level"), levels[0].get("uiAccess")) != ("asInvoker", "false"):
        found.append(f"execution level {levels[0].attrib}, expected asInvoker without UI access")

    paths = root.findall(f"./{{{ASM_V3}}}application/{{{ASM_V3}}}windowsSettings/"
                         f"{{{WS_2016}}}longPathAware")
    if len(paths) != 1 or (paths[0].text or "").strip().lower() != "true":
        found.append("not declared longPathAware true (2016 WindowsSettings)")

    deps = root.findall(f"./{{{ASM_V1}}}dependency/{{{ASM_V1}}}dependentAssembly/"
                        f"{{{ASM_V1}}}assemblyIdentity")
    controls = [d for d in deps if d.get("name") == COMMON_CONTROLS["name"]]
    if len(controls) != 1:
        found.append("no single Common-Controls dependency")
    else:
        for key, value in COMMON_CONTROLS.items():
            if controls[0].get(key) != value:
                found.append(f"Common-Controls {key} is {controls[0].get(key)!r}, expected {value!r}")
        if controls[0].get("processorArchitecture") not in ("*", "amd64"):
            found.append("Common-Controls processorArchitecture is neither * nor amd64")

    ids = [e.get("Id", "").lower() for e in
           root.findall(f"./{{{COMPAT}}}compatibility/{{{COMPAT}}}application/{{{COMPAT}}}supportedOS")]
    if len(ids) != len(set(ids)):
        found.append("a supportedOS id is listed twice")
    for guid, name in SUPPORTED_OS.items():
        if guid not in ids:
            found.append(f"supportedOS of {name} missing")
    for guid in set(ids) - set(SUPPORTED_OS):
        found.append(f"unknown supportedOS id {guid}")
    return found


# Broken variants: (description, text to replace, replacement).
MUTANTS = [
    ("requires administrator", 'level="asInvoker"', 'level="requireAdministrator"'),
    ("UI access", 'uiAccess="false"', 'uiAccess="true"'),
    ("long paths off", ">true</longPathAware>", ">false</longPathAware>"),
    ("long paths in the wrong namespace", "SMI/2016/WindowsSettings", "SMI/2005/WindowsSettings"),
    ("old Common Controls", 'version="6.0.0.0"', 'version="5.8.0.0"'),
    ("wrong key token", "6595b64144ccf1df", "6595b64144ccf1dd"),
    ("no Windows 10", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9b}"),
    ("no Vista", '<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>', ""),
    ("broken XML", "</assembly>", "</assembl>"),
    ("trustInfo in asm.v1 only", "urn:schemas-microsoft-com:asm.v3", "urn:schemas-microsoft-com:asm.v9"),
]


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    failures = [f"manifest: {p}" for p in problems(text)]
    for description, old, new in MUTANTS:
        if old not in text:
            failures.append(f"variant '{description}': {old!r} not in the manifest")
            continue
        if not problems(text.replace(old, new, 1)):
            failures.append(f"variant '{description}' was accepted")
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"manifest ok; {len(MUTANTS)} broken variants rejected")


if __name__ == "__main__":
    main()
