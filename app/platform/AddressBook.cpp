#include "platform/AddressBook.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <sys/resource.h>

namespace {

constexpr int ReadLimitMs = 15000;
constexpr qint64 OutputLimit = 16 * 1024 * 1024;

QString unreadable()
{
    return QStringLiteral("アドレス帳 mail.xls を読めません（Excel 97 形式のブックではないか、壊れています）。");
}

QString decoded(const QByteArray& field)
{
    return QString::fromUtf8(QByteArray::fromBase64(field));
}

} // namespace

QString AddressBookReaderPath()
{
    // Beside the station, else installed in the private program folder; in the build tree, where
    // the build put it.
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/talveron-bookread");
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                              QStringLiteral("/" TALVERON_LIBEXEC_FROM_BIN "/talveron-bookread"));
#ifdef TALVERON_BOOKREAD_BUILT
    if (!QFileInfo(installed).isExecutable())
        return QStringLiteral(TALVERON_BOOKREAD_BUILT);
#endif
    return installed;
}

AddressBook ReadAddressBook(const QString& path, const std::atomic<bool>* cancel)
{
    AddressBook book;
    if (!QFileInfo::exists(path)) {
        book.error = QStringLiteral("アドレス帳 mail.xls が見つかりません。");
        return book;
    }
    const QString reader = AddressBookReaderPath();
    if (!QFileInfo(reader).isExecutable()) {
        book.error = QStringLiteral("アドレス帳を読むプログラム talveron-bookread が見つかりません。");
        return book;
    }
    // The workbook is read in a short-lived process under limits, so a hostile or huge file
    // costs an error message, never the station.
    QProcess p;
    p.setChildProcessModifier([] {
        const rlimit cpu{10, 10};
        setrlimit(RLIMIT_CPU, &cpu);
#if !defined(__SANITIZE_ADDRESS__)
        const rlimit memory{512ul << 20, 512ul << 20};
        setrlimit(RLIMIT_AS, &memory);
#endif
    });
    p.start(reader, {path});
    if (!p.waitForStarted(5000)) {
        book.error = QStringLiteral("アドレス帳を読むプログラム talveron-bookread を起動できません。");
        return book;
    }
    QByteArray out;
    bool finished = false;
    for (int waited = 0; waited < ReadLimitMs && out.size() <= OutputLimit; waited += 50) {
        if (cancel && cancel->load()) {
            p.kill();
            p.waitForFinished(1000);
            book.error = QStringLiteral("アドレス帳の読み込みを中止しました。");
            return book;
        }
        finished = p.waitForFinished(50);
        out += p.readAllStandardOutput();
        if (finished)
            break;
    }
    if (!finished) {
        p.kill();
        p.waitForFinished(1000);
        book.error = QStringLiteral("アドレス帳 mail.xls を時間内に読み終えられませんでした。");
        return book;
    }
    const QList<QByteArray> lines = out.split('\n');
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || lines.isEmpty()) {
        book.error = unreadable();
        return book;
    }
    const QList<QByteArray> head = lines.first().split('\t');
    if (head.value(0) != "ok") {
        book.error = head.value(0) == "error" ? decoded(head.value(1)) : unreadable();
        return book;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split('\t');
        if (f.size() != 3)
            continue;
        AddressRow row;
        if (f[0] == "a")
            row.address = decoded(f[1]);
        row.name = decoded(f[2]);
        book.rows.push_back(row);
    }
    return book;
}
