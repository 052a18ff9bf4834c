#include "CapsuleButton.h"

#include "ui/widgets/Glyph.h"
#include "ui/widgets/PanelFonts.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace Wardlamp {

namespace {

constexpr int capsuleMinimumWidth = 56;
constexpr int glyphSize = 9;
constexpr int gap = 4;
constexpr int sidePadding = 9;

} // namespace

CapsuleButton::CapsuleButton(QWidget* parent)
    : QAbstractButton(parent)
{
    QFont font = PanelFonts::caption();
    font.setWeight(QFont::DemiBold);
    setFont(font);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CapsuleButton::setLook(const QString& text, const QString& glyph, Tone tone)
{
    if (text == this->text() && glyph == m_glyph && tone == m_tone)
        return;
    setText(text);
    m_glyph = glyph;
    m_tone = tone;
    updateGeometry();
    update();
}

QSize CapsuleButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = sidePadding * 2 + glyphSize + gap + metrics.horizontalAdvance(text());
    return QSize(qMax(capsuleMinimumWidth, width), metrics.height() + 6);
}

QSize CapsuleButton::minimumSizeHint() const
{
    return sizeHint();
}

void CapsuleButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = colorFor(m_tone, palette());
    if (isDown())
        fill = fill.darker(120);
    else if (underMouse())
        fill = fill.lighter(108);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath capsule;
    capsule.addRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.fillPath(capsule, fill);
    if (hasFocus()) {
        QColor ring = palette().color(QPalette::Highlight);
        painter.setPen(QPen(ring, 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), height() / 2.0, height() / 2.0);
    }

    const QFontMetrics metrics(font());
    const int contentWidth = glyphSize + gap + metrics.horizontalAdvance(text());
    const int left = (width() - contentWidth) / 2;
    const QColor ink(Qt::white);
    painter.drawPixmap(left, (height() - glyphSize) / 2, Glyph::pixmap(m_glyph, glyphSize, ink, devicePixelRatioF()));
    painter.setPen(ink);
    painter.drawText(QRect(left + glyphSize + gap, 0, width(), height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

void CapsuleButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

} // namespace Wardlamp
