#pragma once

#include <QString>

namespace Wardlamp {

// The drop-down panel's fixed measures and its few layout decisions.
class PanelLayout {
public:
    static constexpr int width = 320;
    // Up to this many rows the list shows at its natural height; more scroll
    // inside a list of scrollHeight.
    static constexpr int maxNaturalRows = 6;
    static constexpr int scrollHeight = 320;
    static constexpr int dotSize = 9;

    enum class ListForm { empty, natural, scrolling };
    static ListForm listForm(qsizetype serverCount);

    // "N running" with at least one running server, else the empty text (the
    // header row keeps its height).
    static QString runningHeader(int runningCount);
};

} // namespace Wardlamp
