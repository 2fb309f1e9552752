// What the two settings files share.

#include "shared/SettingsFile.h"

#include <QFileInfo>

#include "platform/MessageBox.h"
#include "shared/Outcome.h"
#include "platform/TextFile.h"

#include <QFile>
#include <sys/stat.h>

QString OneLine(QString v)
{
    v.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    v.replace(u'\r', u' ');
    v.replace(u'\n', u' ');
    return v;
}

Outcome SaveSettingsText(const QString& file, const QString& name, const QString& text, bool holdsPassword,
                         const QString& writeError)
{
    struct stat st {};
    const bool shared = holdsPassword && ::stat(QFile::encodeName(file).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
                        (st.st_mode & 077) != 0;
    const bool written = shared ? TextFile::writeWholeWithMode(file, TextFile::encode(text), int(st.st_mode & 0700))
                                : TextFile::writeWhole(file, text, nullptr, TextFile::kPrivateMode);
    if (!written)
        return Failed(Fault::SettingsFile, writeError);
    Outcome saved;
    if (shared)
        saved.notice = name + QStringLiteral(" にはパスワードがあるため、他のユーザーが読めないようにしました");
    return saved;
}

Outcome ConfirmReplacing(MessageBoxService& messages, const QString& file, const QString& name,
                         const QString& writeError)
{
    // What is in memory does not come from the file: replacing it is the operator's call, and
    // the old file is kept beside it either way.
    if (!AskOkCancel(messages,
                     name + QStringLiteral(" は読めなかったため、いまの設定で置き換えます。\n元のファイルは ") + name +
                         QStringLiteral(".bak に残します。よろしいですか？"),
                     QStringLiteral("確認")))
        return Failed(Fault::Cancelled);
    if (!TextFile::keepCopy(file))
        return Failed(Fault::SettingsFile, writeError + u'\n' + name + QStringLiteral(".bak を作れません"));
    return {};
}

Outcome ReadKeyValues(const QString& file, const QString& name, QHash<QString, QString>& values, bool trimValues)
{
    TextFile::removeStaleTemporaries(file);
    if (!QFileInfo(file).exists() && !QFileInfo(file).isSymLink())
        return Failed(Fault::NotLoaded);
    const QString unreadable = name + QStringLiteral(" が読めません");
    const auto lines = TextFile::readLines(file);
    if (!lines)
        return Failed(Fault::SettingsFile, unreadable);
    for (int i = 0; i < lines->size(); ++i) {
        const QString& line = (*lines)[i];
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            return Failed(Fault::SettingsFile,
                          unreadable + QStringLiteral(" %1 行目: Key=値 の形ではありません").arg(i + 1));
        const QString value = line.mid(eq + 1);
        values.insert(line.left(eq).trimmed().toLower(), trimValues ? value.trimmed() : value);
    }
    return {};
}

Outcome SaveKeyValues(MessageBoxService& messages, const QString& file, const QString& name, const QString& text,
                      bool& unreadable, bool holdsPassword)
{
    const QString writeError = name + QStringLiteral(" に書き込めません");
    if (unreadable) {
        const Outcome confirmed = ConfirmReplacing(messages, file, name, writeError);
        if (!confirmed)
            return confirmed;
    }
    const Outcome saved = SaveSettingsText(file, name, text, holdsPassword, writeError);
    if (saved)
        unreadable = false;
    return saved;
}

int KeyNumber(const QHash<QString, QString>& values, const QString& key)
{
    const QString v = values.value(key);
    bool ok = true;
    const int n = v.isEmpty() ? 0 : v.toInt(&ok);
    return ok ? n : -1;
}
