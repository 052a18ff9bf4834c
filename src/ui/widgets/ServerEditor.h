#pragma once

#include <QWidget>

#include <QUuid>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Wardlamp {

class ServerEditorModel;
class ToggleSwitch;

// One server's settings: Name, Command, Directory (typed or chosen),
// "Start on app launch", "Restart after crash", and the large Start/Stop and
// Delete buttons. Every edit goes to the store at once through the model;
// the title follows the name as it is typed.
class ServerEditor : public QWidget {
    Q_OBJECT

public:
    explicit ServerEditor(std::unique_ptr<ServerEditorModel> model, QWidget* parent = nullptr);
    ~ServerEditor() override;

    ServerEditorModel& model() const { return *m_model; }

    // The folder chooser's dialog function, replaceable by tests: it gets the
    // folder to start in and returns the chosen one, or the empty string when
    // the user cancels.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& start)>;
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

Q_SIGNALS:
    void deleteRequested(const QUuid& id);

private:
    void refresh();
    void updateStartStop();
    void chooseFolder();

    std::unique_ptr<ServerEditorModel> m_model;
    FolderChooser m_chooseFolder;
    QLabel* m_title = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_command = nullptr;
    QLineEdit* m_directory = nullptr;
    QPushButton* m_choose = nullptr;
    ToggleSwitch* m_autostart = nullptr;
    ToggleSwitch* m_restart = nullptr;
    QPushButton* m_startStop = nullptr;
    QPushButton* m_delete = nullptr;
};

} // namespace Wardlamp
