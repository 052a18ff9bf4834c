#include "PasswordDraft.h"

#include "agent/PairingStore.h"

namespace Wardlamp {

PasswordDraft::PasswordDraft(PairingStore& pairing, std::chrono::milliseconds pause, QObject* parent)
    : QObject(parent)
    , m_pairing(pairing)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(pause);
    connect(&m_pause, &QTimer::timeout, this, &PasswordDraft::commit);
}

PasswordDraft::~PasswordDraft()
{
    commit();
}

void PasswordDraft::edit(const QString& text)
{
    m_text = text;
    m_pending = true;
    m_pause.start();
}

void PasswordDraft::finish()
{
    commit();
}

void PasswordDraft::commit()
{
    m_pause.stop();
    if (!m_pending)
        return;
    m_pending = false;
    if (m_text != m_pairing.password())
        m_pairing.setPassword(m_text);
}

} // namespace Wardlamp
