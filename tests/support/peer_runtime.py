"""What the Python test servers share: the test's server certificate, and serving until the
test ends them."""
import asyncio
import os
import signal
import ssl
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def server_context(certs):
    """Makes the test CA and a server certificate for 127.0.0.1/localhost in certs
    (make_test_certs.sh); a server-side TLS context holding them."""
    subprocess.run(["/bin/sh", os.path.join(HERE, "make_test_certs.sh"), certs], check=True)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(certs, "server.pem"), os.path.join(certs, "server.key"))
    return context


async def serve_until_terminated(server):
    """Prints "PORT <n>" for the test, serves until SIGTERM, then closes. A client that refuses
    the certificate or goes away aborts its connection: expected, not news. A test that dies
    leaves no server behind for long."""
    loop = asyncio.get_running_loop()
    loop.set_exception_handler(lambda loop, ctx: None)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    done = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, lambda: done.done() or done.set_result(None))
    signal.alarm(300)
    await done
    server.close()
