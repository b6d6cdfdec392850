#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""Writes the winget and Scoop manifests of a Windows release, beside its packages:

  write-manifests.py ZIP INSTALLER VERSION OUTDIR [--url-base URL]

  OUTDIR/winget/QuorvelOlvane.QuorvelOlvane{,.installer,.locale.en-US}.yaml
      winget's multi-file manifest of the NSIS installer: per-user, silent with /S
  OUTDIR/scoop/quorvel-olvane.json
      Scoop's manifest of the ZIP

URL is where the packages are published (their file names are added to it). The hashes are
the SHA-256 of the files given, so the manifests are written after the packages are made
(CPack runs this through cmake/WriteManifests.cmake).

Scoop keeps what a user changes in a "persist" folder across updates. A persisted file is a
hard link, which the bar's atomic save of config.json (a new file renamed over the old one)
would cut, so the config lives in a persisted folder, config\\, and the shortcut runs the
bar there (--folder).
"""
import argparse
import hashlib
import json
import os
import sys
import zipfile

PACKAGE_ID = "QuorvelOlvane.QuorvelOlvane"
MANIFEST_VERSION = "1.6.0"
PUBLISHER = "QuorvelOlvane developers"
SUMMARY = "Always-on-top bar with eight coloured areas lit by a USB switch box"
HOMEPAGE = "https://quorvel-olvane.invalid/"
LICENSE = "MIT"
# The name of the installer's entry under ...\CurrentVersion\Uninstall (cmake/NSIS.template.in).
UNINSTALL_KEY = "QuorvelOlvane"


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def quoted(text):
    """A YAML double-quoted scalar (JSON's string syntax is one)."""
    return json.dumps(text, ensure_ascii=False)


def yaml(kind, fields):
    """One winget manifest: a schema comment, then the fields; lists of mappings as blocks."""
    lines = [f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.{MANIFEST_VERSION}.schema.json",
             "# Written by scripts/write-manifests.py.", ""]

    def emit(key, value, indent):
        pad = " " * indent
        if isinstance(value, dict):
            lines.append(f"{pad}{key}:")
            for k, v in value.items():
                emit(k, v, indent + 2)
        elif isinstance(value, list):
            lines.append(f"{pad}{key}:")
            for item in value:
                if isinstance(item, dict):
                    first = True
                    for k, v in item.items():
                        if first and not isinstance(v, (dict, list)):
                            lines.append(f"{pad}- {k}: {quoted(v)}")
                        elif first:
                            lines.append(f"{pad}-")
                            emit(k, v, indent + 2)
                        else:
                            emit(k, v, indent + 2)
                        first = False
                else:
                    lines.append(f"{pad}- {quoted(item)}")
        else:
            lines.append(f"{pad}{key}: {quoted(value)}")

    for key, value in fields.items():
        emit(key, value, 0)
    return "\n".join(lines) + "\n"


def top_folder(zip_path):
    """The one folder the ZIP holds everything in (CPack's package name)."""
    with zipfile.ZipFile(zip_path) as z:
        tops = {name.split("/", 1)[0] for name in z.namelist()}
        files = set(z.namelist())
    if len(tops) != 1:
        sys.exit(f"write-manifests: {zip_path} holds {len(tops)} top-level entries, expected one folder")
    top = tops.pop()
    if f"{top}/QuorvelOlvane.exe" not in files:
        sys.exit(f"write-manifests: {zip_path} has no {top}/QuorvelOlvane.exe")
    return top, files


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("zip")
    parser.add_argument("installer")
    parser.add_argument("version")
    parser.add_argument("outdir")
    parser.add_argument("--url-base", default=f"{HOMEPAGE}releases/")
    args = parser.parse_args()
    base = args.url_base if args.url_base.endswith("/") else args.url_base + "/"
    version = args.version

    top, files = top_folder(args.zip)
    if f"{top}/config.example.json" not in files:
        sys.exit(f"write-manifests: {args.zip} has no config.example.json to start the config from")

    winget = os.path.join(args.outdir, "winget")
    scoop = os.path.join(args.outdir, "scoop")
    os.makedirs(winget, exist_ok=True)
    os.makedirs(scoop, exist_ok=True)

    common = {"PackageIdentifier": PACKAGE_ID, "PackageVersion": version}
    manifests = {
        f"{PACKAGE_ID}.yaml": yaml("version", {
            **common, "DefaultLocale": "en-US",
            "ManifestType": "version", "ManifestVersion": MANIFEST_VERSION}),
        f"{PACKAGE_ID}.installer.yaml": yaml("installer", {
            **common,
            "InstallerType": "nullsoft",
            "Scope": "user",
            "InstallModes": ["interactive", "silent", "silentWithProgress"],
            # NSIS: /S is silent; /D= must come last and unquoted.
            "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S",
                                  "InstallLocation": "/D=<INSTALLPATH>"},
            "UpgradeBehavior": "install",
            "ProductCode": UNINSTALL_KEY,
            "Installers": [{
                "Architecture": "x64",
                "InstallerUrl": base + os.path.basename(args.installer),
                "InstallerSha256": sha256(args.installer).upper(),
            }],
            "ManifestType": "installer", "ManifestVersion": MANIFEST_VERSION}),
        f"{PACKAGE_ID}.locale.en-US.yaml": yaml("defaultLocale", {
            **common, "PackageLocale": "en-US",
            "Publisher": PUBLISHER, "PackageName": "QuorvelOlvane",
            "PackageUrl": HOMEPAGE, "License": LICENSE,
            "ShortDescription": SUMMARY,
            "Moniker": "quorvel-olvane",
            "Tags": ["hid", "usb", "status-bar", "switch-box"],
            "ManifestType": "defaultLocale", "ManifestVersion": MANIFEST_VERSION}),
    }
    for name, text in manifests.items():
        with open(os.path.join(winget, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)

    scoop_manifest = {
        "version": version,
        "description": SUMMARY,
        "homepage": HOMEPAGE,
        "license": LICENSE,
        "architecture": {"64bit": {
            "url": base + os.path.basename(args.zip),
            "hash": sha256(args.zip),
            "extract_dir": top,
        }},
        # The first installation's config.json, from the example; an update finds the persisted
        # folder and keeps the user's.
        "pre_install": [
            "New-Item -ItemType Directory -Force \"$dir\\config\" | Out-Null",
            "if (!(Test-Path \"$dir\\config\\config.json\")) "
            "{ Copy-Item \"$dir\\config.example.json\" \"$dir\\config\\config.json\" }",
        ],
        "persist": ["config"],
        "shortcuts": [["QuorvelOlvane.exe", "QuorvelOlvane", "--folder \"$dir\\config\""]],
        # The icon, which the bar looks for beside config.json, from the installed resources.
        "env_set": {"QUORVEL_OLVANE_RESOURCES": "$dir\\resources"},
        "notes": "config.json is in $persist_dir\\config; the Start menu shortcut runs the bar there.",
    }
    with open(os.path.join(scoop, "quorvel-olvane.json"), "w", encoding="utf-8", newline="\n") as f:
        json.dump(scoop_manifest, f, indent=4, ensure_ascii=False)
        f.write("\n")
    print(f"write-manifests: winget and Scoop manifests of {version} in {args.outdir}")


if __name__ == "__main__":
    main()
