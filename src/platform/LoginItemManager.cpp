#include "LoginItemManager.h"

#include "platform/SettingsLocation.h"
#include "supervision/StandardError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSaveFile>

namespace Wardlamp {

using namespace Qt::StringLiterals;

LoginItemManager::LoginItemManager(QObject* parent)
    : LoginItemManager(defaultEntryPath(QProcessEnvironment::systemEnvironment(), QDir::homePath()),
        QCoreApplication::applicationFilePath(), parent)
{
}

LoginItemManager::LoginItemManager(QString entryPath, QString programPath, QObject* parent)
    : QObject(parent)
    , m_entryPath(std::move(entryPath))
    , m_programPath(std::move(programPath))
{
    refresh();
}

QString LoginItemManager::defaultEntryPath(const QProcessEnvironment& environment, const QString& home)
{
    return SettingsLocation::configHome(environment, home) + u"/autostart/"_s + AutostartEntry::fileName;
}

AutostartEntry::State LoginItemManager::readState() const
{
    QFile file(m_entryPath);
    if (!file.exists())
        return AutostartEntry::State::absent;
    if (!file.open(QIODevice::ReadOnly))
        return AutostartEntry::State::unreadable;
    // A desktop entry is small; a huge file at this name is not ours.
    const QByteArray content = file.read(1024 * 1024);
    return AutostartEntry::classify(content);
}

void LoginItemManager::refresh()
{
    m_state = readState();
    const bool enabled = m_state == AutostartEntry::State::enabled;
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Q_EMIT isEnabledChanged(m_enabled);
}

bool LoginItemManager::fail(const QString& reason)
{
    writeToStandardError(QString(failurePrefix + reason + u'\n').toUtf8());
    refresh();
    return false;
}

bool LoginItemManager::setEnabled(bool enabled)
{
    const AutostartEntry::State state = readState();
    if (state == AutostartEntry::State::foreign || state == AutostartEntry::State::unreadable) {
        if (!enabled) {
            // Not ours, so there is nothing of ours to switch off.
            refresh();
            return true;
        }
        return fail(m_entryPath
            + (state == AutostartEntry::State::foreign ? u" belongs to another program; it is left as it is"_s
                                                       : u" cannot be read; it is left as it is"_s));
    }

    if (enabled) {
        const QByteArray wanted = AutostartEntry::content(m_programPath);
        QFile current(m_entryPath);
        const bool upToDate = state == AutostartEntry::State::enabled && current.open(QIODevice::ReadOnly)
            && current.read(wanted.size() + 1) == wanted;
        current.close();
        if (!upToDate) {
            const QString folder = QFileInfo(m_entryPath).absolutePath();
            if (!QDir().mkpath(folder))
                return fail(u"cannot create the folder "_s + folder);
            QSaveFile file(m_entryPath);
            if (!file.open(QIODevice::WriteOnly))
                return fail(u"cannot write "_s + m_entryPath + u": "_s + file.errorString());
            file.write(wanted);
            if (!file.commit())
                return fail(u"cannot write "_s + m_entryPath + u": "_s + file.errorString());
        }
    } else if (state != AutostartEntry::State::absent) {
        QFile file(m_entryPath);
        if (!file.remove())
            return fail(u"cannot remove "_s + m_entryPath + u": "_s + file.errorString());
    }

    refresh();
    if (m_enabled != enabled)
        return fail(m_entryPath
            + (enabled ? u" does not read as switched on after writing it"_s
                       : u" still reads as switched on after removing it"_s));
    return true;
}

} // namespace Wardlamp
