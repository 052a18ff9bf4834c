#pragma once

#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace Wardlamp {

class ToggleSwitch;

// A section of a settings pane: its title (if any) above a rounded card that
// holds the section's rows.
class FormSection : public QWidget {
    Q_OBJECT

public:
    FormSection(const QString& title, QWidget* parent = nullptr);

    QVBoxLayout* rows() const { return m_rows; }
    QWidget* card() const { return m_card; }

private:
    QWidget* m_card;
    QVBoxLayout* m_rows;
};

// The pieces every pane is made of.
class SettingsForm {
public:
    // A pane: its title, then the sections, scrolling when the window is small.
    // Sections go into the returned layout.
    static QVBoxLayout* makePane(QWidget* pane, const QString& title);
    // A note under a control: caption size, secondary colour, wrapped, with
    // `inline code` shown monospaced; links are not followed.
    static QLabel* makeNote(const QString& text, QWidget* parent);
    // A toggle row: the title (with the note below it, when given) on the left,
    // the switch on the right; the switch's accessible name is the title.
    static ToggleSwitch* addToggleRow(
        QVBoxLayout* rows, const QString& title, const QString& note, const QString& objectName);
};

} // namespace Wardlamp
