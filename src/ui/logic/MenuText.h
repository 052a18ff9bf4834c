#pragma once

#include <QString>

namespace Wardlamp {

// Texts for menu entries, which read '&' as a mnemonic and have no eliding of
// their own.
class MenuText {
public:
    static constexpr qsizetype maxTitleCharacters = 40;

    // '&' doubled, so a name such as "R&D" shows as written.
    static QString escapeMnemonics(const QString& text);
    // At most maxCharacters, the middle replaced by "…" when longer (never
    // splitting a surrogate pair).
    static QString elideMiddle(const QString& text, qsizetype maxCharacters = maxTitleCharacters);
    // A server's entry: "api — running".
    static QString serverEntry(const QString& title, const QString& statusWord);
};

} // namespace Wardlamp
