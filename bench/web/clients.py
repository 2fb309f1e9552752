# Fifty browsers' worth of the web view: 50 event streams held open, and a unit's 24 h trend asked
# once a second. Writes "event MD5 SECONDS" for each unit state five of the streams received and "trend
# MILLISECONDS" for each trend answer to OUT, when SECONDS have passed.
#   clients.py PORT SECONDS OUT
import hashlib, http.client, sys, threading, time

port, seconds, out = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
end = time.time() + seconds
lines, lock = [], threading.Lock()


def stream(timed):
    c = http.client.HTTPConnection('127.0.0.1', port, timeout=30)
    c.request('GET', '/events')
    r = c.getresponse()
    mine, event = [], None
    while not timed and time.time() < end:  # a browser's worth of reading, without the notes
        if not r.fp.read1(65536):
            break
    buffer = b''
    while timed and time.time() < end:
        chunk = r.read1(65536)  # the body without its chunk framing
        if not chunk:
            break
        buffer += chunk
        *whole, buffer = buffer.split(b'\n')
        for line in whole:
            if line.startswith(b'event: '):
                event = line[7:].strip()
            elif line.startswith(b'data: ') and event == b'unit':
                mine.append('event %s %.6f' % (hashlib.md5(line[6:]).hexdigest(), time.time()))
    with lock:
        lines.extend(mine)
    c.close()


def trends():
    unit = 0
    while time.time() < end:
        started = time.time()
        c = http.client.HTTPConnection('127.0.0.1', port, timeout=30)
        c.request('GET', '/api/trend?unit=%d&span=24h&columns=600' % unit)
        c.getresponse().read()
        c.close()
        with lock:
            lines.append('trend %.3f' % ((time.time() - started) * 1000))
        unit = (unit + 1) % 5
        time.sleep(max(0.0, 1 - (time.time() - started)))


# Five streams note what they receive; noting it on all fifty would take the station's cores.
threads = [threading.Thread(target=stream, args=(i < 5,)) for i in range(50)] + [threading.Thread(target=trends)]
for t in threads:
    t.start()
for t in threads:
    t.join(seconds + 40)
with open(out, 'w') as f:
    f.write('\n'.join(lines) + '\n')
