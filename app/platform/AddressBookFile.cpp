// The FreeXL reader of mail.xls, run only inside talveron-bookread.

#include "platform/AddressBook.h"

#include <QFile>
#include <fcntl.h>
#include <freexl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<QString> cellText(const void* handle, unsigned row, unsigned short column)
{
    FreeXL_CellValue v;
    if (freexl_get_cell_value(handle, row, column, &v) != FREEXL_OK)
        return std::nullopt;
    switch (v.type) {
    case FREEXL_CELL_INT:
        return QString::number(v.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return QString::number(v.value.double_value, 'g', 15);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME: {
        const QString s = QString::fromUtf8(v.value.text_value);
        if (s.isEmpty())
            return std::nullopt;
        return s;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

AddressBook ReadAddressBookFile(const QString& path)
{
    AddressBook book;
    // Regular files only: a FIFO or a device named mail.xls would hold the reader for ever. The
    // check and the read are on the same open file, through its descriptor's name.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        book.error = QStringLiteral("アドレス帳 mail.xls が見つかりません。");
        return book;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } fdCloser{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        book.error = QStringLiteral("アドレス帳 mail.xls が通常のファイルではありません。");
        return book;
    }
    const void* handle = nullptr;
    const QByteArray local = "/proc/self/fd/" + QByteArray::number(fd);
    if (freexl_open(local.constData(), &handle) != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        book.error =
            QStringLiteral("アドレス帳 mail.xls を読めません（Excel 97 形式のブックではないか、壊れています）。");
        return book;
    }
    struct Closer {
        const void* h;
        ~Closer() { freexl_close(h); }
    } closer{handle};
    unsigned int sheets = 0;
    freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
    int sheet = -1;
    for (unsigned i = 0; i < sheets && sheet < 0; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle, (unsigned short)i, &name) == FREEXL_OK && name &&
            QString::fromUtf8(name).compare(QLatin1String("mailadd"), Qt::CaseInsensitive) == 0)
            sheet = int(i);
    }
    if (sheet < 0) {
        book.error = QStringLiteral("アドレス帳 mail.xls にシート mailadd がありません。");
        return book;
    }
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(handle, (unsigned short)sheet) != FREEXL_OK ||
        freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) {
        book.error = QStringLiteral("アドレス帳 mail.xls のシート mailadd を読めません。");
        return book;
    }
    int addressColumn = -1, nameColumn = -1;
    for (unsigned short c = 0; rows > 0 && c < columns; ++c) {
        const QString title = cellText(handle, 0, c).value_or(QString()).trimmed();
        if (addressColumn < 0 && title.compare(QLatin1String("address"), Qt::CaseInsensitive) == 0)
            addressColumn = c;
        if (nameColumn < 0 && title.compare(QLatin1String("name"), Qt::CaseInsensitive) == 0)
            nameColumn = c;
    }
    if (addressColumn < 0 || nameColumn < 0) {
        book.error = QStringLiteral("アドレス帳 mail.xls のシート mailadd の1行目に列 address と name がありません。");
        return book;
    }
    for (unsigned r = 1; r < rows; ++r) {
        AddressRow row;
        row.address = cellText(handle, r, (unsigned short)addressColumn);
        row.name = cellText(handle, r, (unsigned short)nameColumn).value_or(QString());
        book.rows.push_back(row);
    }
    return book;
}
