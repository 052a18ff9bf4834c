#include "relay/FrameReader.h"
#include "relay/MessageBudget.h"
#include "relay/WireFrame.h"

#include <gtest/gtest.h>

#include <memory>
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

// Feeds `bytes` to `reader` and returns the last event (none when all was used up).
Event feedAll(FrameReader& reader, std::string_view bytes)
{
    Event last = Event::none;
    while (!bytes.empty()) {
        const auto step = reader.next(bytes);
        bytes.remove_prefix(step.consumed);
        if (step.event != Event::none)
            last = step.event;
        if (step.event == Event::failed)
            break;
    }
    return last;
}

TEST(FrameReaderBudget, messageWholeInOneReadIsNotCharged)
{
    RelayStats stats;
    MessageBudget nothingToSpare(0, stats);
    FrameReader reader(1 << 20, &nothingToSpare);
    EXPECT_EQ(feedAll(reader, clientFrame(1, text70k)), Event::message);
    EXPECT_EQ(WireFrame::payload(reader.takeMessage()), text70k);
    EXPECT_EQ(stats.peakUnfinishedMessageBytes, 0u);
    EXPECT_FALSE(reader.hasUnfinishedMessage());
}

TEST(FrameReaderBudget, messageInPiecesIsChargedWhileUnfinished)
{
    RelayStats stats;
    MessageBudget budget(1 << 20, stats);
    FrameReader reader(1 << 20, &budget);
    const std::string frame = clientFrame(1, text70k);
    EXPECT_EQ(feedAll(reader, std::string_view(frame).substr(0, 1)), Event::none);
    EXPECT_TRUE(reader.hasUnfinishedMessage()); // one byte of a header is a frame begun
    for (std::size_t at = 1; at < frame.size(); at += 1000) {
        const auto event = feedAll(reader, std::string_view(frame).substr(at, 1000));
        if (at + 1000 < frame.size()) {
            ASSERT_EQ(event, Event::none);
            EXPECT_TRUE(reader.hasUnfinishedMessage());
            // What arrived is held, with at most a quarter to spare.
            EXPECT_GE(stats.unfinishedMessageBytes, at + 1000 - 14);
            EXPECT_LE(stats.unfinishedMessageBytes, (at + 1000) * 5 / 4 + 64);
        } else {
            ASSERT_EQ(event, Event::message);
        }
    }
    EXPECT_FALSE(reader.hasUnfinishedMessage());
    EXPECT_EQ(WireFrame::payload(reader.takeMessage()), text70k);
    EXPECT_EQ(stats.unfinishedMessageBytes, 0u);
    EXPECT_LE(stats.peakUnfinishedMessageBytes, text70k.size() + 64);
}

TEST(FrameReaderBudget, growthPastTheBudgetFailsWith1009AndGivesBack)
{
    RelayStats stats;
    MessageBudget budget(10000, stats);
    const std::string frame = clientFrame(1, std::string(9000, 'a'));
    auto first = std::make_unique<FrameReader>(1 << 20, &budget);
    FrameReader second(1 << 20, &budget);
    EXPECT_EQ(feedAll(*first, std::string_view(frame).substr(0, 6000)), Event::none);
    const std::size_t heldByFirst = stats.unfinishedMessageBytes;
    EXPECT_GE(heldByFirst, 6000u - 14);

    EXPECT_EQ(feedAll(second, std::string_view(frame).substr(0, 6000)), Event::failed);
    EXPECT_EQ(second.failureCode(), 1009);
    EXPECT_TRUE(second.failedForBudget());
    EXPECT_FALSE(second.hasUnfinishedMessage());
    EXPECT_EQ(stats.unfinishedMessageBytes, heldByFirst);

    // The first still fits its whole message; dropped halfway, a reader gives all back.
    EXPECT_EQ(feedAll(*first, std::string_view(frame).substr(6000)), Event::message);
    EXPECT_LE(stats.peakUnfinishedMessageBytes, 10000u);
    first->takeMessage();
    EXPECT_EQ(feedAll(*first, std::string_view(frame).substr(0, 3000)), Event::none);
    EXPECT_GT(stats.unfinishedMessageBytes, 0u);
    first.reset();
    EXPECT_EQ(stats.unfinishedMessageBytes, 0u);
}

TEST(FrameReaderBudget, oversizeMessageIsNotABudgetFailure)
{
    RelayStats stats;
    MessageBudget budget(1 << 20, stats);
    FrameReader reader(1024, &budget);
    EXPECT_EQ(feedAll(reader, clientFrame(1, std::string(1025, 'z'))), Event::failed);
    EXPECT_EQ(reader.failureCode(), 1009);
    EXPECT_FALSE(reader.failedForBudget());
}

} // namespace
