#pragma once
// Python's http.server on a loopback port of its own, serving one directory; gone with the object.

#include <QProcess>
#include <QString>

class HttpServer {
public:
    explicit HttpServer(const QString& directory)
    {
        // The server binds port 0 and prints the port it got: no window between probing a
        // free port and taking it, in which another test could take it first.
        static const char* script =
            "import functools, http.server, sys\n"
            "h = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])\n"
            "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), h)\n"
            "print(s.server_address[1], flush=True)\n"
            "s.serve_forever()\n";
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-c"), QString::fromLatin1(script), directory});
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000))
            m_port = quint16(m_process.readLine().trimmed().toUInt());
    }
    ~HttpServer()
    {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    // Listening once the port is known: it was printed after the socket was bound.
    bool ready() const { return m_port != 0; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};
