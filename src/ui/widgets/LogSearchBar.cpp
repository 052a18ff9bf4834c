#include "LogSearchBar.h"

#include "ui/logic/Tone.h"
#include "ui/models/LogSearch.h"
#include "ui/models/LogWindowModel.h"
#include "ui/widgets/GlyphButton.h"
#include "ui/widgets/WindowFonts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace Wardlamp {

using namespace Qt::StringLiterals;

LogSearchBar::LogSearchBar(LogWindowModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_field(new QLineEdit(this))
    , m_count(new QLabel(this))
    , m_previous(new GlyphButton(this))
    , m_next(new GlyphButton(this))
    , m_errorsOnly(new QCheckBox(u"Errors only"_s, this))
    , m_close(new GlyphButton(this))
{
    setObjectName(u"searchBar"_s);
    m_field->setObjectName(u"searchField"_s);
    m_field->setPlaceholderText(u"Search"_s);
    m_field->setAccessibleName(u"Search the log"_s);
    m_field->setClearButtonEnabled(true);
    m_field->installEventFilter(this);
    m_count->setObjectName(u"matchCountLabel"_s);
    m_count->setFont(WindowFonts::caption());
    m_count->setAccessibleName(u"Matches"_s);
    m_count->setTextFormat(Qt::PlainText);
    m_count->setMinimumWidth(QFontMetrics(m_count->font()).horizontalAdvance(u"No matches"_s));
    m_previous->setObjectName(u"previousMatchButton"_s);
    m_previous->setGlyph(u"chevron-up"_s);
    m_previous->setDescription(u"Previous match (Shift+Enter)"_s);
    m_next->setObjectName(u"nextMatchButton"_s);
    m_next->setGlyph(u"chevron-down"_s);
    m_next->setDescription(u"Next match (Enter)"_s);
    m_errorsOnly->setObjectName(u"errorsOnlyCheck"_s);
    m_errorsOnly->setAccessibleName(u"Errors only"_s);
    m_close->setObjectName(u"closeSearchButton"_s);
    m_close->setGlyph(u"close"_s);
    m_close->setDescription(u"Close search (Escape)"_s);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 0, 8, 6);
    row->setSpacing(6);
    row->addWidget(m_field, 1);
    row->addWidget(m_count);
    row->addWidget(m_previous);
    row->addWidget(m_next);
    row->addSpacing(6);
    row->addWidget(m_errorsOnly);
    row->addWidget(m_close);

    LogSearch& search = m_model.search();
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString& text) { m_model.search().setQuery(text); });
    connect(m_previous, &QToolButton::clicked, &search, &LogSearch::previous);
    connect(m_next, &QToolButton::clicked, &search, &LogSearch::next);
    connect(m_errorsOnly, &QCheckBox::toggled, this, [this](bool on) { m_model.setErrorsOnly(on); });
    connect(&m_model, &LogWindowModel::errorsOnlyChanged, m_errorsOnly, &QCheckBox::setChecked);
    connect(m_close, &QToolButton::clicked, this, &LogSearchBar::close);
    connect(&search, &LogSearch::changed, this, &LogSearchBar::updateCount);
    updateCount();
    hide();
}

void LogSearchBar::open()
{
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void LogSearchBar::close()
{
    m_field->clear();
    m_model.setErrorsOnly(false);
    hide();
    Q_EMIT closed();
}

void LogSearchBar::updateCount()
{
    const LogSearch& search = m_model.search();
    m_count->setText(search.countText());
    const bool any = search.count() > 0;
    m_previous->setEnabled(any);
    m_next->setEnabled(any);
    const bool none = !search.query().isEmpty() && !any;
    m_count->setStyleSheet(none ? u"color: %1"_s.arg(colorFor(Tone::error, palette()).name()) : QString());
}

bool LogSearchBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                m_model.search().previous();
            else
                m_model.search().next();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            close();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace Wardlamp
