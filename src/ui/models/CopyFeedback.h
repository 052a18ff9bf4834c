#pragma once

#include <QObject>

#include <chrono>

namespace Wardlamp {

// The "Copy key" button's "Copied" moment: each copy sets the flag and
// schedules its own reset after the delay; the first reset that fires clears
// it, so copying twice in a row ends "Copied" one delay after the first.
//
// Main thread.
class CopyFeedback : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultDelay { 1500 };

    explicit CopyFeedback(std::chrono::milliseconds delay = defaultDelay, QObject* parent = nullptr);

    bool copied() const { return m_copied; }
    void copy();

Q_SIGNALS:
    void copiedChanged(bool copied);

private:
    void setCopied(bool copied);

    std::chrono::milliseconds m_delay;
    bool m_copied = false;
};

} // namespace Wardlamp
