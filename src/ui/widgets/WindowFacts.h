#pragma once

#include <QSize>
#include <QString>

namespace Wardlamp {

// The app's two windows besides the panel.
enum class WindowId { logs, settings };

// Each window's fixed facts: its id (also the widget's object name), title
// and default size.
struct WindowFacts {
    QString id;
    QString title;
    QSize defaultSize;

    static WindowFacts of(WindowId window);
};

} // namespace Wardlamp
