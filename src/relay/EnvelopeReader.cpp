#include "EnvelopeReader.h"

#include <boost/json/basic_parser_impl.hpp>

#include <algorithm>

namespace Wardlamp {

namespace {

using boost::json::error_code;
using boost::json::string_view;

// Sees the parse as a stream of events and keeps only the top-level "v", "kind",
// "role" and "cache": no document is built and the payload is only validated, never
// copied. A key or value split into parts (escapes) is gathered; later keys win.
class FactsHandler {
public:
    static constexpr std::size_t max_array_size = static_cast<std::size_t>(-1);
    static constexpr std::size_t max_object_size = static_cast<std::size_t>(-1);
    static constexpr std::size_t max_string_size = static_cast<std::size_t>(-1);
    static constexpr std::size_t max_key_size = static_cast<std::size_t>(-1);

    enum class Field { other, version, kind, role, cache };

    int depth = 0;
    bool topIsObject = false;
    Field field = Field::other; // of the value that comes next at depth 1
    std::string key;
    std::string text; // a string value of interest being gathered
    bool hasVersion = false;
    bool hasKind = false;
    EnvelopeReader::Facts facts;

    bool on_document_begin(error_code&) { return true; }
    bool on_document_end(error_code&) { return true; }
    bool on_array_begin(error_code&)
    {
        valueSeen();
        ++depth;
        return true;
    }
    bool on_array_end(std::size_t, error_code&)
    {
        --depth;
        return true;
    }
    bool on_object_begin(error_code&)
    {
        if (depth == 0)
            topIsObject = true;
        else
            valueSeen();
        ++depth;
        return true;
    }
    bool on_object_end(std::size_t, error_code&)
    {
        --depth;
        return true;
    }
    bool on_key_part(string_view part, std::size_t, error_code&)
    {
        if (depth == 1)
            key.append(part.data(), part.size());
        return true;
    }
    bool on_key(string_view part, std::size_t, error_code&)
    {
        if (depth == 1) {
            key.append(part.data(), part.size());
            field = key == "v"   ? Field::version
                : key == "kind"  ? Field::kind
                : key == "role"  ? Field::role
                : key == "cache" ? Field::cache
                                 : Field::other;
            key.clear();
        }
        return true;
    }
    bool on_string_part(string_view part, std::size_t, error_code&)
    {
        if (depth == 1 && (field == Field::kind || field == Field::role))
            text.append(part.data(), part.size());
        return true;
    }
    bool on_string(string_view part, std::size_t, error_code&)
    {
        if (depth == 1 && (field == Field::kind || field == Field::role)) {
            text.append(part.data(), part.size());
            if (field == Field::kind) {
                facts.kind = std::move(text);
                hasKind = true;
            } else {
                facts.role = std::move(text);
            }
            text.clear();
            field = Field::other;
            return true;
        }
        valueSeen();
        return true;
    }
    bool on_number_part(string_view, error_code&) { return true; }
    bool on_int64(std::int64_t, string_view, error_code&) { return number(); }
    bool on_uint64(std::uint64_t, string_view, error_code&) { return number(); }
    bool on_double(double, string_view, error_code&) { return number(); }
    bool on_bool(bool value, error_code&)
    {
        if (depth == 1 && field == Field::cache) {
            facts.cache = value;
            field = Field::other;
            return true;
        }
        valueSeen();
        return true;
    }
    bool on_null(error_code&)
    {
        valueSeen();
        return true;
    }
    bool on_comment_part(string_view, error_code&) { return true; }
    bool on_comment(string_view, error_code&) { return true; }

private:
    bool number()
    {
        if (depth == 1 && field == Field::version)
            hasVersion = true;
        else
            valueSeen();
        field = Field::other;
        return true;
    }
    // A value of another type than the field wants: the field counts as absent.
    void valueSeen()
    {
        if (depth != 1)
            return;
        switch (field) {
        case Field::version:
            hasVersion = false;
            break;
        case Field::kind:
            hasKind = false;
            facts.kind.clear();
            break;
        case Field::role:
            facts.role.reset();
            break;
        case Field::cache:
            facts.cache = false;
            break;
        case Field::other:
            break;
        }
        field = Field::other;
    }
};

bool isJsonWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::optional<EnvelopeReader::Facts> EnvelopeReader::read(std::string_view text)
{
    boost::json::parse_options options;
    options.max_depth = 32;
    boost::json::basic_parser<FactsHandler> parser(options);
    error_code error;
    const std::size_t used = parser.write_some(false, text.data(), text.size(), error);
    if (error || !parser.done())
        return std::nullopt;
    if (!std::all_of(text.begin() + static_cast<std::ptrdiff_t>(used), text.end(), isJsonWhitespace))
        return std::nullopt; // a second document or trailing bytes
    FactsHandler& handler = parser.handler();
    if (!handler.topIsObject || !handler.hasVersion || !handler.hasKind)
        return std::nullopt;
    return std::move(handler.facts);
}

} // namespace Wardlamp
