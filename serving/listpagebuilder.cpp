#include "serving/listpagebuilder.h"

#include "serving/listpages.h"

#include "platform/rowlist.h"

void ListPageBuilder::BuildList(const RowList &descriptions, ListPageSet &pages)
{
    pages = ListPageSet(descriptions.snapshot());
}

void ListPageBuilder::BuildList2(ListPageSet &pages)
{
    pages.appendEmptyPage();
}
