"""An SMTP server with implicit TLS on 127.0.0.1 for the window's Stop tests. Connections
alternate: the first falls silent as the first --stall says, the second takes one message
properly, the third falls silent as the second --stall says, and so on (once the stalls are
used up, every connection takes its message). "handshake" never answers the TLS
ClientHello; "data" stops reading once it has said 354 to DATA, so the client's writes
back up. On falling silent it creates DIR/stalled-<how>. Certificates are made in DIR
(make_test_certs.sh; the CA is DIR/ca.pem). Prints "PORT <n>"."""
import argparse
import asyncio
import os
import ssl
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import peer_runtime

args = None
context = None
connections = 0


def stalled(how):
    open(os.path.join(args.dir, "stalled-" + how), "w").close()


async def take_message(reader):
    tail = b"\r\n"  # the DATA line's end: a message may be empty
    while not tail.endswith(b"\r\n.\r\n"):
        data = await reader.read(65536)
        if not data:
            raise ConnectionError("closed in the message")
        tail = (tail + data)[-5:]


async def converse(reader, writer, stall):
    writer.write(b"220 peer.test ready\r\n")
    while line := await reader.readline():
        verb = line[:4].upper()
        if verb == b"DATA":
            writer.write(b"354 go ahead\r\n")
            await writer.drain()
            if stall:
                stalled(stall)
                await asyncio.Event().wait()  # until the peer is stopped
            await take_message(reader)
            writer.write(b"250 queued\r\n")
        elif verb == b"QUIT":
            writer.write(b"221 bye\r\n")
            break
        else:
            writer.write(b"250 ok\r\n")
        await writer.drain()
    writer.close()


async def serve(reader, writer):
    global connections
    connections += 1
    n = connections - 1
    stall = args.stall[n // 2] if n % 2 == 0 and n // 2 < len(args.stall) else None
    try:
        if stall == "handshake":
            stalled(stall)
            while await reader.read(65536):  # the ClientHello, never answered
                pass
            return
        await writer.start_tls(context)
        await converse(reader, writer, stall)
    except (ConnectionError, ssl.SSLError):
        pass  # the stopped client went away


async def main():
    global args, context
    parser = argparse.ArgumentParser()
    parser.add_argument("--stall", choices=["handshake", "data"], action="append", default=[])
    parser.add_argument("--dir", required=True)
    args = parser.parse_args()
    context = peer_runtime.server_context(args.dir)
    await peer_runtime.serve_until_terminated(await asyncio.start_server(serve, "127.0.0.1", 0))


if __name__ == "__main__":
    asyncio.run(main())
