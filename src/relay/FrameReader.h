#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Wardlamp {

class MessageBudget;

// Turns the bytes a WebSocket client sends (RFC 6455: masked frames, no extension)
// into whole messages and control frames. Bytes may arrive split anywhere; the reader
// keeps only the frame header in progress and the message being assembled, so an
// idle connection holds nothing. A finished message comes out already in the form
// the relay forwards: an unmasked text frame (WireFrame), so it is never copied again.
// A message that spans reads grows its buffer only with what `budget` grants; one
// whose whole payload came in the read that started it is not charged (it is
// forwarded before the read returns). Owned by one PeerSession; io thread only.
class FrameReader {
public:
    enum class Event { none, message, ping, pong, close, failed };

    struct Step {
        std::size_t consumed = 0; // bytes of the input used up
        Event event = Event::none; // none: every byte was used and more are needed
    };

    explicit FrameReader(std::size_t maxMessageBytes, MessageBudget* budget = nullptr);
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Reads from `bytes` until one event or the end of the input. After `failed` nothing
    // more is read.
    Step next(std::string_view bytes);

    // After `message`: the message as a final text frame, whatever opcode it came with.
    std::string takeMessage();
    // After `message`: it came as a binary message.
    bool messageWasBinary() const { return m_binary; }
    // After `ping` or `pong`: the payload; after `close`: the code (0 for none).
    std::string_view controlPayload() const { return { m_control.data(), m_controlBytes }; }
    std::uint16_t closeCode() const { return m_closeCode; }
    // After `failed`: the close code the connection ends with (1002, 1007 or 1009).
    std::uint16_t failureCode() const { return m_failureCode; }
    // After `failed` with 1009: the message was refused by the budget, not by its size.
    bool failedForBudget() const { return m_failedForBudget; }

    // Some bytes of a frame or message have come and the rest has not.
    bool hasUnfinishedMessage() const { return m_headerHave > 0 || m_inFrame || m_inMessage; }
    // Drops what is being assembled and reads nothing more, as after `failed` with `code`.
    void abandon(std::uint16_t code);

private:
    Step fail(std::size_t consumed, std::uint16_t code);
    Step startFrame(std::size_t consumed, std::size_t available);
    bool makeRoom(std::size_t more);
    void dropMessage();
    Step finishFrame(std::size_t consumed);
    void unmaskInto(char* out, const char* in, std::size_t size);

    std::size_t m_maxMessageBytes;
    MessageBudget* m_budget;
    std::size_t m_charged = 0; // of m_message's capacity, taken from m_budget
    bool m_failedForBudget = false;
    std::array<unsigned char, 14> m_header {};
    std::size_t m_headerHave = 0;
    bool m_inFrame = false; // header read, payload bytes pending
    std::uint64_t m_remaining = 0; // payload bytes of the current frame still to come
    unsigned m_opcode = 0;
    bool m_fin = false;
    std::array<unsigned char, 4> m_mask {};
    std::size_t m_maskIndex = 0;

    bool m_inMessage = false; // a fragmented message has started
    bool m_binary = false;
    std::string m_message; // the text frame being assembled: header room, then payload
    std::size_t m_messageHeaderRoom = 0;
    std::size_t m_messageLimit = 0; // the most the message can take: header room and payload

    std::array<char, 125> m_control {};
    std::size_t m_controlBytes = 0;
    std::uint16_t m_closeCode = 0;
    std::uint16_t m_failureCode = 0;
};

} // namespace Wardlamp
