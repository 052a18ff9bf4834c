#include "MenuText.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString MenuText::escapeMnemonics(const QString& text)
{
    QString escaped = text;
    escaped.replace(u'&', u"&&"_s);
    return escaped;
}

QString MenuText::elideMiddle(const QString& text, qsizetype maxCharacters)
{
    if (text.size() <= maxCharacters || maxCharacters < 3)
        return text;
    qsizetype head = (maxCharacters - 1) / 2;
    qsizetype tailStart = text.size() - (maxCharacters - 1 - head);
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tailStart < text.size() && text.at(tailStart).isLowSurrogate())
        ++tailStart;
    return text.left(head) + u"…"_s + text.mid(tailStart);
}

QString MenuText::serverEntry(const QString& title, const QString& statusWord)
{
    const QString shown = title.trimmed().isEmpty() ? u"Untitled server"_s : title;
    return escapeMnemonics(elideMiddle(shown)) + u" — "_s + statusWord;
}

} // namespace Wardlamp
