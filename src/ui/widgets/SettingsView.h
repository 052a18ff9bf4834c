#pragma once

#include "ui/models/AppModels.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QConcatenateTablesProxyModel;
class QStackedWidget;
class QStandardItemModel;

namespace Wardlamp {

class GeneralSettingsPane;
class GlyphButton;
class PlaceholderView;
class RemoteSettingsPane;
class ServerEditor;
class SettingsWindowModel;
class SidebarList;

// The content of the "Wardlamp Settings" window: the sidebar ("General",
// "Remote access", then the "Servers" section, with "+" and "−" at its foot)
// and the chosen pane, server editor, or "Select a server".
//
// It decides nothing: SettingsWindowModel holds the selection and the add,
// remove and delete actions. A server editor or the Remote pane is built
// afresh each time it is chosen.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(const AppModels& models, QWidget* parent = nullptr);
    ~SettingsView() override;

    SettingsWindowModel& model() { return *m_model; }
    ServerEditor* editor() const;
    RemoteSettingsPane* remotePane() const;

private:
    QWidget* buildSidebar();
    void syncSidebarSelection();
    void handleSidebarSelection();
    void updateDetail();

    AppModels m_models;
    std::unique_ptr<SettingsWindowModel> m_model;
    QStandardItemModel* m_panes = nullptr;
    QStandardItemModel* m_heading = nullptr;
    QConcatenateTablesProxyModel* m_rows = nullptr;
    SidebarList* m_sidebar = nullptr;
    GlyphButton* m_add = nullptr;
    GlyphButton* m_remove = nullptr;
    QStackedWidget* m_detail = nullptr;
    GeneralSettingsPane* m_general = nullptr;
    QPointer<RemoteSettingsPane> m_remote;
    QPointer<ServerEditor> m_editor;
    PlaceholderView* m_noServer = nullptr;
    bool m_syncing = false;
};

} // namespace Wardlamp
