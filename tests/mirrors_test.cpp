// Game files from more than one server: the order of the sources over a run,
// and the download run going on at the next server from the bytes it has.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "planning/DownloadPlan.h"
#include "run/Commands.h"
#include "run/DownloadSession.h"
#include "run/Messages.h"
#include "run/SourceOrder.h"
#include "support/DownloadRunFixture.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------ the order of sources

std::vector<std::size_t> Order(std::initializer_list<std::size_t> sources)
{
    return std::vector<std::size_t>(sources);
}

TEST(SourceOrder, a_base_given_twice_is_one_source)
{
    const SourceOrder sources({"http://a/", "http://b/", "http://a/", "http://c/", "http://b/"});
    ASSERT_EQ(sources.Count(), 3u);
    EXPECT_EQ(sources.Base(0), "http://a/");
    EXPECT_EQ(sources.Base(1), "http://b/");
    EXPECT_EQ(sources.Base(2), "http://c/");
    EXPECT_EQ(sources.Order(), Order({0, 1, 2}));
}

TEST(SourceOrder, a_server_fault_moves_the_source_behind_the_others_a_missing_file_does_not)
{
    struct Case {
        const char* name;
        TransferFault fault;
        bool movesBack;
    };
    const Case cases[] = {
        {"no connection", TransferFault::NoConnection, true},
        {"5xx", TransferFault::ServerError, true},
        {"stall", TransferFault::Stalled, true},
        {"body cut short", TransferFault::CutShort, true},
        {"unusable answer", TransferFault::BadAnswer, true},
        {"4xx", TransferFault::Refused, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SourceOrder sources({"http://a/", "http://b/", "http://c/"});
        sources.Failed(0, c.fault);
        EXPECT_EQ(sources.Order(), c.movesBack ? Order({1, 2, 0}) : Order({0, 1, 2}));
    }
}

TEST(SourceOrder, next_skips_what_the_file_tried_and_follows_the_current_order)
{
    SourceOrder sources({"http://a/", "http://b/", "http://c/"});
    SourceOrder::Tried tried;
    EXPECT_EQ(sources.Next(tried), 0u);
    tried.Add(0);
    sources.Failed(0, TransferFault::NoConnection);
    EXPECT_EQ(sources.Next(tried), 1u);
    tried.Add(1);
    sources.Failed(1, TransferFault::CutShort);
    EXPECT_EQ(sources.Order(), Order({2, 0, 1}));
    EXPECT_EQ(sources.Next(tried), 2u);
    tried.Add(2);
    EXPECT_EQ(sources.Next(tried), sources.Count()) << "every source tried";
    // The next file begins at the source that has not failed.
    EXPECT_EQ(sources.Next(SourceOrder::Tried()), 2u);
    tried.Clear();
    EXPECT_EQ(sources.Next(tried), 2u);
}

// ------------------------------------------------------------ the download

struct GameFile {
    std::string name;
    std::string content;
};

std::vector<GameFile> GameFiles(int count, std::size_t size)
{
    std::vector<GameFile> files;
    for (int i = 0; i < count; ++i)
        files.push_back({"f" + std::to_string(i) + ".bin", RandomBytes(size, 60 + static_cast<unsigned>(i))});
    return files;
}

void Serve(FaultServer& server, const std::vector<GameFile>& files)
{
    for (const auto& file : files)
        server.SetBodyAt("/game/" + file.name, file.content);
}

// "http://127.0.0.1:PORT/game/" where nothing listens.
std::string RefusingBase()
{
    return "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/game/";
}

std::string PathOf(const RecordedRequest& request)
{
    const auto from = request.requestLine.find(' ') + 1;
    return request.requestLine.substr(from, request.requestLine.rfind(' ') - from);
}

class Mirrors : public DownloadRunFixture {
protected:
    void PlanAll(const std::vector<GameFile>& files)
    {
        PlannedFiles plan;
        for (const auto& file : files) {
            PlanEntry entry;
            entry.path = folder.Folder() + file.name;
            const std::string md5 = Md5Of(file.content);
            std::copy_n(md5.begin(), 32, entry.md5.begin());
            entry.size = file.content.size();
            entry.needed = 1;
            plan.entries.push_back(entry);
            plan.totalBytes += entry.size;
            plan.bytesToFetch += entry.size;
        }
        g_downloadSession.SetPlan(std::make_shared<PlannedFiles>(plan));
    }

    void ExpectAllExact(const std::vector<GameFile>& files) const
    {
        for (const auto& file : files) {
            EXPECT_TRUE(ReadFileText(folder.Folder() + file.name) == file.content) << file.name;
            EXPECT_FALSE(fs::exists(folder.Folder() + file.name + ".tmp")) << file.name;
            EXPECT_FALSE(fs::exists(folder.Folder() + file.name + ".des")) << file.name;
        }
    }
};

TEST_F(Mirrors, files_pass_a_refusing_and_a_cutting_server_and_resume_where_they_were_cut)
{
    constexpr std::size_t kCut = 70000;
    const auto files = GameFiles(5, 200000);
    FaultServer cutting;
    Serve(cutting, files);
    FaultReply cut;
    cut.closeAfter = kCut;
    // Held back a little so that every file in flight has met the refusing
    // server before the first cut moves this one behind the others.
    cut.headerDelayMs = 300;
    cutting.SetScript({cut});
    FaultServer serving;
    Serve(serving, files);
    window.config.m_connections = 3;
    window.config.m_mirrors = {cutting.BaseUrl() + "game/", serving.BaseUrl() + "game/"};
    g_downloadSession.SetFileBaseUrl(RefusingBase());
    PlanAll(files);

    StartDownload();
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SD") << "no pause, no failure";
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(g_downloadSession.Failures(), 0);

    // The three files in flight were cut at the second server; once it had
    // failed, the others went to the third first.
    std::set<std::string> wasCut;
    for (const auto& request : cutting.Requests()) {
        EXPECT_EQ(request.Header("Range"), "") << PathOf(request) << " had no bytes before";
        wasCut.insert(PathOf(request));
    }
    EXPECT_EQ(wasCut, (std::set<std::string>{"/game/f0.bin", "/game/f1.bin", "/game/f2.bin"}));
    const auto served = serving.Requests();
    ASSERT_EQ(served.size(), files.size()) << "one request a file";
    for (const auto& request : served) {
        const bool resumed = wasCut.count(PathOf(request)) != 0;
        EXPECT_EQ(request.Header("Range"), resumed ? "bytes=" + std::to_string(kCut) + "-" : "") << PathOf(request);
    }
}

TEST_F(Mirrors, a_file_missing_on_one_server_comes_from_the_next)
{
    const auto files = GameFiles(2, 30000);
    FaultServer missing;
    FaultReply notFound;
    notFound.status = 404;
    notFound.body = std::string("not here");
    missing.SetScript({notFound});
    NginxServer mirror;
    for (const auto& file : files)
        mirror.Put("game/" + file.name, file.content);
    window.config.m_connections = 1;
    window.config.m_mirrors = {mirror.BaseUrl() + "game/"};
    g_downloadSession.SetFileBaseUrl(missing.BaseUrl() + "game/");
    PlanAll(files);

    StartDownload();
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SD");
    // A missing file is no fault of the server: each file asks it first.
    EXPECT_EQ(missing.Requests().size(), files.size());
}

TEST_F(Mirrors, every_source_failing_pauses_once_and_resume_tries_them_all_again)
{
    constexpr std::size_t kCut = 40000;
    const auto files = GameFiles(1, 120000);
    FaultServer broken;
    FaultReply unavailable;
    unavailable.status = 503;
    unavailable.body = std::string("busy");
    broken.SetScript({unavailable});
    FaultServer flaky;
    Serve(flaky, files);
    FaultReply cut;
    cut.closeAfter = kCut;
    flaky.SetScript({cut, FaultReply{}});
    window.config.m_connections = 1;
    window.config.m_mirrors = {broken.BaseUrl() + "game/", flaky.BaseUrl() + "game/"};
    g_downloadSession.SetFileBaseUrl(RefusingBase());
    PlanAll(files);

    StartDownload();
    ASSERT_TRUE(WaitParked());
    ASSERT_TRUE(window.WaitForMessage(kNetworkFailed, std::chrono::seconds(1)));
    EXPECT_EQ(window.Messages().size(), 1u) << "one message for the file, not one a server";
    EXPECT_EQ(Marks(), "SE");
    EXPECT_EQ(g_downloadSession.Failures(), 1);
    EXPECT_EQ(g_downloadSession.LastFailure().result, FileResult::NetworkFailed);
    EXPECT_EQ(window.Face(), StartFace::Continue);
    EXPECT_EQ(broken.Requests().size(), 1u);
    EXPECT_EQ(fs::file_size(folder.Folder() + "f0.bin.tmp"), kCut) << "the bytes before the cut are kept";

    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SERD");
    EXPECT_EQ(broken.Requests().size(), 2u) << "every server is asked again after the pause";
    const auto requests = flaky.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(kCut) + "-");
}

TEST_F(Mirrors, without_mirrors_a_server_fault_pauses_the_run_as_it_always_did)
{
    const auto files = GameFiles(1, 1000);
    FaultServer server;
    Serve(server, files);
    FaultReply unavailable;
    unavailable.status = 503;
    unavailable.body = std::string("busy");
    server.SetScript({unavailable, FaultReply{}});
    g_downloadSession.SetFileBaseUrl(server.BaseUrl() + "game/");
    PlanAll(files);

    StartDownload();
    ASSERT_TRUE(WaitParked());
    ASSERT_TRUE(window.WaitForMessage(kNetworkFailed, std::chrono::seconds(1)));
    EXPECT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(Marks(), "SE");
    EXPECT_EQ(g_downloadSession.LastFailure().result, FileResult::NetworkFailed);
    EXPECT_EQ(server.Requests().size(), 1u) << "asked once before the pause";

    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SERD");
}

TEST_F(Mirrors, a_mirror_left_out_of_the_settings_is_noted_in_the_step_trace)
{
    const auto files = GameFiles(1, 1000);
    FaultServer server;
    Serve(server, files);
    window.config.m_skippedMirrors = 1;
    g_downloadSession.SetFileBaseUrl(server.BaseUrl() + "game/");
    PlanAll(files);

    StartDownload();
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SMD");
}

} // namespace
