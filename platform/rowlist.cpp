#include "platform/rowlist.h"

void RowList::addItems(const QStringList &rows)
{
    for (const QString &row : rows)
        AddItem(row);
}

void StringRowList::RemoveItem(int index)
{
    if (index >= 0 && index < m_rows.size())
        m_rows.removeAt(index);
}
