#!/usr/bin/python3
"""An HTTP server on a free loopback port that redirects; prints the port, then serves.

/data answers "good"; /same redirects to /data on 127.0.0.1, /away to /data on "localhost"
(another host name for the same server); /loop redirects to itself.
"""
import http.server, sys

class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_GET(self):
        port = self.server.server_address[1]
        if self.path == '/data':
            body = b'good\r\n'
            self.send_response(200)
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        targets = {'/same': 'http://127.0.0.1:%d/data' % port, '/away': 'http://localhost:%d/data' % port,
                   '/loop': '/loop'}
        self.send_response(302)
        self.send_header('Location', targets.get(self.path, '/data'))
        self.send_header('Content-Length', '0')
        self.end_headers()

server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
