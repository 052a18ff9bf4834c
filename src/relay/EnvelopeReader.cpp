#include "EnvelopeReader.h"

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parser.hpp>
#include <boost/json/value.hpp>

namespace Wardlamp {

std::optional<EnvelopeReader::Facts> EnvelopeReader::read(std::string_view text)
{
    // Typical envelopes (a sealed snapshot or log batch) fit the stack buffer, so a
    // parse allocates nothing; larger ones spill to the heap and are freed at return.
    unsigned char stack[8192];
    boost::json::monotonic_resource resource(stack, sizeof stack);
    boost::json::parse_options options;
    options.max_depth = 32;
    boost::json::parser parser(boost::json::storage_ptr(), options);
    parser.reset(&resource);

    boost::system::error_code error;
    parser.write(text.data(), text.size(), error);
    if (error)
        return std::nullopt;
    const boost::json::value document = parser.release();

    const auto* object = document.if_object();
    if (!object)
        return std::nullopt;
    const auto* version = object->if_contains("v");
    const auto* kind = object->if_contains("kind");
    if (!version || !version->is_number() || !kind || !kind->is_string())
        return std::nullopt;

    Facts facts;
    facts.kind = std::string(kind->get_string());
    if (const auto* role = object->if_contains("role"); role && role->is_string())
        facts.role = std::string(role->get_string());
    if (const auto* cache = object->if_contains("cache"); cache && cache->is_bool())
        facts.cache = cache->get_bool();
    return facts;
}

} // namespace Wardlamp
