#include "LogsSidebarDelegate.h"

#include "supervision/ServerConfig.h"
#include "supervision/ServerStatus.h"
#include "ui/logic/ServerRowPresentation.h"
#include "ui/logic/Tone.h"
#include "ui/models/ServerListModel.h"
#include "ui/widgets/Glyph.h"
#include "ui/widgets/WindowFonts.h"

#include <QApplication>
#include <QPainter>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int padding = 8;
constexpr int spacing = 8;

} // namespace

QSize LogsSidebarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return QSize(option.rect.width(), std::max(24, option.fontMetrics.height() + 10));
}

void LogsSidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    const auto status = ServerStatus(index.data(ServerListModel::StatusRole).toInt());
    const bool hasError = index.data(ServerListModel::HasErrorRole).toBool();
    const QString title = ServerRowPresentation::singleLine(index.data(ServerListModel::TitleRole).toString());
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& colours = option.palette;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect box = option.rect.adjusted(padding, 0, -padding, 0);
    const Tone dot = ServerRowPresentation::describe(ServerConfig(), status).dotTone;
    painter->setPen(Qt::NoPen);
    painter->setBrush(colorFor(dot, colours));
    painter->drawEllipse(QRectF(box.left(), box.center().y() - dotSize / 2.0 + 0.5, dotSize, dotSize));

    int right = box.right();
    if (hasError) {
        const int mark = std::max(10, int(WindowFonts::caption().pointSizeF() * 1.3));
        const QPixmap warning
            = Glyph::pixmap(u"warning"_s, mark, colorFor(Tone::error, colours), painter->device()->devicePixelRatioF());
        painter->drawPixmap(right - mark + 1, box.center().y() - mark / 2 + 1, warning);
        right -= mark + spacing;
    }
    const QRect text(box.left() + dotSize + spacing, box.top(), right - box.left() - dotSize - spacing, box.height());
    painter->setPen(colours.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
        option.fontMetrics.elidedText(title, Qt::ElideRight, std::max(0, text.width())));
    painter->restore();
}

} // namespace Wardlamp
