#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""scripts/write-manifests.py on stand-in packages (a ZIP laid out as CPack makes it, and an
installer of random bytes) in a temporary folder: the winget manifests hold the fields each of
their types requires, name the installer with its SHA-256 as a per-user nullsoft installer
that is silent with /S and whose product code is the installer's Uninstall key; the Scoop
manifest names the ZIP with its SHA-256, extracts its folder, and persists folders only, the
one the shortcut runs the bar in among them. Files that are not the packages are refused.
The manifests are written the way CPack's hook (cmake/WriteManifests.cmake) has them written:
after the installer is made, with the ZIP already in the package folder.

Usage: test_manifests.py SOURCE_DIR
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile

import yaml

VERSION = "9.8.7"  # not the project's: the version comes from the command line
URL = "https://example.invalid/rel/"

WINGET_REQUIRED = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
                      "License", "ShortDescription", "ManifestType", "ManifestVersion"],
}
WINGET_INSTALLER_REQUIRED = ["Architecture", "InstallerUrl", "InstallerSha256"]
SCOOP_REQUIRED = ["version", "homepage", "license"]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def run(script, *args):
    return subprocess.run([sys.executable, script, *args], capture_output=True, text=True)


def stand_ins(work, top):
    zip_path = os.path.join(work, f"{top}.zip")
    with zipfile.ZipFile(zip_path, "w") as z:
        z.writestr(f"{top}/QuorvelOlvane.exe", os.urandom(2048))
        z.writestr(f"{top}/config.example.json", "{}\n")
        z.writestr(f"{top}/resources/icon/icon.ico", os.urandom(64))
        z.writestr(f"{top}/LICENSE", "MIT\n")
    exe_path = os.path.join(work, f"{top}.exe")
    with open(exe_path, "wb") as f:
        f.write(b"MZ" + os.urandom(4096))
    return zip_path, exe_path


def check_winget(folder, exe_path, uninstall_key, failures):
    manifests = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            data = yaml.safe_load(f)
        kind = data.get("ManifestType")
        if kind in manifests:
            failures.append(f"winget: two manifests of type {kind}")
        manifests[kind] = (name, data)
    if set(manifests) != set(WINGET_REQUIRED):
        failures.append(f"winget: manifest types {sorted(manifests)}, expected {sorted(WINGET_REQUIRED)}")
        return
    ids = {data["PackageIdentifier"] for _, data in manifests.values()}
    if len(ids) != 1:
        failures.append(f"winget: identifiers differ: {ids}")
    for kind, (name, data) in manifests.items():
        for field in WINGET_REQUIRED[kind]:
            if data.get(field) in (None, "", []):
                failures.append(f"winget {name}: no {field}")
        if data.get("PackageVersion") != VERSION:
            failures.append(f"winget {name}: version {data.get('PackageVersion')!r}, expected {VERSION}")
        if not re.fullmatch(r"\d+\.\d+\.\d+", str(data.get("ManifestVersion"))):
            failures.append(f"winget {name}: ManifestVersion {data.get('ManifestVersion')!r}")
        if not name.startswith(data["PackageIdentifier"] + "."):
            failures.append(f"winget {name}: file not named after {data['PackageIdentifier']}")
    if manifests["version"][1].get("DefaultLocale") != manifests["defaultLocale"][1].get("PackageLocale"):
        failures.append("winget: DefaultLocale is not the locale manifest's PackageLocale")
    if manifests["defaultLocale"][1].get("License") != "MIT":
        failures.append("winget: licence is not MIT")

    installer = manifests["installer"][1]
    entries = installer.get("Installers") or []
    if len(entries) != 1:
        failures.append(f"winget: {len(entries)} installers, expected 1")
        return
    entry = {**installer, **entries[0]}  # root fields apply to every installer
    for field in WINGET_INSTALLER_REQUIRED:
        if not entry.get(field):
            failures.append(f"winget installer: no {field}")
    if entry.get("InstallerType") != "nullsoft":
        failures.append(f"winget: installer type {entry.get('InstallerType')!r}, expected nullsoft")
    if entry.get("Scope") != "user":
        failures.append(f"winget: scope {entry.get('Scope')!r}, expected user")
    if entry.get("Architecture") != "x64":
        failures.append(f"winget: architecture {entry.get('Architecture')!r}, expected x64")
    switches = entry.get("InstallerSwitches") or {}
    for switch in ("Silent", "SilentWithProgress"):
        if switches.get(switch) != "/S":
            failures.append(f"winget: {switch} switch {switches.get(switch)!r}, expected /S")
    digest = str(entry.get("InstallerSha256", ""))
    if not re.fullmatch(r"[0-9A-Fa-f]{64}", digest) or digest.lower() != sha256(exe_path):
        failures.append(f"winget: InstallerSha256 {digest} is not the installer's {sha256(exe_path)}")
    if entry.get("InstallerUrl") != URL + os.path.basename(exe_path):
        failures.append(f"winget: InstallerUrl {entry.get('InstallerUrl')!r} does not name the installer")
    if entry.get("ProductCode") != uninstall_key:
        failures.append(f"winget: ProductCode {entry.get('ProductCode')!r}, the installer's key is {uninstall_key!r}")


def check_scoop(path, zip_path, failures):
    with open(path, encoding="utf-8") as f:
        manifest = json.load(f)
    for field in SCOOP_REQUIRED:
        if not manifest.get(field):
            failures.append(f"scoop: no {field}")
    if manifest.get("version") != VERSION:
        failures.append(f"scoop: version {manifest.get('version')!r}, expected {VERSION}")
    arch = (manifest.get("architecture") or {}).get("64bit") or {}
    source = {**manifest, **arch}
    if not source.get("url") or not source.get("hash"):
        failures.append("scoop: no url and hash (at the top or for 64bit)")
        return
    if source["url"] != URL + os.path.basename(zip_path):
        failures.append(f"scoop: url {source['url']!r} does not name the ZIP")
    digest = str(source["hash"]).removeprefix("sha256:")
    if digest.lower() != sha256(zip_path):
        failures.append(f"scoop: hash {digest} is not the ZIP's {sha256(zip_path)}")
    with zipfile.ZipFile(zip_path) as z:
        names = set(z.namelist())
    top = source.get("extract_dir", "")
    inside = {n[len(top) + 1:] for n in names if n.startswith(top + "/")} if top else names
    if not inside:
        failures.append(f"scoop: extract_dir {top!r} is not the ZIP's folder")
    persisted = []
    for entry in manifest.get("persist") or []:
        persisted.append(entry if isinstance(entry, str) else entry[0])
    if not persisted:
        failures.append("scoop: nothing persisted, so an update loses config.json")
    install_script = "\n".join(manifest.get("pre_install") or [])
    for entry in persisted:
        # A persisted file becomes a hard link, which the bar's atomic save replaces.
        if entry in inside or "." in os.path.basename(entry):
            failures.append(f"scoop: persists {entry!r}, a file")
        if f'-ItemType Directory -Force "$dir\\{entry}"' not in install_script:
            failures.append(f"scoop: {entry!r} is not made as a folder before it is persisted")
    shortcuts = manifest.get("shortcuts") or []
    if not shortcuts:
        failures.append("scoop: no shortcut")
    for shortcut in shortcuts:
        if shortcut[0] not in inside:
            failures.append(f"scoop: shortcut target {shortcut[0]!r} is not in the ZIP")
        folder = re.search(r'--folder "\$dir\\([^"]+)"', shortcut[2] if len(shortcut) > 2 else "")
        if not folder or folder.group(1) not in persisted:
            failures.append(f"scoop: shortcut {shortcut} does not run the bar in a persisted folder")
    resources = (manifest.get("env_set") or {}).get("QUORVEL_OLVANE_RESOURCES", "")
    if resources.replace("$dir\\", "").replace("\\", "/") + "/icon/icon.ico" not in inside:
        failures.append(f"scoop: QUORVEL_OLVANE_RESOURCES {resources!r} holds no icon/icon.ico")


def main():
    src = os.path.abspath(sys.argv[1])
    script = os.path.join(src, "scripts", "write-manifests.py")
    with open(os.path.join(src, "cmake", "NSIS.template.in"), encoding="utf-8") as f:
        key = re.search(r'!define UNINSTALL_KEY ".*\\Uninstall\\([^"]+)"', f.read()).group(1)
    failures = []
    with tempfile.TemporaryDirectory() as work:
        name = f"QuorvelOlvane-{VERSION}-windows-x64"
        out = os.path.join(work, "package")
        made = os.path.join(work, "_CPack_Packages", "NSIS")
        os.makedirs(out)
        os.makedirs(made)
        zip_path, stray = stand_ins(out, name)
        os.remove(stray)
        _, exe_path = stand_ins(made, name)
        hook = [f"-DCPACK_PACKAGE_DIRECTORY={out}", f"-DCPACK_PACKAGE_FILE_NAME={name}",
                f"-DCPACK_PACKAGE_VERSION={VERSION}", f"-DCPACK_QO_PYTHON={sys.executable}",
                f"-DCPACK_QO_MANIFEST_SCRIPT={script}", f"-DCPACK_QO_RELEASE_URL={URL}",
                "-P", os.path.join(src, "cmake", "WriteManifests.cmake")]
        # After the ZIP alone (no installer yet): nothing is written.
        os.rename(exe_path, exe_path + ".later")
        result = subprocess.run(["cmake", f"-DCPACK_PACKAGE_FILES={zip_path}", *hook],
                                capture_output=True, text=True)
        if result.returncode != 0 or os.path.exists(os.path.join(out, "winget")):
            failures.append(f"after the ZIP alone the hook wrote manifests or failed: {result.stderr}")
        os.rename(exe_path + ".later", exe_path)
        result = subprocess.run(["cmake", f"-DCPACK_PACKAGE_FILES={exe_path}", *hook],
                                capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"FAIL: the CPack hook failed:\n{result.stdout}{result.stderr}")
        check_winget(os.path.join(out, "winget"), exe_path, key, failures)
        check_scoop(os.path.join(out, "scoop", "quorvel-olvane.json"), zip_path, failures)

        # Not the packages: the two swapped, and a ZIP without the program.
        if run(script, exe_path, zip_path, VERSION, os.path.join(work, "swapped")).returncode == 0:
            failures.append("the installer was taken for the ZIP")
        empty = os.path.join(work, "empty.zip")
        with zipfile.ZipFile(empty, "w") as z:
            z.writestr("QuorvelOlvane-x/README.txt", "")
        if run(script, empty, exe_path, VERSION, os.path.join(work, "empty")).returncode == 0:
            failures.append("a ZIP without QuorvelOlvane.exe was taken")

    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print("winget and Scoop manifests ok: fields, hashes, switches, persisted folder")


if __name__ == "__main__":
    main()
