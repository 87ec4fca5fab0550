#include "transfer/TransferEngine.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/FaultServer.h"
#include "support/LatencyProxy.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "transfer/FileTransferSink.h"

namespace {

using Begin = std::pair<std::uint64_t, std::uint64_t>;

// Keeps a job's body in memory and what the engine said about it. Stops the
// job (returns false) once stopAfterBytes have come, when set.
class MemorySink : public ITransferSink {
public:
    void OnBegin(std::uint64_t total, std::uint64_t startOffset) override
    {
        EXPECT_FALSE(ended) << "begin after end";
        begins.emplace_back(total, startOffset);
        if (startOffset == 0)
            bytes.clear();
    }
    bool OnBlock(const char* data, std::size_t size) override
    {
        EXPECT_FALSE(ended) << "block after end";
        EXPECT_EQ(begins.size(), 1u) << "block without one begin";
        EXPECT_GT(size, 0u);
        EXPECT_LE(size, TransferEngineBlockSize);
        bytes.append(data, size);
        ++blocks;
        return !(stopAfterBytes && bytes.size() >= *stopAfterBytes);
    }
    void OnEnd(DownloadState state) override
    {
        EXPECT_FALSE(ended) << "ended twice";
        EXPECT_EQ(fault.has_value(), state == DownloadNetError) << "a fault comes with a network failure only";
        ended = true;
        result = state;
    }
    void OnFault(TransferFault what) override
    {
        EXPECT_FALSE(ended) << "fault after end";
        EXPECT_FALSE(fault.has_value()) << "fault told twice";
        fault = what;
    }

    std::optional<std::size_t> stopAfterBytes;
    std::vector<Begin> begins;
    std::string bytes;
    int blocks = 0;
    bool ended = false;
    DownloadState result = DownloadFileError;
    std::optional<TransferFault> fault;
};

TransferEngineOptions WithConnections(int connections)
{
    TransferEngineOptions options;
    options.connections = connections;
    return options;
}

// Small files of varied sizes under names f0.bin, f1.bin, ...; returns their contents.
std::vector<std::string> PutSmallFiles(const NginxServer& server, int count)
{
    std::vector<std::string> contents;
    for (int i = 0; i < count; ++i) {
        contents.push_back(RandomBytes(1000 + static_cast<std::size_t>(i) * 397 % 11000, static_cast<unsigned>(i)));
        server.Put("f" + std::to_string(i) + ".bin", contents.back());
    }
    return contents;
}

std::vector<std::string> RequestLines(const FaultServer& server)
{
    std::vector<std::string> lines;
    for (const auto& request : server.Requests())
        lines.push_back(request.requestLine);
    return lines;
}

TEST(TransferEngine, fetches_files_of_several_sizes_in_parallel_byte_exact)
{
    NginxServer server;
    const std::vector<std::size_t> sizes = {0, 1, 4096, 524287, 524288, 524289, 3 * 524288 + 17, 5'000'000};
    std::vector<std::string> contents;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        contents.push_back(RandomBytes(sizes[i], static_cast<unsigned>(i + 1)));
        server.Put("dir/file " + std::to_string(i) + ".bin", contents.back());
    }
    TransferEngine engine(WithConnections(4));
    ASSERT_TRUE(engine.IsOpen());
    std::vector<MemorySink> sinks(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i)
        engine.Add({server.BaseUrl() + "dir\\file " + std::to_string(i) + ".bin"}, sinks[i]);
    engine.Run();
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(sinks[i].result, DownloadOk);
        EXPECT_EQ(sinks[i].begins, (std::vector<Begin> {{sizes[i], 0}}));
        EXPECT_TRUE(sinks[i].bytes == contents[i]) << "body differs";
        // Whole blocks but the last.
        EXPECT_EQ(sinks[i].blocks, static_cast<int>((sizes[i] + TransferEngineBlockSize - 1) / TransferEngineBlockSize));
    }
}

TEST(TransferEngine, reuses_connections_for_many_small_files)
{
    NginxServer server;
    const auto contents = PutSmallFiles(server, 60);
    LatencyProxy proxy(1);
    auto options = WithConnections(2);
    options.proxy = proxy.Url();
    TransferEngine engine(options);
    std::vector<MemorySink> sinks(contents.size());
    for (std::size_t i = 0; i < contents.size(); ++i)
        engine.Add({server.BaseUrl() + "f" + std::to_string(i) + ".bin"}, sinks[i]);
    engine.Run();
    for (std::size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(sinks[i].result, DownloadOk) << i;
        EXPECT_TRUE(sinks[i].bytes == contents[i]) << i;
    }
    EXPECT_LE(proxy.Connections(), 2u);
    EXPECT_GE(proxy.Connections(), 1u);
    EXPECT_EQ(engine.Stats().connectionsOpened, proxy.Connections());
}

TEST(TransferEngine, one_connection_runs_jobs_one_at_a_time_in_the_order_added)
{
    FaultServer server;
    server.SetBody(RandomBytes(3000));
    TransferEngine engine(WithConnections(1));
    std::vector<MemorySink> sinks(8);
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < sinks.size(); ++i) {
        engine.Add({server.BaseUrl() + "n" + std::to_string(i)}, sinks[i]);
        expected.push_back("GET /n" + std::to_string(i) + " HTTP/1.1");
    }
    engine.Run();
    EXPECT_EQ(RequestLines(server), expected);
    for (const auto& sink : sinks)
        EXPECT_EQ(sink.result, DownloadOk);
}

TEST(TransferEngine, sends_the_file_request_headers_in_their_order)
{
    struct Case {
        const char* name;
        std::uint64_t start;
        std::vector<std::string> headers; // ours, in order, between the fixed ones curl adds
    };
    const std::vector<std::string> accept = {"Accept: */*", "Accept-Language: zh-cn", "Content-Type: multipart/form-data;"};
    const std::vector<std::string> client = {"UA-CPU: x86", "Accept-Encoding: identity", "Cache-Control: no-cache"};
    auto with = [&](std::vector<std::string> middle) {
        auto all = accept;
        all.insert(all.end(), middle.begin(), middle.end());
        all.insert(all.end(), client.begin(), client.end());
        return all;
    };
    const std::vector<Case> cases = {
        {"fresh file", 0, with({})},
        {"resumed file", 1234, with({"Range: bytes=1234-"})},
    };
    for (const auto& c : cases) {
        FaultServer server;
        server.SetBody(RandomBytes(5000));
        TransferEngine engine;
        MemorySink sink;
        engine.Add({server.BaseUrl() + "a b\\f.bin", c.start, 5000}, sink);
        engine.Run();
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u) << c.name;
        EXPECT_EQ(requests[0].requestLine, "GET /a%20b/f.bin HTTP/1.1") << c.name;
        std::vector<std::string> ours;
        for (const auto& line : requests[0].headers) {
            const auto name = line.substr(0, line.find(':'));
            if (name != "Host" && name != "User-Agent")
                ours.push_back(line);
        }
        EXPECT_EQ(ours, c.headers) << c.name;
        EXPECT_EQ(sink.result, DownloadOk) << c.name;
    }
}

FaultReply Reply(int status, bool honourRange = false)
{
    FaultReply reply;
    reply.status = status;
    reply.honourRange = honourRange;
    return reply;
}

FaultReply Redirect(const std::string& location)
{
    FaultReply reply = Reply(302);
    reply.body = std::string("moved");
    reply.extraHeaders = {"Location: " + location};
    return reply;
}

TEST(TransferEngine, answers_decide_the_result_as_the_downloader_does)
{
    const std::string body = RandomBytes(5000, 3);
    FaultReply noLength;
    noLength.contentLength = "";
    FaultReply gzip;
    gzip.extraHeaders = {"Content-Encoding: gzip"};
    FaultReply cut;
    cut.closeAfter = 1500;
    const auto ranged = [](const char* contentRange) {
        FaultReply reply = Reply(206, true);
        reply.contentRange = contentRange;
        return reply;
    };
    const auto inHand = std::make_shared<const std::string>(body);
    struct Case {
        const char* name;
        std::uint64_t start;
        std::uint64_t knownSize;
        std::vector<FaultReply> script;
        DownloadState expected;
        TransferFault fault; // told with DownloadNetError; None: not told
        std::vector<Begin> begins;
        std::string bytes; // what the sink holds at the end; "=": the start's bytes, untouched
        std::size_t requests;
        std::shared_ptr<const std::string> received; // the body already in hand
    };
    const std::vector<Case> cases = {
        {"fresh: 200", 0, 0, {}, DownloadOk, TransferFault::None, {{5000, 0}}, body, 1},
        {"resumed: 206", 2000, 5000, {}, DownloadOk, TransferFault::None, {{5000, 2000}}, body, 1},
        {"resumed, size from Content-Range", 2000, 0, {Reply(0, true)}, DownloadOk, TransferFault::None, {{5000, 2000}}, body, 2},
        {"ranged request answered 200 starts over", 2000, 5000, {Reply(200)}, DownloadOk, TransferFault::None, {{5000, 0}}, body, 1},
        {"200 while more is present than the file", 6000, 5000, {Reply(200)}, DownloadNetError, TransferFault::BadAnswer, {}, "=", 1},
        {"416", 2000, 5000, {Reply(416)}, DownloadNetError, TransferFault::Refused, {}, "=", 1},
        {"404", 0, 0, {Reply(404)}, DownloadNetError, TransferFault::Refused, {}, "", 1},
        {"500", 2000, 5000, {Reply(500)}, DownloadNetError, TransferFault::ServerError, {}, "=", 1},
        {"already whole (probe says so)", 5000, 0, {}, DownloadOk, TransferFault::None, {}, body, 1},
        {"already whole (size known): no request", 5000, 5000, {}, DownloadOk, TransferFault::None, {}, body, 0},
        {"probe without length: whole file again", 2000, 0, {noLength, Reply(0, true)}, DownloadOk, TransferFault::None, {{5000, 0}}, body, 2},
        {"encoded body refused", 0, 0, {gzip}, DownloadNetError, TransferFault::BadAnswer, {}, "", 1},
        {"body cut short keeps its bytes", 0, 0, {cut}, DownloadNetError, TransferFault::CutShort, {{5000, 0}}, body.substr(0, 1500), 1},
        {"redirect followed", 0, 0, {Redirect("/elsewhere/f.bin"), Reply(0, true)}, DownloadOk, TransferFault::None, {{5000, 0}}, body, 2},
        {"redirect to another scheme refused", 0, 0, {Redirect("ftp://127.0.0.1/f.bin")}, DownloadNetError, TransferFault::BadAnswer, {}, "", 1},
        {"eleven redirects refused", 0, 0, {Redirect("/again")}, DownloadNetError, TransferFault::BadAnswer, {}, "", 11},
        {"206 from elsewhere: whole file again", 2000, 5000, {ranged("bytes 0-2999/5000"), Reply(0, true)}, DownloadOk,
         TransferFault::None, {{5000, 0}}, body, 2},
        {"206 of another total: whole file again", 2000, 5000, {ranged("bytes 2000-4999/6000"), Reply(0, true)},
         DownloadOk, TransferFault::None, {{5000, 0}}, body, 2},
        {"206 without its range: whole file again", 2000, 5000, {ranged(""), Reply(0, true)}, DownloadOk,
         TransferFault::None, {{5000, 0}}, body, 2},
        {"whole file answered with a range from elsewhere", 0, 0, {ranged("bytes 100-5099/6000")}, DownloadNetError,
         TransferFault::BadAnswer, {}, "", 1},
        {"body in hand: no request", 0, 0, {}, DownloadOk, TransferFault::None, {{5000, 0}}, body, 0, inHand},
        {"body in hand, resumed: the rest of it, no request", 2000, 5000, {}, DownloadOk, TransferFault::None,
         {{5000, 2000}}, body, 0, inHand},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FaultServer server;
        server.SetBody(body);
        server.SetScript(c.script);
        TransferEngine engine;
        MemorySink sink;
        const auto seed = body.substr(0, std::min<std::size_t>(c.start, body.size()));
        sink.bytes = seed;
        engine.Add({server.BaseUrl() + "f.bin", c.start, c.knownSize, c.received}, sink);
        engine.Run();
        EXPECT_TRUE(sink.ended);
        EXPECT_EQ(sink.result, c.expected);
        EXPECT_EQ(sink.fault.value_or(TransferFault::None), c.fault);
        EXPECT_EQ(sink.begins, c.begins);
        EXPECT_TRUE(sink.bytes == (c.bytes == "=" ? seed : c.bytes)) << "holds " << sink.bytes.size() << " bytes";
        EXPECT_EQ(server.Requests().size(), c.requests);
    }
}

TEST(TransferEngine, a_stalled_body_fails_and_keeps_its_bytes)
{
    FaultServer server;
    const std::string body = RandomBytes(5000);
    server.SetBody(body);
    FaultReply stall;
    stall.stallAfter = 1200;
    server.SetScript({stall});
    TransferEngineOptions options;
    options.stallSeconds = 1;
    TransferEngine engine(options);
    MemorySink sink;
    engine.Add({server.BaseUrl() + "f.bin"}, sink);
    engine.Run();
    EXPECT_EQ(sink.result, DownloadNetError);
    EXPECT_EQ(sink.fault, TransferFault::Stalled);
    EXPECT_TRUE(sink.bytes == body.substr(0, 1200));
}

TEST(TransferEngine, size_queries_answer_by_status_and_length)
{
    FaultReply noLength;
    noLength.contentLength = "";
    FaultReply notNumber;
    notNumber.contentLength = "x1";
    struct Case {
        const char* name;
        FaultReply reply;
        RemoteSize expected;
    };
    const std::vector<Case> cases = {
        {"200", Reply(0, true), {DownloadOk, 5000}},
        {"206", Reply(206), {DownloadNetError, 0}},
        {"404", Reply(404), {DownloadNetError, 0}},
        {"200 without length", noLength, {DownloadOk, 0}},
        {"200 length not a number", notNumber, {DownloadOk, 0}},
        {"redirected", Redirect("/there"), {DownloadOk, 5000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FaultServer server;
        server.SetBody(RandomBytes(5000));
        // The reply repeats, but a redirect leads to a plain answer.
        server.SetScript(c.reply.status == 302 ? std::vector<FaultReply> {c.reply, Reply(0, true)} : std::vector<FaultReply> {c.reply});
        TransferEngine engine;
        const auto answers = engine.QuerySizes({server.BaseUrl() + "a b\\f.bin"});
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].state, c.expected.state);
        EXPECT_EQ(answers[0].size, c.expected.size);
        const auto requests = server.Requests();
        ASSERT_GE(requests.size(), 1u);
        EXPECT_EQ(requests[0].requestLine, "GET /a%20b/f.bin HTTP/1.1");
        for (const auto& request : requests) {
            for (const char* absent : {"Range", "Accept-Language", "UA-CPU", "Accept-Encoding", "Cache-Control"})
                EXPECT_EQ(request.Header(absent), "") << absent;
        }
    }
}

TEST(TransferEngine, many_size_queries_at_once_each_get_their_own_answer)
{
    NginxServer server;
    const auto contents = PutSmallFiles(server, 40);
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < contents.size(); ++i)
        urls.push_back(server.BaseUrl() + "f" + std::to_string(i) + ".bin");
    urls.push_back(server.BaseUrl() + "missing.bin");
    LatencyProxy proxy(1);
    auto options = WithConnections(6);
    options.proxy = proxy.Url();
    TransferEngine engine(options);
    const auto answers = engine.QuerySizes(urls);
    // Short bodies are read to their end, so connections serve many queries.
    EXPECT_LE(proxy.Connections(), 6u);
    ASSERT_EQ(answers.size(), urls.size());
    for (std::size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(answers[i].state, DownloadOk) << i;
        EXPECT_EQ(answers[i].size, contents[i].size()) << i;
    }
    EXPECT_EQ(answers.back().state, DownloadNetError);
}

// A short answer to a size query is the file itself; it is kept while the
// budget lasts, in the order the answers come.
TEST(TransferEngine, size_queries_keep_short_bodies_within_their_budget)
{
    NginxServer server;
    const std::vector<std::string> contents = {RandomBytes(10, 1), RandomBytes(3000, 2), RandomBytes(70000, 3), "",
                                               RandomBytes(65536, 4)};
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        server.Put("k" + std::to_string(i) + ".bin", contents[i]);
        urls.push_back(server.BaseUrl() + "k" + std::to_string(i) + ".bin");
    }
    struct Case {
        std::uint64_t budget;
        std::vector<bool> kept;
    };
    const Case cases[] = {
        {0, {false, false, false, false, false}},
        {3009, {true, false, false, false, false}},
        {3010, {true, true, false, false, false}},
        // Longer than 64 KiB is never read; an empty body is nothing to keep.
        {1 << 20, {true, true, false, false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.budget);
        TransferEngine engine(WithConnections(1));
        const auto answers = engine.QuerySizes(urls, c.budget);
        ASSERT_EQ(answers.size(), urls.size());
        for (std::size_t i = 0; i < urls.size(); ++i) {
            EXPECT_EQ(answers[i].size, contents[i].size()) << i;
            EXPECT_EQ(answers[i].body != nullptr, c.kept[i]) << i;
            if (answers[i].body != nullptr)
                EXPECT_TRUE(*answers[i].body == contents[i]) << i;
        }
    }
}

// Out of memory in a sink, say: the jobs of that Run are dropped, so none of
// them reaches a sink that its caller has given up, and the next Run works.
TEST(TransferEngine, a_sink_that_throws_leaves_no_job_behind)
{
    class ThrowingSink : public MemorySink {
    public:
        bool OnBlock(const char*, std::size_t) override { throw std::runtime_error("no memory"); }
    };
    NginxServer server;
    const auto contents = PutSmallFiles(server, 3);
    server.Put("large.bin", RandomBytes(8'000'000, 5));
    TransferEngine engine(WithConnections(3));
    ThrowingSink throwing;
    MemorySink others[2];
    engine.Add({server.BaseUrl() + "f0.bin"}, throwing);
    engine.Add({server.BaseUrl() + "large.bin"}, others[0]);
    engine.Add({server.BaseUrl() + "f1.bin"}, others[1]);
    EXPECT_THROW(engine.Run(), std::runtime_error);
    const std::string before[2] = {others[0].bytes, others[1].bytes};
    const bool endedBefore[2] = {others[0].ended, others[1].ended};
    EXPECT_FALSE(endedBefore[0]) << "8 MB cannot have come before the first block of a small file";

    MemorySink next;
    engine.Add({server.BaseUrl() + "f2.bin"}, next);
    engine.Run();
    EXPECT_EQ(next.result, DownloadOk);
    EXPECT_TRUE(next.bytes == contents[2]);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(others[i].ended, endedBefore[i]) << i;
        EXPECT_EQ(others[i].bytes.size(), before[i].size()) << i;
    }
}

TEST(TransferEngine, a_stopped_file_keeps_its_bytes_and_a_resume_completes_it)
{
    NginxServer server;
    const std::string content = RandomBytes(3 * TransferEngineBlockSize + 1000, 9);
    server.Put("big.bin", content);
    TempDir folder;
    const auto path = folder.Folder() + "big.bin";
    const auto url = server.BaseUrl() + "big.bin";

    TransferEngine engine(WithConnections(2));
    TransferJobId id = 0;
    int blocks = 0;
    FileTransferSink first(FileTransferSink::Hooks {nullptr,
        [&](const char*, std::size_t) {
            // Asked from the sink's own call: the job ends at its next block.
            if (++blocks == 1)
                engine.Stop(id);
            return true;
        },
        nullptr});
    ASSERT_TRUE(first.Open(path));
    id = engine.Add({url, first.Length(), 0}, first);
    engine.Run();
    EXPECT_EQ(first.Result(), DownloadStopped);
    const auto kept = ReadFileText(path);
    EXPECT_GE(kept.size(), TransferEngineBlockSize);
    EXPECT_LT(kept.size(), content.size());
    EXPECT_TRUE(kept == content.substr(0, kept.size())) << "kept bytes are not the file's start";

    FileTransferSink second;
    ASSERT_TRUE(second.Open(path));
    engine.Add({url, second.Length(), content.size()}, second);
    engine.Run();
    EXPECT_EQ(second.Result(), DownloadOk);
    EXPECT_TRUE(ReadFileText(path) == content) << "resumed file differs";
}

TEST(TransferEngine, stop_all_from_another_thread_ends_running_and_waiting_jobs)
{
    FaultServer server;
    const std::string body = RandomBytes(5000);
    server.SetBody(body);
    FaultReply stall;
    stall.stallAfter = 700;
    server.SetScript({stall});
    TransferEngine engine(WithConnections(1));
    MemorySink running;
    MemorySink waiting;
    engine.Add({server.BaseUrl() + "a"}, running);
    engine.Add({server.BaseUrl() + "b"}, waiting);
    std::thread stopper([&] {
        while (server.Requests().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        engine.StopAll();
    });
    engine.Run();
    stopper.join();
    EXPECT_EQ(running.result, DownloadStopped);
    // Whatever had come when the stop landed was handed over, no more.
    EXPECT_LE(running.bytes.size(), 700u);
    EXPECT_TRUE(running.bytes == body.substr(0, running.bytes.size()));
    EXPECT_EQ(waiting.result, DownloadStopped);
    EXPECT_TRUE(waiting.begins.empty());
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(TransferEngine, a_failing_job_leaves_the_others_alone)
{
    NginxServer server;
    const auto contents = PutSmallFiles(server, 6);
    const auto closedPort = FreeLoopbackPort();
    TransferEngine engine(WithConnections(3));
    std::vector<MemorySink> sinks(contents.size());
    MemorySink missing;
    MemorySink unreachable;
    engine.Add({server.BaseUrl() + "missing.bin"}, missing);
    engine.Add({"http://127.0.0.1:" + std::to_string(closedPort) + "/x.bin"}, unreachable);
    for (std::size_t i = 0; i < contents.size(); ++i)
        engine.Add({server.BaseUrl() + "f" + std::to_string(i) + ".bin"}, sinks[i]);
    engine.Run();
    EXPECT_EQ(missing.result, DownloadNetError);
    EXPECT_EQ(missing.fault, TransferFault::Refused);
    EXPECT_EQ(unreachable.result, DownloadNetError);
    EXPECT_EQ(unreachable.fault, TransferFault::NoConnection);
    for (std::size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(sinks[i].result, DownloadOk) << i;
        EXPECT_TRUE(sinks[i].bytes == contents[i]) << i;
    }
}

TEST(TransferEngine, speaks_http2_over_tls_when_the_server_offers_it)
{
    NginxServer::Options options;
    options.tls = true;
    options.http2 = true;
    NginxServer server(options);
    setenv("CURL_CA_BUNDLE", server.CertificateFile().c_str(), 1);
    const auto contents = PutSmallFiles(server, 10);
    server.Put("big.bin", RandomBytes(2'000'000, 4));
    TransferEngine engine(WithConnections(4));
    std::vector<MemorySink> sinks(contents.size());
    MemorySink big;
    engine.Add({server.BaseUrl() + "big.bin"}, big);
    for (std::size_t i = 0; i < contents.size(); ++i)
        engine.Add({server.BaseUrl() + "f" + std::to_string(i) + ".bin"}, sinks[i]);
    const auto sizes = engine.QuerySizes({server.BaseUrl() + "f0.bin"});
    unsetenv("CURL_CA_BUNDLE");
    EXPECT_EQ(sizes[0].state, DownloadOk);
    EXPECT_EQ(sizes[0].size, contents[0].size());
    EXPECT_EQ(big.result, DownloadOk);
    EXPECT_TRUE(big.bytes == RandomBytes(2'000'000, 4));
    for (std::size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(sinks[i].result, DownloadOk) << i;
        EXPECT_TRUE(sinks[i].bytes == contents[i]) << i;
    }
    EXPECT_EQ(engine.Stats().http2Answers, contents.size() + 1);
    // Streams share connections: far fewer than the files.
    EXPECT_LE(engine.Stats().connectionsOpened, 4u);
}

} // namespace
