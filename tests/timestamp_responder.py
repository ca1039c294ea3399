#!/usr/bin/env python3
"""An RFC 3161 time-stamp authority on loopback, for the signing tests: answers each POSTed
TimeStampReq with `openssl ts -reply` under the given TSA certificate and key. Serves at most
--requests requests or --seconds seconds, whichever ends first, then exits; prints its address.
Usage: timestamp_responder.py --cert TSA.pem --key TSA.key --chain CHAIN.pem --work DIR"""
import argparse
import http.server
import os
import subprocess
import sys
import time

parser = argparse.ArgumentParser()
for option in ("--cert", "--key", "--chain", "--work"):
    parser.add_argument(option, required=True)
parser.add_argument("--requests", type=int, default=20)
parser.add_argument("--seconds", type=int, default=600)
args = parser.parse_args()

config = os.path.join(args.work, "tsa.cnf")
with open(config, "w") as f:
    f.write(f"""[tsa]
default_tsa = test_tsa
[test_tsa]
serial = {args.work}/tsa-serial
signer_cert = {args.cert}
signer_key = {args.key}
certs = {args.chain}
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
ess_cert_id_chain = no
""")
with open(os.path.join(args.work, "tsa-serial"), "w") as f:
    f.write("01\n")


served = [0]


class Handler(http.server.BaseHTTPRequestHandler):
    # A client that stops sending or reading holds the one-at-a-time server for this long only.
    timeout = 10

    def do_POST(self):
        query = os.path.join(args.work, "query.tsq")
        reply = os.path.join(args.work, "reply.tsr")
        length = self.headers.get("Content-Length", "")
        # A TimeStampReq is a hash and a few fields: far below this bound.
        if not length.isdigit() or not 0 < int(length) <= 65536:
            self.send_error(400, "a TimeStampReq of 1 to 65536 bytes was expected")
            return
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(length)))
        made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                               "-out", reply], capture_output=True)
        if made.returncode != 0:
            sys.stderr.write(made.stderr.decode(errors="replace"))
            self.send_error(500)
            return
        with open(reply, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        served[0] += 1

    def log_message(self, *_):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
server.timeout = 1
print(f"http://127.0.0.1:{server.server_port}/", flush=True)
deadline = time.monotonic() + args.seconds
while served[0] < args.requests and time.monotonic() < deadline:
    server.handle_request()
