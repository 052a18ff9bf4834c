#include "WebContent.h"

#include "RequestRouter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

constexpr std::size_t maxFileBytes = 16 * 1024 * 1024;

// 64-bit FNV-1a: enough to tell two versions of a file apart for revalidation.
std::string etagOf(std::string_view body)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : body) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
    return text;
}

WebFile makeFile(std::string_view name, std::string body, std::string gzipBody)
{
    WebFile file;
    file.etag = etagOf(body);
    file.body = std::move(body);
    file.gzipBody = std::move(gzipBody);
    file.contentType = std::string(WebContent::contentTypeFor(name));
    file.immutable = WebContent::isContentHashedName(name);
    return file;
}

// Reads a regular file directly inside `root`; a symbolic link is not followed.
std::optional<std::string> readPlainFile(const std::string& root, std::string_view name)
{
    const std::string path = root + "/" + std::string(name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat info { };
    std::optional<std::string> out;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) <= maxFileBytes) {
        std::string body(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t done = 0;
        while (done < body.size()) {
            const ssize_t n = ::read(fd, body.data() + done, body.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        body.resize(done);
        out = std::move(body);
    }
    ::close(fd);
    return out;
}

} // namespace

WebContent::WebContent(Source source, std::string root)
    : m_source(source)
    , m_root(std::move(root))
{
}

WebContent WebContent::builtIn()
{
    return WebContent(Source::builtIn, {});
}

WebContent WebContent::directory(std::string root)
{
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return WebContent(Source::directory, std::move(root));
}

WebContent WebContent::none()
{
    return WebContent(Source::none, {});
}

std::optional<WebFile> WebContent::find(std::string_view name) const
{
    if (!RequestRouter::isValidFileName(name))
        return std::nullopt;
    switch (m_source) {
    case Source::none:
        return std::nullopt;
    case Source::builtIn: {
        const auto files = builtInFiles();
        const auto it
            = std::find_if(files.begin(), files.end(), [name](const BuiltInFile& f) { return f.name == name; });
        if (it == files.end())
            return std::nullopt;
        return makeFile(name, std::string(it->body), std::string(it->gzipBody));
    }
    case Source::directory: {
        auto body = readPlainFile(m_root, name);
        if (!body)
            return std::nullopt;
        return makeFile(name, std::move(*body), {});
    }
    }
    return std::nullopt;
}

std::string_view WebContent::contentTypeFor(std::string_view name)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> types { {
        { ".html", "text/html; charset=utf-8" },
        { ".js", "text/javascript; charset=utf-8" },
        { ".mjs", "text/javascript; charset=utf-8" },
        { ".css", "text/css; charset=utf-8" },
        { ".webmanifest", "application/manifest+json" },
        { ".json", "application/json" },
        { ".svg", "image/svg+xml" },
        { ".png", "image/png" },
        { ".ico", "image/x-icon" },
        { ".txt", "text/plain; charset=utf-8" },
        { ".wasm", "application/wasm" },
    } };
    for (const auto& [extension, type] : types) {
        if (name.ends_with(extension))
            return type;
    }
    return "application/octet-stream";
}

bool WebContent::isContentHashedName(std::string_view name)
{
    const auto last = name.rfind('.');
    if (last == std::string_view::npos || last == 0)
        return false;
    const auto before = name.rfind('.', last - 1);
    if (before == std::string_view::npos)
        return false;
    const std::string_view hash = name.substr(before + 1, last - before - 1);
    return hash.size() >= 8 && std::all_of(hash.begin(), hash.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

} // namespace Wardlamp
