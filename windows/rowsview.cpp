#include "windows/rowsview.h"

#include "platform/rowlist.h"

#include <QListWidget>

#include <algorithm>

void showRows(QListWidget *list, const RowList &rows)
{
    const int shown = list->count();
    const int wanted = rows.ListCount();
    const auto same = [&](int shownRow, int row) { return list->item(shownRow)->text() == rows.List(row); };

    // What both hold at the start and at the end stays; the middle is replaced.
    int head = 0;
    while (head < std::min(shown, wanted) && same(head, head))
        ++head;
    int tail = 0;
    while (tail < std::min(shown, wanted) - head && same(shown - 1 - tail, wanted - 1 - tail))
        ++tail;

    for (int row = shown - tail - 1; row >= head; --row)
        delete list->takeItem(row);
    QStringList inserted;
    inserted.reserve(wanted - tail - head);
    for (int row = head; row < wanted - tail; ++row)
        inserted.append(rows.List(row));
    if (tail == 0) {
        list->addItems(inserted);
    } else {
        for (int i = 0; i < inserted.size(); ++i)
            list->insertItem(head + i, inserted.at(i));
    }
}
