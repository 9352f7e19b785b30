#pragma once

#include <QString>
#include <QStringList>

// The few operations the program needs of a list of text rows: the catalogue
// lists on the main window and the plain lists of the headless mode both offer them.
class RowList
{
public:
    virtual ~RowList() = default;

    virtual void AddItem(const QString &row) = 0;
    [[nodiscard]] virtual int ListCount() const = 0;
    // The row at a 0-based index; empty text for an index with no row.
    [[nodiscard]] virtual QString List(int index) const = 0;
    // Removes the row at a 0-based index; an index with no row is ignored.
    virtual void RemoveItem(int index) = 0;

    // Appends many rows at once; lists that can do it faster than row by row override it.
    virtual void addItems(QStringList rows);
    // Every row, in order.
    [[nodiscard]] virtual QStringList allRows() const;

protected:
    RowList() = default;
    RowList(const RowList &) = default;
    RowList &operator=(const RowList &) = default;
};

// A row list held in memory, for the headless mode and the tests.
class StringRowList final : public RowList
{
public:
    StringRowList() = default;
    explicit StringRowList(QStringList rows) : m_rows(std::move(rows)) {}

    void AddItem(const QString &row) override { m_rows.append(row); }
    [[nodiscard]] int ListCount() const override { return int(m_rows.size()); }
    [[nodiscard]] QString List(int index) const override { return m_rows.value(index); }
    void RemoveItem(int index) override;
    void addItems(QStringList rows) override;
    [[nodiscard]] QStringList allRows() const override { return m_rows; }

    [[nodiscard]] const QStringList &rows() const { return m_rows; }
    void clear() { m_rows.clear(); }

private:
    QStringList m_rows;
};
