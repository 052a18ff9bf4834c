#include "FrameReader.h"

#include "MessageBudget.h"
#include "Utf8Validator.h"
#include "WireFrame.h"

#include <algorithm>
#include <cstring>

namespace Wardlamp {

namespace {

constexpr std::uint16_t closeProtocolError = 1002;
constexpr std::uint16_t closeInvalidPayload = 1007;
constexpr std::uint16_t closeTooBig = 1009;
constexpr std::size_t fragmentedHeaderRoom = 10; // the largest header: its size is known only at the end

bool isValidCloseCode(std::uint16_t code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

} // namespace

FrameReader::FrameReader(std::size_t maxMessageBytes, MessageBudget* budget)
    : m_maxMessageBytes(maxMessageBytes)
    , m_budget(budget)
{
}

FrameReader::~FrameReader()
{
    dropMessage();
}

FrameReader::Step FrameReader::fail(std::size_t consumed, std::uint16_t code)
{
    abandon(code);
    return { consumed, Event::failed };
}

void FrameReader::abandon(std::uint16_t code)
{
    m_failureCode = code;
    m_headerHave = 0;
    m_inFrame = false;
    m_inMessage = false;
    dropMessage();
}

void FrameReader::dropMessage()
{
    if (m_budget)
        m_budget->give(m_charged);
    m_charged = 0;
    m_message = std::string();
}

// Grows the message buffer for `more` bytes, with a quarter to spare so that a long
// message is copied only a few times, or by just what is needed when the budget has
// no more. The spare room is charged too: doubling would let the slack of a crowd of
// slow peers fill the budget while their bytes took little more than half of it.
bool FrameReader::makeRoom(std::size_t more)
{
    const std::size_t needed = m_message.size() + more;
    if (needed <= m_message.capacity())
        return true;
    std::size_t target = std::max(needed, std::min(needed + needed / 4, m_messageLimit));
    if (m_budget && !m_budget->take(target - m_charged)) {
        target = needed;
        if (!m_budget->take(target - m_charged))
            return false;
    }
    std::string grown;
    grown.reserve(target);
    grown.append(m_message);
    m_message.swap(grown);
    if (m_budget) {
        const std::size_t actual = m_message.capacity();
        if (actual > target)
            m_budget->add(actual - target);
        m_charged = actual;
    }
    return true;
}

FrameReader::Step FrameReader::next(std::string_view bytes)
{
    if (m_failureCode != 0)
        return { bytes.size(), Event::failed };
    std::size_t at = 0;
    for (;;) {
        if (!m_inFrame) {
            // The header: 2 bytes, then the extended length and the mask they announce.
            while (m_headerHave < 2 && at < bytes.size())
                m_header[m_headerHave++] = static_cast<unsigned char>(bytes[at++]);
            if (m_headerHave < 2)
                return { at, Event::none };
            // An extension bit, or a client frame without mask: refused before waiting for more.
            if ((m_header[0] & 0x70) != 0 || (m_header[1] & 0x80) == 0)
                return fail(at, closeProtocolError);
            const unsigned lengthCode = m_header[1] & 0x7f;
            const std::size_t needed = 2 + (lengthCode == 126 ? 2 : lengthCode == 127 ? 8 : 0) + 4;
            const std::size_t take = std::min(needed - m_headerHave, bytes.size() - at);
            std::memcpy(m_header.data() + m_headerHave, bytes.data() + at, take);
            m_headerHave += take;
            at += take;
            if (m_headerHave < needed)
                return { at, Event::none };
            const Step started = startFrame(at, bytes.size() - at);
            if (started.event != Event::none)
                return started;
        }
        // The payload, unmasked on the way into the message or the control buffer.
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(m_remaining, bytes.size() - at));
        if (take > 0) {
            if (m_opcode >= 0x8) {
                unmaskInto(m_control.data() + m_controlBytes, bytes.data() + at, take);
                m_controlBytes += take;
            } else {
                if (!makeRoom(take)) {
                    m_failedForBudget = true;
                    return fail(at, closeTooBig);
                }
                const std::size_t old = m_message.size();
                m_message.append(bytes.data() + at, take);
                unmaskInto(m_message.data() + old, m_message.data() + old, take);
            }
            m_remaining -= take;
            at += take;
        }
        if (m_remaining > 0)
            return { at, Event::none };
        const Step finished = finishFrame(at);
        if (finished.event != Event::none || at == bytes.size())
            return finished;
    }
}

FrameReader::Step FrameReader::startFrame(std::size_t consumed, std::size_t available)
{
    m_headerHave = 0;
    const unsigned char first = m_header[0];
    const unsigned char second = m_header[1];
    m_fin = (first & 0x80) != 0;
    m_opcode = first & 0x0f;
    const unsigned lengthCode = second & 0x7f;
    std::size_t maskAt = 2;
    std::uint64_t length = lengthCode;
    if (lengthCode == 126) {
        length = (std::uint64_t(m_header[2]) << 8) | m_header[3];
        maskAt = 4;
    } else if (lengthCode == 127) {
        length = 0;
        for (int i = 0; i < 8; ++i)
            length = (length << 8) | m_header[2 + static_cast<std::size_t>(i)];
        maskAt = 10;
        if (length >> 63)
            return fail(consumed, closeProtocolError);
    }
    std::memcpy(m_mask.data(), m_header.data() + maskAt, 4);
    m_maskIndex = 0;
    m_remaining = length;

    if (m_opcode >= 0x8) {
        if (m_opcode > 0xa || !m_fin || length > m_control.size())
            return fail(consumed, closeProtocolError);
        m_controlBytes = 0;
    } else {
        if (m_opcode > 0x2 || (m_opcode == 0) != m_inMessage)
            return fail(consumed, closeProtocolError); // unknown opcode, or a broken fragment sequence
        const std::size_t payloadSoFar = m_inMessage ? m_message.size() - m_messageHeaderRoom : 0;
        if (length > m_maxMessageBytes - payloadSoFar)
            return fail(consumed, closeTooBig);
        if (!m_inMessage) {
            m_inMessage = true;
            m_binary = m_opcode == 0x2;
            // A single-frame message knows its size: room for exactly its header. When
            // all of it is here it is reserved at once and done before this read returns;
            // otherwise the buffer grows with what arrives (a peer may announce much and
            // send little), within the budget.
            const auto size = static_cast<std::size_t>(length);
            m_messageHeaderRoom = m_fin ? WireFrame::headerBytes(size) : fragmentedHeaderRoom;
            m_messageLimit = m_messageHeaderRoom + (m_fin ? size : m_maxMessageBytes);
            if (m_fin && size <= available)
                m_message.reserve(m_messageHeaderRoom + size);
            m_message.assign(m_messageHeaderRoom, '\0');
        }
    }
    m_inFrame = true;
    return { consumed, Event::none };
}

FrameReader::Step FrameReader::finishFrame(std::size_t consumed)
{
    m_inFrame = false;
    switch (m_opcode) {
    case 0x8: {
        m_closeCode = 0;
        if (m_controlBytes == 1)
            return fail(consumed, closeProtocolError);
        if (m_controlBytes >= 2) {
            m_closeCode = static_cast<std::uint16_t>(
                (static_cast<unsigned char>(m_control[0]) << 8) | static_cast<unsigned char>(m_control[1]));
            if (!isValidCloseCode(m_closeCode)
                || !Utf8Validator::isValid(std::string_view(m_control.data() + 2, m_controlBytes - 2)))
                return fail(consumed, closeProtocolError);
        }
        return { consumed, Event::close };
    }
    case 0x9:
        return { consumed, Event::ping };
    case 0xa:
        return { consumed, Event::pong };
    default:
        break;
    }
    if (!m_fin)
        return { consumed, Event::none };
    m_inMessage = false;
    const std::size_t payloadBytes = m_message.size() - m_messageHeaderRoom;
    const std::size_t header = WireFrame::headerBytes(payloadBytes);
    if (header != m_messageHeaderRoom) {
        m_message.erase(0, m_messageHeaderRoom - header);
        m_messageHeaderRoom = header;
    }
    WireFrame::writeHeader(m_message.data(), WireFrame::Opcode::text, payloadBytes);
    if (!m_binary && !Utf8Validator::isValid(std::string_view(m_message).substr(header)))
        return fail(consumed, closeInvalidPayload);
    return { consumed, Event::message };
}

std::string FrameReader::takeMessage()
{
    std::string message = std::move(m_message);
    dropMessage();
    return message;
}

void FrameReader::unmaskInto(char* out, const char* in, std::size_t size)
{
    std::size_t i = 0;
    if (size >= 16) {
        // Eight bytes at a time with the key turned to where this chunk starts.
        unsigned char rotated[8];
        for (std::size_t k = 0; k < 8; ++k)
            rotated[k] = m_mask[(m_maskIndex + k) % 4];
        std::uint64_t key = 0;
        std::memcpy(&key, rotated, 8);
        for (; i + 8 <= size; i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, in + i, 8);
            word ^= key;
            std::memcpy(out + i, &word, 8);
        }
    }
    for (; i < size; ++i)
        out[i] = static_cast<char>(in[i] ^ m_mask[(m_maskIndex + i) % 4]);
    m_maskIndex = (m_maskIndex + size) % 4;
}

} // namespace Wardlamp
