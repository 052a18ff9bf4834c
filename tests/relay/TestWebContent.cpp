#include "relay/WebContent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace Wardlamp;
namespace fs = std::filesystem;

namespace {

class Folder : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/wl-web-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        fs::create_directory(m_root / "web");
        write("web/index.html", "<!doctype html><title>other copy</title>");
        write("web/app.ABCDEFGH.js", "console.log(1)");
        write("web/.secret", "no");
        write("outside.txt", "secret outside the root");
        fs::create_directory(m_root / "web/sub");
        write("web/sub/x.js", "nested");
        fs::create_symlink(m_root / "outside.txt", m_root / "web/link.txt");
        ::mkfifo((m_root / "web/pipe.js").c_str(), 0600);
    }
    void TearDown() override { fs::remove_all(m_root); }

    void write(const std::string& name, const std::string& text) { std::ofstream(m_root / name) << text; }

    fs::path m_root;
};

TEST_F(Folder, servesPlainFilesOfTheFolderOnly)
{
    const WebContent content = WebContent::directory((m_root / "web").string() + "/");
    const auto page = content.find("index.html");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body, "<!doctype html><title>other copy</title>");
    EXPECT_EQ(page->contentType, "text/html; charset=utf-8");
    EXPECT_FALSE(page->immutable);
    EXPECT_TRUE(page->gzipBody.empty());
    const auto script = content.find("app.ABCDEFGH.js");
    ASSERT_TRUE(script);
    EXPECT_TRUE(script->immutable);
    EXPECT_EQ(script->contentType, "text/javascript; charset=utf-8");

    for (const char* refused :
        { ".secret", "link.txt", "sub", "pipe.js", "missing.js", "../outside.txt", "sub/x.js", "" })
        EXPECT_FALSE(content.find(refused)) << refused;
}

TEST_F(Folder, editedFileShowsAtTheNextRequest)
{
    const WebContent content = WebContent::directory((m_root / "web").string());
    const auto before = content.find("index.html");
    write("web/index.html", "changed");
    const auto after = content.find("index.html");
    ASSERT_TRUE(before && after);
    EXPECT_EQ(after->body, "changed");
    EXPECT_NE(before->etag, after->etag);
}

TEST(WebContent, builtInCopyHoldsTheAppAndItsCompressedText)
{
    const WebContent content = WebContent::builtIn();
    const auto page = content.find("index.html");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<!doctype html>"), std::string::npos);
    EXPECT_FALSE(page->gzipBody.empty());
    EXPECT_LT(page->gzipBody.size(), page->body.size());
    EXPECT_TRUE(content.find("sw.js"));
    EXPECT_TRUE(content.find("manifest.webmanifest"));
    EXPECT_FALSE(content.find("package.json"));
    // The page names its script and style by their hashed names, and both are there.
    bool script = false;
    bool style = false;
    for (const auto& file : WebContent::builtInFiles()) {
        const std::string name(file.name);
        if (name.starts_with("app.") && name.ends_with(".js")) {
            script = true;
            EXPECT_TRUE(WebContent::isContentHashedName(name));
            EXPECT_NE(page->body.find(name), std::string::npos) << name;
        }
        if (name.starts_with("app.") && name.ends_with(".css"))
            style = page->body.find(name) != std::string::npos;
    }
    EXPECT_TRUE(script);
    EXPECT_TRUE(style);
}

TEST(WebContent, noneServesNothing)
{
    EXPECT_FALSE(WebContent::none().servesAnything());
    EXPECT_FALSE(WebContent::none().find("index.html"));
}

TEST(WebContent, hashedNamesAndTypes)
{
    EXPECT_TRUE(WebContent::isContentHashedName("app.LSAGLPOZ.js"));
    EXPECT_TRUE(WebContent::isContentHashedName("chunk.ABCD2345.css"));
    EXPECT_FALSE(WebContent::isContentHashedName("app.js"));
    EXPECT_FALSE(WebContent::isContentHashedName("index.html"));
    EXPECT_FALSE(WebContent::isContentHashedName("app.lsaglpoz.js"));
    EXPECT_FALSE(WebContent::isContentHashedName("app.SHORT.js"));
    EXPECT_FALSE(WebContent::isContentHashedName("sw.js"));
    EXPECT_EQ(WebContent::contentTypeFor("manifest.webmanifest"), "application/manifest+json");
    EXPECT_EQ(WebContent::contentTypeFor("icon.svg"), "image/svg+xml");
    EXPECT_EQ(WebContent::contentTypeFor("icon-192.png"), "image/png");
    EXPECT_EQ(WebContent::contentTypeFor("README"), "application/octet-stream");
}

} // namespace
