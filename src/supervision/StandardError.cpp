#include "StandardError.h"

#include <cerrno>
#include <unistd.h>

namespace Wardlamp {

void writeToStandardError(QByteArrayView text)
{
    const char* data = text.data();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return; // standard error is gone; there is nowhere else to say it
        }
        data += written;
        left -= written;
    }
}

} // namespace Wardlamp
