#pragma once
// Text files as the station stores them: Shift-JIS (CP932) bytes, CR LF line ends.
// Inside the program text is QString; bytes exist only here.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <optional>

namespace TextFile {

// CP932 bytes to text; nothing when the bytes are not valid CP932.
std::optional<QString> decode(const QByteArray& bytes);
// Text to CP932 bytes; a character CP932 cannot hold becomes "?".
QByteArray encode(const QString& text);

// No file the station reads is near this size; a bigger one is refused, not loaded.
inline constexpr qsizetype kMaxReadBytes = 16 * 1024 * 1024;

// The bytes of a regular file of at most kMaxReadBytes; nothing for anything else
// (missing, unreadable, a folder, a FIFO, a device, too big).
std::optional<QByteArray> readBytes(const QString& path);

// Opens a regular file for reading without blocking: a FIFO, a device or a folder in its
// place (checked on the open descriptor, so a swap after a check cannot slip through) is
// refused. Callers bound what they read; the file may be endless in practice.
bool openRegular(QFile& file, const QString& path);

// Reads the whole file and splits it into lines (CR LF, a lone CR or a lone LF end a line).
// Nothing when the file cannot be read or is not CP932 text.
std::optional<QStringList> readLines(const QString& path);
// Reads the whole file as text.
std::optional<QString> readAll(const QString& path);

// Permissions of a file the station creates: settings hold passwords, so they are the owner's only.
inline constexpr int kSharedMode = 0644;
inline constexpr int kPrivateMode = 0600;

// Replaces the file whole and safely: a temporary file in the same directory,
// flushed to disk, then renamed over the old one. On failure the old file stays and the
// temporary file is gone. A file that exists keeps its permissions; a new one gets newMode.
bool writeWhole(const QString& path, const QString& text, QString* error = nullptr, int newMode = kSharedMode);
bool writeWholeBytes(const QString& path, const QByteArray& bytes, QString* error = nullptr, int newMode = kSharedMode);
// The same, with mode whether or not the file existed: for a file that carries a secret.
bool writeWholeWithMode(const QString& path, const QByteArray& bytes, int mode, QString* error = nullptr);

// Copies the file to path + ".bak" (replacing an older copy); true when done or when there is
// no file to copy.
bool keepCopy(const QString& path);

// Removes the temporary files writeWhole left for this path when the station was killed
// in the middle of a save (they may hold a password).
void removeStaleTemporaries(const QString& path);

// Appends text to the file, creating it when missing: all of it or, on a failed write
// (full disk, size limit), none of it. A symbolic link in the file's place is never
// followed: the append fails.
bool append(const QString& path, const QString& text);

} // namespace TextFile
