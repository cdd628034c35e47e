#!/usr/bin/python3
"""An SMTP sink whose every reply leaves DELAY ms after its command arrived, as over a
network with that round trip; replies keep their order and do not queue behind each other,
so a client that pipelines waits one delay per group, a lockstep one per command. Offers
PIPELINING, and STARTTLS with the certificate in CERTDIR (server.pem, server.key) when given.
Prints "PORT <n>". Usage: delay_sink.py DELAY_MS [CERTDIR]"""
import asyncio
import os
import ssl
import sys

DELAY = float(sys.argv[1]) / 1000 if len(sys.argv) > 1 else 0.02
TLS = None
if len(sys.argv) > 2:
    TLS = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    TLS.load_cert_chain(os.path.join(sys.argv[2], "server.pem"), os.path.join(sys.argv[2], "server.key"))


async def session(reader, writer):
    try:
        await converse(reader, writer)
    except (ConnectionError, ssl.SSLError):
        pass  # a client that resets instead of closing


async def converse(reader, writer):
    loop = asyncio.get_running_loop()
    replies = asyncio.Queue()

    async def replier():
        while True:
            due, text = await replies.get()
            if due > loop.time():
                await asyncio.sleep(due - loop.time())
            writer.write(text)
            replies.task_done()
            if text.startswith(b"221"):
                await writer.drain()
                writer.close()
                return

    task = asyncio.create_task(replier())
    replies.put_nowait((loop.time() + DELAY, b"220 delay.test ESMTP\r\n"))
    while line := await reader.readline():
        due = loop.time() + DELAY
        verb = line[:4].upper()
        if verb == b"STAR" and TLS:
            await replies.join()
            writer.write(b"220 2.0.0 Ready to start TLS\r\n")
            await writer.drain()
            await writer.start_tls(TLS)
            continue
        if verb == b"EHLO":
            text = b"250-delay.test\r\n250-PIPELINING\r\n250-8BITMIME\r\n" + (b"250-STARTTLS\r\n" if TLS else b"")
            text += b"250 SIZE 1000000000\r\n"
        elif verb == b"DATA":
            replies.put_nowait((due, b"354 End data with <CR><LF>.<CR><LF>\r\n"))
            # The message in large reads: only its end matters.
            tail = b"\r\n"
            while not (tail + b"").endswith(b"\r\n.\r\n"):
                chunk = await reader.read(1 << 16)
                if not chunk:
                    return
                tail = (tail + chunk)[-5:]
            text = b"250 2.0.0 Ok: queued\r\n"
            due = loop.time() + DELAY
        elif verb == b"QUIT":
            text = b"221 2.0.0 Bye\r\n"
        else:
            text = b"250 2.0.0 Ok\r\n"
        replies.put_nowait((due, text))
    await task


async def main():
    server = await asyncio.start_server(session, "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await asyncio.sleep(900)


asyncio.run(main())
