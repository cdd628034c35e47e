"""smtp_peer.py's aiosmtpd with what submission servers add: STARTTLS (AUTH only after it)
or implicit TLS with certificates made in --certs DIR (CA: DIR/ca.pem), AUTH PLAIN/LOGIN
for one user, a SIZE limit, no 8BITMIME, a refused EHLO. Prints "PORT <n>"; each
delivered message also records "auth_user" and "tls"."""
import argparse
import asyncio
import base64
import logging
import os
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult

import smtp_peer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import peer_runtime


class Handler(smtp_peer.Handler):
    def session_facts(self, server, session):
        return {"auth_user": session.auth_data if session.authenticated else None,
                "tls": session.ssl is not None or server.transport.get_extra_info("sslcontext") is not None}


class Server(SMTP):
    refuse_ehlo = False
    user = password = ""

    async def auth_XOAUTH2(self, _, args):
        """RFC 7628-style bearer token as the big providers take it: the password is the token."""
        try:
            fields = base64.b64decode(args[1], validate=True).decode().split("\x01")
            got = dict(f.split("=", 1) for f in fields if "=" in f)
        except (IndexError, ValueError):
            return AuthResult(success=False, handled=False)
        ok = (got.get("user"), got.get("auth")) == (self.user, "Bearer " + self.password)
        return AuthResult(success=ok, handled=False, auth_data=self.user if ok else None)

    async def smtp_EHLO(self, hostname):
        if self.refuse_ehlo:
            return await self.push("502 5.5.1 EHLO not implemented")
        return await super().smtp_EHLO(hostname)


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--tls", choices=["none", "starttls", "tls"], default="none")
    parser.add_argument("--certs", help="folder for the certificates made by make_test_certs.sh")
    parser.add_argument("--auth", metavar="USER:PASSWORD", help="require this login before MAIL")
    parser.add_argument("--auth-plaintext", action="store_true", help="offer AUTH without TLS")
    parser.add_argument("--size", type=int, default=0, help="SIZE limit (0: none)")
    parser.add_argument("--no-8bitmime", action="store_true")
    parser.add_argument("--refuse-ehlo", action="store_true")
    parser.add_argument("--max-rcpt", type=int, default=0)
    parser.add_argument("--pipelining", action="store_true")
    args = parser.parse_args()
    # Refused certificates and plaintext AUTH are what the tests ask for, not news.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    warnings.simplefilter("ignore")
    context = None
    if args.tls != "none":
        context = peer_runtime.server_context(args.certs)
    user, _, password = (args.auth or "").partition(":")

    def authenticator(server, session, envelope, mechanism, login):
        ok = (login.login.decode(), login.password.decode()) == (user, password)
        return AuthResult(success=ok, handled=False, auth_data=user if ok else None)

    handler = Handler(args)
    Server.refuse_ehlo = args.refuse_ehlo
    Server.user, Server.password = user, password

    def factory():
        return Server(handler, data_size_limit=args.size or None, hostname="peer.test",
                      decode_data=args.no_8bitmime,
                      tls_context=context if args.tls == "starttls" else None,
                      authenticator=authenticator if args.auth else None,
                      auth_required=bool(args.auth),
                      # Implicit TLS encrypts from the first byte, so AUTH is safe there too.
                      auth_require_tls=not (args.auth_plaintext or args.tls == "tls"))

    server = await asyncio.get_running_loop().create_server(factory, "127.0.0.1", 0,
                                                            ssl=context if args.tls == "tls" else None)
    await peer_runtime.serve_until_terminated(server)


if __name__ == "__main__":
    asyncio.run(main())
