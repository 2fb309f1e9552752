#pragma once
// An FTP server on loopback that speaks just enough to take a STOR, then takes the data and
// never answers again: a transfer stalled at the server. It runs on the test's thread, so it
// answers only while the test lets events run.

#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <vector>

class StallingFtp : public QObject {
public:
    StallingFtp()
    {
        m_control.listen(QHostAddress::LocalHost, 0);
        m_data.listen(QHostAddress::LocalHost, 0);
        connect(&m_control, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_control.nextPendingConnection())
                serve(s);
        });
        connect(&m_data, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* d = m_data.nextPendingConnection()) {
                d->setParent(this); // held open and never read
                connect(d, &QTcpSocket::disconnected, this, [this] { ++dataClosed; });
            }
        });
    }
    bool ready() const { return m_control.isListening() && m_data.isListening(); }
    quint16 port() const { return m_control.serverPort(); }
    int stors = 0;      // STOR commands received
    int dataClosed = 0; // data connections the client has closed
    int unanswered = 0; // commands left without an answer (all but the login ones after a STOR)
    // Called once the STOR has been answered and the transfer hangs, so a test can act then
    // rather than after a guessed time.
    std::function<void()> onStall;

private:
    void serve(QTcpSocket* s)
    {
        s->setParent(this);
        s->write("220 ready\r\n");
        connect(s, &QTcpSocket::readyRead, s, [this, s] {
            while (s->canReadLine()) {
                const QByteArray verb = s->readLine().trimmed().split(' ').first().toUpper();
                if (verb == "USER")
                    s->write("331 password please\r\n");
                else if (verb == "PASS")
                    s->write("230 logged in\r\n");
                else if (verb == "PWD")
                    s->write("257 \"/\"\r\n");
                else if (verb == "EPSV")
                    s->write("229 Entering Extended Passive Mode (|||" + QByteArray::number(m_data.serverPort()) +
                             "|)\r\n");
                else if (verb == "STOR") {
                    ++stors;
                    s->write("150 go ahead\r\n"); // and nothing after it
                    m_stalled = true;
                    if (onStall)
                        onStall();
                } else if (!m_stalled)
                    s->write("200 ok\r\n");
                else
                    ++unanswered;
            }
        });
    }

    QTcpServer m_control;
    QTcpServer m_data;
    bool m_stalled = false;
};
