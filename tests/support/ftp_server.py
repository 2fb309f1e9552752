#!/usr/bin/python3
"""pyftpdlib on a free loopback port; prints the port, then serves until killed.

usage: ftp_server.py ROOT USER PASSWORD [--no-size] [--refuse-rename] [--refuse-dot] [--keep N] [--log FILE]
--no-size: the server answers SIZE with 502, as some servers do.
--refuse-rename: every RNTO is answered 550 and nothing is renamed.
--refuse-dot: a STOR of a name starting with '.' is answered 553 and nothing is stored.
--keep N: a stored file is cut to its first N bytes, yet the transfer is answered 226.
--log: every command received (passwords masked) goes to FILE, one a line.
"""
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1:4]
args = sys.argv[4:]
log = open(args[args.index('--log') + 1], 'a', buffering=1) if '--log' in args else None

class Handler(FTPHandler):
    auth_failed_timeout = 0
    def pre_process_command(self, line, cmd, arg):
        if log:
            log.write(('PASS ****' if cmd == 'PASS' else line) + '\n')
        if cmd == 'SIZE' and '--no-size' in args:
            self.respond('502 Command not implemented.')
            return
        if cmd == 'STOR' and '--refuse-dot' in args and arg.split('/')[-1].startswith('.'):
            return self.respond('553 File name not allowed.')
        if cmd == 'RNTO' and '--refuse-rename' in args:
            self.respond('550 Rename refused.')
            return
        return super().pre_process_command(line, cmd, arg)
    def on_file_received(self, file):
        if '--keep' in args:
            with open(file, 'r+b') as f:
                f.truncate(int(args[args.index('--keep') + 1]))

logging.disable(logging.CRITICAL)
auth = DummyAuthorizer()
auth.add_user(user, password, root, perm='elradfmwMT')
Handler.authorizer = auth
server = FTPServer(('127.0.0.1', 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
