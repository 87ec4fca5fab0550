#include "transfer/HttpDownloader.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

constexpr std::size_t Block = TransferBlockSize;

std::uint64_t FileSize(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// Records what the transfer reports. Checks at every poll that the block in
// hand is already on disk (write comes before poll), and asks to stop at the
// given poll.
class RecordingState : public IDownloadState {
public:
    explicit RecordingState(std::string path = {}, int stopAtPoll = 0) : m_path(std::move(path)), m_stopAtPoll(stopAtPoll) {}

    void OnBegin(std::uint64_t total, std::uint64_t local) override
    {
        begins.emplace_back(total, local);
        m_onDisk = local;
    }
    void OnProgress(std::uint64_t total, std::uint64_t block) override
    {
        EXPECT_EQ(events.back(), 'S') << "reported before the poll";
        events.push_back('P');
        totals.push_back(total);
        blocks.push_back(block);
    }
    int ShouldStop() override
    {
        events.push_back('S');
        ++polls;
        if (!m_path.empty()) {
            // The file must hold every reported block plus the one in hand.
            const auto size = FileSize(m_path);
            EXPECT_GT(size, m_onDisk) << "polled before the block was written";
            EXPECT_LE(size - m_onDisk, Block);
            m_onDisk = size;
        }
        return m_stopAtPoll != 0 && polls == m_stopAtPoll ? 1 : 0;
    }

    std::vector<std::pair<std::uint64_t, std::uint64_t>> begins;
    std::vector<std::uint64_t> blocks;
    std::vector<std::uint64_t> totals;
    std::string events;
    int polls = 0;

private:
    std::string m_path;
    int m_stopAtPoll;
    std::uint64_t m_onDisk = 0;
};

using Begin = std::pair<std::uint64_t, std::uint64_t>;

FaultReply WithStatus(int status)
{
    FaultReply reply;
    reply.status = status;
    reply.honourRange = status == 0;
    return reply;
}

FaultReply WithLength(const std::string& text)
{
    FaultReply reply;
    reply.contentLength = text;
    return reply;
}

FaultReply Redirect(int status, const std::string& location)
{
    FaultReply reply;
    reply.status = status;
    reply.body = std::string();
    reply.extraHeaders = {"Location: " + location};
    return reply;
}

// ---- Against nginx: the paths a correct server takes ----

class NginxDownload : public ::testing::Test {
protected:
    NginxServer server;
    TempDir local;
};

TEST_F(NginxDownload, new_file_arrives_whole_in_full_blocks)
{
    const auto body = RandomBytes(6 * Block + 1000);
    server.Put("data/new.bin", body);
    const auto path = local.Folder() + "new.bin.tmp";
    RecordingState state(path);
    HttpDownloader downloader;

    EXPECT_EQ(downloader.Download(&state, server.BaseUrl() + "data\\new.bin", path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    EXPECT_EQ(state.begins, (std::vector<Begin> {{body.size(), 0}}));
    EXPECT_EQ(state.blocks, (std::vector<std::uint64_t> {Block, Block, Block, Block, Block, Block, 1000}));
    EXPECT_EQ(state.totals.back(), body.size());
    EXPECT_EQ(state.events, "SPSPSPSPSPSPSP");
}

TEST_F(NginxDownload, partial_file_is_continued_and_complete_file_left_alone)
{
    const auto body = RandomBytes(5000);
    server.Put("f.bin", body);
    const auto path = local.Write("f.bin.tmp", body.substr(0, 1000));
    HttpDownloader downloader;

    RecordingState first;
    EXPECT_EQ(downloader.Download(&first, server.BaseUrl() + "f.bin", path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    EXPECT_EQ(first.begins, (std::vector<Begin> {{5000, 1000}}));
    EXPECT_EQ(first.blocks, (std::vector<std::uint64_t> {4000}));

    const auto before = std::filesystem::last_write_time(path);
    RecordingState second;
    EXPECT_EQ(downloader.Download(&second, server.BaseUrl() + "f.bin", path), DownloadOk);
    EXPECT_TRUE(second.begins.empty());
    EXPECT_TRUE(second.blocks.empty());
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

TEST_F(NginxDownload, local_file_longer_than_announced_is_fetched_again_from_zero)
{
    const auto body = RandomBytes(5000);
    server.Put("short.bin", body);
    const auto path = local.Write("short.bin.tmp", RandomBytes(6000, 99));
    RecordingState state;
    HttpDownloader downloader;

    EXPECT_EQ(downloader.Download(&state, server.BaseUrl() + "short.bin", path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    EXPECT_EQ(state.begins, (std::vector<Begin> {{5000, 0}}));
}

TEST_F(NginxDownload, stop_keeps_the_block_in_hand_and_a_second_call_resumes)
{
    const auto body = RandomBytes(4 * Block + 12345);
    server.Put("big.bin", body);
    const auto path = local.Folder() + "big.bin.tmp";
    HttpDownloader downloader;

    RecordingState stopping(path, 2);
    EXPECT_EQ(downloader.Download(&stopping, server.BaseUrl() + "big.bin", path), DownloadStopped);
    EXPECT_EQ(FileSize(path), 2 * Block);
    EXPECT_EQ(stopping.blocks, (std::vector<std::uint64_t> {Block})); // the stopped block is not reported
    EXPECT_EQ(stopping.events, "SPS");

    RecordingState resuming;
    EXPECT_EQ(downloader.Download(&resuming, server.BaseUrl() + "big.bin", path), DownloadOk);
    EXPECT_EQ(resuming.begins, (std::vector<Begin> {{body.size(), 2 * Block}}));
    EXPECT_TRUE(ReadFileText(path) == body);
}

TEST_F(NginxDownload, names_with_backslashes_spaces_and_utf8_are_fetched)
{
    const auto body = RandomBytes(3000);
    server.Put("game data/\xE5\x9C\xB0\xE5\x9B\xBE/m 1.pak", body);
    const auto path = local.Folder() + "m1.tmp";
    HttpDownloader downloader;

    EXPECT_EQ(downloader.Download(nullptr, server.BaseUrl() + "game data\\\xE5\x9C\xB0\xE5\x9B\xBE\\m 1.pak", path),
        DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    std::uint64_t size = 0;
    EXPECT_EQ(QueryRemoteSize(server.BaseUrl() + "game data\\\xE5\x9C\xB0\xE5\x9B\xBE\\m 1.pak", size), DownloadOk);
    EXPECT_EQ(size, body.size());
}

TEST_F(NginxDownload, compressible_file_arrives_as_stored_though_the_server_compresses)
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + std::to_string(i % 17) + " of a very compressible text\n";
    server.Put("readme.txt", text);

    // The server does compress for a client that asks for it...
    HttpClient client;
    ASSERT_TRUE(client.Connect(server.BaseUrl() + "readme.txt"));
    ASSERT_TRUE(client.SendGet("Accept-Encoding: gzip\r\n", false));
    std::string encoding;
    EXPECT_TRUE(client.QueryHeader("Content-Encoding", encoding));
    EXPECT_EQ(encoding, "gzip");
    client.CloseRequest();

    // ...and we get the stored bytes.
    const auto path = local.Folder() + "readme.tmp";
    HttpDownloader downloader;
    EXPECT_EQ(downloader.Download(nullptr, server.BaseUrl() + "readme.txt", path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == text);
}

TEST(NginxRedirect, redirect_is_followed_to_the_file)
{
    NginxServer server(NginxServer::Options {false, "location = /old.bin { return 302 /moved/new.bin; }"});
    TempDir local;
    const auto body = RandomBytes(Block + 77);
    server.Put("moved/new.bin", body);
    const auto path = local.Folder() + "old.tmp";
    RecordingState state;
    HttpDownloader downloader;

    EXPECT_EQ(downloader.Download(&state, server.BaseUrl() + "old.bin", path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    EXPECT_EQ(state.begins, (std::vector<Begin> {{body.size(), 0}}));
    std::uint64_t size = 0;
    EXPECT_EQ(QueryRemoteSize(server.BaseUrl() + "old.bin", size), DownloadOk);
    EXPECT_EQ(size, body.size());
}

TEST(NginxTls, https_download_checks_the_certificate)
{
    NginxServer server(NginxServer::Options {true, ""});
    TempDir local;
    const auto body = RandomBytes(Block + 5);
    server.Put("s.bin", body);
    const auto path = local.Folder() + "s.tmp";
    HttpDownloader downloader;

    // Not trusted yet: refused, nothing received.
    EXPECT_EQ(downloader.Download(nullptr, server.BaseUrl() + "s.bin", path), DownloadNetError);
    EXPECT_EQ(FileSize(path), 0u);

    ScopedEnv trust("CURL_CA_BUNDLE", server.CertificateFile());
    EXPECT_EQ(downloader.Download(nullptr, server.BaseUrl() + "s.bin", path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    std::uint64_t size = 0;
    EXPECT_EQ(QueryRemoteSize(server.BaseUrl() + "s.bin", size), DownloadOk);
    EXPECT_EQ(size, body.size());
}

// ---- Against the fault server: what a correct server does not do ----

class FaultDownload : public ::testing::Test {
protected:
    FaultDownload() { server.SetBody(body); }
    std::string Url() const { return server.BaseUrl() + "pak\\f.bin"; }

    const std::string body = RandomBytes(5000, 3);
    FaultServer server;
    TempDir local;
    HttpDownloader downloader;
};

TEST_F(FaultDownload, requests_carry_the_header_texts_in_order)
{
    const auto path = local.Write("f.tmp", body.substr(0, 1000));
    EXPECT_EQ(downloader.Download(nullptr, Url(), path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.Port());
    const std::vector<std::string> probe {host, "User-Agent: Zorvath Downloader", "Accept: */*",
        "Accept-Language: zh-cn", "Content-Type: multipart/form-data;", "UA-CPU: x86", "Accept-Encoding: identity",
        "Cache-Control: no-cache"};
    auto ranged = probe;
    ranged.insert(ranged.begin() + 5, "Range: bytes=1000-5000");
    EXPECT_EQ(requests[0].requestLine, "GET /pak/f.bin HTTP/1.1");
    EXPECT_EQ(requests[0].headers, probe);
    EXPECT_EQ(requests[1].requestLine, "GET /pak/f.bin HTTP/1.1");
    EXPECT_EQ(requests[1].headers, ranged);
}

TEST_F(FaultDownload, new_file_asks_from_zero_to_the_size)
{
    const auto path = local.Folder() + "f.tmp";
    RecordingState state;
    EXPECT_EQ(downloader.Download(&state, Url(), path), DownloadOk);
    EXPECT_EQ(server.Requests().at(1).Header("Range"), "bytes=0-5000");
    EXPECT_EQ(state.begins, (std::vector<Begin> {{5000, 0}}));
    EXPECT_TRUE(ReadFileText(path) == body);
}

struct UnknownSizeCase {
    const char* name;
    std::string probeLength; // Content-Length text on the probe ("" = none)
    std::string present;     // bytes in the local file before
};

TEST_F(FaultDownload, unknown_size_fetches_without_range_and_restarts_the_file)
{
    const UnknownSizeCase cases[] = {
        {"no length, new file", "", ""},
        {"no length, bytes present", "", "stale bytes"},
        {"length not a number", "abc12", ""},
        {"length word", "lots", "stale"},
    };
    for (const auto& c : cases) {
        FaultServer fresh;
        FaultReply probe;
        probe.contentLength = c.probeLength;
        FaultReply whole;
        whole.contentLength = ""; // body until the connection closes
        fresh.SetBody(body);
        fresh.SetScript({probe, whole});
        const auto path = local.Write(std::string("u-") + c.name, c.present);
        RecordingState state;

        EXPECT_EQ(downloader.Download(&state, fresh.BaseUrl() + "f.bin", path), DownloadOk) << c.name;
        EXPECT_TRUE(ReadFileText(path) == body) << c.name;
        EXPECT_EQ(state.begins, (std::vector<Begin> {{0, 0}})) << c.name;
        const auto requests = fresh.Requests();
        ASSERT_EQ(requests.size(), 2u) << c.name;
        EXPECT_EQ(requests[1].Header("Range"), "") << c.name;
    }
}

TEST_F(FaultDownload, leading_digits_of_a_length_count)
{
    FaultReply probe;
    probe.contentLength = "5000abc";
    server.SetScript({probe, FaultReply {}});
    const auto path = local.Folder() + "f.tmp";
    RecordingState state;
    EXPECT_EQ(downloader.Download(&state, Url(), path), DownloadOk);
    EXPECT_EQ(state.begins, (std::vector<Begin> {{5000, 0}}));
}

struct StatusCase {
    const char* name;
    int probeStatus; // 0: a correct answer
    int rangedStatus;
    DownloadState expected;
};

TEST_F(FaultDownload, statuses_on_probe_and_ranged_request)
{
    const StatusCase cases[] = {
        {"404 on ranged", 0, 404, DownloadNetError},
        {"500 on ranged", 0, 500, DownloadNetError},
        {"416 on ranged", 0, 416, DownloadNetError},
        {"304 on ranged", 0, 304, DownloadNetError},
        {"404 on probe, ranged decides", 404, 0, DownloadOk},
        {"500 on probe, ranged decides", 500, 0, DownloadOk},
        {"404 on both", 404, 404, DownloadNetError},
    };
    for (const auto& c : cases) {
        for (const std::string& present : {std::string(), body.substr(0, 1000)}) {
            FaultServer fresh;
            fresh.SetBody(body);
            FaultReply probe;
            probe.status = c.probeStatus;
            FaultReply ranged;
            ranged.status = c.rangedStatus;
            fresh.SetScript({probe, ranged});
            const auto path = local.Write("s.tmp", present);
            RecordingState state;

            EXPECT_EQ(downloader.Download(&state, fresh.BaseUrl() + "f.bin", path), c.expected) << c.name;
            if (c.expected == DownloadOk) {
                EXPECT_TRUE(ReadFileText(path) == body) << c.name;
                EXPECT_EQ(fresh.Requests().at(1).Header("Range"), "bytes=" + std::to_string(present.size()) + "-5000");
            } else {
                EXPECT_TRUE(std::filesystem::exists(path)) << c.name;
                EXPECT_TRUE(ReadFileText(path) == present) << c.name;
                EXPECT_TRUE(state.begins.empty()) << c.name;
            }
        }
    }
}

TEST_F(FaultDownload, whole_body_to_a_range_request_restarts_the_file)
{
    FaultReply ignoring;
    ignoring.honourRange = false;
    server.SetScript({ignoring});
    const auto path = local.Write("f.tmp", body.substr(0, 1000));
    RecordingState state;

    EXPECT_EQ(downloader.Download(&state, Url(), path), DownloadOk);
    EXPECT_EQ(server.Requests().at(1).Header("Range"), "bytes=1000-5000");
    EXPECT_EQ(state.begins, (std::vector<Begin> {{5000, 0}}));
    EXPECT_TRUE(ReadFileText(path) == body);
}

TEST_F(FaultDownload, file_longer_than_announced_is_fetched_whole_without_a_range_past_its_end)
{
    FaultReply ignoring;
    ignoring.honourRange = false;
    server.SetScript({ignoring});
    const auto path = local.Write("f.tmp", RandomBytes(7000, 11));

    EXPECT_EQ(downloader.Download(nullptr, Url(), path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    EXPECT_EQ(server.Requests().at(1).Header("Range"), "bytes=0-5000");
}

struct WrongRangeCase {
    const char* name;
    FaultReply ranged;
};

FaultReply WrongRange(int status, bool honourRange, std::string contentRange)
{
    FaultReply reply;
    reply.status = status;
    reply.honourRange = honourRange;
    reply.contentRange = std::move(contentRange);
    return reply;
}

// A 206 that does not hold the bytes asked for: the partial file is dropped
// and the whole file fetched, so nothing is joined at the wrong place.
TEST_F(FaultDownload, partial_answer_of_other_bytes_restarts_the_file_from_zero)
{
    const WrongRangeCase cases[] = {
        {"whole body labelled from 0", WrongRange(206, false, "bytes 0-4999/5000")},
        {"range starts later", WrongRange(206, true, "bytes 1500-4999/5000")},
        {"another total", WrongRange(206, true, "bytes 1000-4999/9000")},
        {"no content-range", WrongRange(206, true, "")},
        {"unreadable content-range", WrongRange(206, true, "bytes 1000-/5000")},
    };
    for (const auto& c : cases) {
        FaultServer fresh;
        fresh.SetBody(body);
        fresh.SetScript({FaultReply {}, c.ranged, FaultReply {}});
        const auto path = local.Write("w.tmp", body.substr(0, 1000));
        RecordingState state;

        EXPECT_EQ(downloader.Download(&state, fresh.BaseUrl() + "f.bin", path), DownloadOk) << c.name;
        EXPECT_TRUE(ReadFileText(path) == body) << c.name;
        EXPECT_EQ(state.begins, (std::vector<Begin> {{5000, 0}})) << c.name;
        const auto requests = fresh.Requests();
        ASSERT_EQ(requests.size(), 3u) << c.name;
        EXPECT_EQ(requests[1].Header("Range"), "bytes=1000-5000") << c.name;
        EXPECT_EQ(requests[2].Header("Range"), "bytes=0-5000") << c.name;
    }
}

TEST_F(FaultDownload, whole_file_request_answered_with_other_bytes_fails_and_writes_nothing)
{
    // Every ranged answer claims to start at 1500: the restart meets it too.
    server.SetScript({FaultReply {}, WrongRange(206, true, "bytes 1500-4999/5000")});
    const auto path = local.Write("w.tmp", body.substr(0, 1000));
    RecordingState state;

    EXPECT_EQ(downloader.Download(&state, Url(), path), DownloadNetError);
    EXPECT_EQ(FileSize(path), 0u);
    EXPECT_TRUE(state.begins.empty());
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(FaultDownload, correct_partial_answer_resumes_without_a_restart)
{
    server.SetScript({FaultReply {}, WrongRange(206, true, "bytes 1000-4999/*")});
    const auto path = local.Write("w.tmp", body.substr(0, 1000));
    RecordingState state;

    EXPECT_EQ(downloader.Download(&state, Url(), path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
    EXPECT_EQ(state.begins, (std::vector<Begin> {{5000, 1000}}));
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(FaultDownload, encoded_body_is_refused)
{
    FaultReply encoded;
    encoded.extraHeaders = {"Content-Encoding: gzip"};
    server.SetScript({FaultReply {}, encoded});
    const auto path = local.Folder() + "f.tmp";

    EXPECT_EQ(downloader.Download(nullptr, Url(), path), DownloadNetError);
    EXPECT_EQ(FileSize(path), 0u);
}

TEST_F(FaultDownload, dropped_connection_keeps_its_bytes_and_the_next_call_completes)
{
    const auto big = RandomBytes(3 * Block, 5);
    server.SetBody(big);
    FaultReply dropping;
    dropping.closeAfter = Block + 1000;
    server.SetScript({FaultReply {}, dropping, FaultReply {}});
    const auto path = local.Folder() + "f.tmp";

    EXPECT_EQ(downloader.Download(nullptr, Url(), path), DownloadNetError);
    EXPECT_EQ(FileSize(path), Block + 1000);
    EXPECT_TRUE(ReadFileText(path) == big.substr(0, Block + 1000));

    RecordingState state;
    EXPECT_EQ(downloader.Download(&state, Url(), path), DownloadOk);
    EXPECT_EQ(state.begins, (std::vector<Begin> {{big.size(), Block + 1000}}));
    EXPECT_TRUE(ReadFileText(path) == big);
}

TEST_F(FaultDownload, stalled_body_ends_with_a_net_error)
{
    FaultReply stalling;
    stalling.stallAfter = 100;
    server.SetScript({FaultReply {}, stalling});
    downloader.SetStallSeconds(1);
    const auto path = local.Folder() + "f.tmp";

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(downloader.Download(nullptr, Url(), path), DownloadNetError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(ReadFileText(path) == body.substr(0, 100));
}

TEST_F(FaultDownload, slow_headers_within_the_limit_are_waited_for)
{
    FaultReply slow;
    slow.headerDelayMs = 400;
    server.SetScript({slow});
    const auto path = local.Folder() + "f.tmp";

    EXPECT_EQ(downloader.Download(nullptr, Url(), path), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == body);
}

TEST_F(FaultDownload, bad_redirects_end_with_a_net_error)
{
    const std::vector<std::pair<const char*, FaultReply>> cases = {
        {"to ftp", Redirect(302, "ftp://127.0.0.1/f.bin")},
        {"endless", Redirect(301, "/again")},
    };
    for (const auto& [name, reply] : cases) {
        FaultServer fresh;
        fresh.SetScript({reply});
        const auto path = local.Folder() + "r.tmp";
        EXPECT_EQ(downloader.Download(nullptr, fresh.BaseUrl() + "f.bin", path), DownloadNetError) << name;
        EXPECT_EQ(FileSize(path), 0u) << name;
        std::uint64_t size = 42;
        EXPECT_EQ(QueryRemoteSize(fresh.BaseUrl() + "f.bin", size), DownloadNetError) << name;
        EXPECT_EQ(size, 42u) << name;
    }
    // The endless one: the first request and ten hops, twice (probe, size query).
    FaultServer counting;
    counting.SetScript({cases[1].second});
    std::uint64_t size = 0;
    EXPECT_EQ(QueryRemoteSize(counting.BaseUrl() + "f.bin", size), DownloadNetError);
    EXPECT_EQ(counting.Requests().size(), 11u);
}

TEST(DownloadFailure, missing_folder_unreachable_host_and_bad_url)
{
    TempDir local;
    FaultServer server;
    server.SetBody("abc");
    HttpDownloader downloader;
    EXPECT_EQ(downloader.Download(nullptr, server.BaseUrl() + "f", local.Folder() + "no/such/dir/f.tmp"),
        DownloadFileError);

    const auto closedPort = FreeLoopbackPort();
    const auto path = local.Folder() + "f.tmp";
    EXPECT_EQ(downloader.Download(nullptr, "http://127.0.0.1:" + std::to_string(closedPort) + "/f", path),
        DownloadNetError);
    EXPECT_EQ(downloader.Download(nullptr, "not a url", path), DownloadNetError);
    EXPECT_EQ(downloader.Download(nullptr, "ftp://127.0.0.1/f", path), DownloadNetError);
    EXPECT_EQ(FileSize(path), 0u);
    EXPECT_EQ(downloader.Download(nullptr, server.BaseUrl() + "f", path), DownloadOk);
    EXPECT_EQ(ReadFileText(path), "abc");
}

struct SizeCase {
    const char* name;
    FaultReply reply;
    DownloadState expected;
    std::uint64_t size; // after the call, starting from 777
};

TEST(QueryRemoteSize, answers_by_status_and_length)
{
    const std::vector<SizeCase> cases = {
        {"200", WithStatus(0), DownloadOk, 5000},
        {"206", WithStatus(206), DownloadNetError, 777},
        {"404", WithStatus(404), DownloadNetError, 777},
        {"200 without length", WithLength(""), DownloadOk, 777},
        {"200 length not a number", WithLength("x1"), DownloadOk, 0},
    };
    for (const auto& c : cases) {
        FaultServer server;
        server.SetBody(RandomBytes(5000));
        server.SetScript({c.reply});
        std::uint64_t size = 777;
        EXPECT_EQ(QueryRemoteSize(server.BaseUrl() + "a b\\f.bin", size), c.expected) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u) << c.name;
        EXPECT_EQ(requests[0].requestLine, "GET /a%20b/f.bin HTTP/1.1") << c.name;
        for (const char* absent : {"Range", "Accept-Language", "UA-CPU", "Accept-Encoding", "Cache-Control"})
            EXPECT_EQ(requests[0].Header(absent), "") << c.name << " " << absent;
    }
}

} // namespace
