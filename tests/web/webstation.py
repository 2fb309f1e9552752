# Starts tests/web's web_station on a temporary folder and talks to it; shared by the web tests.
import os, select, socket, subprocess, sys, tempfile, time


class Station:
    def __init__(self, binary, password='', idle=20):
        self.dir = tempfile.TemporaryDirectory()
        self.proc = subprocess.Popen([binary, self.dir.name, password, str(idle)], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1,
                                     env=dict(os.environ, QT_QPA_PLATFORM='offscreen'))
        self.lamps = {}
        line = self.line(30)
        if not line.startswith('port '):
            raise RuntimeError('station did not start: %r' % line)
        self.port = int(line.split()[1])

    def line(self, timeout):
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        if not ready:
            return ''
        line = self.proc.stdout.readline()
        parts = line.split()
        if parts[:1] == ['lamp']:
            self.lamps.setdefault(int(parts[1]), []).append((parts[2], int(parts[3])))
        return line

    def send(self, command):
        self.proc.stdin.write(command + '\n')
        end = time.time() + 10
        while time.time() < end:
            if self.line(1).startswith('sim '):
                return

    def wait_lamp(self, unit, word, timeout):
        end = time.time() + timeout
        while time.time() < end:
            for seen, at in self.lamps.get(unit, []):
                if seen == word:
                    return at
            self.line(0.2)
        raise AssertionError('lamp %d never became %s' % (unit, word))

    def request(self, raw, timeout=10):
        """Sends raw bytes, returns (status, headers, body) of the answer, or (0, {}, b'') if none."""
        with socket.create_connection(('127.0.0.1', self.port), timeout=timeout) as s:
            s.sendall(raw)
            data = b''
            try:
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            except (socket.timeout, ConnectionResetError):
                pass
        head, _, body = data.partition(b'\r\n\r\n')
        lines = head.decode('latin-1').split('\r\n')
        if not lines[0].startswith('HTTP/'):
            return 0, {}, b''
        headers = {}
        for l in lines[1:]:
            k, _, v = l.partition(':')
            headers.setdefault(k.strip().lower(), []).append(v.strip())
        return int(lines[0].split()[1]), headers, body

    def stop(self):
        """Ends the station; one that crashed or was stopped by a sanitizer fails the test."""
        try:
            if self.proc.poll() is None:
                self.proc.stdin.write('quit\n')
                self.proc.stdin.flush()
            code = self.proc.wait(15)
        except Exception:
            self.proc.kill()
            raise
        finally:
            self.dir.cleanup()
        if code != 0:
            raise RuntimeError('the station ended with %d' % code)
