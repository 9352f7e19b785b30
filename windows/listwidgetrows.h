#pragma once

#include "platform/rowlist.h"

class QListWidget;

// Lets the catalogue and the list builder use a list box on a window as a row list.
class ListWidgetRows final : public RowList
{
public:
    explicit ListWidgetRows(QListWidget *list) : m_list(list) {}

    void AddItem(const QString &row) override;
    [[nodiscard]] int ListCount() const override;
    [[nodiscard]] QString List(int index) const override;
    void RemoveItem(int index) override;
    void addItems(QStringList rows) override;

private:
    QListWidget *m_list;
};
