#pragma once

#include "ui/logic/Tone.h"

#include <QToolButton>

#include <optional>

namespace Wardlamp {

// A small flat button that shows one of our glyphs, in the text colour or a
// tone (the green Start, the red Stop), crisp at any scale, redrawn when
// the palette changes. The tooltip says what it does; the accessible name
// is the same text unless set otherwise.
class GlyphButton : public QToolButton {
    Q_OBJECT

public:
    explicit GlyphButton(QWidget* parent = nullptr);

    void setGlyph(const QString& glyph, std::optional<Tone> tone = std::nullopt);
    QString glyph() const { return m_glyph; }
    std::optional<Tone> tone() const { return m_tone; }
    // Sets the tooltip and the accessible name together.
    void setDescription(const QString& text);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();

    QString m_glyph;
    std::optional<Tone> m_tone;
};

} // namespace Wardlamp
