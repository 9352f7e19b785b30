#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class StringRowList;

// The text of UTF-8 bytes with every character kept: a byte-order mark at the
// start of a row is a character of the row, which QString::fromUtf8 would drop.
[[nodiscard]] QString textOfUtf8(QByteArrayView utf8);

// The few operations the program needs of a list of text rows: the catalogue
// lists on the main window and the plain lists of the headless server both offer them.
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
    // The rows as they are now, kept whatever happens to this list later.
    [[nodiscard]] virtual StringRowList snapshot() const;
    // Replaces every row with these.
    virtual void setRows(const StringRowList &rows);

protected:
    RowList() = default;
    RowList(const RowList &) = default;
    RowList &operator=(const RowList &) = default;
};

// A row list held in memory, for the headless server, the list pages and the
// tests. The rows are kept as UTF-8 in one block with the end of every row, so
// a catalogue costs about what its files do; copies share the block until one
// of them changes.
class StringRowList final : public RowList
{
public:
    StringRowList() = default;
    explicit StringRowList(const QStringList &rows);

    void AddItem(const QString &row) override;
    [[nodiscard]] int ListCount() const override { return int(m_ends.size()); }
    [[nodiscard]] QString List(int index) const override;
    void RemoveItem(int index) override;
    [[nodiscard]] StringRowList snapshot() const override { return *this; }
    void setRows(const StringRowList &rows) override { *this = rows; }

    // The UTF-8 bytes of a row, without a copy while this list lives unchanged.
    [[nodiscard]] QByteArrayView utf8(int index) const;
    // Appends a row given as UTF-8 (the caller knows it is valid).
    void appendUtf8(QByteArrayView row);
    void clear();

    friend bool operator==(const StringRowList &a, const StringRowList &b)
    {
        return a.m_ends == b.m_ends && a.m_text == b.m_text;
    }

private:
    [[nodiscard]] qsizetype start(int index) const { return index == 0 ? 0 : m_ends[index - 1]; }

    QByteArray m_text;
    QList<qsizetype> m_ends;
};
