// PeerMessage::opened on arbitrary payload text under a fixed key. The input is
// read as UTF-8 text (as a relay frame's payload string would be). A payload
// that opens must reseal and open to the same message; one that fails must fail
// with one of the four known errors.

#include "FuzzCheck.h"

#include "remotekit/ContentKey.h"
#include "remotekit/PeerMessage.h"

#include <QString>

#include <cstdint>

using namespace Wardlamp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ContentKey key = *ContentKey::fromBytes(
        QByteArray::fromHex("da4ef3b4ba7c15985a7af8caff5331b8d781438b8815eac74cb4d58b69679244"));
    const QString payload = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto opened = PeerMessage::opened(payload, key);
    if (opened) {
        const auto resealed = opened->sealed(key);
        WL_FUZZ_CHECK(resealed);
        const auto again = PeerMessage::opened(*resealed, key);
        WL_FUZZ_CHECK(again && again.value() == opened.value());
    } else {
        const RemoteCryptoError error = opened.error();
        WL_FUZZ_CHECK(error == RemoteCryptoError::sealFailed || error == RemoteCryptoError::incorrectSize
            || error == RemoteCryptoError::authenticationFailure || error == RemoteCryptoError::decodingFailed);
    }
    return 0;
}
