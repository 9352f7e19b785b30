#pragma once

#include "catalogue/catalogue.h"
#include "platform/rowlist.h"

// The catalogue of a data folder with the two row lists it keeps, as the
// program holds it. Not copied or moved: the catalogue refers to the lists.
struct CatalogueFixture
{
    explicit CatalogueFixture(const DataFolder &folder) : catalogue(descriptions, addresses, folder) {}
    CatalogueFixture(const CatalogueFixture &) = delete;
    CatalogueFixture &operator=(const CatalogueFixture &) = delete;

    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue;
};
