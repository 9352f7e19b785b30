#include "serving/listpages.h"

#include <array>

namespace {

// Appends the decimal digits of a row number without building a temporary string.
void appendNumber(QByteArray &page, int number)
{
    std::array<char, 12> digits{};
    auto at = digits.end();
    auto value = unsigned(number);
    do {
        *--at = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    page.append(at, digits.end() - at);
}

} // namespace

ListPageSet::ListPageSet(StringRowList descriptions) : m_rows(std::move(descriptions)) {}

int ListPageSet::rowPages() const
{
    const int rows = m_rows.ListCount();
    if (rows <= FirstPageRows)
        return 1;
    return 1 + (rows - FirstPageRows + PageRows - 1) / PageRows;
}

int ListPageSet::size() const
{
    return rowPages() + m_emptyPagesAfter;
}

QString ListPageSet::at(int page) const
{
    if (page < 0 || page >= rowPages())
        return {};
    // The first page ends at row 20, every later one twenty rows further on.
    const int first = page == 0 ? 0 : FirstPageRows + (page - 1) * PageRows;
    const int last = std::min(m_rows.ListCount(), page == 0 ? FirstPageRows : first + PageRows) - 1;

    // The page is put together in UTF-8, as the rows are kept, and turned into
    // text once.
    qsizetype bytes = 0;
    for (int row = first; row <= last; ++row)
        bytes += m_rows.utf8(row).size() + 8;
    QByteArray text;
    text.reserve(bytes);
    for (int row = first; row <= last; ++row) {
        text.append('\r');
        appendNumber(text, row);
        text.append(") ");
        text.append(m_rows.utf8(row));
    }
    return QString::fromUtf8(text);
}

QStringList ListPageSet::texts() const
{
    QStringList pages;
    const int count = size();
    pages.reserve(count);
    for (int page = 0; page < count; ++page)
        pages.append(at(page));
    return pages;
}
