#pragma once

#include "WebContent.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Wardlamp {

// The answer to a GET or HEAD of one web controller file: status (200, or 304 when
// the browser's copy is current), headers and body. The headers hold the page to
// its own origin: scripts only from it, connections only to it and its WebSocket
// endpoint, no inline script or style, no framing, no referrer. Content-hashed
// files may be kept for a year; the rest are revalidated at each use. Pure, so the
// header table is tested without a socket.
struct WebResponse {
    struct Request {
        bool head = false;
        std::string_view acceptEncoding;
        std::string_view ifNoneMatch;
        std::string_view host; // the Host header, as the browser sent it
        bool tls = false; // served over wss:// / https:// by the relay itself
    };

    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::size_t contentLength = 0; // of the body a GET gets, also for HEAD

    static WebResponse forFile(const WebFile& file, const Request& request);

    static std::string contentSecurityPolicy(std::string_view host, bool tls);
    // Whether gzip is among the accepted encodings (and not refused with q=0).
    static bool acceptsGzip(std::string_view acceptEncoding);
    // A Host header fit to appear in a header of ours: a name or address and a port, nothing else.
    static bool isPlainHost(std::string_view host);
};

} // namespace Wardlamp
