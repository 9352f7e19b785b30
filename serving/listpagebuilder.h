#pragma once

#include <QStringList>

class RowList;

// Cuts the descriptions into the numbered pages that "send list" sends: rows 0 to 20
// on the first page, twenty rows on every later one, each row as CR, its number,
// ") " and its description. An empty catalogue gives one empty page.
class ListPageBuilder final
{
public:
    // Replaces every page with the pages of the descriptions as they are now.
    static void BuildList(const RowList &descriptions, QStringList &pages);

    // Appends one empty page, keeping the pages already there.
    static void BuildList2(QStringList &pages);

    static constexpr int PageRows = 20;
};
