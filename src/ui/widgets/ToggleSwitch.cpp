#include "ToggleSwitch.h"

#include "ui/logic/Tone.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace Wardlamp {

namespace {

constexpr int labelGap = 8;

} // namespace

ToggleSwitch::ToggleSwitch(const QString& label, QWidget* parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setText(label);
    setAccessibleName(label);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ToggleSwitch::setSmall(bool small)
{
    m_small = small;
    updateGeometry();
    update();
}

QSize ToggleSwitch::trackSize() const
{
    return m_small ? QSize(26, 15) : QSize(36, 20);
}

QSize ToggleSwitch::sizeHint() const
{
    const QSize track = trackSize();
    if (text().isEmpty())
        return track + QSize(4, 4);
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + labelGap + track.width() + 4,
        std::max(metrics.height(), track.height()) + 4);
}

QSize ToggleSwitch::minimumSizeHint() const
{
    return sizeHint();
}

bool ToggleSwitch::hitButton(const QPoint& position) const
{
    return rect().contains(position);
}

void ToggleSwitch::changeEvent(QEvent* event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateGeometry();
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const QSize track = trackSize();
    const QRectF box(width() - track.width() - 2, (height() - track.height()) / 2.0, track.width(), track.height());

    if (!text().isEmpty()) {
        painter.setPen(colours.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(QRectF(0, 0, box.left() - labelGap, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

    QColor fill = isChecked() ? colorFor(Tone::running, colours) : colours.color(QPalette::Mid);
    if (!isEnabled())
        fill.setAlphaF(0.45f);
    QPainterPath path;
    path.addRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.fillPath(path, fill);
    if (hasFocus()) {
        painter.setPen(QPen(colours.color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.adjusted(-1.5, -1.5, 1.5, 1.5), box.height() / 2 + 1.5, box.height() / 2 + 1.5);
    }
    const qreal knob = box.height() - 4;
    const qreal x = isChecked() ? box.right() - 2 - knob : box.left() + 2;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, box.top() + 2, knob, knob));
}

} // namespace Wardlamp
