// The relay files between the two stations: FTP and HTTP, or a shared folder.

#include "shared/RelayTransport.h"

#include "outside/FtpClient.h"
#include "outside/InternetTransfer.h"
#include "shared/MontComm1.h"
#include "outside/PollEngine.h"
#include "shared/RelayText.h"
#include "platform/TextFile.h"
#include "shared/UnitEndpoint.h"

#include <QFileInfo>
#include <QPointer>

namespace {
const QString CrLf = QStringLiteral("\r\n");
constexpr qsizetype MaxLocalFile = 64 * 1024; // a relay file on disk larger than this is not ours
} // namespace

RelayTransport::RelayTransport(MontComm1& comm, PollEngine& engine, int controls, std::optional<Route> fixed,
                               QObject* parent)
    : QObject(parent)
    , m_comm(comm)
    , m_engine(engine)
    , m_fixed(fixed)
{
    for (int i = 0; i < controls; ++i) {
        m_ftp.push_back(std::make_unique<FtpClient>(i, this));
        m_watchdog.push_back(std::make_unique<QTimer>());
        m_jobs.push_back(std::make_unique<FtpUploadJob>(*m_ftp[i], *m_watchdog[i]));
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
    if (m_fixed)
        return *m_fixed;
    const auto mode = m_comm.inet().CommMode();
    return mode == CommModeKind::InternetUpload || mode == CommModeKind::InternetDownload ? Route::Internet
                                                                                          : Route::Folder;
}

void RelayTransport::fetchDocument(QObject* context, const QString& url, std::function<void(Fetched)> done)
{
    const QString proxy = m_comm.inet().InternetSettings().ProxyServerName;
    const QString proxyPort = m_comm.inet().InternetSettings().ProxyPortNo;
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
    sendWith(slot, std::move(done), [&](FtpUploadJob& job, std::function<void(int16_t)> report) {
        return job.start(target, m_comm.path(name), m_comm.ftpStepTimeOutMs(), std::move(report));
    });
}

void RelayTransport::sendWith(int slot, std::function<void(int16_t)> done,
                              const std::function<bool(FtpUploadJob&, std::function<void(int16_t)>)>& start)
{
    auto report = [this, slot, done = std::move(done)](int16_t code) {
        if (code == 1 || code == 2 || code == 8)
            m_ftp[slot]->ResetTransfer();
        done(code);
    };
    if (!start(*m_jobs[slot], report))
        QMetaObject::invokeMethod(
            m_jobs[slot].get(), [report] { report(-1); }, Qt::QueuedConnection);
}

void RelayTransport::sendBytes(int slot, const QString& name, const QByteArray& bytes,
                               std::function<void(int16_t)> done)
{
    sendWith(slot, std::move(done), [&](FtpUploadJob& job, std::function<void(int16_t)> report) {
        return job.start(FtpTarget::of(m_comm.inet().InternetSettings()), name, bytes, m_comm.ftpStepTimeOutMs(),
                         std::move(report));
    });
}

void RelayTransport::put(int slot, const QString& name, const QString& text, std::function<void(int16_t)> done)
{
    const QByteArray bytes = TextFile::encode(text);
    if (route() == Route::Internet) {
        // Sent from memory: the line carries the token, and no copy of it stays on the disk.
        sendBytes(slot, name, bytes, std::move(done));
        return;
    }
    // The other station may run as another user of the group.
    done(TextFile::writeWholeWithMode(m_comm.path(name), bytes, 0640) ? int16_t(0) : int16_t(6));
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
        fetch(context, m_comm.inet().InternetSettings().URL + u'/' + name,
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
    sendBytes(slot, name, QByteArrayLiteral("\r\n"),
              [this, name, done](int16_t code) { done(FtpErrorText(code, m_comm.path(name))); });
}

void RelayTransport::clear(int slot, const QString& name, std::function<void(bool, QString)> done)
{
    if (route() == Route::Internet) {
        ClearRequestFile(slot, name, [done](const QString& err) { done(err.isEmpty(), err); });
        return;
    }
    done(m_comm.files().CreateRelayFile(name), QString());
}

void RelayTransport::read(QObject* context, const QString& name, std::function<void(Fetched)> done)
{
    if (route() == Route::Internet) {
        fetchDocument(context, m_comm.inet().InternetSettings().URL + u'/' + name, std::move(done));
        return;
    }
    const QString path = sendFolderPath(name);
    const auto lines = readRelayLines(path, 1);
    Fetched f;
    if (!lines) // a FIFO or a folder in its place is unreadable too
        f.unreadable = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    else if (!lines->isEmpty())
        f.text = lines->at(0);
    done(std::move(f));
}

void RelayTransport::publish(int slot, const QString& name, const QString& text, std::function<void(int16_t)> done)
{
    // The station keeps its data file in the working directory on either route while it runs.
    if (!TextFile::writeWhole(m_comm.path(name), text))
        return done(6);
    if (route() == Route::Internet) {
        sendBytes(slot, name, TextFile::encode(text), std::move(done));
        return;
    }
    if (!m_comm.inet().InternetSettings().SendFordername.isEmpty())
        m_comm.files().CopyToSendFolder(name); // a failed copy shows in the read-back
    done(0);
}

void RelayTransport::postMark(int slot, std::function<bool()> wanted, std::function<void()> done)
{
    m_comm.alarms().PostAbnormalMark(
        [this, slot, wanted](const FtpTarget& target, const QString& name, std::function<void(int16_t)> sent) {
            upload(slot, target, name, [wanted, sent](int16_t code) {
                if (wanted())
                    sent(code);
            });
        },
        [wanted, done](int16_t) {
            if (wanted())
                done();
        });
}

void RelayTransport::PostOutputRequest(int slot, QObject* context, const QString& name, const QString& line,
                                       bool whateverCode, std::function<bool()> wanted,
                                       std::function<void(Outcome)> done)
{
    QPointer<QObject> guard(context);
    auto alive = [guard, wanted] { return guard && wanted(); };
    UpLdFileChk(context, name, QString(), [=, this](bool idle) {
        if (!alive())
            return;
        if (!idle)
            return done(Failed(Fault::OutputPending));
        put(slot, name, line + CrLf, [=, this](int16_t code) {
            if (!alive())
                return;
            if (code == 6)
                return done(Failed(Fault::LocalFile));
            const QString title = code == 0 ? QString() : FtpErrorText(code, m_comm.path(name));
            // A late send may still have landed: the read-back decides.
            if (!whateverCode && (code < 0 || code > 2))
                return done(Failed(Fault::Upload, title, code));
            UpLdFileChk(guard, name, line, [=](bool posted) {
                if (alive())
                    done(posted ? Outcome{} : Failed(Fault::Upload, whateverCode ? title : QString(), code));
            });
        });
    });
}

QString RelayTransport::sendFolderPath(const QString& name) const
{
    return m_comm.inet().InternetSettings().SendFordername.isEmpty() ? m_comm.path(name)
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
