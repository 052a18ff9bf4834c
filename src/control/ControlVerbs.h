#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace Wardlamp {

class ControlCall;

// The verbs a control socket answers, by name. The supervision verbs
// (SupervisionVerbs) are added by the supervisor; a program adds its own
// beside them (the desktop app: "show", "quit"; wardlampd: "pair", "remote").
// A handler answers its call at once or keeps it open (ControlCall).
// Main thread.
class ControlVerbs {
public:
    using Handler = std::function<void(ControlCall& call)>;

    // Replaces any handler of the same name.
    void add(const QString& verb, Handler handler);
    void remove(const QString& verb);
    bool contains(const QString& verb) const { return m_handlers.contains(verb); }
    QStringList names() const;

    // Hands the call to its verb's handler; an unknown verb fails it.
    void dispatch(ControlCall& call) const;

private:
    QHash<QString, Handler> m_handlers;
};

} // namespace Wardlamp
