#include "LineAssembler.h"

namespace Wardlamp {

qsizetype LineAssembler::cutPosition(QByteArrayView line, qsizetype limit)
{
    if (line.size() <= limit)
        return line.size();
    // Step back over at most three continuation bytes to the start of the character.
    for (qsizetype k = limit; k > limit - 4 && k > 0; --k) {
        if ((static_cast<unsigned char>(line[k]) & 0xC0) != 0x80)
            return k;
    }
    return limit;
}

} // namespace Wardlamp
