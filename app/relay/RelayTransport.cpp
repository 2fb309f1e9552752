// The relay files between the two stations: FTP and HTTP, or a shared folder.

#include "RelayTransport.h"

#include "FtpClient.h"
#include "InternetTransfer.h"
#include "MontComm1.h"
#include "PollEngine.h"
#include "RelayText.h"
#include "TextFile.h"
#include "UnitEndpoint.h"

#include <QPointer>

namespace {
const QString CrLf = QStringLiteral("\r\n");
constexpr qsizetype MaxLocalFile = 64 * 1024; // a relay file on disk larger than this is not ours
} // namespace

RelayTransport::RelayTransport(MontComm1& comm, PollEngine& engine, QObject* parent)
    : QObject(parent)
    , m_comm(comm)
    , m_engine(engine)
{
    for (int i = 0; i < Slots; ++i) {
        m_ftp[i] = std::make_unique<FtpClient>(i, this);
        m_jobs[i] = std::make_unique<FtpUploadJob>(*m_ftp[i], m_watchdog[i]);
        connect(m_jobs[i].get(), &FtpUploadJob::sendingDirect, this, [this, i] { emit sendingDirect(i); });
    }
}

RelayTransport::~RelayTransport()
{
    for (auto& job : m_jobs)
        job.reset(); // before the controls: each aborts its control's step
}

RelayTransport::Route RelayTransport::route() const
{
    const auto mode = m_comm.inet().CommMode();
    return mode == CommModeKind::InternetUpload || mode == CommModeKind::InternetDownload ? Route::Internet
                                                                                          : Route::Folder;
}

void RelayTransport::fetchDocument(QObject* context, const QString& url, std::function<void(Fetched)> done)
{
    const QString proxy = m_comm.inet().InternetSettings.ProxyServerName;
    const QString proxyPort = m_comm.inet().InternetSettings.ProxyPortNo;
    UnitEndpoint::onUrl<Fetched>(
        m_engine, url, proxy, proxyPort, context,
        [url](InternetTransfer& t) {
            Fetched f;
            try {
                QString doc = t.OpenURL(url);
                if (doc.size() > Relay::MaxTextLength)
                    f.unreadable = true;
                else
                    f.text = std::move(doc);
            } catch (const UnreadableDocument&) {
                f.unreadable = true;
            } catch (const std::exception&) { // the transfer failed: no text
            }
            return f;
        },
        std::move(done));
}

void RelayTransport::fetch(QObject* context, const QString& url, std::function<void(std::optional<QString>)> done)
{
    fetchDocument(context, url, [done = std::move(done)](Fetched f) { done(std::move(f.text)); });
}

void RelayTransport::fetchRelayFile(QObject* context, const QString& url, const QString& dataName,
                                    std::function<void(std::optional<QString>)> done, int attempt)
{
    QPointer<QObject> guard(context);
    fetch(context, url, [this, guard, url, dataName, attempt, done](std::optional<QString> text) {
        if (!text || text->startsWith(dataName) || attempt + 1 >= 4 || !guard)
            return done(std::move(text));
        fetchRelayFile(guard, url, dataName, done, attempt + 1);
    });
}

void RelayTransport::upload(int slot, const FtpTarget& target, const QString& name, std::function<void(int16_t)> done)
{
    auto report = [this, slot, done = std::move(done)](int16_t code) {
        if (code == 1 || code == 2 || code == 8)
            m_ftp[slot]->ResetTransfer();
        done(code);
    };
    if (!m_jobs[slot]->start(target, m_comm.path(name), m_comm.ftpStepTimeOutMs(), report))
        QMetaObject::invokeMethod(
            m_jobs[slot].get(), [report] { report(-1); }, Qt::QueuedConnection);
}

void RelayTransport::cancel(int slot)
{
    m_jobs[slot]->cancel();
    m_jobs[slot]->forgetStrict();
}

void RelayTransport::UpLdFileChk(QObject* context, const QString& name, const QString& expected,
                                 std::function<void(bool)> done)
{
    const QString wanted = expected + CrLf;
    if (route() == Route::Internet) {
        fetch(context, m_comm.inet().InternetSettings.URL + u'/' + name,
              [wanted, done](std::optional<QString> text) { done(text && *text == wanted); });
        return;
    }
    // Exactly the lines that were written are read back: a request line names a ".txt" file
    // too, and is still one line.
    const int lineCount = int(expected.count(CrLf)) + 1;
    const auto lines = readRelayLines(sendFolderPath(name), lineCount);
    if (!lines || lines->size() < lineCount)
        return done(false);
    QString text;
    for (const QString& line : *lines)
        text += line + CrLf;
    done(text == wanted);
}

void RelayTransport::ClearRequestFile(int slot, const QString& name, std::function<void(QString)> done)
{
    if (!TextFile::writeWholeBytes(m_comm.path(name), QByteArrayLiteral("\r\n")))
        return done(FtpErrorText(-1, QString()));
    upload(slot, FtpTarget::of(m_comm.inet().InternetSettings), name,
           [this, name, done](int16_t code) { done(FtpErrorText(code, m_comm.path(name))); });
}

QString RelayTransport::sendFolderPath(const QString& name) const
{
    return m_comm.inet().InternetSettings.SendFordername.isEmpty() ? m_comm.path(name)
                                                                   : m_comm.files().SendFolderPath(name);
}

std::optional<QStringList> RelayTransport::readRelayLines(const QString& path, int maxLines)
{
    const auto bytes = TextFile::readBytes(path);
    if (!bytes || bytes->size() > MaxLocalFile)
        return std::nullopt;
    const auto text = TextFile::decode(*bytes);
    if (!text)
        return std::nullopt;
    QStringList lines;
    qsizetype start = 0;
    while (lines.size() < maxLines && start < text->size()) {
        qsizetype end = text->indexOf(u'\n', start);
        if (end < 0)
            end = text->size();
        QString line = text->mid(start, end - start);
        if (line.endsWith(u'\r'))
            line.chop(1);
        lines << line;
        start = end + 1;
    }
    return lines;
}
