#include "LinkButton.h"

#include "ui/logic/Tone.h"
#include "ui/widgets/Glyph.h"
#include "ui/widgets/PanelFonts.h"

#include <QKeyEvent>
#include <QPainter>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int gap = 3;

int glyphSize(const QFontMetrics& metrics)
{
    return qMax(8, metrics.ascent() - 1);
}

} // namespace

LinkButton::LinkButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setFont(PanelFonts::captionTwo());
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(glyphSize(metrics) + gap + metrics.horizontalAdvance(text()) + 2, metrics.height());
}

QSize LinkButton::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(glyphSize(metrics) + gap + metrics.horizontalAdvance(u'…') + 2, metrics.height());
}

void LinkButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor ink = colorFor(Tone::link, palette());
    const QFontMetrics metrics(font());
    const int glyph = glyphSize(metrics);
    painter.drawPixmap(0, (height() - glyph) / 2, Glyph::pixmap(u"link"_s, glyph, ink, devicePixelRatioF()));
    QFont shown = font();
    shown.setUnderline(underMouse() || hasFocus());
    painter.setFont(shown);
    painter.setPen(ink);
    const QRect textBox(glyph + gap, 0, width() - glyph - gap, height());
    painter.drawText(
        textBox, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(text(), Qt::ElideRight, textBox.width()));
}

void LinkButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

} // namespace Wardlamp
