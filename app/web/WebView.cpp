// The web view's settings turned into a running server, and the station's snapshots into it.

#include "web/WebView.h"

#include "shared/AlarmJournal.h"
#include "platform/Clock.h"
#include "shared/MontComm1.h"
#include "platform/TextFile.h"
#include "web/WebPages.h"

#include <QDir>

WebView::WebView(MontComm1& comm) : m_comm(comm)
{
    m_look.setInterval(LookMs);
    connect(&m_look, &QTimer::timeout, this, &WebView::look);
    m_hand.setSingleShot(true);
    m_hand.setInterval(HandMs);
    connect(&m_hand, &QTimer::timeout, this, &WebView::hand);
}

WebView::~WebView()
{
    stop();
}

void WebView::stop()
{
    m_look.stop();
    m_hand.stop();
    m_pending.clear();
    m_station.clear();
    m_channels = UINT64_MAX;
    m_comm.mqtt().setListener(nullptr);
    m_server.reset();
    m_fault.clear();
}

Outcome WebView::start()
{
    stop();
    WebInf inf(m_comm.workDir());
    const Outcome loaded = inf.load();
    if (!loaded || !inf.enabled())
        return loaded.fault == Fault::NotLoaded ? Outcome{} : loaded;
    const WebSettings& s = inf.settings;
    WebServerConfig config;
    config.listen = *WebInf::parseListen(s.Listen); // checked by the load
    config.passHash = s.PassHash;
    config.workDir = m_comm.workDir();
    if (!s.CertFile.isEmpty()) {
        // Read here, while the window can tell; the server's threads open nothing the settings name.
        const auto cert = TextFile::readBytes(QDir(m_comm.workDir()).filePath(s.CertFile));
        const auto key = TextFile::readBytes(QDir(m_comm.workDir()).filePath(s.KeyFile));
        if (!cert || !key) {
            m_fault = QStringLiteral("証明書ファイルか鍵ファイルが読めません");
            m_comm.journal().Record(JournalEvent::WebFailed, -1, m_fault);
            return Failed(Fault::SettingsFile, m_fault + QStringLiteral("。Web表示は止めたままです"));
        }
        config.cert = *cert;
        config.key = *key;
    }
    return start(config);
}

Outcome WebView::start(const WebServerConfig& config)
{
    stop();
    auto server = std::make_unique<WebServer>(config);
    const QString why = server->start();
    if (!why.isEmpty()) {
        m_fault = why;
        m_comm.journal().Record(JournalEvent::WebFailed, -1, why);
        return Failed(Fault::SettingsFile, QStringLiteral("Web表示: ") + why + QStringLiteral("。監視は続けます"));
    }
    m_server = std::move(server);
    m_comm.mqtt().setListener(this);
    look();
    m_look.start();
    return {};
}

void WebView::unitState(int unit, const QByteArray& json)
{
    if (!m_server)
        return;
    m_pending[unit] = json;
    if (!m_hand.isActive())
        m_hand.start();
}

void WebView::hand()
{
    if (!m_server)
        return;
    if (m_server->setUnitStates(m_pending))
        m_pending.clear();
    else
        m_hand.start(); // the streams are reading: again in a moment
}

void WebView::monitoringChanged(bool)
{
    // Told while the start or stop is under way: the window's state is read once it is done.
    QTimer::singleShot(0, this, &WebView::look);
}

void WebView::look()
{
    if (!m_server)
        return;
    m_server->setNow(m_comm.clock().now()); // a miss is made good at the next look
    const QByteArray station = WebPages::StationJson(m_comm.sys(), WebPages::ModeText(int(m_comm.inet().CommMode())),
                                                     m_running && m_running());
    if (station != m_station && m_server->setStation(station))
        m_station = station;
    const uint64_t channels = m_comm.channels().generation();
    if (channels != m_channels && m_server->setChannels(m_comm.channels().lines()))
        m_channels = channels;
}
