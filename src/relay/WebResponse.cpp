#include "WebResponse.h"

#include <algorithm>
#include <cctype>

namespace Wardlamp {

namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// Whether the If-None-Match list names this tag (or "*").
bool matchesTag(std::string_view list, std::string_view etag)
{
    while (!list.empty()) {
        const auto comma = list.find(',');
        std::string_view item = trim(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (item.starts_with("W/"))
            item.remove_prefix(2);
        if (item == "*" || item == etag)
            return true;
    }
    return false;
}

} // namespace

bool WebResponse::isPlainHost(std::string_view host)
{
    return !host.empty() && host.size() <= 255 && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
    });
}

std::string WebResponse::contentSecurityPolicy(std::string_view host, bool tls)
{
    // 'self' covers the page's own origin; the WebSocket endpoint is named as well,
    // since browsers differ in whether 'self' reaches ws:// and wss://. Behind a TLS
    // proxy the relay speaks plain HTTP while the browser speaks wss://.
    std::string connect = "'self'";
    if (isPlainHost(host)) {
        const std::string name(host);
        connect += " wss://" + name;
        if (!tls)
            connect += " ws://" + name;
    }
    return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
           "media-src 'self' blob:; connect-src "
        + connect
        + "; manifest-src 'self'; worker-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

bool WebResponse::acceptsGzip(std::string_view acceptEncoding)
{
    while (!acceptEncoding.empty()) {
        const auto comma = acceptEncoding.find(',');
        std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding = comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        const auto semicolon = item.find(';');
        const std::string_view coding = trim(item.substr(0, semicolon));
        if (!equalsIgnoringCase(coding, "gzip") && coding != "*")
            continue;
        if (semicolon == std::string_view::npos)
            return true;
        std::string_view parameter = trim(item.substr(semicolon + 1));
        if (!parameter.starts_with("q=") && !parameter.starts_with("Q="))
            return true;
        parameter.remove_prefix(2);
        // q=0, q=0.0, q=0.00, q=0.000 refuse the coding; any other weight accepts it.
        const bool refused = !parameter.empty() && parameter.front() == '0'
            && std::all_of(parameter.begin() + 1, parameter.end(), [](char c) { return c == '.' || c == '0'; });
        return !refused;
    }
    return false;
}

WebResponse WebResponse::forFile(const WebFile& file, const Request& request)
{
    WebResponse response;
    auto& h = response.headers;
    const bool gzip = !file.gzipBody.empty() && acceptsGzip(request.acceptEncoding);
    h.emplace_back("Content-Type", file.contentType);
    h.emplace_back("Cache-Control", file.immutable ? "public, max-age=31536000, immutable" : "no-cache");
    h.emplace_back("ETag", file.etag);
    if (!file.gzipBody.empty())
        h.emplace_back("Vary", "Accept-Encoding");
    h.emplace_back("Content-Security-Policy", contentSecurityPolicy(request.host, request.tls));
    h.emplace_back("Referrer-Policy", "no-referrer");
    h.emplace_back("X-Content-Type-Options", "nosniff");
    h.emplace_back("X-Frame-Options", "DENY");
    h.emplace_back("Cross-Origin-Opener-Policy", "same-origin");
    h.emplace_back("Cross-Origin-Resource-Policy", "same-origin");
    h.emplace_back("Permissions-Policy", "camera=(self), microphone=(), geolocation=(), interest-cohort=()");
    if (request.tls)
        h.emplace_back("Strict-Transport-Security", "max-age=31536000");
    if (!request.ifNoneMatch.empty() && matchesTag(request.ifNoneMatch, file.etag)) {
        response.status = 304;
        return response;
    }
    if (gzip)
        h.emplace_back("Content-Encoding", "gzip");
    response.contentLength = gzip ? file.gzipBody.size() : file.body.size();
    if (!request.head)
        response.body = gzip ? file.gzipBody : file.body;
    return response;
}

} // namespace Wardlamp
