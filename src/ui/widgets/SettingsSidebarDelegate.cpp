#include "SettingsSidebarDelegate.h"

#include "supervision/ServerStatus.h"
#include "ui/logic/ServerRowPresentation.h"
#include "ui/logic/SettingsText.h"
#include "ui/logic/Tone.h"
#include "ui/models/ServerListModel.h"
#include "ui/widgets/Glyph.h"
#include "ui/widgets/WindowFonts.h"

#include <QApplication>
#include <QPainter>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int padding = 10;
constexpr int glyphSize = 15;
constexpr int spacing = 8;

} // namespace

QSize SettingsSidebarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (RowKind(index.data(KindRole).toInt()) == RowKind::heading)
        return QSize(option.rect.width(), QFontMetrics(WindowFonts::sectionTitle()).height() + 16);
    return QSize(option.rect.width(), std::max(26, option.fontMetrics.height() + 10));
}

void SettingsSidebarDelegate::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto kind = RowKind(index.data(KindRole).toInt());
    const QPalette& colours = option.palette;
    const QRect box = option.rect.adjusted(padding, 0, -padding, 0);
    painter->save();
    if (kind == RowKind::heading) {
        painter->setFont(WindowFonts::sectionTitle());
        painter->setPen(colorFor(Tone::secondary, colours));
        painter->drawText(box.adjusted(0, 0, 0, -3), Qt::AlignLeft | Qt::AlignBottom, index.data().toString());
        painter->restore();
        return;
    }

    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = colours.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QString title;
    QString glyph;
    QColor ink = text;
    if (kind == RowKind::pane) {
        title = index.data().toString();
        glyph = index.data(GlyphRole).toString();
    } else {
        title = ServerRowPresentation::singleLine(
            SettingsText::serverTitle(index.data(ServerListModel::NameRole).toString()));
        glyph = u"server"_s;
        const bool running = ServerStatus(index.data(ServerListModel::StatusRole).toInt()) == ServerStatus::running;
        ink = running ? colorFor(Tone::running, colours) : (selected ? text : colorFor(Tone::secondary, colours));
    }
    const qreal ratio = painter->device()->devicePixelRatioF();
    painter->drawPixmap(box.left(), box.center().y() - glyphSize / 2 + 1, Glyph::pixmap(glyph, glyphSize, ink, ratio));
    const QRect textBox(box.left() + glyphSize + spacing, box.top(), box.width() - glyphSize - spacing, box.height());
    painter->setPen(text);
    painter->setFont(option.font);
    painter->drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
        option.fontMetrics.elidedText(title, Qt::ElideRight, std::max(0, textBox.width())));
    painter->restore();
}

} // namespace Wardlamp
