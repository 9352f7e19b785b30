#pragma once

class ListPageSet;
class RowList;

// Builds the list pages that "send list" sends from the descriptions.
class ListPageBuilder final
{
public:
    // Replaces every page with the pages of the descriptions as they are now.
    static void BuildList(const RowList &descriptions, ListPageSet &pages);

    // Appends one empty page, keeping the pages already there.
    static void BuildList2(ListPageSet &pages);
};
