#pragma once

#include <QWidget>

namespace Wardlamp {

// What an empty detail area shows: a large glyph in the secondary colour and
// a title below it, centred ("No server selected", "Select a server").
class PlaceholderView : public QWidget {
    Q_OBJECT

public:
    PlaceholderView(const QString& glyph, const QString& title, QWidget* parent = nullptr);

    QString title() const { return m_title; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_glyph;
    QString m_title;
};

} // namespace Wardlamp
