#include "serving/listpagebuilder.h"

#include "platform/rowlist.h"

#include <array>

namespace {

// Appends the decimal digits of a row number without building a temporary string.
void appendNumber(QString &page, int number)
{
    std::array<char16_t, 12> digits{};
    auto at = digits.end();
    unsigned value = unsigned(number);
    do {
        *--at = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    page.append(reinterpret_cast<const QChar *>(at), digits.end() - at);
}

} // namespace

void ListPageBuilder::BuildList(const RowList &descriptions, QStringList &pages)
{
    pages.clear();
    const int rowCount = descriptions.ListCount();
    int first = 0;
    int last = 0;
    for (;;) {
        // The first page ends at row 20 because `last` starts at 0 and grows by twenty.
        if (last + PageRows > rowCount - 1)
            last = rowCount - 1;
        else
            last += PageRows;

        QString page;
        for (int row = first; row <= last; ++row) {
            const QString description = descriptions.List(row);
            if (page.isEmpty())
                page.reserve((last - first + 1) * (description.size() + 8));
            page.append(QChar(u'\r'));
            appendNumber(page, row);
            page.append(u") ");
            page.append(description);
        }
        BuildList2(pages);
        pages.last() = std::move(page);

        first = last + 1;
        if (last == rowCount - 1)
            break;
    }
}

void ListPageBuilder::BuildList2(QStringList &pages)
{
    pages.append(QString());
}
