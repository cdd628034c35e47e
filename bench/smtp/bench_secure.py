#!/usr/bin/python3
"""Extended SMTP benchmarks of quillcast-send, ratios in one run (bench/smtp/run-secure):

(a) one message to 10 000 recipients against postfix's smtp-sink offering PIPELINING:
    quillcast-send --ehlo (pipelined) vs msmtp (which pipelines); to be at most 1.0x.
(b) 1 000 recipients against delay_sink.py, which answers every command 20 ms after it came:
    quillcast-send --ehlo vs the lockstep HELO conversation (at least 20x faster) and vs
    msmtp (at most 1.2x).
(c) one message with a 50 MiB attachment over STARTTLS to delay_sink.py (no delay):
    quillcast-send composing and sending it vs curl --ssl-reqd sending it pre-composed;
    to be at most 1.5x.
Before them, msmtp delivers over STARTTLS with AUTH PLAIN to the tests' aiosmtpd peer
(tests/smtp/secure_smtp_peer.py), so the server the tests trust is a standard one.
"""
import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

from email.message import EmailMessage
from email.policy import SMTP

from bench_smtp import BODY, FROM, compare, free_port

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.join(HERE, "..", "..", "tests")


def start_printing_port(argv):
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE)
    line = proc.stdout.readline().decode()
    if not line.startswith("PORT "):
        proc.terminate()
        sys.exit("%s did not start" % argv[1])
    return proc, int(line.split()[1])


def start_pipelining_sink(port, log):
    argv = ["timeout", "900", "/usr/sbin/smtp-sink"] + (["-u", "nobody"] if os.geteuid() == 0 else [])
    proc = subprocess.Popen(argv + ["-4", "127.0.0.1:%d" % port, "1024"], stdout=log, stderr=log)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return proc
        except OSError:
            time.sleep(0.05)
    sys.exit("smtp-sink did not start")


def msmtprc(work, name, port, extra=""):
    path = os.path.join(work, "msmtprc-" + name)
    with open(path, "w") as f:
        f.write("defaults\nsyslog off\ntimeout 300\naccount %s\nhost 127.0.0.1\nport %d\nfrom %s\n%s"
                % (name, port, FROM, extra or "auth off\ntls off\n"))
    os.chmod(path, 0o600)
    return ["msmtp", "-C", path, "-a", name]


def msmtp_against_test_peer(work, eml):
    peer_dir, certs = os.path.join(work, "peer"), os.path.join(work, "certs")
    os.makedirs(peer_dir)
    os.makedirs(certs)
    peer, port = start_printing_port(["/usr/bin/python3", os.path.join(TESTS, "smtp", "secure_smtp_peer.py"),
                                      "--dir", peer_dir, "--certs", certs, "--tls", "starttls",
                                      "--auth", "ann:s3cret!"])
    try:
        argv = msmtprc(work, "peer", port, "auth plain\nuser ann\npassword s3cret!\ntls on\ntls_starttls on\n"
                       "tls_trust_file %s\ntls_host_override localhost\n" % os.path.join(certs, "ca.pem"))
        with open(eml, "rb") as f:
            subprocess.run(argv + ["ann@x.test"], stdin=f, check=True)
        got = json.load(open(os.path.join(peer_dir, "msg-001.json")))
        if got["auth_user"] != "ann" or not got["tls"]:
            sys.exit("msmtp's message arrived without login or TLS: %r" % got)
        print("msmtp delivered to the tests' aiosmtpd peer over STARTTLS with AUTH PLAIN")
    finally:
        peer.terminate()
        peer.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--send", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--runs-big", type=int, default=3)
    ap.add_argument("--only", choices=["a", "b", "c"])
    ap.add_argument("--attachment-mib", type=int, default=50)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="qc-bench-secure-")
    procs = []
    try:
        small = os.path.join(work, "small.eml")
        with open(small, "w") as f:
            f.write("From: %s\r\nSubject: bench\r\nDate: Thu, 01 Jan 2026 00:00:00 +0000\r\n\r\n%s"
                    % (FROM, BODY.replace("\n", "\r\n")))
        msmtp_against_test_peer(work, small)

        def lists(n):
            rcpt = ["user%05d@example.test" % i for i in range(1, n + 1)]
            path = os.path.join(work, "rcpt-%d.txt" % n)
            with open(path, "w") as f:
                f.write("\n".join(rcpt) + "\n")
            return rcpt, path

        def ours(port, rcpt_file, *extra):
            return [args.send, "--host", "127.0.0.1", "--port", str(port), "--from", FROM, "--quiet",
                    "--to-file", rcpt_file, "--subject", "bench", "--body", BODY] + list(extra)

        if args.only in (None, "a"):
            port = free_port()
            log = open(os.path.join(work, "sink.log"), "w")
            procs.append(start_pipelining_sink(port, log))
            rcpt, path = lists(10000)
            results, _ = compare("(a) 10 000 recipients, smtp-sink offering PIPELINING", [
                ("quillcast-send", ours(port, path, "--ehlo"), None),
                ("msmtp", msmtprc(work, "sink", port) + rcpt, small),
            ], args.runs)
            ratio = statistics.median(results["quillcast-send"]) / statistics.median(results["msmtp"])
            print("  quillcast-send --ehlo / msmtp = %.2f (limit 1.0)" % ratio)
        if args.only in (None, "b"):
            delay, port = start_printing_port(["/usr/bin/python3", os.path.join(HERE, "delay_sink.py"), "20"])
            procs.append(delay)
            rcpt, path = lists(1000)
            results, _ = compare("(b) 1 000 recipients, every reply 20 ms after its command", [
                ("quillcast-send", ours(port, path, "--ehlo"), None),
                ("msmtp", msmtprc(work, "delay", port) + rcpt, small),
            ], args.runs)
            lockstep, _ = compare("(b') the same, lockstep (HELO, no pipelining)", [
                ("quillcast-send", ours(port, path), None)], 1)
            piped = statistics.median(results["quillcast-send"])
            print("  lockstep / pipelined = %.1f (at least 20)" % (statistics.median(lockstep["quillcast-send"]) / piped))
            print("  pipelined / msmtp = %.2f (limit 1.2)" % (piped / statistics.median(results["msmtp"])))
        if args.only in (None, "c"):
            certs = os.path.join(work, "tls")
            os.makedirs(certs)
            subprocess.run(["/bin/sh", os.path.join(TESTS, "support", "make_test_certs.sh"), certs], check=True)
            sink, port = start_printing_port(["/usr/bin/python3", os.path.join(HERE, "delay_sink.py"), "0", certs])
            procs.append(sink)
            att = os.path.join(work, "att.bin")
            with open(att, "wb") as f:
                f.write(os.urandom(args.attachment_mib << 20))
            big = EmailMessage(policy=SMTP)
            big["From"], big["Subject"] = FROM, "bench attachment"
            big.set_content("See the attached file.\n")
            with open(att, "rb") as f:
                big.add_attachment(f.read(), maintype="application", subtype="octet-stream", filename="att.bin")
            big_eml = os.path.join(work, "big.eml")
            with open(big_eml, "wb") as f:
                f.write(big.as_bytes(policy=SMTP))
            del big
            ca = os.path.join(certs, "ca.pem")
            results, _ = compare("(c) a %d MiB attachment over STARTTLS" % args.attachment_mib, [
                ("quillcast-send", [args.send, "--host", "localhost", "--port", str(port), "--tls", "starttls",
                                    "--tls-ca", ca, "--from", FROM, "--quiet", "--to", "user@example.test",
                                    "--subject", "bench attachment", "--body", "See the attached file.",
                                    "--attach", att], None),
                ("curl", ["curl", "-sS", "--ssl-reqd", "--cacert", ca, "smtp://localhost:%d" % port,
                          "--mail-from", FROM, "--mail-rcpt", "user@example.test", "-T", big_eml], None),
            ], args.runs_big)
            print("  quillcast-send / curl --ssl-reqd = %.2f (limit 1.5)"
                  % (statistics.median(results["quillcast-send"]) / statistics.median(results["curl"])))
    finally:
        for p in procs:
            p.terminate()
            p.wait()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
