#include "ui/AlignColumns.h"

#include <algorithm>

#include <QGridLayout>
#include <QWidget>

void align_label_columns(QWidget* page)
{
    const QList<QGridLayout*> grids = page->findChildren<QGridLayout*>();
    int width = 0;
    for (QGridLayout* grid : grids)
        for (int row = 0; row < grid->rowCount(); ++row)
            if (QLayoutItem* item = grid->itemAtPosition(row, 0); item && item->widget())
                width = std::max(width, item->widget()->sizeHint().width());
    for (QGridLayout* grid : grids) {
        grid->setColumnMinimumWidth(0, width);
        // spare width goes to the fields, never to the labels
        bool stretched = false;
        for (int column = 0; column < grid->columnCount(); ++column)
            stretched = stretched || grid->columnStretch(column) > 0;
        if (!stretched && grid->columnCount() > 1)
            grid->setColumnStretch(1, 1);
    }
}
