#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace Wardlamp {

class PairingStore;

// The password field's text on its way to the pairing store: typing key by
// key must not write the keyring and rebuild the key on every keystroke, so
// the text is written once typing pauses, when editing ends, or when the
// draft goes (the window closes): nothing typed is lost.
//
// Main thread; the pairing store must outlive it.
class PasswordDraft : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultPause { 700 };

    explicit PasswordDraft(
        PairingStore& pairing, std::chrono::milliseconds pause = defaultPause, QObject* parent = nullptr);
    ~PasswordDraft() override;

    // A keystroke: remembers the text and waits for the pause again.
    void edit(const QString& text);
    // Editing ended: writes what is pending now.
    void finish();
    bool isPending() const { return m_pending; }

private:
    void commit();

    PairingStore& m_pairing;
    QTimer m_pause;
    QString m_text;
    bool m_pending = false;
};

} // namespace Wardlamp
