#pragma once

#include <QStyledItemDelegate>

namespace Wardlamp {

// The settings sidebar's rows: a pane (glyph and label), the "Servers"
// heading, or a server (its glyph, green while it runs, and its name or
// "Untitled").
class SettingsSidebarDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // Roles of the sidebar's own rows.
    enum Role {
        KindRole = Qt::UserRole + 100, // RowKind as int; servers' rows have none
        GlyphRole,
    };
    enum class RowKind { pane = 1, heading };

    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace Wardlamp
