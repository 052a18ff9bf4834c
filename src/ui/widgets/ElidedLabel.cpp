#include "ElidedLabel.h"

#include <QPainter>

namespace Wardlamp {

ElidedLabel::ElidedLabel(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void ElidedLabel::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

QString ElidedLabel::shownText() const
{
    // No row is wide enough for more than a few hundred characters: lay out
    // only those, however long the text is.
    constexpr qsizetype enough = 400;
    QString text = m_text;
    if (text.size() > enough) {
        qsizetype cut = enough;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;
        text = text.left(cut) + QChar(0x2026);
    }
    return fontMetrics().elidedText(text, Qt::ElideRight, width());
}

QSize ElidedLabel::sizeHint() const
{
    return QSize(fontMetrics().averageCharWidth() * 8, fontMetrics().height());
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, fontMetrics().height());
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(m_color.isValid() ? m_color : palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
}

} // namespace Wardlamp
