#!/usr/bin/env python3
"""An RFC 3161 timestamp authority on 127.0.0.1 for the signing tests.

Each POSTed query is answered by `openssl ts -reply` with the given config.
It picks a free port, writes it to PORT_FILE once it listens, and stops by
itself after LIFETIME seconds or MAX_REQUESTS answers, whichever comes first,
so a test that dies cannot leave it behind for long.

usage: tsa_server.py OPENSSL_TS_CONFIG PORT_FILE LIFETIME MAX_REQUESTS
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

config, port_file, lifetime, max_requests = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4])
answered = 0


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global answered
        length = min(int(self.headers.get("Content-Length", "0")), 65536)
        query = self.rfile.read(length)
        with tempfile.NamedTemporaryFile(suffix=".tsq") as query_file:
            query_file.write(query)
            query_file.flush()
            reply = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config, "-queryfile", query_file.name],
                capture_output=True,
                timeout=20,
                check=False,
            )
        if reply.returncode != 0 or not reply.stdout:
            sys.stderr.write(reply.stderr.decode(errors="replace"))
            self.send_error(500, "openssl ts failed")
        else:
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply.stdout)))
            self.end_headers()
            self.wfile.write(reply.stdout)
        answered += 1
        if answered >= max_requests:
            threading.Thread(target=self.server.shutdown, daemon=True).start()

    def log_message(self, fmt, *args):
        sys.stderr.write("tsa: " + (fmt % args) + "\n")


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
timer = threading.Timer(lifetime, server.shutdown)
timer.daemon = True
timer.start()
with open(port_file + ".part", "w", encoding="ascii") as out:
    out.write(str(server.server_address[1]))
os.replace(port_file + ".part", port_file)
server.serve_forever()
server.server_close()
