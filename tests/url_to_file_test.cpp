#include "transfer/UrlToFile.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

TEST(url_to_file, fetches_the_body_exactly_and_follows_a_redirect)
{
    NginxServer::Options options;
    options.extraServerConfig = "location = /moved.txt { return 302 /lists/update.txt; }";
    NginxServer server(options);
    std::string body = "1\r\nv1\r\nhttp://x/\r\n";
    for (int i = 0; i < 2000; ++i)
        body += "file" + std::to_string(i) + ",0123456789abcdef0123456789abcdef\n";
    server.Put("lists/update.txt", body);
    TempDir dir;
    const std::string target = dir.Folder() + "update.txt";
    dir.Write("update.txt", "an older, longer list that must be replaced entirely" + std::string(200000, 'x'));

    ASSERT_EQ(UrlToFile(server.BaseUrl() + "lists/update.txt?t=123", target), ListFetch::Fetched);
    EXPECT_EQ(ReadFileText(target), body);

    fs::remove(target);
    ASSERT_EQ(UrlToFile(server.BaseUrl() + "moved.txt?t=1", target), ListFetch::Fetched);
    EXPECT_EQ(ReadFileText(target), body);
}

TEST(url_to_file, failures_leave_no_file_behind)
{
    NginxServer server;
    TempDir dir;
    const std::string target = dir.Folder() + "update.txt";
    const std::string failing[] = {
        server.BaseUrl() + "lists/missing.txt?t=1",                                   // 404
        "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/update.txt?t=1", // nobody listens
        "?t=1",                                                                      // empty configured URL
        "file:///etc/hostname",                                                      // not http
    };
    for (const std::string& url : failing) {
        EXPECT_EQ(UrlToFile(url, target), ListFetch::NetworkFailed) << url;
        EXPECT_FALSE(fs::exists(target)) << url;
    }
    server.Put("ok.txt", "ok");
    // A folder that cannot take the list is not the network's fault.
    EXPECT_EQ(UrlToFile(server.BaseUrl() + "ok.txt", dir.Folder() + "no/such/folder/x.txt"), ListFetch::CannotWrite);
}

// The byte cap of a fetch into memory: a body of exactly the cap is kept
// whole, one byte more is refused and nothing is handed back.
TEST(url_to_memory, keeps_a_body_up_to_the_cap_and_refuses_a_longer_one)
{
    NginxServer server;
    constexpr std::size_t cap = 4096;
    struct Case {
        const char* name;
        std::size_t size;
        ListFetch expected;
    };
    const Case cases[] = {
        {"empty", 0, ListFetch::Fetched},
        {"exactly_the_cap", cap, ListFetch::Fetched},
        {"one_byte_over", cap + 1, ListFetch::TooLarge},
        {"far_over", 1 << 20, ListFetch::TooLarge},
    };
    for (const Case& c : cases) {
        std::string served(c.size, 's');
        for (std::size_t i = 0; i < served.size(); i += 61)
            served[i] = static_cast<char>('a' + i % 26);
        server.Put(std::string(c.name) + ".minisig", served);
        std::string body = "left from before";
        EXPECT_EQ(UrlToMemory(server.BaseUrl() + c.name + ".minisig?t=1", cap, body), c.expected) << c.name;
        EXPECT_EQ(body, c.expected == ListFetch::Fetched ? served : std::string()) << c.name;
    }
    std::string body = "left from before";
    EXPECT_EQ(UrlToMemory(server.BaseUrl() + "missing.minisig", cap, body), ListFetch::NetworkFailed);
    EXPECT_EQ(body, "");
}
