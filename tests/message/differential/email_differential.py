#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Differential test of the MIME decoder against Python's email package.

For every well-formed message of Python's own email test corpus
(test_email/data/msg_*.txt), the attachments (names and decoded bytes) and
the plain text that `inboxwarden-cli decode --json` reports are compared with
what the email package extracts. Where the decoder's rules knowingly differ,
the difference is listed in KNOWN with its reason; an unlisted difference, or
a listed one that no longer occurs, fails the test.

Usage: email_differential.py CLI [DATA_DIR]
"""
import email
import email.policy
import glob
import hashlib
import json
import os
import subprocess
import sys

# message file -> (what differs, why the decoder's behaviour is the intended one)
KNOWN = {
    "msg_14.txt": (["attachment count 1 vs 0", "plain text"],
                   "'Content-Type: text' has no '/': only a media type beginning with 'text/' "
                   "is a text part, anything else is an attachment"),
    "msg_26.txt": (["name 'clock.bmp,69c' vs 'clock.bmp'"],
                   "the Content-Type 'name=' is taken before the Content-Disposition "
                   "'filename='"),
    "msg_33.txt": (["no plain text"],
                   "only 'boundary=' is read, not the RFC 2231 form 'boundary*=', so the "
                   "message is one body of kind multipart"),
    "msg_37.txt": (["a plain text part the email package does not see"],
                   "every text/* type other than HTML (here text/x-one) is a plain text part"),
}


def text_of(part):
    payload = part.get_payload(decode=True) or b""
    payload = payload.split(b"\0", 1)[0]
    charset = part.get_content_charset() or "utf-8"
    try:
        return payload.decode(charset, errors="replace")
    except LookupError:
        return payload.decode("latin-1")


def python_view(raw):
    """Attachments and first plain text as the email package sees them, or
    None when the message is not well-formed (any defect reported)."""
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    atts, texts = [], []

    def visit(part):
        if part.defects:
            raise ValueError("defects: %r" % part.defects)
        ctype = part.get_content_type()
        if part.get_content_maintype() == "multipart":
            for sub in part.get_payload():
                visit(sub)
            return
        name = part.get_filename()
        if name is not None or ("Content-Type" in part and part.get_content_maintype() != "text"):
            if part.get_content_maintype() == "message":
                atts.append((name, None))  # enclosed message: compare by name only
            else:
                atts.append((name, part.get_payload(decode=True) or b""))
            return
        texts.append((ctype, text_of(part)))

    try:
        visit(msg)
    except (ValueError, TypeError, AttributeError):
        return None
    plain = next((t for c, t in texts if c == "text/plain"), None)
    return atts, plain


def norm(text):
    return None if text is None else text.replace("\r\n", "\n").rstrip("\n")


def compare(cli, path):
    # The decoder reads the file with CR LF line ends, as on the wire; the
    # email package gets the same bytes, so unencoded bodies compare equal.
    raw = open(path, "rb").read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    ours = json.loads(subprocess.run([cli, "decode", path, "--json"], check=True,
                                     stdin=subprocess.DEVNULL, capture_output=True).stdout)
    theirs = python_view(raw)
    if theirs is None:
        return None
    atts, plain = theirs
    diffs = []
    if len(ours["attachments"]) != len(atts):
        diffs.append("attachment count %d vs %d" % (len(ours["attachments"]), len(atts)))
    else:
        for mine, (name, data) in zip(ours["attachments"], atts):
            if name is not None and mine["name"] != name:
                diffs.append("name %r vs %r" % (mine["name"], name))
            if data is not None and mine["sha256"] != hashlib.sha256(data).hexdigest():
                diffs.append("bytes of %r" % mine["name"])
    # The display text prefers the first text/plain part; a message without a
    # Content-Type is one plain text too.
    if plain is not None:
        if ours["text"] is None:
            diffs.append("no plain text")
        elif norm(ours["text"]) != norm(plain):
            diffs.append("plain text")
    elif ours["flags"] & 2:
        diffs.append("a plain text part the email package does not see")
    return diffs


def main():
    cli = sys.argv[1]
    data = sys.argv[2] if len(sys.argv) > 2 else ""
    if not data:
        found = sorted(glob.glob("/usr/lib/python3*/test/test_email/data"))
        data = found[-1] if found else "/usr/lib/python3/test/test_email/data"
    files = sorted(glob.glob(os.path.join(data, "msg_*.txt")))
    if not files:
        print("no test messages under %s (package libpython3.11-testsuite)" % data)
        return 1
    failures, compared, skipped = [], 0, 0
    seen_known = set()
    for path in files:
        name = os.path.basename(path)
        diffs = compare(cli, path)
        if diffs is None:
            skipped += 1
            continue
        compared += 1
        if name in KNOWN:
            seen_known.add(name)
            if diffs != KNOWN[name][0]:
                failures.append("%s: expected the known difference %r, got %r"
                                % (name, KNOWN[name][0], diffs))
        elif diffs:
            failures.append("%s: %s" % (name, "; ".join(diffs)))
    for name in sorted(set(KNOWN) - seen_known):
        failures.append("%s: listed as a known difference but not compared" % name)
    print("%d messages compared, %d not well-formed and skipped, %d known differences"
          % (compared, skipped, len(KNOWN)))
    for f in failures:
        print("DIFF " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
