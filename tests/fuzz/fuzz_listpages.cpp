// Any rows: the list pages hold every row once, in order, 21 on the first page
// and 20 on every later one, each as CR, its number, ") " and its text.

#include "fuzzcheck.h"

#include "platform/rowlist.h"
#include "serving/listpagebuilder.h"
#include "serving/listpages.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Rows are separated by newlines; a row holds no CR (the files cannot store one).
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)).remove(u'\r');
    StringRowList rows;
    if (!text.isEmpty()) {
        for (const QString &row : text.split(u'\n'))
            rows.AddItem(row);
    }
    ListPageSet pages;
    ListPageBuilder::BuildList(rows, pages);

    const int count = rows.ListCount();
    FUZZ_CHECK(pages.size() == (count <= 21 ? 1 : 1 + (count - 21 + 19) / 20));
    int next = 0;
    for (int page = 0; page < pages.size(); ++page) {
        const QString pageText = pages.at(page);
        const int expected = count == 0 ? 0 : page == 0 ? std::min(count, 21) : std::min(count - next, 20);
        QString rebuilt;
        for (int row = next; row < next + expected; ++row)
            rebuilt += u'\r' + QString::number(row) + QStringLiteral(") ") + rows.List(row);
        FUZZ_CHECK(pageText == rebuilt);
        next += expected;
    }
    FUZZ_CHECK(next == count);
    return 0;
}
