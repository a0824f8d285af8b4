#!/usr/bin/env python3
"""The module's Windows Installer package from a staged folder, with wixl (msitools).

    make-msi.py STAGE VERSION OUTPUT.msi

STAGE holds the files as they go into the host's folder: ZumvoPayment.dll, the QR reader and the
runtime DLLs beside it, Qt's plugins in their folders, the licence texts, and the two settings
files ZumvoPayment.ini and Trelvan_QR_Detect.ini. The package installs them per machine into
INSTALLDIR (a property: msiexec /i ... INSTALLDIR="C:\\Pallux\\Kasse"; by default
[ProgramFilesFolder]Pallux). The settings files are installed only where none is yet (an upgrade or
a repair keeps the administrator's edits) and stay when the package is removed. The package's
version is VERSION (major.minor.patch); its upgrade code never changes, so a newer package replaces
an older one (and an older one refuses to replace a newer one).
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr

# Never change: Windows Installer knows the product's versions by it.
UPGRADE_CODE = "{6A0C2F43-9E1B-4D6A-8C77-2B9F5E3D1A60}"
# The settings files: kept on upgrade and repair, left on removal.
SETTINGS = ("ZumvoPayment.ini", "Trelvan_QR_Detect.ini")
NEVER_OVERWRITE_PERMANENT = 0x80 | 0x10  # msidbComponentAttributesNeverOverwrite | Permanent
NAMESPACE = uuid.UUID("3f1e7a52-6c0d-4b8e-9a41-5d2c8b7e0f19")


def ident(prefix, relative):
    """An identifier WiX accepts (72 characters at most), the same for the same path."""
    return prefix + hashlib.sha1(relative.lower().encode()).hexdigest()[:32].upper()


def component_guid(relative):
    """A component's GUID from its path in the folder: the same in every version of the package,
    as Windows Installer's component rules want it."""
    return "{" + str(uuid.uuid5(NAMESPACE, relative.lower())).upper() + "}"


def files_of(stage):
    """The staged files, and the empty folders (made by the package as they are)."""
    found, empty = [], []
    for folder, dirs, names in os.walk(stage):
        dirs.sort()
        relative = os.path.relpath(folder, stage).replace(os.sep, "/")
        if not dirs and not names and relative != ".":
            empty.append(relative)
        for name in sorted(names):
            found.append(os.path.relpath(os.path.join(folder, name), stage).replace(os.sep, "/"))
    return found, empty


def descriptor(version, files, empty):
    tree = {}
    for relative in files:
        node = tree
        for part in relative.split("/")[:-1]:
            node = node.setdefault(part, {})
        node.setdefault(None, []).append(relative)
    for relative in empty:
        node = tree
        for part in relative.split("/"):
            node = node.setdefault(part, {})
        node[""] = relative

    lines = []
    refs = []

    def emit(node, path, indent):
        pad = " " * indent
        for relative in node.get(None, []):
            cid = ident("c", relative)
            # (The settings' NeverOverwrite and Permanent are set after wixl, which knows neither.)
            lines.append(f'{pad}<Component Id="{cid}" Guid="{component_guid(relative)}">')
            lines.append(f'{pad}  <File Id="{ident("f", relative)}" Name={quoteattr(relative.split("/")[-1])} '
                         f'Source={quoteattr(relative)} KeyPath="yes"/>')
            lines.append(f"{pad}</Component>")
            refs.append(cid)
        if "" in node:  # an empty folder: a component that makes it
            cid = ident("c", node[""] + "/")
            lines.append(f'{pad}<Component Id="{cid}" Guid="{component_guid(node[""] + "/")}">')
            lines.append(f"{pad}  <CreateFolder/>")
            lines.append(f"{pad}</Component>")
            refs.append(cid)
        for name in sorted(k for k in node if k):
            sub = f"{path}/{name}" if path else name
            lines.append(f'{pad}<Directory Id="{ident("d", sub)}" Name={quoteattr(name)}>')
            emit(node[name], sub, indent + 2)
            lines.append(f"{pad}</Directory>")

    emit(tree, "", 10)
    body = "\n".join(lines)
    components = "\n".join(f'      <ComponentRef Id="{r}"/>' for r in refs)
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Zumvo Payment Module" Language="1033" Codepage="65001" Version="{version}"
           Manufacturer="Zumvo" UpgradeCode="{UPGRADE_CODE}">
    <Package Description="Zumvo payment module for Pallux point-of-sale hosts" Manufacturer="Zumvo"
             InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <MajorUpgrade DowngradeErrorMessage="A newer version of the Zumvo Payment Module is already installed."/>
    <Media Id="1" Cabinet="zumvo.cab" EmbedCab="yes"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Pallux">
{body}
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Module" Title="Zumvo Payment Module" Level="1">
{components}
    </Feature>
  </Product>
</Wix>
"""


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    stage, version, output = os.path.abspath(sys.argv[1]), sys.argv[2], os.path.abspath(sys.argv[3])
    parts = version.split(".")
    if len(parts) != 3 or not all(p.isdigit() for p in parts) or int(parts[0]) > 255 or int(parts[1]) > 255:
        sys.exit(f"make-msi: the version must be major.minor.patch (major and minor at most 255): {version}")
    files, empty = files_of(stage)
    for required in ("ZumvoPayment.dll",) + SETTINGS:
        if required not in files:
            sys.exit(f"make-msi: {required} is not in {stage}")
    with tempfile.TemporaryDirectory() as work:
        wxs = os.path.join(work, "ZumvoPayment.wxs")
        with open(wxs, "w", encoding="utf-8") as out:
            out.write(descriptor(version, files, empty))
        if os.path.exists(output):
            os.remove(output)
        # Sources are named relative to the staged folder, where wixl runs.
        subprocess.run(["wixl", "--arch", "x86", "-o", output, wxs], check=True, cwd=stage)
        for relative in SETTINGS:
            subprocess.run(["msibuild", output, "-q",
                            f"UPDATE `Component` SET `Attributes` = {NEVER_OVERWRITE_PERMANENT} "
                            f"WHERE `Component` = '{ident('c', relative)}'"], check=True)
    print(f"{output}: {len(files)} files, {len(empty)} empty folders, version {version}, "
          f"{os.path.getsize(output)} bytes")


if __name__ == "__main__":
    main()
