#include "platform/rowlist.h"

void RowList::addItems(QStringList rows)
{
    for (const QString &row : std::as_const(rows))
        AddItem(row);
}

QStringList RowList::allRows() const
{
    QStringList rows;
    const int count = ListCount();
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows.append(List(i));
    return rows;
}

void StringRowList::addItems(QStringList rows)
{
    if (m_rows.isEmpty())
        m_rows = std::move(rows);
    else
        m_rows.append(rows);
}

void StringRowList::RemoveItem(int index)
{
    if (index >= 0 && index < m_rows.size())
        m_rows.removeAt(index);
}
