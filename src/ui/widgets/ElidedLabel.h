#pragma once

#include <QWidget>

namespace Wardlamp {

// One line of plain text (never read as markup), elided at the end to the
// width the layout gives it. Its size hint asks for no particular width, so
// a 10,000-character name cannot widen the panel.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    // The text as painted at the current width.
    QString shownText() const;
    void setColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QColor m_color;
};

} // namespace Wardlamp
