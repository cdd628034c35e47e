"""Reads a message from standard input with Python's email package and prints the SHA-256
of every attachment's decoded content, one a line, then that of the file named by argv[1]."""
import email
import email.policy
import hashlib
import sys

msg = email.message_from_binary_file(sys.stdin.buffer, policy=email.policy.default)
for part in msg.walk():
    if not part.is_multipart() and part.get_filename():
        print("part", hashlib.sha256(part.get_payload(decode=True)).hexdigest())
h = hashlib.sha256()
with open(sys.argv[1], "rb") as f:
    for block in iter(lambda: f.read(1 << 20), b""):
        h.update(block)
print("file", h.hexdigest())
