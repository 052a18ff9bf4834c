#pragma once

#include <QAbstractButton>

namespace Wardlamp {

// A command row of the panel ("View Logs…", "Settings…", "Quit Wardlamp"): a
// 16 px symbol and the title across the whole width, highlighted in the
// accent colour while the pointer is over it or it has keyboard focus. Click,
// Space or Enter runs it.
class MenuButton : public QAbstractButton {
    Q_OBJECT

public:
    MenuButton(const QString& title, const QString& glyph, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool isHighlighted() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_glyph;
    bool m_hovering = false;
};

} // namespace Wardlamp
