#pragma once

class QListWidget;
class RowList;

// A list box shows rows it does not own (the core's catalogue): after a change
// it takes only the rows that differ, so an add or a removal moves one row and
// the selection behaves as a list box's own would.
void showRows(QListWidget *list, const RowList &rows);
