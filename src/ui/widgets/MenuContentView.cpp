#include "MenuContentView.h"

#include "ui/logic/ServerRowPresentation.h"
#include "ui/logic/Tone.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/models/ServerSummary.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/Glyph.h"
#include "ui/widgets/MenuButton.h"
#include "ui/widgets/PanelFonts.h"
#include "ui/widgets/ServerRow.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QLabel* plainLabel(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

// The empty state's symbol, tinted in the secondary tone of the palette.
class TrayGlyph : public QLabel {
public:
    explicit TrayGlyph(QWidget* parent)
        : QLabel(parent)
    {
        setAlignment(Qt::AlignHCenter);
        refresh();
    }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ScreenChangeInternal)
            refresh();
        QLabel::changeEvent(event);
    }

private:
    void refresh()
    {
        setPixmap(Glyph::pixmap(u"tray"_s, 28, colorFor(Tone::secondary, palette()), devicePixelRatioF()));
    }
};

} // namespace

MenuContentView::MenuContentView(
    ServerListModel& servers, ServerSummary& summary, PanelCommands& commands, QWidget* parent)
    : QWidget(parent)
    , m_servers(servers)
    , m_summary(summary)
    , m_commands(commands)
    , m_header(new ElidedLabel(this))
    , m_emptyState(new QWidget(this))
    , m_scroll(new QScrollArea(this))
    , m_rowsHost(new QWidget)
    , m_rowsLayout(new QVBoxLayout(m_rowsHost))
{
    setObjectName(u"panelContent"_s);
    // Takes the focus when the panel opens, without showing a focus ring on
    // any control; Up, Down and Tab go on from here.
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(u"Wardlamp"_s);
    setAccessibleDescription(u"Your servers, with their state and Start and Stop buttons"_s);

    // 1. The header: "N running", or an empty row of the same height.
    auto* headerRow = new QWidget(this);
    auto* headerLayout = new QHBoxLayout(headerRow);
    headerLayout->setContentsMargins(12, 10, 12, 10);
    headerLayout->setSpacing(8);
    m_header->setObjectName(u"runningLabel"_s);
    m_header->setFont(PanelFonts::caption());
    headerLayout->addWidget(m_header);

    // 3. The servers, or the empty state.
    auto* emptyLayout = new QVBoxLayout(m_emptyState);
    emptyLayout->setContentsMargins(0, 24, 0, 24);
    emptyLayout->setSpacing(6);
    m_emptyState->setObjectName(u"emptyState"_s);
    emptyLayout->addWidget(new TrayGlyph(m_emptyState));
    QLabel* noServers = plainLabel(u"No servers yet"_s, PanelFonts::callout(), m_emptyState);
    noServers->setObjectName(u"emptyTitle"_s);
    emptyLayout->addWidget(noServers);
    QLabel* hint = plainLabel(u"Add one in Settings to get started."_s, PanelFonts::caption(), m_emptyState);
    hint->setObjectName(u"emptyHint"_s);
    hint->setForegroundRole(QPalette::PlaceholderText);
    emptyLayout->addWidget(hint);

    m_rowsLayout->setContentsMargins(6, 6, 6, 6);
    m_rowsLayout->setSpacing(2);
    m_rowsLayout->addStretch(1);
    m_scroll->setObjectName(u"serverList"_s);
    m_scroll->setAccessibleName(u"Servers"_s);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(m_rowsHost);
    m_scroll->setBackgroundRole(QPalette::Window);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_rowsHost->setAutoFillBackground(false);
    m_scroll->setFocusPolicy(Qt::NoFocus);

    // 5. The commands.
    auto* commandArea = new QWidget(this);
    auto* commandLayout = new QVBoxLayout(commandArea);
    commandLayout->setContentsMargins(6, 6, 6, 6);
    commandLayout->setSpacing(2);
    auto* logs = new MenuButton(u"View Logs…"_s, u"logs"_s, commandArea);
    logs->setObjectName(u"viewLogsButton"_s);
    logs->setAccessibleDescription(u"Opens the Server Logs window"_s);
    auto* settings = new MenuButton(u"Settings…"_s, u"settings"_s, commandArea);
    settings->setObjectName(u"settingsButton"_s);
    settings->setAccessibleDescription(u"Opens the Wardlamp Settings window"_s);
    auto* quit = new MenuButton(u"Quit Wardlamp"_s, u"power"_s, commandArea);
    quit->setObjectName(u"quitButton"_s);
    quit->setAccessibleDescription(u"Stops every server and quits"_s);
    m_commandButtons = { logs, settings, quit };
    commandLayout->addWidget(logs);
    commandLayout->addWidget(settings);
    auto* quitDividerBox = new QWidget(commandArea);
    auto* quitDividerLayout = new QVBoxLayout(quitDividerBox);
    quitDividerLayout->setContentsMargins(0, 2, 0, 2);
    quitDividerLayout->addWidget(divider(quitDividerBox));
    commandLayout->addWidget(quitDividerBox);
    commandLayout->addWidget(quit);
    connect(logs, &QAbstractButton::clicked, this, [this] {
        Q_EMIT commandChosen();
        m_commands.showLogs();
    });
    connect(settings, &QAbstractButton::clicked, this, [this] {
        Q_EMIT commandChosen();
        m_commands.showSettings();
    });
    connect(quit, &QAbstractButton::clicked, this, [this] {
        Q_EMIT commandChosen();
        m_commands.quit();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(headerRow);
    layout->addWidget(divider(this));
    layout->addWidget(m_emptyState);
    layout->addWidget(m_scroll);
    layout->addWidget(divider(this));
    layout->addWidget(commandArea);
    // The panel's width, whatever its content asks for; its height follows
    // the content.
    layout->addSpacerItem(new QSpacerItem(PanelLayout::width, 0, QSizePolicy::Fixed, QSizePolicy::Fixed));
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Up and Down move the focus; the scroll area would scroll with them instead.
    m_scroll->installEventFilter(this);

    connect(&m_servers, &QAbstractItemModel::rowsInserted, this, &MenuContentView::handleRowsInserted);
    connect(&m_servers, &QAbstractItemModel::rowsRemoved, this, &MenuContentView::handleRowsRemoved);
    connect(&m_servers, &QAbstractItemModel::rowsMoved, this, &MenuContentView::rebuildRows);
    connect(&m_servers, &QAbstractItemModel::modelReset, this, &MenuContentView::rebuildRows);
    connect(&m_servers, &QAbstractItemModel::layoutChanged, this, &MenuContentView::rebuildRows);
    connect(&m_servers, &QAbstractItemModel::dataChanged, this, &MenuContentView::handleDataChanged);
    connect(&m_summary, &ServerSummary::changed, this, &MenuContentView::updateHeader);
    connect(qApp, &QApplication::focusChanged, this, &MenuContentView::handleFocusChanged);

    rebuildRows();
    updateHeader();
}

ServerRow* MenuContentView::createRow(int row)
{
    auto* widget = new ServerRow(m_servers.serverAt(row).id, m_rowsHost);
    connect(widget, &ServerRow::toggleRequested, &m_commands, &PanelCommands::toggle);
    connect(widget, &ServerRow::linkRequested, &m_commands, &PanelCommands::openTunnel);
    return widget;
}

void MenuContentView::presentRow(int row)
{
    m_rows.at(row)->present(ServerRowPresentation::describe(m_servers.serverAt(row), m_servers.statusAt(row)));
}

void MenuContentView::rebuildRows()
{
    qDeleteAll(m_rows);
    m_rows.clear();
    const int count = m_servers.rowCount();
    for (int row = 0; row < count; ++row) {
        ServerRow* widget = createRow(row);
        m_rows.append(widget);
        m_rowsLayout->insertWidget(row, widget);
        presentRow(row);
    }
    updateListForm();
}

void MenuContentView::handleRowsInserted(const QModelIndex&, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        ServerRow* widget = createRow(row);
        m_rows.insert(row, widget);
        m_rowsLayout->insertWidget(row, widget);
        presentRow(row);
    }
    updateListForm();
}

void MenuContentView::handleRowsRemoved(const QModelIndex&, int first, int last)
{
    for (int row = last; row >= first; --row)
        delete m_rows.takeAt(row);
    updateListForm();
}

void MenuContentView::handleDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    for (int row = topLeft.row(); row <= bottomRight.row() && row < m_rows.size(); ++row)
        presentRow(row);
}

void MenuContentView::updateTabOrder()
{
    // Rows come and go after the commands were made: put them first again,
    // in the order they are shown.
    QList<QWidget*> chain { this };
    for (ServerRow* row : std::as_const(m_rows))
        chain.append(row->focusChain());
    chain.append(m_commandButtons);
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i), chain.at(i + 1));
}

void MenuContentView::updateListForm()
{
    updateTabOrder();
    m_form = PanelLayout::listForm(m_rows.size());
    m_emptyState->setVisible(m_form == PanelLayout::ListForm::empty);
    m_scroll->setVisible(m_form != PanelLayout::ListForm::empty);
    if (m_form == PanelLayout::ListForm::scrolling) {
        m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        m_scroll->setFixedHeight(PanelLayout::scrollHeight);
    } else if (m_form == PanelLayout::ListForm::natural) {
        m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_rowsLayout->activate();
        m_scroll->setFixedHeight(m_rowsHost->sizeHint().height());
    }
}

void MenuContentView::updateHeader()
{
    m_header->setText(PanelLayout::runningHeader(m_summary.runningCount()));
    m_header->setColor(colorFor(Tone::secondary, palette()));
    m_header->setAccessibleName(m_header->text().isEmpty() ? u"Nothing running"_s : m_header->text());
}

void MenuContentView::handleFocusChanged(QWidget*, QWidget* now)
{
    if (now && m_form == PanelLayout::ListForm::scrolling && m_rowsHost->isAncestorOf(now))
        m_scroll->ensureWidgetVisible(now, 0, 6);
}

void MenuContentView::showEvent(QShowEvent* event)
{
    // Moving the view into its window rebuilds the focus chain.
    updateTabOrder();
    QWidget::showEvent(event);
}

bool MenuContentView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scroll && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            focusNextPrevChild(key == Qt::Key_Down);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MenuContentView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) {
        focusNextPrevChild(event->key() == Qt::Key_Down);
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace Wardlamp
