#include "RemoteCryptoError.h"

namespace Wardlamp {

QLatin1String errorName(RemoteCryptoError error)
{
    switch (error) {
    case RemoteCryptoError::sealFailed:
        return QLatin1String("sealFailed");
    case RemoteCryptoError::incorrectSize:
        return QLatin1String("incorrectSize");
    case RemoteCryptoError::authenticationFailure:
        return QLatin1String("authenticationFailure");
    case RemoteCryptoError::decodingFailed:
        return QLatin1String("decodingFailed");
    }
    return QLatin1String("unknown");
}

} // namespace Wardlamp
