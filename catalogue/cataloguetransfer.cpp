#include "catalogue/cataloguetransfer.h"

#include "platform/addon.h"
#include "platform/rowlist.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <csv.h>

using namespace Qt::StringLiterals;

namespace CatalogueTransfer {

namespace {

constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

QByteArrayView withoutByteOrderMark(const QByteArray &bytes)
{
    QByteArrayView view(bytes);
    return view.startsWith(ByteOrderMark) ? view.sliced(3) : view;
}

// A cell a spreadsheet would run as a formula, or that only looks like one
// because of the apostrophe this program puts before such cells.
bool looksLikeFormula(QStringView cell)
{
    if (cell.isEmpty())
        return false;
    const QChar first = cell.front();
    if (first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' || first == u'\r')
        return true;
    return first == u'\'' && looksLikeFormula(cell.sliced(1));
}

QString fromSpreadsheet(QString cell)
{
    if (cell.startsWith(u'\'') && looksLikeFormula(QStringView(cell).sliced(1)))
        cell.remove(0, 1);
    return cell;
}

// A JSON string: quotes, backslashes and control characters escaped.
void appendJsonString(QByteArray &json, const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            escaped += u'\\';
        if (c.unicode() < 0x20)
            escaped += u"\\u%1"_s.arg(int(c.unicode()), 4, 16, QChar(u'0'));
        else
            escaped += c;
    }
    json += '"' + escaped.toUtf8() + '"';
}

void appendCsvCell(QByteArray &csv, const QString &text)
{
    const QString cell = looksLikeFormula(text) ? u'\'' + text : text;
    const bool quoted = cell.contains(u',') || cell.contains(u'"') || cell.contains(u'\n') || cell.contains(u'\r') ||
                        cell.startsWith(u' ') || cell.endsWith(u' ');
    if (!quoted) {
        csv += cell.toUtf8();
        return;
    }
    csv += '"' + QString(cell).replace(u"\""_s, u"\"\""_s).toUtf8() + '"';
}

Read readJson(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(withoutByteOrderMark(bytes).toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        return {{}, u"it is not JSON (%1 at byte %2)"_s.arg(error.errorString()).arg(error.offset)};
    if (!document.isArray())
        return {{}, u"it is not a list of items: catalogue.json is [{\"description\": …, \"url\": …}, …]"_s};
    Read read;
    const QJsonArray items = document.array();
    read.items.reserve(items.size());
    int row = 0;
    for (const QJsonValue &value : items) {
        ++row;
        const QJsonObject item = value.toObject();
        // A row that is not an item is left for the check, which names it.
        read.items.append({item.value(u"description"_s).toString(), item.value(u"url"_s).toString(), row});
    }
    return read;
}

// libcsv hands over each cell and each row end.
struct CsvReader
{
    QList<QByteArray> cells;
    QList<QList<QByteArray>> rows;
    qsizetype cellBytes = 0;

    static void cell(void *data, size_t size, void *self)
    {
        auto *reader = static_cast<CsvReader *>(self);
        reader->cells.append(QByteArray(static_cast<const char *>(data), qsizetype(size)));
    }
    static void rowEnd(int, void *self)
    {
        auto *reader = static_cast<CsvReader *>(self);
        // Empty rows (a blank line) carry nothing and are skipped.
        const bool empty = reader->cells.size() == 1 && reader->cells.front().isEmpty();
        if (!empty && !reader->cells.isEmpty())
            reader->rows.append(reader->cells);
        reader->cells.clear();
    }
};

Read readCsv(const QByteArray &bytes)
{
    const QByteArrayView text = withoutByteOrderMark(bytes);
    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0)
        return {{}, u"the CSV reader could not start (too little memory?)"_s};
    CsvReader reader;
    const size_t done =
        csv_parse(&parser, text.data(), size_t(text.size()), CsvReader::cell, CsvReader::rowEnd, &reader);
    const bool failed =
        done != size_t(text.size()) || csv_fini(&parser, CsvReader::cell, CsvReader::rowEnd, &reader) != 0;
    const int parseError = csv_error(&parser);
    csv_free(&parser);
    if (failed) {
        return {{},
                u"it is not CSV: %1 (row %2)"_s.arg(QString::fromUtf8(csv_strerror(parseError)))
                    .arg(reader.rows.size() + 1)};
    }
    if (reader.rows.isEmpty())
        return {{}, u"it has no header row: the first row names the columns description and url"_s};
    const QList<QByteArray> &header = reader.rows.front();
    qsizetype descriptionColumn = -1;
    qsizetype addressColumn = -1;
    for (qsizetype column = 0; column < header.size(); ++column) {
        const QString name = addon::textOfBytes(header[column]).trimmed().toLower();
        if (name == u"description")
            descriptionColumn = column;
        else if (name == u"url")
            addressColumn = column;
    }
    if (descriptionColumn < 0 || addressColumn < 0)
        return {{}, u"its first row does not name both columns, description and url"_s};
    Read read;
    read.items.reserve(reader.rows.size() - 1);
    for (qsizetype row = 1; row < reader.rows.size(); ++row) {
        const QList<QByteArray> &cells = reader.rows[row];
        read.items.append({fromSpreadsheet(addon::textOfBytes(cells.value(descriptionColumn))),
                           fromSpreadsheet(addon::textOfBytes(cells.value(addressColumn))), int(row)});
    }
    return read;
}

Read readPlain(const QByteArray &bytes)
{
    Read read;
    int row = 0;
    const QByteArrayView text = withoutByteOrderMark(bytes);
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        start = end + 1;
        ++row;
        if (line.endsWith('\r'))
            line.chop(1);
        const QString address = addon::textOfBytes(line).trimmed();
        if (!address.isEmpty())
            read.items.append({address, address, row});
    }
    return read;
}

} // namespace

Format formatOf(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"json")
        return Format::Json;
    if (suffix == u"csv")
        return Format::Csv;
    return Format::Plain;
}

Read read(const QByteArray &bytes, Format format)
{
    switch (format) {
    case Format::Json:
        return readJson(bytes);
    case Format::Csv:
        return readCsv(bytes);
    case Format::Plain:
        break;
    }
    return readPlain(bytes);
}

QByteArray write(const RowList &descriptions, const RowList &addresses, Format format)
{
    const int count = descriptions.ListCount();
    QByteArray bytes;
    bytes.reserve(qsizetype(count) * 160);
    if (format == Format::Csv) {
        bytes += "description,url\r\n";
        for (int item = 0; item < count; ++item) {
            appendCsvCell(bytes, descriptions.List(item));
            bytes += ',';
            appendCsvCell(bytes, addresses.List(item));
            bytes += "\r\n";
        }
        return bytes;
    }
    bytes += '[';
    for (int item = 0; item < count; ++item) {
        bytes += item == 0 ? "{\"number\":" : ",{\"number\":";
        bytes += QByteArray::number(item) + ",\"description\":";
        appendJsonString(bytes, descriptions.List(item));
        bytes += ",\"url\":";
        appendJsonString(bytes, addresses.List(item));
        bytes += '}';
    }
    bytes += ']';
    return bytes;
}

} // namespace CatalogueTransfer
