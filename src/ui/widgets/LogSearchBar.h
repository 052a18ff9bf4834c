#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace Wardlamp {

class GlyphButton;
class LogSearch;
class LogWindowModel;

// The log window's search, under the header: the text to find, "3 of 41",
// previous and next (Shift+Enter and Enter in the field), "Errors only", and
// close (Escape), which clears the search and the filter. Forwards to the
// window's model and shows what it says.
class LogSearchBar : public QWidget {
    Q_OBJECT

public:
    explicit LogSearchBar(LogWindowModel& model, QWidget* parent = nullptr);

    // Shows the bar and puts the keyboard in its field, all of its text selected.
    void open();
    // Hides the bar; no search text, no filter.
    void close();

    QLineEdit* field() const { return m_field; }

Q_SIGNALS:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateCount();

    LogWindowModel& m_model;
    QLineEdit* m_field;
    QLabel* m_count;
    GlyphButton* m_previous;
    GlyphButton* m_next;
    QCheckBox* m_errorsOnly;
    GlyphButton* m_close;
};

} // namespace Wardlamp
