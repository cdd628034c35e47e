"""A real SMTP server for the tests: aiosmtpd on 127.0.0.1, at a port the system picks.

Prints "PORT <n>" on its first output line once it listens. Every delivered message
is written to DIR as msg-NNN.eml (the DATA bytes as received, dot-stuffing removed) and
msg-NNN.json (envelope sender and recipients). Recipients named with --refuse get
"550 5.1.1 No such user". Ends on SIGTERM or after --max-seconds.
"""
import argparse
import asyncio
import json
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


class Handler:
    def __init__(self, directory, refuse):
        self.directory = directory
        self.refuse = set(refuse)
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refuse:
            return "550 5.1.1 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.directory, "msg-%03d" % self.count)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, f)
        return "250 Message accepted"


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--max-seconds", type=float, default=300)
    args = parser.parse_args()

    loop = asyncio.get_running_loop()
    handler = Handler(args.dir, args.refuse)
    server = await loop.create_server(
        lambda: SMTP(handler, data_size_limit=None, hostname="peer.test"), "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    done = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, lambda: done.done() or done.set_result(None))
    try:
        await asyncio.wait_for(done, args.max_seconds)
    except asyncio.TimeoutError:
        pass
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
    sys.exit(0)
