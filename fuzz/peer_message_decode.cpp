// PeerMessage::decode on arbitrary plaintext. Whatever decodes must encode (it
// holds only finite timestamps) and decode back to the same message.

#include "FuzzCheck.h"

#include "remotekit/PeerMessage.h"

#include <cstdint>

using namespace Wardlamp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView json(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<PeerMessage> message = PeerMessage::decode(json);
    if (message) {
        const std::optional<QByteArray> encoded = message->encode();
        WL_FUZZ_CHECK(encoded);
        const std::optional<PeerMessage> again = PeerMessage::decode(*encoded);
        WL_FUZZ_CHECK(again && *again == *message);
    }
    return 0;
}
