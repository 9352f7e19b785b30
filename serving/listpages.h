#pragma once

#include "platform/rowlist.h"

#include <QStringList>

// The numbered pages that "send list" sends, made from the descriptions as they
// were at the last build: rows 0 to 20 on the first page, twenty rows on every
// later one, each row as CR, its number, ") " and its description. A page's
// text is made when it is sent, so the pages hold no second copy of the
// catalogue; a copy of the pages keeps the rows it was made with, whatever is
// built later. No rows give one empty page.
class ListPageSet final
{
public:
    // A single empty page: the pages before the first build.
    ListPageSet() = default;
    // The pages of these descriptions.
    explicit ListPageSet(StringRowList descriptions);

    static constexpr int FirstPageRows = 21;
    static constexpr int PageRows = 20;

    [[nodiscard]] int size() const;
    // The text of a page counted from 0; empty text for a page that does not exist.
    [[nodiscard]] QString at(int page) const;
    // Every page's text, in order.
    [[nodiscard]] QStringList texts() const;

    // Appends one empty page, keeping the pages already there.
    void appendEmptyPage() { ++m_emptyPagesAfter; }

    friend bool operator==(const ListPageSet &a, const ListPageSet &b)
    {
        return a.m_emptyPagesAfter == b.m_emptyPagesAfter && a.m_rows == b.m_rows;
    }

private:
    [[nodiscard]] int rowPages() const;

    StringRowList m_rows;
    int m_emptyPagesAfter = 0;
};
