#!/usr/bin/python3
"""An SMTP sink whose every reply leaves DELAY ms after its command arrived, as over a
network with that round trip; replies keep their order and do not queue behind each other,
so a client that pipelines waits one delay per group, a lockstep one per command. Offers
PIPELINING. Prints "PORT <n>"."""
import asyncio
import sys

DELAY = float(sys.argv[1]) / 1000 if len(sys.argv) > 1 else 0.02


async def session(reader, writer):
    loop = asyncio.get_running_loop()
    replies = asyncio.Queue()

    async def replier():
        while True:
            due, text = await replies.get()
            if due > loop.time():
                await asyncio.sleep(due - loop.time())
            writer.write(text)
            if text.startswith(b"221"):
                await writer.drain()
                writer.close()
                return

    task = asyncio.create_task(replier())
    replies.put_nowait((loop.time() + DELAY, b"220 delay.test ESMTP\r\n"))
    in_data = False
    while line := await reader.readline():
        due = loop.time() + DELAY
        if in_data:
            if line == b".\r\n":
                in_data = False
                replies.put_nowait((due, b"250 2.0.0 Ok: queued\r\n"))
            continue
        verb = line[:4].upper()
        if verb == b"EHLO":
            text = b"250-delay.test\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 1000000000\r\n"
        elif verb == b"DATA":
            text, in_data = b"354 End data with <CR><LF>.<CR><LF>\r\n", True
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
