#include "LogsView.h"

#include "ui/logic/ServerRowPresentation.h"
#include "ui/logic/Tone.h"
#include "ui/models/LogFilterModel.h"
#include "ui/models/LogSearch.h"
#include "ui/models/LogWindowModel.h"
#include "ui/models/ServerListModel.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/GlyphButton.h"
#include "ui/widgets/LogSearchBar.h"
#include "ui/widgets/LogView.h"
#include "ui/widgets/LogsSidebarDelegate.h"
#include "ui/widgets/PlaceholderView.h"
#include "ui/widgets/SidebarList.h"
#include "ui/widgets/ToggleSwitch.h"
#include "ui/widgets/WindowFonts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int sidebarMinimumWidth = 180;

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QToolButton* segment(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setAccessibleName(text);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setFont(WindowFonts::caption());
    return button;
}

} // namespace

LogsView::LogsView(
    ServerListModel& servers, ServerStore& store, ServerManager& manager, PanelCommands& commands, QWidget* parent)
    : QWidget(parent)
    , m_servers(servers)
    , m_model(std::make_unique<LogWindowModel>(store, manager, commands))
{
    setObjectName(u"logsView"_s);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(u"splitter"_s);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(buildSidebar());

    m_detail = new QStackedWidget(splitter);
    m_detail->setObjectName(u"detail"_s);
    m_placeholder = new PlaceholderView(u"logs"_s, u"No server selected"_s, m_detail);
    m_placeholder->setObjectName(u"noSelection"_s);
    m_detail->addWidget(m_placeholder);
    m_detail->addWidget(buildLogPage());
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 200, 560 });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        if (m_detail->currentWidget() == m_logPage)
            m_searchBar->open();
    });
    auto* clear = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(clear, &QShortcut::activated, this, [this] {
        if (m_clear->isEnabled() && m_detail->currentWidget() == m_logPage)
            clearLog();
    });

    LogWindowModel& model = *m_model;
    connect(&model, &LogWindowModel::selectionChanged, this, [this] {
        syncSidebarSelection();
        updateDetail();
    });
    connect(&model, &LogWindowModel::serverChanged, this, &LogsView::updateHeader);
    connect(&model, &LogWindowModel::runChanged, this, &LogsView::updateHeader);
    connect(&model, &LogWindowModel::autoScrollChanged, m_autoScroll, &ToggleSwitch::setChecked);
    connect(&model, &LogWindowModel::followRequested, this, [this] { m_log->scrollToBottom(true); });
    connect(&model.log(), &LogModel::linesChanged, this, &LogsView::updateEmptyText);
    connect(&model.log(), &QAbstractItemModel::modelReset, this, &LogsView::updateEmptyText);
    connect(&model, &LogWindowModel::errorsOnlyChanged, this, &LogsView::updateEmptyText);
    connect(&model.search(), &LogSearch::currentMoved, this, [this] {
        if (const auto match = m_model->search().current())
            m_log->scrollToSeq(match->seq);
    });
    connect(&m_servers, &QAbstractItemModel::rowsInserted, this, &LogsView::syncSidebarSelection);
    connect(&m_servers, &QAbstractItemModel::rowsRemoved, this, &LogsView::syncSidebarSelection);
    connect(&m_servers, &QAbstractItemModel::rowsMoved, this, &LogsView::syncSidebarSelection);
    connect(&m_servers, &QAbstractItemModel::modelReset, this, &LogsView::syncSidebarSelection);

    updateDetail();
}

LogsView::~LogsView()
{
    // The views let go of the models before the models go.
    m_log->setModel(nullptr);
    m_log->setSearch(nullptr);
}

QWidget* LogsView::buildSidebar()
{
    auto* sidebar = new QWidget(this);
    sidebar->setObjectName(u"sidebar"_s);
    sidebar->setMinimumWidth(sidebarMinimumWidth);
    auto* title = new QLabel(u"Servers"_s, sidebar);
    title->setObjectName(u"sidebarTitle"_s);
    title->setFont(WindowFonts::sectionTitle());
    title->setForegroundRole(QPalette::PlaceholderText);
    title->setContentsMargins(10, 8, 10, 4);
    m_sidebar = new SidebarList(sidebar);
    m_sidebar->setObjectName(u"serverList"_s);
    m_sidebar->setAccessibleName(u"Servers"_s);
    m_sidebar->setModel(&m_servers);
    m_sidebar->setItemDelegate(new LogsSidebarDelegate(m_sidebar));
    m_sidebar->setUniformItemSizes(true);
    m_sidebar->viewport()->setBackgroundRole(QPalette::Window);
    connect(
        m_sidebar->selectionModel(), &QItemSelectionModel::selectionChanged, this, &LogsView::handleSidebarSelection);

    auto* layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(title);
    layout->addWidget(m_sidebar, 1);
    return sidebar;
}

QWidget* LogsView::buildLogPage()
{
    m_logPage = new QWidget(m_detail);
    m_logPage->setObjectName(u"logPage"_s);

    m_title = new ElidedLabel(m_logPage);
    m_title->setObjectName(u"titleLabel"_s);
    m_title->setFont(WindowFonts::headline());

    m_currentRun = segment(u"Current run"_s, u"currentRunButton"_s, m_logPage);
    m_previousRun = segment(u"Previous run"_s, u"previousRunButton"_s, m_logPage);
    m_runs = new QButtonGroup(m_logPage);
    m_runs->addButton(m_currentRun);
    m_runs->addButton(m_previousRun);
    m_runs->setExclusive(true);
    connect(m_currentRun, &QToolButton::clicked, this, [this] { m_model->setRun(LogModel::Run::current); });
    connect(m_previousRun, &QToolButton::clicked, this, [this] { m_model->setRun(LogModel::Run::previous); });

    m_autoScroll = new ToggleSwitch(u"Auto-scroll"_s, m_logPage);
    m_autoScroll->setObjectName(u"autoScrollSwitch"_s);
    m_autoScroll->setSmall(true);
    m_autoScroll->setFont(WindowFonts::caption());
    m_autoScroll->setChecked(m_model->autoScroll());
    connect(m_autoScroll, &ToggleSwitch::toggled, this, [this](bool on) { m_model->setAutoScroll(on); });

    m_search = new GlyphButton(m_logPage);
    m_search->setObjectName(u"searchButton"_s);
    m_search->setGlyph(u"search"_s);
    m_search->setDescription(u"Search (Ctrl+F)"_s);
    m_copy = new GlyphButton(m_logPage);
    m_copy->setObjectName(u"copyButton"_s);
    m_copy->setGlyph(u"copy"_s);
    m_copy->setDescription(u"Copy logs"_s);
    m_clear = new GlyphButton(m_logPage);
    m_clear->setObjectName(u"clearButton"_s);
    m_clear->setGlyph(u"trash"_s);
    m_clear->setDescription(u"Clear logs"_s);
    m_startStop = new GlyphButton(m_logPage);
    m_startStop->setObjectName(u"startStopButton"_s);
    connect(m_search, &QToolButton::clicked, this, [this] { m_searchBar->open(); });
    connect(m_copy, &QToolButton::clicked, this, &LogsView::copyLog);
    connect(m_clear, &QToolButton::clicked, this, &LogsView::clearLog);
    connect(m_startStop, &QToolButton::clicked, this, [this] { m_model->toggleServer(); });

    auto* header = new QHBoxLayout;
    header->setContentsMargins(8, 8, 8, 8);
    header->setSpacing(6);
    header->addWidget(m_title, 1);
    auto* runs = new QHBoxLayout;
    runs->setSpacing(0);
    runs->addWidget(m_currentRun);
    runs->addWidget(m_previousRun);
    header->addLayout(runs);
    header->addSpacing(6);
    header->addWidget(m_autoScroll);
    header->addWidget(m_search);
    header->addWidget(m_copy);
    header->addWidget(m_clear);
    header->addWidget(m_startStop);

    m_runInfo = new QLabel(m_logPage);
    m_runInfo->setObjectName(u"runInfoLabel"_s);
    m_runInfo->setFont(WindowFonts::caption());
    m_runInfo->setTextFormat(Qt::PlainText);
    m_runInfo->setForegroundRole(QPalette::PlaceholderText);
    m_runInfo->setContentsMargins(8, 0, 8, 6);

    m_searchBar = new LogSearchBar(*m_model, m_logPage);
    connect(m_searchBar, &LogSearchBar::closed, this, [this] { m_log->setFocus(); });

    m_log = new LogView(m_logPage);
    m_log->setModel(&m_model->shown());
    m_log->setSearch(&m_model->search());

    auto* layout = new QVBoxLayout(m_logPage);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(m_runInfo);
    layout->addWidget(m_searchBar);
    layout->addWidget(divider(m_logPage));
    layout->addWidget(m_log, 1);
    return m_logPage;
}

void LogsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        m_model->selectFirstIfNone();
    }
}

void LogsView::syncSidebarSelection()
{
    const int row = m_servers.rowOf(m_model->selectedId());
    QItemSelectionModel* selection = m_sidebar->selectionModel();
    m_syncing = true;
    if (row < 0) {
        // A removed server stays selected in the model; the list shows no selection.
        selection->clearSelection();
    } else {
        const QModelIndex index = m_servers.index(row);
        if (!selection->isSelected(index))
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    m_syncing = false;
}

void LogsView::handleSidebarSelection()
{
    if (m_syncing)
        return;
    const QModelIndexList selected = m_sidebar->selectionModel()->selectedIndexes();
    // Only a choice selects: a row leaving the list deselects without choosing.
    if (selected.isEmpty())
        return;
    m_model->select(selected.first().data(ServerListModel::IdRole).toUuid());
}

void LogsView::updateDetail()
{
    const bool showing = m_model->selectedServer().has_value();
    m_detail->setCurrentWidget(showing ? m_logPage : static_cast<QWidget*>(m_placeholder));
    if (!showing && m_searchBar->isVisible())
        m_searchBar->close();
    updateHeader();
    updateEmptyText();
}

void LogsView::updateHeader()
{
    const std::optional<ServerConfig> server = m_model->selectedServer();
    if (!server)
        return;
    const QString title = ServerRowPresentation::singleLine(m_model->title());
    m_title->setText(title);
    m_title->setAccessibleName(title);
    const ServerRowPresentation row = ServerRowPresentation::describe(*server, m_model->status());
    m_startStop->setGlyph(row.action == ServerAction::stop ? u"stop"_s : u"play"_s, row.buttonTone);
    m_startStop->setToolTip(row.buttonText);
    m_startStop->setAccessibleName(row.buttonAccessibleName);

    const bool hasPrevious = m_model->hasPreviousRun();
    const bool previous = m_model->run() == LogModel::Run::previous;
    m_currentRun->setVisible(hasPrevious);
    m_previousRun->setVisible(hasPrevious);
    m_currentRun->setChecked(!previous);
    m_previousRun->setChecked(previous);
    m_runInfo->setVisible(previous);
    m_runInfo->setText(previous ? m_model->previousRunText() : QString());
    m_clear->setEnabled(!previous);
    m_autoScroll->setEnabled(!previous);
}

void LogsView::updateEmptyText()
{
    m_log->setEmptyText(m_model->emptyText());
}

void LogsView::copyLog()
{
    QApplication::clipboard()->setText(m_model->copyText());
}

void LogsView::clearLog()
{
    m_model->clearLog();
}

} // namespace Wardlamp
