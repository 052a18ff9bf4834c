#pragma once

#include <QListView>

namespace Wardlamp {

// The list of a window's sidebar. Unlike a plain QListView it never chooses
// another row by itself when the selected row goes away (a removed server
// must not move the selection to its neighbour): the selection simply ends,
// and the window decides what to show.
class SidebarList : public QListView {
    Q_OBJECT

public:
    explicit SidebarList(QWidget* parent = nullptr);

protected:
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
};

} // namespace Wardlamp
