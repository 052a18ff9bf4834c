#pragma once

#include <QStyledItemDelegate>

namespace Wardlamp {

// A server's row in the log window's sidebar (over ServerListModel): an 8 px
// dot in the colour of its status, its name (or command) on one line, and a
// red warning mark while it has an error; dot and mark are independent.
class LogsSidebarDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int dotSize = 8;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace Wardlamp
