#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

namespace Wardlamp {

class CopyFeedback;
class FormSection;
class PairingStore;
class PasswordDraft;
class QrView;
class RemoteAgent;
class ToggleSwitch;
struct ConnectionState;

// The settings window's Remote pane: remote access on or off with the agent's
// live status, this computer's name, the pairing key as a QR code and as text
// (copy, rotate behind a confirmation), the web controller's pairing link
// when a relay is known, and the optional password (written once typing
// pauses or ends). Everything is read from and written to the one
// PairingStore the remote agent follows, so the agent reacts at once.
class RemoteSettingsPane : public QWidget {
    Q_OBJECT

public:
    RemoteSettingsPane(PairingStore& pairing, RemoteAgent& agent, QWidget* parent = nullptr);
    ~RemoteSettingsPane() override;

    // The rotate confirmation while it is open, else null.
    QMessageBox* rotateConfirmation() const;

private:
    QWidget* buildKeySection(QWidget* content);
    QWidget* buildWebSection(QWidget* content);
    void updateEnabled();
    void updateStatus(const ConnectionState& state);
    void updateKey();
    void updateCopyLabel(bool copied);
    void copyKey();
    void confirmRotate();

    PairingStore& m_pairing;
    RemoteAgent& m_agent;
    std::unique_ptr<PasswordDraft> m_passwordDraft;
    CopyFeedback* m_copied = nullptr;
    ToggleSwitch* m_enabled = nullptr;
    QWidget* m_statusRow = nullptr;
    QLabel* m_statusGlyph = nullptr;
    QLabel* m_statusText = nullptr;
    QList<QWidget*> m_enabledOnly;
    QLineEdit* m_name = nullptr;
    QWidget* m_keyRow = nullptr;
    QrView* m_qr = nullptr;
    QLabel* m_keyText = nullptr;
    QPushButton* m_copy = nullptr;
    QPushButton* m_rotate = nullptr;
    FormSection* m_webSection = nullptr;
    QrView* m_webQr = nullptr;
    QLabel* m_webLink = nullptr;
    QLineEdit* m_password = nullptr;
    QLabel* m_storeProblem = nullptr;
    QMessageBox* m_confirm = nullptr;
};

} // namespace Wardlamp
