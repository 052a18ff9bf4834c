#include "ServerRow.h"

#include "ui/logic/MenuText.h"
#include "ui/widgets/CapsuleButton.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/LinkButton.h"
#include "ui/widgets/PanelFonts.h"
#include "ui/widgets/StatusDot.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// A tooltip that shows text exactly as written: as rich text with the text
// escaped, so markup in a name is never interpreted.
QString plainTooltip(const QString& text)
{
    return u"<qt>"_s + MenuText::elideMiddle(text, 300).toHtmlEscaped() + u"</qt>"_s;
}

} // namespace

ServerRow::ServerRow(const QUuid& id, QWidget* parent)
    : QWidget(parent)
    , m_id(id)
    , m_dot(new StatusDot(this))
    , m_title(new ElidedLabel(this))
    , m_status(new ElidedLabel(this))
    , m_link(new LinkButton(this))
    , m_button(new CapsuleButton(this))
{
    setObjectName(u"serverRow"_s);
    m_dot->setObjectName(u"statusDot"_s);
    m_title->setObjectName(u"titleLabel"_s);
    m_status->setObjectName(u"statusLabel"_s);
    m_link->setObjectName(u"tunnelLink"_s);
    m_button->setObjectName(u"startStopButton"_s);
    m_title->setFont(PanelFonts::title());
    m_status->setFont(PanelFonts::captionTwo());

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addWidget(m_title);
    texts->addWidget(m_status);
    texts->addWidget(m_link, 0, Qt::AlignLeft);

    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(10);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(m_dot, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    layout->addWidget(m_button, 0, Qt::AlignVCenter);

    connect(m_button, &QAbstractButton::clicked, this, [this] { Q_EMIT toggleRequested(m_id); });
    connect(m_link, &QAbstractButton::clicked, this, [this] { Q_EMIT linkRequested(m_id); });
}

void ServerRow::present(const ServerRowPresentation& presentation)
{
    if (presentation == m_presentation && !m_title->text().isNull())
        return;
    m_presentation = presentation;
    m_title->setText(presentation.title);
    m_title->setToolTip(presentation.title.isEmpty() ? QString() : plainTooltip(presentation.title));
    m_dot->setTone(presentation.dotTone);
    m_dot->setAccessibleName(presentation.statusWord);
    if (presentation.link) {
        m_link->setText(presentation.link->text);
        m_link->setToolTip(plainTooltip(presentation.link->tooltip));
        m_link->setAccessibleName(presentation.link->tooltip);
        m_link->setAccessibleDescription(u"Opens the tunnel address in the web browser"_s);
    }
    m_link->setVisible(presentation.link.has_value());
    m_status->setVisible(!presentation.link.has_value());
    m_status->setText(presentation.statusWord);
    m_button->setLook(presentation.buttonText, presentation.action == ServerAction::stop ? u"stop"_s : u"play"_s,
        presentation.buttonTone);
    m_button->setAccessibleName(presentation.buttonAccessibleName);
    m_button->setAccessibleDescription(
        presentation.action == ServerAction::stop ? u"Stops the server"_s : u"Starts the server"_s);
    setAccessibleName(presentation.accessibleName);
    setAccessibleDescription(presentation.accessibleDescription);
    applyColors();
}

QList<QWidget*> ServerRow::focusChain() const
{
    return { m_link, m_button };
}

void ServerRow::applyColors()
{
    m_status->setColor(colorFor(m_presentation.statusTone, palette()));
}

void ServerRow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}

void ServerRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.045f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 6, 6);
    painter.fillPath(shape, fill);
}

} // namespace Wardlamp
