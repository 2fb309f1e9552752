#pragma once
// The address book mail.xls: an Excel 97 workbook, sheet "mailadd", first row the column
// names "address" and "name", read with FreeXL.

#include <QString>
#include <atomic>
#include <optional>
#include <vector>

struct AddressRow {
    std::optional<QString> address; // absent for an empty cell
    QString name;
};

struct AddressBook {
    std::vector<AddressRow> rows; // in sheet order
    QString error;                // empty when the book was read
};

// Reads the book in a separate process (talveron-bookread) under time and memory limits; call
// it off the UI thread. Raising cancel ends the process at once (the station is closing).
AddressBook ReadAddressBook(const QString& path, const std::atomic<bool>* cancel = nullptr);
// The FreeXL reader itself, for that process: regular files only.
AddressBook ReadAddressBookFile(const QString& path);
// Where the station finds talveron-bookread.
QString AddressBookReaderPath();
