#include "transfer/ProxyEnvironment.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/NginxServer.h"
#include "support/ScopedEnv.h"
#include "support/TestData.h"
#include "support/TinyProxy.h"
#include "transfer/TransferEngine.h"
#include "transfer/UrlToFile.h"

namespace {

using Variables = std::map<std::string, std::string>;

ProxyEnvironment EnvironmentOf(const Variables& variables)
{
    return ReadProxyEnvironment([&](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    });
}

const std::string P1 = "http://proxy-one:3128";
const std::string P2 = "http://proxy-two:8080";
const std::string P3 = "http://upper-proxy:3128";

struct ProxyCase {
    const char* name;
    Variables variables;
    const char* url;
    std::string proxy; // "" direct
};

const ProxyCase kProxyCases[] = {
    {"nothing set", {}, "http://h/a", ""},
    {"http uses http_proxy", {{"http_proxy", P1}}, "http://h/a", P1},
    {"https does not use http_proxy", {{"http_proxy", P1}}, "https://h/a", ""},
    {"https uses https_proxy", {{"https_proxy", P2}}, "https://h/a", P2},
    {"http does not use https_proxy", {{"https_proxy", P2}}, "http://h/a", ""},
    {"upper-case HTTP_PROXY", {{"HTTP_PROXY", P3}}, "http://h/a", P3},
    {"upper-case HTTPS_PROXY", {{"HTTPS_PROXY", P3}}, "https://h/a", P3},
    {"lower case wins over upper", {{"http_proxy", P1}, {"HTTP_PROXY", P3}}, "http://h/a", P1},
    {"empty lower case wins over upper", {{"http_proxy", ""}, {"HTTP_PROXY", P3}}, "http://h/a", ""},
    {"all_proxy for http", {{"all_proxy", P2}}, "http://h/a", P2},
    {"ALL_PROXY for https", {{"ALL_PROXY", P3}}, "https://h/a", P3},
    {"own variable before all_proxy", {{"https_proxy", P1}, {"all_proxy", P2}}, "https://h/a", P1},
    {"empty own variable falls back to all_proxy", {{"http_proxy", ""}, {"all_proxy", P2}}, "http://h/a", P2},
    {"scheme in upper case", {{"http_proxy", P1}}, "HTTP://h/a", P1},
    {"proxy value trimmed", {{"http_proxy", " " + P1 + " "}}, "http://h/a", P1},

    {"no_proxy names the host", {{"http_proxy", P1}, {"no_proxy", "files.example.com"}}, "http://files.example.com/a", ""},
    {"no_proxy names another host", {{"http_proxy", P1}, {"no_proxy", "files.example.com"}}, "http://cdn.example.com/a", P1},
    {"no_proxy domain covers names under it", {{"http_proxy", P1}, {"no_proxy", "example.com"}}, "http://a.b.example.com/", ""},
    {"no_proxy domain is no mere text suffix", {{"http_proxy", P1}, {"no_proxy", "example.com"}}, "http://badexample.com/", P1},
    {"no_proxy leading dot covers the domain itself", {{"http_proxy", P1}, {"no_proxy", ".example.com"}}, "http://example.com/", ""},
    {"no_proxy leading dot covers names under it", {{"http_proxy", P1}, {"no_proxy", ".example.com"}}, "http://a.example.com/", ""},
    {"no_proxy star-dot domain", {{"http_proxy", P1}, {"no_proxy", "*.example.com"}}, "http://a.example.com/", ""},
    {"no_proxy star alone", {{"https_proxy", P1}, {"no_proxy", "*"}}, "https://anything.at.all/", ""},
    {"no_proxy list with spaces", {{"http_proxy", P1}, {"no_proxy", " other.org , h ,"}}, "http://h/a", ""},
    {"no_proxy in other case", {{"http_proxy", P1}, {"no_proxy", "FILES.Example.COM"}}, "http://files.EXAMPLE.com/", ""},
    {"upper-case NO_PROXY", {{"http_proxy", P1}, {"NO_PROXY", "h"}}, "http://h/a", ""},
    {"lower-case no_proxy wins", {{"http_proxy", P1}, {"no_proxy", "other"}, {"NO_PROXY", "h"}}, "http://h/a", P1},
    {"no_proxy with all_proxy", {{"all_proxy", P1}, {"no_proxy", "h"}}, "https://h/a", ""},
    {"no_proxy port matches", {{"http_proxy", P1}, {"no_proxy", "h:8080"}}, "http://h:8080/a", ""},
    {"no_proxy port differs", {{"http_proxy", P1}, {"no_proxy", "h:8080"}}, "http://h:9090/a", P1},
    {"no_proxy port against default http port", {{"http_proxy", P1}, {"no_proxy", "h:80"}}, "http://h/a", ""},
    {"no_proxy port against default https port", {{"https_proxy", P1}, {"no_proxy", "h:80"}}, "https://h/a", P1},
    {"no_proxy domain with port", {{"http_proxy", P1}, {"no_proxy", ".example.com:8080"}}, "http://a.example.com:8080/", ""},
    {"no_proxy IP address", {{"http_proxy", P1}, {"no_proxy", "127.0.0.1"}}, "http://127.0.0.1:8080/a", ""},
    {"no_proxy IP address only in full", {{"http_proxy", P1}, {"no_proxy", "0.0.1"}}, "http://127.0.0.1/a", P1},
    {"no_proxy IP address with port", {{"http_proxy", P1}, {"no_proxy", "127.0.0.1:8080"}}, "http://127.0.0.1:8081/", P1},
    {"no_proxy bracketed IPv6 with port", {{"http_proxy", P1}, {"no_proxy", "[::1]:8080"}}, "http://[::1]:8080/", ""},
    {"no_proxy bare IPv6", {{"http_proxy", P1}, {"no_proxy", "::1"}}, "http://[::1]:8080/", ""},
    {"no_proxy empty", {{"http_proxy", P1}, {"no_proxy", ""}}, "http://h/a", P1},
    {"no_proxy bad port is ignored", {{"http_proxy", P1}, {"no_proxy", "h:x"}}, "http://h/a", P1},
    {"not a URL", {{"http_proxy", P1}}, "no url", ""},
};

TEST(proxy_for_url, picks_each_case_of_the_table)
{
    for (const auto& c : kProxyCases)
        EXPECT_EQ(ProxyForUrl(c.url, EnvironmentOf(c.variables)), c.proxy) << c.name;
}

TEST(proxy_environment, reads_either_case_and_prefers_lower_case)
{
    const ProxyEnvironment environment = EnvironmentOf(
        {{"http_proxy", "a"}, {"HTTP_PROXY", "b"}, {"HTTPS_PROXY", "c"}, {"all_proxy", "d"}, {"NO_PROXY", "e"}});
    EXPECT_EQ(environment.httpProxy, "a");
    EXPECT_EQ(environment.httpsProxy, "c");
    EXPECT_EQ(environment.allProxy, "d");
    EXPECT_EQ(environment.noProxy, "e");
    EXPECT_FALSE(EnvironmentOf({}).httpProxy.has_value());
}

// A real proxy between our requests and nginx: lists (UrlToText), size
// queries and file bodies (the engine) each show up in its log.
class ThroughProxy : public ::testing::Test {
protected:
    // Fetches a list, asks a file's size and fetches the file, as a run does;
    // each must come back whole.
    void FetchListSizeAndFile(const NginxServer& server)
    {
        const std::string list = "1\nv1\n" + server.BaseUrl() + "game/\n";
        const std::string file = RandomBytes(300000, 5);
        server.Put("lists/update.txt", list);
        server.Put("game/a.bin", file);

        std::string body;
        EXPECT_EQ(UrlToText(server.BaseUrl() + "lists/update.txt", 4096, body), ListFetch::Fetched);
        EXPECT_EQ(body, list);

        TransferEngine engine;
        const auto sizes = engine.QuerySizes({server.BaseUrl() + "game/a.bin"});
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_EQ(sizes[0].state, DownloadOk);
        EXPECT_EQ(sizes[0].size, file.size());

        struct Sink : ITransferSink {
            void OnBegin(std::uint64_t, std::uint64_t) override {}
            bool OnBlock(const char* data, std::size_t size) override
            {
                bytes.append(data, size);
                return true;
            }
            void OnEnd(DownloadState state) override { result = state; }
            std::string bytes;
            DownloadState result = DownloadFileError;
        } sink;
        engine.Add({server.BaseUrl() + "game/a.bin", 0, file.size()}, sink);
        engine.Run();
        EXPECT_EQ(sink.result, DownloadOk);
        EXPECT_TRUE(sink.bytes == file) << "the file came back changed";
    }

    void SetUp() override
    {
        if (!TinyProxyPresent())
            GTEST_SKIP() << "tinyproxy is not installed (scripts/common.sh installs it)";
    }

    // The environment of the user's session stays out of these tests.
    ScopedEnv m_http {"http_proxy", nullptr};
    ScopedEnv m_httpUpper {"HTTP_PROXY", nullptr};
    ScopedEnv m_https {"https_proxy", nullptr};
    ScopedEnv m_httpsUpper {"HTTPS_PROXY", nullptr};
    ScopedEnv m_all {"all_proxy", nullptr};
    ScopedEnv m_allUpper {"ALL_PROXY", nullptr};
    ScopedEnv m_no {"no_proxy", nullptr};
    ScopedEnv m_noUpper {"NO_PROXY", nullptr};
};

TEST_F(ThroughProxy, http_list_size_and_file_go_through_http_proxy_in_either_case)
{
    for (const char* variable : {"http_proxy", "HTTP_PROXY"}) {
        NginxServer server;
        // NginxServer keeps loopback off proxies for every other test.
        ScopedEnv noBypass("no_proxy", nullptr);
        TinyProxy proxy;
        ScopedEnv use(variable, proxy.Url());

        FetchListSizeAndFile(server);

        const std::string base = server.BaseUrl();
        EXPECT_EQ(proxy.Requests(), (std::vector<std::string> {"GET " + base + "lists/update.txt HTTP/1.1",
                                                                "GET " + base + "game/a.bin HTTP/1.1",
                                                                "GET " + base + "game/a.bin HTTP/1.1"}))
            << variable;
    }
}

TEST_F(ThroughProxy, https_goes_through_a_connect_tunnel_of_https_proxy)
{
    NginxServer::Options tls;
    tls.tls = true;
    NginxServer server(tls);
    ScopedEnv noBypass("no_proxy", nullptr);
    ScopedEnv trust("CURL_CA_BUNDLE", server.CertificateFile());
    TinyProxy proxy({server.Port()});
    ScopedEnv use("https_proxy", proxy.Url());
    // Never asked for https: a request that took it would fail.
    ScopedEnv wrong("http_proxy", "http://127.0.0.1:1");

    FetchListSizeAndFile(server);

    const auto requests = proxy.Requests();
    const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(server.Port()) + " HTTP/1.1";
    ASSERT_FALSE(requests.empty());
    for (const std::string& request : requests)
        EXPECT_EQ(request, tunnel);
}

TEST_F(ThroughProxy, no_proxy_sends_a_named_host_direct)
{
    NginxServer server;
    ScopedEnv noLower("no_proxy", nullptr);
    TinyProxy proxy;
    ScopedEnv use("http_proxy", proxy.Url());
    ScopedEnv bypass("NO_PROXY", "example.org, 127.0.0.1:" + std::to_string(server.Port()));

    FetchListSizeAndFile(server);

    EXPECT_TRUE(proxy.Requests().empty());
    EXPECT_EQ(server.RequestedPaths().size(), 3u);
}

TEST_F(ThroughProxy, forced_engine_proxy_wins_over_the_environment)
{
    NginxServer server;
    server.Put("a.bin", "abc");
    TinyProxy proxy;
    ScopedEnv bypass("no_proxy", "*");
    TransferEngineOptions options;
    options.proxy = proxy.Url();
    TransferEngine engine(options);

    const auto sizes = engine.QuerySizes({server.BaseUrl() + "a.bin"});

    EXPECT_EQ(sizes.at(0).size, 3u);
    EXPECT_EQ(proxy.Requests(), (std::vector<std::string> {"GET " + server.BaseUrl() + "a.bin HTTP/1.1"}));
}

} // namespace
