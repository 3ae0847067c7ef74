"""A local HTTP server for the event program's examples: answers every
POST with 200 and keeps it as request-N.json (path, headers, body) in the
folder named by argv[1]. Prints "PORT n" once it listens; ends when its
standard input closes."""
import http.server
import json
import os
import sys
import threading

folder = sys.argv[1]
count = 0
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global count
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with lock:
            count += 1
            n = count
        record = {"path": self.path, "headers": dict(self.headers.items()), "body": body.decode("utf-8", "replace")}
        temp = os.path.join(folder, f".request-{n}.json")
        with open(temp, "w", encoding="utf-8") as f:
            json.dump(record, f)
        os.rename(temp, os.path.join(folder, f"request-{n}.json"))
        self.send_response(200)
        self.send_header("Content-Length", "3")
        self.end_headers()
        self.wfile.write(b"ok\n")

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(f"PORT {server.server_address[1]}", flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
server.shutdown()
