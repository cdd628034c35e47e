"""A TLS echo server on 127.0.0.1 for the TLS channel tests. Makes the test certificates in
--certs DIR (make_test_certs.sh), prints "PORT <n>", then sends back every byte each
connection sends, and closes a connection when its client does."""
import argparse
import asyncio
import os
import signal
import ssl
import subprocess


async def echo(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
        writer.close()
    except (ConnectionError, ssl.SSLError):
        pass  # the client refused our certificate or went away: nothing to echo


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--certs", required=True)
    args = parser.parse_args()
    subprocess.run(["/bin/sh", os.path.join(os.path.dirname(__file__), "make_test_certs.sh"), args.certs],
                   check=True)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(args.certs, "server.pem"), os.path.join(args.certs, "server.key"))
    loop = asyncio.get_running_loop()
    # A client that refuses the certificate aborts the handshake: expected, not news.
    loop.set_exception_handler(lambda loop, ctx: None)
    server = await asyncio.start_server(echo, "127.0.0.1", 0, ssl=context)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    done = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, lambda: done.done() or done.set_result(None))
    signal.alarm(300)  # a test that dies leaves no server behind for long
    await done
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
