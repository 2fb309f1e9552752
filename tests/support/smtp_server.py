#!/usr/bin/python3
"""aiosmtpd on a free loopback port; prints the port, then stores every mail it accepts.

usage: smtp_server.py DIR [--reject ADDRESS] [--starttls CERT KEY | --implicit CERT KEY] [--nodelay]
Each mail becomes DIR/N.eml (the data as received) with DIR/N.env holding the envelope
sender and recipients, one a line. A RCPT TO of ADDRESS is refused with 550. With --nodelay
every reply line goes out at once (TCP_NODELAY), not held back by the client's delayed ACK.
"""
import asyncio, os, socket, ssl, sys
from aiosmtpd.smtp import SMTP

out = sys.argv[1]
reject = sys.argv[sys.argv.index('--reject') + 1] if '--reject' in sys.argv else None
count = 0
tls = None
for mode in ('--starttls', '--implicit'):
    if mode in sys.argv:
        i = sys.argv.index(mode)
        tls = (mode, ssl.create_default_context(ssl.Purpose.CLIENT_AUTH))
        tls[1].load_cert_chain(sys.argv[i + 1], sys.argv[i + 2])

class Handler:
    async def handle_RCPT(self, server, session, envelope, address, options):
        if address == reject:
            return '550 no such user'
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        with open(os.path.join(out, '%d.eml' % count), 'wb') as f:
            f.write(envelope.original_content)
        with open(os.path.join(out, '%d.env' % count), 'w') as f:
            f.write('\n'.join([envelope.mail_from] + envelope.rcpt_tos) + '\n')
        return '250 Message accepted'

async def main():
    if '--nodelay' in sys.argv:
        # asyncio sets TCP_NODELAY only on sockets made with the TCP protocol named.
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM, socket.IPPROTO_TCP)
    else:
        sock = socket.socket()
    sock.bind(('127.0.0.1', 0))
    loop = asyncio.get_running_loop()
    if tls and tls[0] == '--starttls':
        factory = lambda: SMTP(Handler(), enable_SMTPUTF8=True, tls_context=tls[1], require_starttls=True)
        server = await loop.create_server(factory, sock=sock)
    elif tls:
        server = await loop.create_server(lambda: SMTP(Handler(), enable_SMTPUTF8=True), sock=sock, ssl=tls[1])
    else:
        server = await loop.create_server(lambda: SMTP(Handler(), enable_SMTPUTF8=True), sock=sock)
    print(sock.getsockname()[1], flush=True)
    await server.serve_forever()

asyncio.run(main())
