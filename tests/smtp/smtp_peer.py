"""aiosmtpd on 127.0.0.1 for the tests; prints "PORT <n>", refuses --refuse recipients, takes
at most --max-rcpt recipients per transaction (452 past them), and writes each delivered
message, taken apart by Python's email package, to DIR/msg-NNN.json. The handler offers
PIPELINING when secure_smtp_peer.py is asked for it."""
import argparse
import asyncio
import email.header
import email.utils
import hashlib
import json
import os
import signal
from email import policy

from aiosmtpd.smtp import SMTP


def decoded(value):
    return str(email.header.make_header(email.header.decode_header(value))) if value else ""


def take_apart(raw, envelope):
    msg = email.message_from_bytes(raw, policy=policy.compat32)
    out = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
           "raw_sha256": hashlib.sha256(raw).hexdigest(),
           "headers": dict(reversed(msg.items())), "subject": decoded(msg.get("Subject")),
           "defects": [type(d).__name__ for d in msg.defects], "body": None, "attachments": []}
    try:
        out["date_valid"] = email.utils.parsedate_to_datetime(msg.get("Date", "")).tzinfo is not None
    except (TypeError, ValueError):
        out["date_valid"] = False
    for part in msg.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        if part.get_filename() is not None:
            out["attachments"].append({"filename": part.get_filename(), "size": len(payload),
                                       "sha256": hashlib.sha256(payload).hexdigest(),
                                       "defects": [type(d).__name__ for d in part.defects]})
        elif out["body"] is None:
            out["body"] = payload.decode(part.get_content_charset() or "us-ascii", "replace")
    return out


class Handler:
    def __init__(self, args):
        self.directory, self.refuse, self.count = args.dir, set(args.refuse), 0
        self.max_rcpt, self.sessions = args.max_rcpt, {}
        self.pipelining = getattr(args, "pipelining", False)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        # aiosmtpd reads one command at a time, so it takes pipelined ones as they come.
        return responses[:-1] + ["250-PIPELINING", responses[-1]] if self.pipelining else responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.max_rcpt and len(envelope.rcpt_tos) >= self.max_rcpt:
            return "452 4.5.3 Too many recipients"
        if address in self.refuse:
            return "550 5.1.1 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        name = os.path.join(self.directory, "msg-%03d.json" % self.count)
        out = take_apart(envelope.original_content, envelope)
        out["connection"] = self.sessions.setdefault(id(session), len(self.sessions) + 1)
        out.update(self.session_facts(server, session))
        with open(name + ".tmp", "w") as f:
            json.dump(out, f)
        os.rename(name + ".tmp", name)
        return "250 Message accepted"

    def session_facts(self, server, session):
        return {}


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--max-rcpt", type=int, default=0)
    parser.add_argument("--certs", help="unused: the secure peer's certificate folder")
    args = parser.parse_args()
    loop, handler = asyncio.get_running_loop(), Handler(args)
    server = await loop.create_server(lambda: SMTP(handler, data_size_limit=None, hostname="peer.test"),
                                      "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    done = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, lambda: done.done() or done.set_result(None))
    await asyncio.wait([done], timeout=300)  # a test that dies leaves no server behind for long
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
