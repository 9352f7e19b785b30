#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class RowList;

// Whole catalogues in and out: the program's own catalogue.json (what the web
// page serves), CSV with a header row naming "description" and "url", and a
// plain list of addresses, one a line. An export read back gives the same
// catalogue, and exported again the same bytes.
namespace CatalogueTransfer {

enum class Format { Json, Csv, Plain };

// One item read from a file, and the row of the file it came from (1 is the
// first row after a CSV's header, the first item of a JSON file, the first line).
struct Item
{
    QString description;
    QString address;
    int row = 0;
};

// A file read: its items, or why it is not one (bad rows are the change's to
// judge; this is a file that cannot be read as its format at all).
struct Read
{
    QList<Item> items;
    QString error;
};

// The largest file read: far more than 32,767 items of the longest rows the
// replies carry.
inline constexpr qsizetype LargestFileBytes = 64 * 1024 * 1024;

// The format by the file's name: .json and .csv, anything else a plain list.
[[nodiscard]] Format formatOf(const QString &fileName);

// The bytes as items of the format. Text is UTF-8 with or without a
// byte-order mark, or Windows-1252 where it is not UTF-8.
[[nodiscard]] Read read(const QByteArray &bytes, Format format);

// The catalogue as bytes of the format (JSON or CSV), an item for each description. In CSV, a cell that a
// spreadsheet would take for a formula (=, +, -, @, a tab or CR first) starts
// with an apostrophe, which read() takes off again.
[[nodiscard]] QByteArray write(const RowList &descriptions, const RowList &addresses, Format format);

} // namespace CatalogueTransfer
