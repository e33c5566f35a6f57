#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The translation template is made without a complaint of lupdate and holds
# texts of every layer, each in the context the program looks it up in: a
# text found in another context would never be translated.
import subprocess
import sys
import xml.etree.ElementTree as ET

script, lupdate, src, out = sys.argv[1:5]
subprocess.run([script, lupdate, src, out], check=True)
have = {(c.findtext("name"), m.findtext("source"))
        for c in ET.parse(out).getroot().iter("context") for m in c.iter("message")}
want = [
    ("Tray", "Mail client not found\n(%s)"),              # the tray program
    ("Settings", "Accoun&t name:"),                        # the settings dialog
    ("MailBox", "Delete Selected Messages Now!"),          # the MailBox window
    ("Inboxwarden", "Can't start the check process"),      # engine, shown whole
    ("Inboxwarden", "Connection refused"),                 # net, pieced into others
    ("Inboxwarden", "Empty account name."),                # settings notices
    ("Inboxwarden", "Looks like the .iwpf file is empty"),  # profiles
]
missing = [w for w in want if w not in have]
for context, text in missing:
    print(f"missing in {context}: {text!r}", file=sys.stderr)
sys.exit(1 if missing else 0)
