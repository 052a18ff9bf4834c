#pragma once

#include <QLatin1String>

namespace Wardlamp {

// Why sealing or opening a payload failed. Carries no text for users: receivers
// drop what fails. `sealFailed` also covers payload text that is not strict
// standard base64.
enum class RemoteCryptoError {
    sealFailed,
    incorrectSize, // fewer than 28 bytes: no room for nonce and tag
    authenticationFailure, // wrong key or altered bytes
    decodingFailed, // authentic plaintext that is not a valid PeerMessage
};

// A short name for logs and test output ("sealFailed", "incorrectSize", ...).
QLatin1String errorName(RemoteCryptoError error);

} // namespace Wardlamp
