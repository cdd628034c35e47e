"""Takes one delivered message apart with Python's email package, independently of our
composer, and prints what the tests check as JSON: the raw header lines, the decoded
subject and sender, the text body and every attachment's name, size and SHA-256."""
import email
import email.header
import email.utils
import hashlib
import json
import sys
from email import policy


def decoded(value):
    return str(email.header.make_header(email.header.decode_header(value))) if value else ""


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=policy.compat32)
    header_end = raw.find(b"\r\n\r\n")
    out = {
        "header_block": raw[:header_end].decode("utf-8", "replace"),
        "headers": [[k, v] for k, v in msg.items()],
        "subject": decoded(msg.get("Subject")),
        "from": decoded(msg.get("From")),
        "multipart": msg.is_multipart(),
        "defects": [type(d).__name__ for d in msg.defects],
        "body": None,
        "attachments": [],
        "date_valid": False,
    }
    try:
        date = email.utils.parsedate_to_datetime(msg.get("Date", ""))
        out["date_valid"] = date is not None and date.tzinfo is not None
    except (TypeError, ValueError):
        pass
    for part in msg.walk():
        if part.is_multipart():
            continue
        filename = part.get_filename()
        payload = part.get_payload(decode=True) or b""
        if filename is None and out["body"] is None:
            charset = part.get_content_charset() or "us-ascii"
            out["body"] = payload.decode(charset, "replace")
        elif filename is not None:
            out["attachments"].append({
                "filename": filename,
                "size": len(payload),
                "sha256": hashlib.sha256(payload).hexdigest(),
                "defects": [type(d).__name__ for d in part.defects],
            })
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
