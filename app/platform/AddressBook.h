#pragma once
// The address book mail.xls: an Excel 97 workbook, sheet "mailadd", first row the column
// names "address" and "name", read with FreeXL.

#include <QString>
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

AddressBook ReadAddressBook(const QString& path);
