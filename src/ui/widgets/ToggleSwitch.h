#pragma once

#include <QAbstractButton>

namespace Wardlamp {

// An on/off switch: a rounded track with a knob, green when on, with its
// label (if any) on the left. Checkable; Space toggles it; the label is its
// accessible name. `small` makes the compact kind the log header uses.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(const QString& label = QString(), QWidget* parent = nullptr);

    void setSmall(bool small);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
    void changeEvent(QEvent* event) override;

private:
    QSize trackSize() const;

    bool m_small = false;
};

} // namespace Wardlamp
