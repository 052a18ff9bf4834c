#include "SettingsForm.h"

#include "ui/logic/SettingsText.h"
#include "ui/logic/Tone.h"
#include "ui/widgets/ToggleSwitch.h"
#include "ui/widgets/WindowFonts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// The rounded, slightly raised background of a section's rows.
class Card : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool dark = isDarkPalette(palette());
        QColor fill = palette().color(QPalette::Base);
        if (dark)
            fill = palette().color(QPalette::Window).lighter(125);
        QColor border = palette().color(QPalette::Mid);
        border.setAlphaF(0.5f);
        painter.setPen(QPen(border, 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

} // namespace

FormSection::FormSection(const QString& title, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!title.isEmpty()) {
        auto* heading = new QLabel(title, this);
        heading->setTextFormat(Qt::PlainText);
        heading->setFont(WindowFonts::sectionTitle());
        heading->setContentsMargins(4, 0, 0, 0);
        heading->setAccessibleName(title);
        layout->addWidget(heading);
    }
    m_card = new Card(this);
    m_rows = new QVBoxLayout(m_card);
    m_rows->setContentsMargins(12, 10, 12, 10);
    m_rows->setSpacing(8);
    layout->addWidget(m_card);
    setAccessibleName(title);
}

QVBoxLayout* SettingsForm::makePane(QWidget* pane, const QString& title)
{
    auto* outer = new QVBoxLayout(pane);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(pane);
    scroll->setObjectName(u"paneScroll"_s);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    content->setObjectName(u"paneContent"_s);
    content->setBackgroundRole(QPalette::Window);
    scroll->setWidget(content);
    scroll->viewport()->setBackgroundRole(QPalette::Window);
    outer->addWidget(scroll);

    auto* sections = new QVBoxLayout(content);
    sections->setContentsMargins(20, 16, 20, 20);
    sections->setSpacing(16);
    auto* heading = new QLabel(title, content);
    heading->setObjectName(u"paneTitle"_s);
    heading->setTextFormat(Qt::PlainText);
    QFont headingFont = WindowFonts::headline();
    if (headingFont.pointSizeF() > 0)
        headingFont.setPointSizeF(headingFont.pointSizeF() * 1.3);
    heading->setFont(headingFont);
    sections->addWidget(heading);
    pane->setAccessibleName(title);
    return sections;
}

QLabel* SettingsForm::makeNote(const QString& text, QWidget* parent)
{
    auto* note = new QLabel(parent);
    note->setTextFormat(Qt::RichText);
    note->setText(SettingsText::noteHtml(text));
    note->setWordWrap(true);
    note->setFont(WindowFonts::caption());
    note->setOpenExternalLinks(false);
    note->setTextInteractionFlags(Qt::NoTextInteraction);
    QPalette colours = note->palette();
    colours.setColor(QPalette::WindowText, colorFor(Tone::secondary, colours));
    note->setPalette(colours);
    note->setAccessibleName(text);
    return note;
}

ToggleSwitch* SettingsForm::addToggleRow(
    QVBoxLayout* rows, const QString& title, const QString& note, const QString& objectName)
{
    QWidget* card = rows->parentWidget();
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* label = new QLabel(title, card);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    texts->addWidget(label);
    if (!note.isEmpty())
        texts->addWidget(makeNote(note, card));
    row->addLayout(texts, 1);
    auto* toggle = new ToggleSwitch(QString(), card);
    toggle->setObjectName(objectName);
    toggle->setAccessibleName(title);
    label->setBuddy(toggle);
    row->addWidget(toggle, 0, Qt::AlignTop);
    rows->addLayout(row);
    return toggle;
}

} // namespace Wardlamp
