#include "LogWindowModel.h"

#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "ui/logic/LogText.h"
#include "ui/logic/RunEndingText.h"
#include "ui/models/LogFilterModel.h"
#include "ui/models/LogSearch.h"
#include "ui/models/PanelCommands.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

LogWindowModel::LogWindowModel(ServerStore& store, ServerManager& manager, PanelCommands& commands, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_manager(manager)
    , m_commands(commands)
    , m_log(std::make_unique<LogModel>(manager))
    , m_shown(std::make_unique<LogFilterModel>(*m_log))
    , m_search(std::make_unique<LogSearch>(*m_shown))
{
    connect(m_log.get(), &LogModel::linesChanged, this, &LogWindowModel::handleLinesChanged);
    connect(&m_store, &ServerStore::added, this, [this](const QUuid& id) {
        if (id == m_selected)
            Q_EMIT selectionChanged();
    });
    connect(&m_store, &ServerStore::removed, this, [this](const QUuid& id) {
        if (id == m_selected)
            Q_EMIT selectionChanged();
    });
    connect(&m_store, &ServerStore::updated, this, [this](const QUuid& id) {
        if (id == m_selected)
            Q_EMIT serverChanged();
    });
    connect(&m_manager, &ServerManager::stateChanged, this, [this](const QUuid& id) {
        if (id == m_selected)
            Q_EMIT serverChanged();
    });
    connect(&m_manager, &ServerManager::previousRunChanged, this, [this](const QUuid& id) {
        if (id == m_selected)
            Q_EMIT runChanged();
    });
}

LogWindowModel::~LogWindowModel()
{
    // The search and the filter before the lines they look at.
    m_search.reset();
    m_shown.reset();
    m_log.reset();
}

void LogWindowModel::select(const QUuid& id)
{
    if (id == m_selected)
        return;
    m_selected = id;
    showSelected(LogModel::Run::current);
    Q_EMIT selectionChanged();
    Q_EMIT runChanged();
}

void LogWindowModel::selectFirstIfNone()
{
    if (!m_selected.isNull() || m_store.servers().isEmpty())
        return;
    select(m_store.servers().first().id);
}

std::optional<ServerConfig> LogWindowModel::selectedServer() const
{
    if (m_selected.isNull())
        return std::nullopt;
    return m_store.server(m_selected);
}

QString LogWindowModel::title() const
{
    const std::optional<ServerConfig> server = selectedServer();
    if (!server)
        return QString();
    return server->name.isEmpty() ? server->command : server->name;
}

ServerStatus LogWindowModel::status() const
{
    return m_selected.isNull() ? ServerStatus::stopped : m_manager.state(m_selected).status;
}

void LogWindowModel::setAutoScroll(bool on)
{
    if (on == m_autoScroll)
        return;
    m_autoScroll = on;
    Q_EMIT autoScrollChanged(on);
}

void LogWindowModel::setRun(LogModel::Run run)
{
    if (run == m_log->run())
        return;
    if (run == LogModel::Run::previous && !hasPreviousRun())
        return;
    showSelected(run);
    Q_EMIT runChanged();
}

bool LogWindowModel::hasPreviousRun() const
{
    return !m_selected.isNull() && m_manager.previousRun(m_selected) != nullptr;
}

QString LogWindowModel::previousRunText() const
{
    const PreviousRun* previous = m_selected.isNull() ? nullptr : m_manager.previousRun(m_selected);
    return previous ? RunEndingText::describe(*previous) : QString();
}

bool LogWindowModel::errorsOnly() const
{
    return m_shown->errorsOnly();
}

void LogWindowModel::setErrorsOnly(bool on)
{
    if (on == m_shown->errorsOnly())
        return;
    m_shown->setErrorsOnly(on);
    Q_EMIT errorsOnlyChanged(on);
}

QString LogWindowModel::emptyText() const
{
    if (m_log->rowCount() == 0)
        return u"No output yet."_s;
    return u"No error lines."_s;
}

void LogWindowModel::toggleServer()
{
    if (selectedServer())
        m_commands.toggle(m_selected);
}

void LogWindowModel::clearLog()
{
    if (selectedServer())
        m_manager.clearLogs(m_selected);
}

QString LogWindowModel::copyText() const
{
    QList<LogText::Line> lines;
    lines.reserve(m_shown->rowCount());
    for (int row = 0; row < m_shown->rowCount(); ++row) {
        const int source = m_shown->sourceRow(row);
        lines.append(LogText::Line { m_log->msecsAt(source), m_shown->data(m_shown->index(row, 0)).toString() });
    }
    return LogText::copyText(lines);
}

void LogWindowModel::showSelected(LogModel::Run run)
{
    m_log->setServer(m_selected, run);
}

void LogWindowModel::handleLinesChanged()
{
    if (m_autoScroll)
        Q_EMIT followRequested();
}

} // namespace Wardlamp
