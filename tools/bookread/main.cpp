// talveron-bookread FILE: reads the address book FILE (mail.xls) and writes what it found to
// standard output, for the station, which runs it so that a broken or hostile workbook can
// cost only this short-lived process.
//
// First line "ok", or "error" TAB the reason (Base64 of UTF-8); then one line a row:
// "a" (an address) or "-" (an empty address cell), TAB, the address, TAB, the name, both
// Base64 of UTF-8.

#include "platform/AddressBook.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: talveron-bookread FILE\n");
        return 2;
    }
    const AddressBook book = ReadAddressBookFile(QString::fromLocal8Bit(argv[1]));
    if (!book.error.isEmpty()) {
        std::printf("error\t%s\n", book.error.toUtf8().toBase64().constData());
        return 0;
    }
    std::printf("ok\n");
    for (const AddressRow& row : book.rows)
        std::printf("%s\t%s\t%s\n", row.address ? "a" : "-",
                    row.address.value_or(QString()).toUtf8().toBase64().constData(),
                    row.name.toUtf8().toBase64().constData());
    return std::fflush(stdout) == 0 ? 0 : 1;
}
