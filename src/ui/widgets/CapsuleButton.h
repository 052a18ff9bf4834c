#pragma once

#include "ui/logic/Tone.h"

#include <QAbstractButton>

namespace Wardlamp {

// A row's Start/Stop button: a small filled capsule in its tone (green Start,
// red Stop) with a white symbol and caption, at least 56 px wide. A ring shows
// keyboard focus; Space or Enter clicks it.
class CapsuleButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CapsuleButton(QWidget* parent = nullptr);

    void setLook(const QString& text, const QString& glyph, Tone tone);
    Tone tone() const { return m_tone; }
    QString glyph() const { return m_glyph; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString m_glyph;
    Tone m_tone = Tone::running;
};

} // namespace Wardlamp
