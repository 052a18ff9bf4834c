#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace Wardlamp {

// One file of the web controller as the relay serves it.
struct WebFile {
    std::string body;
    std::string gzipBody; // empty when there is no compressed copy
    std::string contentType;
    std::string etag; // quoted, from the content
    bool immutable = false; // a content-hashed name: the bytes under it never change
};

// The files of the web controller: the copy compiled into the relay, a folder
// (--web-root, read at each request so an edit shows at the next load), or none
// (--no-web). Only plain names are looked up (RequestRouter::isValidFileName);
// a folder's subfolders, hidden files and links out of it are never served.
// io thread only; a folder is read synchronously (small files, on loopback or
// local disk).
class WebContent {
public:
    enum class Source { builtIn, directory, none };

    struct BuiltInFile {
        std::string_view name;
        std::string_view body;
        std::string_view gzipBody;
    };

    static WebContent builtIn();
    static WebContent directory(std::string root);
    static WebContent none();

    Source source() const { return m_source; }
    bool servesAnything() const { return m_source != Source::none; }
    std::optional<WebFile> find(std::string_view name) const;

    // The MIME type for a file name, from its extension.
    static std::string_view contentTypeFor(std::string_view name);
    // NAME.HASH.EXT with HASH of 8 or more upper-case letters and digits, as the build names bundles.
    static bool isContentHashedName(std::string_view name);
    // The files compiled in (generated from src/web/dist at build time).
    static std::span<const BuiltInFile> builtInFiles();

private:
    WebContent(Source source, std::string root);

    Source m_source;
    std::string m_root;
};

} // namespace Wardlamp
