#pragma once

#include <QAbstractButton>

namespace Wardlamp {

// A row's tunnel link: the link symbol and the host in the link colour,
// underlined while hovered; the text is elided to the width it gets. Click,
// Space or Enter activates it.
class LinkButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit LinkButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace Wardlamp
