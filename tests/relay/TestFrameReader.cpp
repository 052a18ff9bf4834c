#include "relay/FrameReader.h"
#include "relay/WireFrame.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Wardlamp;
using Event = FrameReader::Event;

namespace {

// A client frame: masked with a fixed key unless `masked` is false.
std::string clientFrame(
    unsigned opcode, std::string_view payload, bool fin = true, bool masked = true, unsigned char firstByteExtra = 0)
{
    std::string frame;
    frame.push_back(static_cast<char>((fin ? 0x80 : 0) | firstByteExtra | opcode));
    const unsigned char maskBit = masked ? 0x80 : 0;
    if (payload.size() < 126) {
        frame.push_back(static_cast<char>(maskBit | payload.size()));
    } else if (payload.size() <= 0xffff) {
        frame.push_back(static_cast<char>(maskBit | 126));
        frame.push_back(static_cast<char>(payload.size() >> 8));
        frame.push_back(static_cast<char>(payload.size() & 0xff));
    } else {
        frame.push_back(static_cast<char>(maskBit | 127));
        for (int i = 7; i >= 0; --i)
            frame.push_back(static_cast<char>((payload.size() >> (8 * i)) & 0xff));
    }
    const unsigned char key[4] = { 0x37, 0xfa, 0x21, 0x3d };
    if (masked)
        frame.append(reinterpret_cast<const char*>(key), 4);
    for (std::size_t i = 0; i < payload.size(); ++i)
        frame.push_back(masked ? static_cast<char>(payload[i] ^ key[i % 4]) : payload[i]);
    return frame;
}

std::string closeBody(std::uint16_t code, std::string_view reason = {})
{
    std::string body;
    body.push_back(static_cast<char>(code >> 8));
    body.push_back(static_cast<char>(code & 0xff));
    body.append(reason);
    return body;
}

// What the reader reported, comparable across ways of feeding it.
struct Seen {
    Event event = Event::none;
    std::string data; // message payload, control payload
    std::uint16_t code = 0; // close code or failure code

    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen)
{
    return out << "{event " << static_cast<int>(seen.event) << ", " << seen.data.size() << " bytes, code " << seen.code
               << "}";
}

// Feeds `input` in pieces of `piece` bytes (0: all at once).
std::vector<Seen> feed(const std::string& input, std::size_t maxMessage, std::size_t piece)
{
    FrameReader reader(maxMessage);
    std::vector<Seen> seen;
    std::string_view rest(input);
    while (!rest.empty()) {
        std::string_view chunk = piece ? rest.substr(0, piece) : rest;
        rest.remove_prefix(chunk.size());
        while (!chunk.empty()) {
            const auto step = reader.next(chunk);
            chunk.remove_prefix(step.consumed);
            switch (step.event) {
            case Event::none:
                break;
            case Event::message: {
                const std::string frame = reader.takeMessage();
                // Always a final, unmasked text frame, whatever opcode the message came with.
                EXPECT_EQ(frame, *WireFrame::text(WireFrame::payload(frame)));
                seen.push_back({ Event::message, std::string(WireFrame::payload(frame)), 0 });
                break;
            }
            case Event::ping:
            case Event::pong:
                seen.push_back({ step.event, std::string(reader.controlPayload()), 0 });
                break;
            case Event::close:
                seen.push_back({ Event::close, {}, reader.closeCode() });
                break;
            case Event::failed:
                seen.push_back({ Event::failed, {}, reader.failureCode() });
                return seen;
            }
        }
    }
    return seen;
}

struct Row {
    const char* name;
    std::string input;
    std::vector<Seen> expected;
    std::size_t maxMessage = 1 << 20;
};

class FrameTable : public testing::TestWithParam<Row> { };

TEST_P(FrameTable, sameEventsHoweverTheBytesAreSplit)
{
    const Row& row = GetParam();
    EXPECT_EQ(feed(row.input, row.maxMessage, 0), row.expected) << "all at once";
    for (std::size_t piece = 1; piece <= 40; ++piece)
        EXPECT_EQ(feed(row.input, row.maxMessage, piece), row.expected) << "in pieces of " << piece;
}

const std::string text300(300, 'x');
const std::string text70k(70000, 'y');
const std::string badUtf8 = "{\"k\":\"\xc3\x28\"}";

INSTANTIATE_TEST_SUITE_P(Table, FrameTable,
    testing::Values(Row { "text", clientFrame(1, "hello"), { { Event::message, "hello" } } },
        Row { "emptyText", clientFrame(1, ""), { { Event::message, "" } } },
        Row { "sixteenBitLength", clientFrame(1, text300), { { Event::message, text300 } } },
        Row { "sixtyFourBitLength", clientFrame(1, text70k), { { Event::message, text70k } } },
        Row { "binaryComesOutAsText", clientFrame(2, "{\"v\":1}"), { { Event::message, "{\"v\":1}" } } },
        Row { "twoMessagesInOneRead", clientFrame(1, "a") + clientFrame(1, "bc"),
            { { Event::message, "a" }, { Event::message, "bc" } } },
        Row { "fragmentsWithAPingBetween",
            clientFrame(1, "frag", false) + clientFrame(9, "p") + clientFrame(0, text300, false)
                + clientFrame(0, "end"),
            { { Event::ping, "p" }, { Event::message, "frag" + text300 + "end" } } },
        Row { "pong", clientFrame(10, "x"), { { Event::pong, "x" } } },
        Row { "closeWithCodeAndReason", clientFrame(8, closeBody(1000, "bye")), { { Event::close, {}, 1000 } } },
        Row { "closeWithoutBody", clientFrame(8, ""), { { Event::close, {}, 0 } } },
        Row { "unmaskedFrame", clientFrame(1, "hi", true, false), { { Event::failed, {}, 1002 } } },
        Row { "extensionBit", clientFrame(1, "hi", true, true, 0x40), { { Event::failed, {}, 1002 } } },
        Row { "unknownOpcode", clientFrame(3, "hi"), { { Event::failed, {}, 1002 } } },
        Row { "continuationWithoutStart", clientFrame(0, "hi"), { { Event::failed, {}, 1002 } } },
        Row { "newMessageInsideFragments", clientFrame(1, "a", false) + clientFrame(1, "b"),
            { { Event::failed, {}, 1002 } } },
        Row { "fragmentedControl", clientFrame(9, "p", false), { { Event::failed, {}, 1002 } } },
        Row { "controlPast125Bytes", clientFrame(9, std::string(126, 'p')), { { Event::failed, {}, 1002 } } },
        Row { "closeOfOneByte", clientFrame(8, "x"), { { Event::failed, {}, 1002 } } },
        Row { "closeWithReservedCode", clientFrame(8, closeBody(1005)), { { Event::failed, {}, 1002 } } },
        Row { "messagePastTheLimit", clientFrame(1, std::string(1025, 'z')), { { Event::failed, {}, 1009 } }, 1024 },
        Row { "fragmentsAddingUpPastTheLimit",
            clientFrame(1, std::string(600, 'z'), false) + clientFrame(0, std::string(600, 'z')),
            { { Event::failed, {}, 1009 } }, 1024 },
        Row { "messageAtTheLimit", clientFrame(1, std::string(1024, 'z')),
            { { Event::message, std::string(1024, 'z') } }, 1024 },
        Row { "invalidUtf8Text", clientFrame(1, badUtf8), { { Event::failed, {}, 1007 } } },
        Row { "invalidUtf8BinaryIsLeftToTheEnvelopeCheck", clientFrame(2, badUtf8), { { Event::message, badUtf8 } } },
        Row { "nothingReadAfterAFailure", clientFrame(3, "") + clientFrame(1, "never"),
            { { Event::failed, {}, 1002 } } }),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
