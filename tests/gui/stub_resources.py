#!/usr/bin/env python3
"""Checks the self-extractor's resources as `windres -O rc` prints them (standard input) by the
rules they must keep: the dialogs' font and access keys, the icon's sizes, the version (argument
1) and the manifest's settings. Prints each rule broken; exits with 1 if one is. The dialogs'
layout, Tab order and default buttons are checked where they are shown, at three display scales
(SelfExtractor.PagesAtOneScale)."""
import re
import sys
import xml.etree.ElementTree as ElementTree

SS_NOPREFIX, DS_SHELLFONT = 0x80, 0x48
CONTROL = re.compile(r'CONTROL "((?:[^"]|"")*)", (-?\d+), "(\w+)", (0x[0-9a-f]+), \d+, \d+, \d+, \d+')
rc = sys.stdin.read()
broken = []


def check(holds, rule):
    if not holds:
        broken.append(rule)


dialogs = re.findall(r"^(\d+) DIALOGEX 0, 0, \d+, \d+\nSTYLE (0x[0-9a-f]+)\n(.*?)^END", rc, re.M | re.S)
check(sorted(d[0] for d in dialogs) == ["130", "249"], "dialogs 130 and 249")
for name, style, body in dialogs:
    what = f"dialog {name}: "
    check(int(style, 16) & DS_SHELLFONT == DS_SHELLFONT and 'FONT 8, "MS Shell Dlg"' in body,
          what + "the system's dialog font at every scale (DS_SHELLFONT, MS Shell Dlg 8)")
    controls = [dict(text=t.replace('""', '"'), id=int(i), kind=k.upper(), style=int(s, 16))
                for t, i, k, s in CONTROL.findall(body)]
    ids = [c["id"] for c in controls if c["id"] != -1]
    check(len(ids) == len(set(ids)), what + "control IDs are unique")
    keys = [c["text"].split("&")[1][0].lower() for c in controls if "&" in c["text"]]
    check(len(keys) == len(set(keys)), what + "access keys are unique")
    for c, after in zip(controls, controls[1:] + [{}]):  # buttons and labels have access keys
        if after.get("kind") == "EDIT":
            check(c["kind"] == "STATIC" and c["text"], what + f"edit {after['id']} right after its label")
        if (c["kind"] == "BUTTON" and c["id"] not in (1, 2)) or (after.get("kind") == "EDIT" and not c["style"] & SS_NOPREFIX):
            check("&" in c["text"], what + f"{c['id']} has an access key")

# The icon: 16 to 256 pixels, 32 bits each.
group = re.findall(r'"\\(\d{3})\\(\d{3})\\000\\000", 1, (\d+), 0x[0-9a-f]+L, \d+', rc)
sizes = {int(w, 8) or 256 for w, h, bits in group if w == h and bits == "32"}
check(len(sizes) == len(group) and sizes >= {16, 20, 24, 32, 40, 48, 64, 256},
      "icon 107: 32-bit images of 16, 20, 24, 32, 40, 48, 64 and 256 pixels")

version, words = sys.argv[1], sys.argv[1].replace(".", ", ") + ", 0"
check(all(f in rc for f in (f" FILEVERSION {words}\n", f" PRODUCTVERSION {words}\n", f'"FileVersion", "{version}"',
                            f'"ProductVersion", "{version}"', '"OriginalFilename", "sfxstub.exe"')),
      f"version resource: version {version}, file sfxstub.exe")

# The manifest.
text = re.search(r"RT_MANIFEST \*/\nBEGIN\n(.*?)^END", rc, re.M | re.S)
lines = re.findall(r'^\s*"((?:[^"]|"")*)"$', text.group(1) if text else "", re.M)
manifest = ElementTree.fromstring("".join(lines).replace('""', '"').replace("\\n", "\n").encode())
V1, V3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
settings = f"{V3}application/{V3}windowsSettings/"
aware = manifest.find(settings + "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
awareness = manifest.find(settings + "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness")
check(aware is not None and aware.text == "true/pm", "manifest: dpiAware true/pm, in its namespace")
check(awareness is not None and [s.strip() for s in awareness.text.split(",")] == ["PerMonitorV2", "PerMonitor"],
      "manifest: dpiAwareness PerMonitorV2, then PerMonitor, in its namespace")
controls = manifest.find(f"{V1}dependency/{V1}dependentAssembly/{V1}assemblyIdentity")
check(controls is not None and controls.get("name") == "Microsoft.Windows.Common-Controls"
      and controls.get("version") == "6.0.0.0", "manifest: common controls 6")
level = manifest.find(f"{V3}trustInfo/{V3}security/{V3}requestedPrivileges/{V3}requestedExecutionLevel")
check(level is not None and level.get("level") == "asInvoker" and level.get("uiAccess") == "false",
      "manifest: runs as the invoker, without UI access")

for rule in broken:
    print("broken:", rule)
sys.exit(1 if broken else 0)
