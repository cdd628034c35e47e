"""A TLS echo server on 127.0.0.1 for the TLS channel tests. Makes the test certificates in
--certs DIR (make_test_certs.sh), prints "PORT <n>", then sends back every byte each
connection sends, and closes a connection when its client does."""
import argparse
import asyncio
import ssl
import peer_runtime


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
    context = peer_runtime.server_context(args.certs)
    await peer_runtime.serve_until_terminated(await asyncio.start_server(echo, "127.0.0.1", 0, ssl=context))


if __name__ == "__main__":
    asyncio.run(main())
