# Hostile requests against the web view: each gets the status in the table and nothing of the
# station. One station with a password, one without (the station's own screen only).
import socket, sys, time
from webstation import Station

binary = sys.argv[1]
PASSWORD = 'tadashii pass'
failures = []


def get(path, extra=''):
    return ('GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n%sConnection: close\r\n\r\n' % (path, extra)).encode()


def post(body, extra=''):
    return ('POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n'
            'Content-Length: %d\r\n%sConnection: close\r\n\r\n%s' % (len(body), extra, body)).encode()


def check(station, name, raw, want, location=None):
    status, headers, body = station.request(raw)
    wrong = []
    if status != want:
        wrong.append('status %d, want %d' % (status, want))
    if location and headers.get('location') != [location]:
        wrong.append('location %s' % headers.get('location'))
    # Nothing of a file outside the served set, nor of the station's data, in a refusal.
    if status >= 300 and any(k in body for k in (b'root:', b'"units"', b'"entries"', b'"buckets"', b'PassHash')):
        wrong.append('body leaks %r' % body[:80])
    print('%-48s %3d %s' % (name, status, 'ok' if not wrong else 'WRONG: ' + '; '.join(wrong)))
    if wrong:
        failures.append(name)
    return headers


locked = Station(binary, PASSWORD, idle=3)
open_ = Station(binary, '')
try:
    import os
    os.symlink('/etc/passwd', os.path.join(locked.dir.name, 'link.html'))
    cases = [
        ('no session: page', get('/'), 303, '/login'),
        ('no session: unit page', get('/unit?unit=0'), 303, '/login'),
        ('no session: alarms JSON', get('/api/alarms?unit=-1&period=1'), 401),
        ('no session: trend JSON', get('/api/trend?unit=0&span=1h&columns=100'), 401),
        ('no session: event stream', get('/events'), 401),
        ('forged cookie', get('/api/alarms?unit=-1&period=1', 'Cookie: tv_session=AAAAAAAAAAAAAAAAAAAA\r\n'), 401),
        ('traversal ..', get('/../../etc/passwd'), 404),
        ('traversal %2e%2e', get('/%2e%2e/%2e%2e/etc/passwd'), 404),
        ('encoded slash after a file', get('/app.js%2F..%2F..%2Fetc%2Fpasswd'), 404),
        ('double slash', get('//etc/passwd'), 404),
        ('encoded NUL', get('/app.js%00.html'), 404),
        ('symlink in the station folder', get('/link.html'), 404),
        ('settings file by name', get('/WebInf.ini'), 404),
        ('data log by name', get('/DataFile000.csv'), 404),
        ('DELETE', b'DELETE / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n', 405),
        ('PUT on the login', b'PUT /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n', 405),
        ('POST elsewhere', b'POST /api/alarms HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n', 405),
        ('TRACE', b'TRACE / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n', 405),
        ('garbage request line: closed, no answer', b'GARBAGE\r\n\r\n', 0),
        ('HTTP/1.1 without Host', b'GET / HTTP/1.1\r\nConnection: close\r\n\r\n', 400),
        ('oversized header', get('/', 'X-Big: %s\r\n' % ('a' * 40000)), 431),
        ('oversized URL', get('/' + 'a' * 40000), 414),
        ('a thousand headers', get('/', ''.join('X-%d: 1\r\n' % i for i in range(1000))), 431),
        ('login body too large', post('password=' + 'a' * 2000), 413),
        ('login with a huge Content-Length', b'POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000000000000\r\nConnection: close\r\n\r\n', 413),
        ('wrong password', post('password=wrong'), 401),
        ('right password too soon after a wrong one', post('password=' + PASSWORD.replace(' ', '+')), 429),
    ]
    for case in cases:
        check(locked, *case)
    # A slow client holds only its own connection: others are served while it trickles, and
    # it is closed after the idle time.
    slow = socket.create_connection(('127.0.0.1', locked.port))
    slow.sendall(b'GET / HTTP/1.1\r\nHost: 127')
    started = time.time()
    check(locked, 'served beside a slow-loris', get('/login'), 200)
    slow.settimeout(10)
    try:
        closed = slow.recv(100) == b''
    except (socket.timeout, ConnectionResetError) as e:
        closed = isinstance(e, ConnectionResetError)
    held = time.time() - started
    print('%-48s %s' % ('slow-loris closed after (s)', '%.1f' % held if closed else 'never'))
    if not closed or held > 8:
        failures.append('slow-loris not closed')
    time.sleep(1.2)  # the wait after one wrong password
    headers = check(locked, 'right password', post('password=' + PASSWORD.replace(' ', '+')), 303, '/')
    cookie = headers.get('set-cookie', [''])[0]
    if not all(p in cookie for p in ('HttpOnly', 'SameSite=Strict')) or 'Secure' in cookie:
        failures.append('cookie flags: ' + cookie)
    session = 'Cookie: ' + cookie.split(';')[0] + '\r\n'
    right = post('password=' + PASSWORD.replace(' ', '+'), 'X-Forwarded-For: 198.51.100.2\r\n')
    check(locked, 'proxied: wrong password from one client', post('password=x', 'X-Forwarded-For: 198.51.100.1\r\n'), 401)
    check(locked, 'proxied: another client is not slowed', right, 303, '/')
    check(locked, 'proxied: the first client is', right.replace(b'198.51.100.2', b'198.51.100.1'), 429)
    for case in [('session: page', get('/', session), 200),
                 ('session: unit out of range', get('/api/trend?unit=100&span=1h&columns=100', session), 400),
                 ('session: unknown span', get('/api/trend?unit=0&span=1y&columns=100', session), 400),
                 ('session: too many columns', get('/api/trend?unit=0&span=1h&columns=5000', session), 400),
                 ('session: unit not a number', get('/api/alarms?unit=abc&period=1', session), 400),
                 ('session: encoded NUL in an argument', get('/api/alarms?unit=0%00&period=1', session), 400),
                 ('session: traversal still refused', get('/../WebInf.ini', session), 404)]:
        check(locked, *case)
    for case in [('no password: own screen', get('/'), 200),
                 ('no password: X-Forwarded-For', get('/', 'X-Forwarded-For: 203.0.113.9\r\n'), 403),
                 ('no password: Forwarded', get('/', 'Forwarded: for=203.0.113.9\r\n'), 403),
                 ('no password: another host name', get('/').replace(b'Host: 127.0.0.1', b'Host: evil.example'), 403)]:
        check(open_, *case)
finally:
    locked.stop()
    open_.stop()
print('FAILED: ' + ', '.join(failures) if failures else 'all hostile requests answered as they should')
sys.exit(1 if failures else 0)
