#pragma once

class QString;

namespace Wardlamp {

// Shows a desktop notification. Fire and forget: an implementation never blocks
// the caller and never reports failure (no notification service means nothing
// is shown). Called on the main thread.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& title, const QString& body) = 0;
};

} // namespace Wardlamp
