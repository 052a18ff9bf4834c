// The relay's reading of client bytes: FrameReader on arbitrary input, split in two
// at a point the input chooses, then EnvelopeReader on every message. A message
// comes out as a final text frame whose payload is what was sent, and whatever
// passes as an envelope is valid UTF-8 (binary envelopes are forwarded as text).

#include "FuzzCheck.h"

#include "relay/EnvelopeReader.h"
#include "relay/FrameReader.h"
#include "relay/Utf8Validator.h"
#include "relay/WireFrame.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace Wardlamp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t cut = std::min<std::size_t>(data[0], input.size());
    FrameReader reader(4096);
    for (std::string_view chunk : { input.substr(0, cut), input.substr(cut) }) {
        while (!chunk.empty()) {
            const FrameReader::Step step = reader.next(chunk);
            WL_FUZZ_CHECK(step.consumed <= chunk.size());
            WL_FUZZ_CHECK(step.consumed > 0 || step.event != FrameReader::Event::none);
            chunk.remove_prefix(step.consumed);
            if (step.event == FrameReader::Event::failed) {
                const auto code = reader.failureCode();
                WL_FUZZ_CHECK(code == 1002 || code == 1007 || code == 1009);
                return 0;
            }
            if (step.event == FrameReader::Event::message) {
                const std::string frame = reader.takeMessage();
                const std::string_view payload = WireFrame::payload(frame);
                WL_FUZZ_CHECK(payload.size() <= 4096);
                WL_FUZZ_CHECK(frame == *WireFrame::text(payload));
                if (!reader.messageWasBinary())
                    WL_FUZZ_CHECK(Utf8Validator::isValid(payload));
                if (EnvelopeReader::read(payload))
                    WL_FUZZ_CHECK(Utf8Validator::isValid(payload));
            }
            if (step.event == FrameReader::Event::ping || step.event == FrameReader::Event::pong)
                WL_FUZZ_CHECK(reader.controlPayload().size() <= 125);
        }
    }
    return 0;
}
