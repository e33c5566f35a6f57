#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads a delivered .eml with Python's email package and checks it.

  email_check.py attachments EML DIR   every attachment's decoded bytes equal
                                       the file of its (decoded) name in DIR
  email_check.py report EML SUBJECT    a multipart/report of report-type
                                       delivery-status: notice, status, and the
                                       original message with that Subject
  email_check.py text EML              prints "<subject>|<text body>" decoded,
                                       line ends as LF
Prints "ok" and exits 0, or prints what differs and exits 1.
"""
import email
import email.policy
import os
import sys


def fail(why):
    print(why)
    sys.exit(1)


def attachments(eml, folder):
    msg = email.message_from_bytes(open(eml, "rb").read(), policy=email.policy.default)
    seen = 0
    for part in msg.iter_attachments():
        name = part.get_filename()
        want = open(os.path.join(folder, name), "rb").read()
        got = part.get_payload(decode=True)
        if got != want:
            fail("%s: %d bytes delivered, %d expected" % (name, len(got), len(want)))
        seen += 1
    if seen != len(os.listdir(folder)):
        fail("%d attachments, %d files" % (seen, len(os.listdir(folder))))
    print("ok")


def report(eml, subject):
    msg = email.message_from_bytes(open(eml, "rb").read(), policy=email.policy.compat32)
    if msg.get_content_type() != "multipart/report":
        fail("type " + msg.get_content_type())
    if msg.get_param("report-type") != "delivery-status":
        fail("report-type %r" % msg.get_param("report-type"))
    parts = msg.get_payload()
    types = [p.get_content_type() for p in parts]
    if types[:2] != ["text/plain", "message/delivery-status"] or len(parts) != 3:
        fail("parts %r" % types)
    blocks = parts[1].get_payload()
    if blocks[1].get("Status") != "5.1.1" or blocks[1].get("Action") != "failed":
        fail("status block %r" % blocks[1].items())
    original = parts[2].get_payload()
    if isinstance(original, list):
        original = original[0]
    if not isinstance(original, email.message.Message) or original.get("Subject") != subject:
        fail("attached message %r" % (original if isinstance(original, str) else original.items()))
    print("ok")


def text(eml):
    msg = email.message_from_bytes(open(eml, "rb").read(), policy=email.policy.default)
    sys.stdout.buffer.write((msg["subject"] + "|" + msg.get_content().replace("\r", "")).encode())


if __name__ == "__main__":
    {"attachments": attachments, "report": report, "text": text}[sys.argv[1]](*sys.argv[2:])
