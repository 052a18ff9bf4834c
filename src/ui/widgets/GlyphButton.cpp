#include "GlyphButton.h"

#include "ui/widgets/Glyph.h"

#include <QEvent>

namespace Wardlamp {

namespace {

constexpr int glyphSize = 16;

} // namespace

GlyphButton::GlyphButton(QWidget* parent)
    : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::StrongFocus);
    setIconSize(QSize(glyphSize, glyphSize));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void GlyphButton::setGlyph(const QString& glyph, std::optional<Tone> tone)
{
    if (glyph == m_glyph && tone == m_tone)
        return;
    m_glyph = glyph;
    m_tone = tone;
    updateIcon();
}

void GlyphButton::setDescription(const QString& text)
{
    setToolTip(text);
    setAccessibleName(text);
}

void GlyphButton::updateIcon()
{
    if (m_glyph.isEmpty())
        return;
    const QPalette& colours = palette();
    const QColor normal = m_tone ? colorFor(*m_tone, colours) : colours.color(QPalette::ButtonText);
    QColor disabled = colours.color(QPalette::Disabled, QPalette::ButtonText);
    if (m_tone)
        disabled.setAlphaF(0.45f);
    // At the common scales and the current one, so a move to another screen
    // finds a crisp one.
    QIcon icon;
    for (const qreal ratio : { 1.0, 2.0, devicePixelRatioF() }) {
        icon.addPixmap(Glyph::pixmap(m_glyph, glyphSize, normal, ratio), QIcon::Normal);
        icon.addPixmap(Glyph::pixmap(m_glyph, glyphSize, disabled, ratio), QIcon::Disabled);
    }
    setIcon(icon);
}

void GlyphButton::changeEvent(QEvent* event)
{
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        updateIcon();
}

} // namespace Wardlamp
