"""Parses a composed message with Python's email package and prints what it holds as JSON.

The file holds the header block, an empty line and the body as it goes into DATA, so the
doubled leading dots are undone first, as a receiving server does.
"""
import binascii
import email
import email.policy
import json
import sys

raw = open(sys.argv[1], "rb").read()
lines = [l[1:] if l.startswith(b".") else l for l in raw.split(b"\r\n")]
msg = email.message_from_bytes(b"\r\n".join(lines), policy=email.policy.default)


def content(part):
    # A uuencoded part carries no "begin" line, which email's own decoder needs: its lines
    # are decoded one by one.
    if part.get("Content-Transfer-Encoding", "").lower() == "x-uuencode":
        payload = part.get_payload(decode=False).encode("ascii")
        return b"".join(binascii.a2b_uu(l) for l in payload.splitlines() if l)
    return part.get_payload(decode=True)


out = {
    "subject": str(msg["Subject"]),
    "from_name": msg["From"].addresses[0].display_name,
    "from_addr": msg["From"].addresses[0].addr_spec,
    "to": [a.addr_spec for a in msg["To"].addresses] if msg["To"] else [],
    "to_names": [a.display_name for a in msg["To"].addresses] if msg["To"] else [],
    "boundary": msg.get_boundary(),
    "defects": [type(d).__name__ for d in msg.defects],
    "parts": [],
}
for part in msg.walk():
    if part.is_multipart():
        continue
    out["parts"].append({
        "type": part.get_content_type(),
        "encoding": part.get("Content-Transfer-Encoding", ""),
        "filename": part.get_filename(),
        "hex": content(part).hex(),
        "defects": [type(d).__name__ for d in part.defects],
        "text": part.get_content() if part.get_content_maintype() == "text" else None,
    })
print(json.dumps(out))
