#include "AlertLine.h"

#include "ErrorPattern.h"
#include "ErrorWords.h"

namespace Wardlamp {

bool AlertLine::leadsWithErrorWord(QByteArrayView line)
{
    qsizetype begin = 0;
    while (begin < line.size()) {
        const auto c = static_cast<unsigned char>(line[begin]);
        if (c >= 0x80 || isAsciiWordByte(c))
            break;
        ++begin;
    }
    qsizetype end = begin;
    while (end < line.size() && isAsciiWordByte(static_cast<unsigned char>(line[end])))
        ++end;
    // A byte of a non-ASCII character right after the run may be a letter
    // that makes the word longer: then the line does not lead with the word.
    if (end < line.size() && static_cast<unsigned char>(line[end]) >= 0x80)
        return false;
    return end > begin && isErrorWord(line.data() + begin, end - begin);
}

AlertLine::Rank AlertLine::rank(QByteArrayView line, bool matchedWord)
{
    if (leadsWithErrorWord(line))
        return Rank::leadsWithWord;
    if (matchedWord || ErrorPattern::matchesUtf8(line))
        return Rank::carriesWord;
    return Rank::errorLine;
}

} // namespace Wardlamp
