#include "platform/rowlist.h"

QString textOfUtf8(QByteArrayView utf8)
{
    constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");
    qsizetype marks = 0;
    while (utf8.size() >= (marks + 1) * 3 && utf8.sliced(marks * 3, 3) == ByteOrderMark)
        ++marks;
    if (marks == 0)
        return QString::fromUtf8(utf8);
    return QString(marks, QChar(0xFEFF)) + QString::fromUtf8(utf8.sliced(marks * 3));
}

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

StringRowList RowList::snapshot() const
{
    StringRowList rows;
    const int count = ListCount();
    for (int i = 0; i < count; ++i)
        rows.AddItem(List(i));
    return rows;
}

void RowList::setRows(const StringRowList &rows)
{
    for (int index = ListCount() - 1; index >= 0; --index)
        RemoveItem(index);
    addItems(rows.allRows());
}

StringRowList::StringRowList(const QStringList &rows)
{
    m_ends.reserve(rows.size());
    for (const QString &row : rows)
        AddItem(row);
}

void StringRowList::AddItem(const QString &row)
{
    m_text.append(row.toUtf8());
    m_ends.append(m_text.size());
}

void StringRowList::appendUtf8(QByteArrayView row)
{
    m_text.append(row);
    m_ends.append(m_text.size());
}

QString StringRowList::List(int index) const
{
    return textOfUtf8(utf8(index));
}

QByteArrayView StringRowList::utf8(int index) const
{
    if (index < 0 || index >= m_ends.size())
        return {};
    return QByteArrayView(m_text).sliced(start(index), m_ends[index] - start(index));
}

void StringRowList::RemoveItem(int index)
{
    if (index < 0 || index >= m_ends.size())
        return;
    const qsizetype from = start(index);
    const qsizetype length = m_ends[index] - from;
    m_text.remove(from, length);
    m_ends.removeAt(index);
    for (qsizetype i = index; i < m_ends.size(); ++i)
        m_ends[i] -= length;
}

void StringRowList::clear()
{
    m_text.clear();
    m_ends.clear();
}
