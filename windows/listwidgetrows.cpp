#include "windows/listwidgetrows.h"

#include <QListWidget>

void ListWidgetRows::AddItem(const QString &row)
{
    m_list->addItem(row);
}

int ListWidgetRows::ListCount() const
{
    return m_list->count();
}

QString ListWidgetRows::List(int index) const
{
    const QListWidgetItem *item = m_list->item(index);
    return item ? item->text() : QString();
}

void ListWidgetRows::RemoveItem(int index)
{
    delete m_list->takeItem(index);
}

void ListWidgetRows::addItems(QStringList rows)
{
    m_list->addItems(rows);
}
