#include "MenuButton.h"

#include "ui/widgets/Glyph.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace Wardlamp {

namespace {

constexpr int horizontalPadding = 8;
constexpr int verticalPadding = 5;
constexpr int glyphFrame = 16;
constexpr int spacing = 8;

} // namespace

MenuButton::MenuButton(const QString& title, const QString& glyph, QWidget* parent)
    : QAbstractButton(parent)
    , m_glyph(glyph)
{
    setText(title);
    setAccessibleName(title);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize MenuButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(horizontalPadding * 2 + glyphFrame + spacing + metrics.horizontalAdvance(text()),
        qMax(glyphFrame, metrics.height()) + verticalPadding * 2);
}

QSize MenuButton::minimumSizeHint() const
{
    return sizeHint();
}

bool MenuButton::isHighlighted() const
{
    return m_hovering || hasFocus();
}

void MenuButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isHighlighted()) {
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlphaF(isDown() ? 0.3f : 0.15f);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 5, 5);
        painter.fillPath(shape, fill);
    }
    const QColor ink = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    const int glyphTop = (height() - glyphFrame) / 2;
    painter.drawPixmap(horizontalPadding, glyphTop, Glyph::pixmap(m_glyph, glyphFrame, ink, devicePixelRatioF()));
    painter.setPen(ink);
    const QRect textBox = rect().adjusted(horizontalPadding + glyphFrame + spacing, 0, -horizontalPadding, 0);
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

void MenuButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void MenuButton::enterEvent(QEnterEvent* event)
{
    m_hovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void MenuButton::leaveEvent(QEvent* event)
{
    m_hovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace Wardlamp
