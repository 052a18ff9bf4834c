#include "SidebarList.h"

namespace Wardlamp {

SidebarList::SidebarList(QWidget* parent)
    : QListView(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void SidebarList::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    // QAbstractItemView would make the next row current, and so selected.
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.parent() == parent && current.row() >= start && current.row() <= end)
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    QListView::rowsAboutToBeRemoved(parent, start, end);
}

} // namespace Wardlamp
