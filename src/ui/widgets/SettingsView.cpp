#include "SettingsView.h"

#include "ui/models/ServerEditorModel.h"
#include "ui/models/ServerListModel.h"
#include "ui/models/SettingsWindowModel.h"
#include "ui/widgets/GeneralSettingsPane.h"
#include "ui/widgets/GlyphButton.h"
#include "ui/widgets/PlaceholderView.h"
#include "ui/widgets/RemoteSettingsPane.h"
#include "ui/widgets/ServerEditor.h"
#include "ui/widgets/SettingsSidebarDelegate.h"
#include "ui/widgets/SidebarList.h"

#include <QConcatenateTablesProxyModel>
#include <QFrame>
#include <QHBoxLayout>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int sidebarMinimumWidth = 210;
constexpr int generalRow = 0;
constexpr int remoteRow = 1;
constexpr int fixedRows = 3; // General, Remote, the "Servers" heading

QStandardItem* paneItem(const QString& text, const QString& glyph)
{
    auto* item = new QStandardItem(text);
    item->setData(int(SettingsSidebarDelegate::RowKind::pane), SettingsSidebarDelegate::KindRole);
    item->setData(glyph, SettingsSidebarDelegate::GlyphRole);
    item->setData(text, Qt::AccessibleTextRole);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

SettingsView::SettingsView(const AppModels& models, QWidget* parent)
    : QWidget(parent)
    , m_models(models)
    , m_model(std::make_unique<SettingsWindowModel>(models.store, models.manager))
{
    setObjectName(u"settingsView"_s);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(u"splitter"_s);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(buildSidebar());

    m_detail = new QStackedWidget(splitter);
    m_detail->setObjectName(u"detail"_s);
    m_general = new GeneralSettingsPane(models.loginItem, models.settings, m_detail);
    m_detail->addWidget(m_general);
    m_noServer = new PlaceholderView(u"server"_s, u"Select a server"_s, m_detail);
    m_noServer->setObjectName(u"noServer"_s);
    m_detail->addWidget(m_noServer);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 220, 520 });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    connect(m_model.get(), &SettingsWindowModel::selectionChanged, this, [this] {
        syncSidebarSelection();
        updateDetail();
    });
    connect(m_model.get(), &SettingsWindowModel::detailChanged, this, &SettingsView::updateDetail);
    connect(&models.servers, &QAbstractItemModel::rowsInserted, this, &SettingsView::syncSidebarSelection);
    connect(&models.servers, &QAbstractItemModel::rowsRemoved, this, &SettingsView::syncSidebarSelection);
    connect(&models.servers, &QAbstractItemModel::rowsMoved, this, &SettingsView::syncSidebarSelection);
    connect(&models.servers, &QAbstractItemModel::modelReset, this, &SettingsView::syncSidebarSelection);

    syncSidebarSelection();
    updateDetail();
}

SettingsView::~SettingsView()
{
    // The list lets go of the proxy before the proxy goes.
    m_sidebar->setModel(nullptr);
}

ServerEditor* SettingsView::editor() const
{
    return m_editor.data();
}

RemoteSettingsPane* SettingsView::remotePane() const
{
    return m_remote.data();
}

QWidget* SettingsView::buildSidebar()
{
    auto* sidebar = new QWidget(this);
    sidebar->setObjectName(u"sidebar"_s);
    sidebar->setMinimumWidth(sidebarMinimumWidth);

    m_panes = new QStandardItemModel(this);
    m_panes->appendRow(paneItem(u"General"_s, u"settings"_s));
    m_panes->appendRow(paneItem(u"Remote access"_s, u"phone"_s));
    auto* heading = new QStandardItem(u"Servers"_s);
    heading->setData(int(SettingsSidebarDelegate::RowKind::heading), SettingsSidebarDelegate::KindRole);
    heading->setFlags(Qt::NoItemFlags);
    m_panes->appendRow(heading);
    m_rows = new QConcatenateTablesProxyModel(this);
    m_rows->addSourceModel(m_panes);
    m_rows->addSourceModel(&m_models.servers);

    m_sidebar = new SidebarList(sidebar);
    m_sidebar->setObjectName(u"sidebarList"_s);
    m_sidebar->setAccessibleName(u"Settings"_s);
    m_sidebar->setModel(m_rows);
    m_sidebar->setItemDelegate(new SettingsSidebarDelegate(m_sidebar));
    m_sidebar->viewport()->setBackgroundRole(QPalette::Window);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    connect(m_sidebar->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &SettingsView::handleSidebarSelection);

    auto* line = new QFrame(sidebar);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    m_add = new GlyphButton(sidebar);
    m_add->setObjectName(u"addButton"_s);
    m_add->setGlyph(u"plus"_s);
    m_add->setDescription(u"Add a server"_s);
    m_add->setFixedSize(24, 20);
    m_remove = new GlyphButton(sidebar);
    m_remove->setObjectName(u"removeButton"_s);
    m_remove->setGlyph(u"minus"_s);
    m_remove->setDescription(u"Remove selected server"_s);
    m_remove->setFixedSize(24, 20);
    connect(m_add, &QToolButton::clicked, this, [this] { m_model->addServer(); });
    connect(m_remove, &QToolButton::clicked, this, [this] { m_model->removeSelected(); });
    auto* foot = new QHBoxLayout;
    foot->setContentsMargins(6, 4, 6, 4);
    foot->setSpacing(2);
    foot->addWidget(m_add);
    foot->addWidget(m_remove);
    foot->addStretch(1);

    auto* layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sidebar, 1);
    layout->addWidget(line);
    layout->addLayout(foot);
    return sidebar;
}

void SettingsView::syncSidebarSelection()
{
    const SettingsSelection selection = m_model->selection();
    int row = -1;
    switch (selection.kind) {
    case SettingsSelection::Kind::general:
        row = generalRow;
        break;
    case SettingsSelection::Kind::remote:
        row = remoteRow;
        break;
    case SettingsSelection::Kind::server: {
        const int serverRow = m_models.servers.rowOf(selection.id);
        row = serverRow < 0 ? -1 : fixedRows + serverRow;
        break;
    }
    }
    QItemSelectionModel* selected = m_sidebar->selectionModel();
    m_syncing = true;
    if (row < 0) {
        selected->clearSelection();
    } else {
        const QModelIndex index = m_rows->index(row, 0);
        if (!selected->isSelected(index))
            selected->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    m_syncing = false;
    m_remove->setEnabled(m_model->canRemove());
}

void SettingsView::handleSidebarSelection()
{
    if (m_syncing)
        return;
    const QModelIndexList selected = m_sidebar->selectionModel()->selectedIndexes();
    // Only a choice selects: a row leaving the list deselects without choosing.
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    if (row == generalRow)
        m_model->select(SettingsSelection::general());
    else if (row == remoteRow)
        m_model->select(SettingsSelection::remote());
    else if (row >= fixedRows)
        m_model->select(SettingsSelection::server(selected.first().data(ServerListModel::IdRole).toUuid()));
}

void SettingsView::updateDetail()
{
    m_remove->setEnabled(m_model->canRemove());
    const SettingsSelection selection = m_model->selection();
    const SettingsWindowModel::Detail detail = m_model->detail();

    // The Remote pane and an editor start afresh each time they are chosen.
    if (m_remote && detail != SettingsWindowModel::Detail::remote)
        delete m_remote;
    if (m_editor && (detail != SettingsWindowModel::Detail::editor || m_editor->model().id() != selection.id))
        delete m_editor;

    switch (detail) {
    case SettingsWindowModel::Detail::general:
        m_detail->setCurrentWidget(m_general);
        break;
    case SettingsWindowModel::Detail::remote:
        if (!m_remote) {
            m_remote = new RemoteSettingsPane(m_models.pairing, m_models.remoteAgent, m_detail);
            m_detail->addWidget(m_remote);
        }
        m_detail->setCurrentWidget(m_remote);
        break;
    case SettingsWindowModel::Detail::editor:
        if (!m_editor) {
            m_editor = new ServerEditor(
                std::make_unique<ServerEditorModel>(selection.id, m_models.store, m_models.manager), m_detail);
            connect(m_editor, &ServerEditor::deleteRequested, m_model.get(), &SettingsWindowModel::deleteServer);
            m_detail->addWidget(m_editor);
        }
        m_detail->setCurrentWidget(m_editor);
        break;
    case SettingsWindowModel::Detail::noServer:
        m_detail->setCurrentWidget(m_noServer);
        break;
    }
}

} // namespace Wardlamp
