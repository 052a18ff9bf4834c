#pragma once

#include "ui/logic/Tone.h"

#include <QWidget>

namespace Wardlamp {

// A server's status as a 9 px dot: its tone's colour, with a faint rim in the
// text colour so a grey dot still shows on a grey row.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(QWidget* parent = nullptr);

    void setTone(Tone tone);
    Tone tone() const { return m_tone; }
    // The colour the dot is painted in, for tests and the menu's icons.
    QColor color() const { return colorFor(m_tone, palette()); }

    // The dot as an image, for places that take icons (the tray menu).
    static QPixmap pixmap(Tone tone, const QPalette& palette, qreal devicePixelRatio, int size = 9);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone m_tone = Tone::secondary;
};

} // namespace Wardlamp
