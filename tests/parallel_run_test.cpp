// The run on the transfer engine: the plan of the parallel check against the
// sequential one, and the download run with several files in flight.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "planning/DigestCache.h"
#include "planning/DownloadPlan.h"
#include "planning/PresentFileDigests.h"
#include "platform/FolderBeneath.h"
#include "platform/FolderStore.h"
#include "run/CheckThread.h"
#include "run/Commands.h"
#include "run/DownloadSession.h"
#include "run/ListedFileSize.h"
#include "run/Messages.h"
#include "run/RunReport.h"
#include "platform/WorkerThread.h"
#include "support/DownloadRunFixture.h"
#include "support/FaultServer.h"
#include "support/LatencyProxy.h"
#include "support/NginxServer.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace {

struct ServedFileSpec {
    std::string name;
    std::string content;
};

void WriteFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::uint64_t SizeOf(const std::string& path)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0 : size;
}

FileLine Line(const std::string& name, const std::string& md5)
{
    FileLine line;
    line.name = name;
    std::copy_n(md5.begin(), std::min<std::size_t>(md5.size(), 32), line.md5.begin());
    return line;
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The download run's fixture, with remembered digests kept in a folder of
// the test.
class ParallelRun : public DownloadRunFixture {
protected:
    void SetUp() override
    {
        ::setenv("XDG_CACHE_HOME", cacheHome.Folder().c_str(), 1);
        DownloadRunFixture::SetUp();
    }

    // Every listed file needed, with the size a check would have asked.
    void PlanAll(const std::vector<ServedFileSpec>& files)
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

    // Partial files holding some bytes but not all.
    int PartialsInFlight(const std::vector<ServedFileSpec>& files) const
    {
        int count = 0;
        for (const auto& file : files) {
            const auto size = SizeOf(folder.Folder() + file.name + ".tmp");
            count += size > 0 && size < file.content.size() ? 1 : 0;
        }
        return count;
    }

    void ExpectAllExact(const std::vector<ServedFileSpec>& files) const
    {
        for (const auto& file : files) {
            EXPECT_EQ(ReadFileText(folder.Folder() + file.name), file.content) << file.name;
            EXPECT_FALSE(fs::exists(folder.Folder() + file.name + ".tmp")) << file.name;
            EXPECT_FALSE(fs::exists(folder.Folder() + file.name + ".des")) << file.name;
        }
    }

    TempDir cacheHome;
};

// ---------------------------------------------------------------- the plan

struct PlanCase {
    const char* name;
    int connections;
    bool warm;         // a first parallel check filled the cache before
    bool rewriteAfter; // then a present good file was rewritten with other bytes of its length
    bool verify;
};

class PlanEquality : public ParallelRun, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(PlanEquality, parallel_plan_is_the_sequential_plan)
{
    const PlanCase& param = GetParam();
    NginxServer server;
    const std::string base = server.BaseUrl() + "game/";
    const std::string good = RandomBytes(300000, 1);
    const std::string other = RandomBytes(200000, 2);
    const std::string part = RandomBytes(250000, 3);
    std::vector<FileLine> lines;
    const auto serve = [&](const std::string& name, const std::string& bytes) {
        server.Put("game/" + name, bytes);
        lines.push_back(Line(name, Md5Of(bytes)));
    };
    const std::string dir = folder.Folder();
    serve("good.bin", good);
    WriteFile(dir + "good.bin", good);
    serve("changed.bin", other);
    WriteFile(dir + "changed.bin", RandomBytes(200000, 9));
    serve("part.bin", part);
    WriteFile(dir + "part.bin.tmp", part.substr(0, 100000));
    WriteFile(dir + "part.bin.des", Md5Of(part));
    serve("stale.bin", part);
    WriteFile(dir + "stale.bin.tmp", part.substr(0, 1000));
    WriteFile(dir + "stale.bin.des", Md5Of(other));
    serve("missing.bin", other);
    serve("deep/er/sub.bin", good);
    // Listed, not served: its size is unknown.
    lines.push_back(Line("gone.bin", Md5Of(good)));
    // Listed in uppercase: the same bytes, the digits compared without case.
    server.Put("game/upper.bin", good);
    lines.push_back(Line("upper.bin", Upper(Md5Of(good))));
    WriteFile(dir + "upper.bin", good);

    const FolderBeneath beneath(dir);
    if (param.warm) {
        PlanFilesInParallel(param.connections, beneath, dir, base, lines);
        g_downloadSession.ResetForTest();
        g_downloadSession.SetDownloadFolder(dir);
    }
    if (param.rewriteAfter) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        WriteFile(dir + "good.bin", RandomBytes(good.size(), 11));
    }
    g_downloadSession.verifyDigests = param.verify ? 1 : 0;

    const PlannedFiles sequential = BuildDownloadPlan(beneath, dir, base, lines, QueryListedFileSize);
    const PlannedFiles parallel = PlanFilesInParallel(param.connections, beneath, dir, base, lines);

    ASSERT_EQ(parallel.entries.size(), sequential.entries.size());
    for (std::size_t i = 0; i < sequential.entries.size(); ++i) {
        const PlanEntry& want = sequential.entries[i];
        const PlanEntry& got = parallel.entries[i];
        SCOPED_TRACE(want.path);
        EXPECT_EQ(got.path, want.path);
        EXPECT_EQ(got.md5, want.md5);
        EXPECT_EQ(got.size, want.size);
        EXPECT_EQ(got.localDiffers, want.localDiffers);
        EXPECT_EQ(got.partialDiffers, want.partialDiffers);
        EXPECT_EQ(got.needed, want.needed);
    }
    EXPECT_EQ(parallel.totalBytes, sequential.totalBytes);
    EXPECT_EQ(parallel.bytesToFetch, sequential.bytesToFetch);
    EXPECT_EQ(parallel.bytesDone, sequential.bytesDone);
    // The fixture is not trivial: some files needed, some not.
    EXPECT_EQ(sequential.entries[0].needed, param.rewriteAfter ? 1 : 0);
    EXPECT_TRUE(sequential.AnyNeeded());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanEquality,
    ::testing::Values(PlanCase{"one_connection_cold", 1, false, false, false},
                      PlanCase{"six_connections_cold", 6, false, false, false},
                      PlanCase{"warm_cache", 6, true, false, false},
                      PlanCase{"warm_cache_file_rewritten_since", 6, true, true, false},
                      PlanCase{"warm_cache_verified", 3, true, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ParallelRun, remembered_digest_is_trusted_without_hashing_unless_verified)
{
    NginxServer server;
    const std::string good = RandomBytes(100000, 1);
    server.Put("game/a.bin", good);
    const std::string dir = folder.Folder();
    WriteFile(dir + "a.bin", good);
    const std::vector<FileLine> lines{Line("a.bin", Md5Of(good))};
    // A cache that remembers another digest for the file as it is now: only
    // a check that hashes sees that the file is good.
    DigestCache cache(DigestCacheFileFor(dir));
    cache.Remember(*IdentifyFile(dir + "a.bin"), Md5Of("something else"));
    ASSERT_TRUE(cache.Save());

    for (const bool verify : {false, true}) {
        g_downloadSession.ResetForTest();
        g_downloadSession.verifyDigests = verify ? 1 : 0;
        const PlannedFiles plan = PlanFilesInParallel(6, FolderBeneath(dir), dir, server.BaseUrl() + "game/", lines);
        EXPECT_EQ(plan.entries[0].needed, verify ? 0 : 1) << "verify " << verify;
    }
    // The verified digest replaced the remembered one.
    DigestCache reread(DigestCacheFileFor(dir));
    ASSERT_EQ(reread.Load(), DigestCache::LoadResult::Loaded);
    EXPECT_EQ(reread.Find(*IdentifyFile(dir + "a.bin")), Md5Of(good));
}

// The hashing threads reach the files beneath the folder as the plan does: a
// link, FIFO or folder at a listed name is neither followed nor read (a FIFO
// would hang a plain open), and nothing of it is remembered.
TEST_F(ParallelRun, present_file_digests_never_follow_a_link_nor_open_a_fifo)
{
    TempDir outside;
    const std::string good = RandomBytes(50000, 4);
    WriteFile(outside.Folder() + "target.bin", good);
    const std::string dir = folder.Folder();
    WriteFile(dir + "plain.bin", good);
    fs::create_symlink(outside.Folder() + "target.bin", dir + "link.bin");
    fs::create_symlink(outside.Path(), dir + "linked");
    ASSERT_EQ(::mkfifo((dir + "fifo.bin").c_str(), 0600), 0);
    fs::create_directories(dir + "folder.bin");
    DigestCache cache(DigestCacheFileFor(dir));

    PresentFileDigests digests(dir, {"plain.bin", "link.bin", "linked/target.bin", "fifo.bin", "folder.bin"}, &cache,
                               false);
    digests.Wait();
    EXPECT_EQ(digests.Find("plain.bin"), Md5Of(good));
    for (const char* name : {"link.bin", "linked/target.bin", "fifo.bin", "folder.bin"})
        EXPECT_EQ(digests.Find(name), std::nullopt) << name;
    EXPECT_EQ(digests.Hashed(), 1u);
    EXPECT_EQ(cache.Find(*IdentifyFile(outside.Folder() + "target.bin")), std::nullopt)
        << "the file behind the link is not remembered";
}

// ---------------------------------------------------------- the download

std::vector<ServedFileSpec> SlowFiles(NginxServer& server, int count, std::size_t size)
{
    std::vector<ServedFileSpec> files;
    for (int i = 0; i < count; ++i) {
        ServedFileSpec file{"f" + std::to_string(i) + ".bin", RandomBytes(size, 20 + i)};
        server.Put("game/" + file.name, file.content);
        files.push_back(file);
    }
    return files;
}

NginxServer::Options SlowGame(const std::string& extra = "")
{
    NginxServer::Options options;
    // Slow enough that several files are still in flight when the test acts.
    options.extraServerConfig = "location /game/ { limit_rate 400k; }\n" + extra;
    return options;
}

TEST_F(ParallelRun, pause_stops_every_file_in_flight_keeps_the_partials_and_resume_completes_them_exactly)
{
    NginxServer server(SlowGame());
    const auto files = SlowFiles(server, 4, 900000);
    window.config.m_connections = 4;
    g_downloadSession.SetFileBaseUrl(server.BaseUrl() + "game/");
    PlanAll(files);

    StartDownload();
    ASSERT_TRUE(Within([&] { return PartialsInFlight(files) >= 3; }))
        << "in flight " << PartialsInFlight(files) << ", bytes done " << g_downloadSession.bytesDone.load()
        << ", parked " << g_downloadSession.pause.Parked() << ", messages " << window.Messages().size();
    OnStartButton(); // pause
    ASSERT_TRUE(WaitParked());
    EXPECT_EQ(window.Face(), StartFace::Continue);
    EXPECT_EQ(window.Text(IDC_STATUS), kPaused);
    // Parked means every transfer has ended: the partials stand still.
    std::vector<std::uint64_t> kept;
    for (const auto& file : files)
        kept.push_back(SizeOf(folder.Folder() + file.name + ".tmp"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int partials = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(SizeOf(folder.Folder() + files[i].name + ".tmp"), kept[i]) << files[i].name;
        partials += kept[i] > 0 ? 1 : 0;
    }
    EXPECT_GE(partials, 3);
    EXPECT_EQ(Marks(), "SP");

    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SPRD");
    EXPECT_EQ(window.Face(), StartFace::Install);
    EXPECT_TRUE(window.Messages().empty());
}

TEST_F(ParallelRun, one_file_failing_mid_body_pauses_once_keeps_the_others_partials_and_resume_completes_all)
{
    FaultServer upstream;
    const std::string bad = RandomBytes(600000, 99);
    upstream.SetBody(bad);
    FaultReply drop;
    drop.closeAfter = 100000;
    // The drop comes after the other files have bytes in hand, whatever the
    // machine's load.
    drop.headerDelayMs = 1500;
    upstream.SetScript({drop, FaultReply{}});
    NginxServer server(SlowGame("location = /game/bad.bin { proxy_pass " + upstream.BaseUrl() +
                                "; proxy_buffering off; }"));
    auto files = SlowFiles(server, 3, 900000);
    files.insert(files.begin() + 1, ServedFileSpec{"bad.bin", bad});
    window.config.m_connections = 4;
    g_downloadSession.SetFileBaseUrl(server.BaseUrl() + "game/");
    PlanAll(files);

    StartDownload();
    ASSERT_TRUE(WaitParked());
    ASSERT_TRUE(window.WaitForMessage(kNetworkFailed, std::chrono::seconds(1)));
    EXPECT_EQ(window.Messages().size(), 1u) << "one failure, one message";
    EXPECT_EQ(Marks(), "SE");
    EXPECT_EQ(g_downloadSession.Failures(), 1);
    EXPECT_EQ(g_downloadSession.LastFailure().entry, 1);
    EXPECT_EQ(g_downloadSession.LastFailure().result, FileResult::NetworkFailed);
    EXPECT_EQ(window.Face(), StartFace::Continue);
    for (const auto& file : files) {
        if (file.name != "bad.bin") {
            EXPECT_GT(SizeOf(folder.Folder() + file.name + ".tmp"), 0u) << file.name << " keeps its bytes";
        }
    }
    EXPECT_EQ(SizeOf(folder.Folder() + "bad.bin.tmp"), 100000u) << "bytes before the drop are kept";

    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SERD");
    const auto requests = upstream.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=100000-") << "the failed file is resumed";
}

// A short file's size query brings the file itself: the download writes it
// from there. A complete present file is not asked for at all.
TEST_F(ParallelRun, a_short_file_is_asked_for_once_from_check_to_place_and_a_complete_one_never)
{
    NginxServer server;
    const std::string base = server.BaseUrl() + "game/";
    const std::string dir = folder.Folder();
    std::vector<ServedFileSpec> files;
    std::vector<FileLine> lines;
    const auto serve = [&](const std::string& name, const std::string& bytes) {
        server.Put("game/" + name, bytes);
        files.push_back({name, bytes});
        lines.push_back(Line(name, Md5Of(bytes)));
    };
    for (int i = 0; i < 20; ++i)
        serve("small/s" + std::to_string(i) + ".bin", RandomBytes(1000 + 557 * static_cast<std::size_t>(i), 60 + i));
    serve("empty.bin", "");
    serve("large.bin", RandomBytes(300000, 90));
    serve("present.bin", RandomBytes(5000, 91));
    WriteFile(dir + "present.bin", files.back().content);

    const FolderBeneath beneath(dir);
    auto plan = std::make_shared<PlannedFiles>(PlanFilesInParallel(4, beneath, dir, base, lines));
    ASSERT_EQ(plan->entries.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const PlanEntry& entry = plan->entries[i];
        const bool small = files[i].name.rfind("small/", 0) == 0;
        EXPECT_EQ(entry.body != nullptr, small) << files[i].name;
        if (entry.body != nullptr)
            EXPECT_TRUE(*entry.body == files[i].content) << files[i].name;
    }
    EXPECT_EQ(plan->entries.back().needed, 0);

    g_downloadSession.SetFileBaseUrl(base);
    g_downloadSession.SetPlan(plan);
    StartDownload();
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);

    const auto requested = server.RequestedPaths();
    const auto times = [&requested](const std::string& name) {
        return std::count(requested.begin(), requested.end(), "/game/" + name);
    };
    for (const auto& file : files) {
        if (file.name.rfind("small/", 0) == 0)
            EXPECT_EQ(times(file.name), 1) << file.name;
    }
    EXPECT_EQ(times("present.bin"), 0);
    EXPECT_GE(times("large.bin"), 2) << "its size query is not its body";

    // Everything in place: a second check asks the server for nothing.
    const auto before = server.RequestedPaths().size();
    const PlannedFiles again = PlanFilesInParallel(4, beneath, dir, base, lines);
    EXPECT_FALSE(again.AnyNeeded());
    EXPECT_EQ(again.totalBytes, plan->totalBytes);
    EXPECT_EQ(server.RequestedPaths().size(), before);
}

TEST_F(ParallelRun, files_share_connections_through_keep_alive)
{
    NginxServer server;
    LatencyProxy proxy(1);
    std::vector<ServedFileSpec> files;
    for (int i = 0; i < 12; ++i) {
        ServedFileSpec file{"s" + std::to_string(i) + ".bin", RandomBytes(20000, 40 + i)};
        server.Put("game/" + file.name, file.content);
        files.push_back(file);
    }
    ::setenv("http_proxy", proxy.Url().c_str(), 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    window.config.m_connections = 3;
    g_downloadSession.SetFileBaseUrl(server.BaseUrl() + "game/");
    PlanAll(files);

    StartDownload();
    const bool finished = WaitFinished();
    ::unsetenv("http_proxy");
    ASSERT_TRUE(finished);
    ExpectAllExact(files);
    EXPECT_GE(proxy.Connections(), 1u) << "the transfers went through the proxy";
    EXPECT_LE(proxy.Connections(), 3u) << "12 files over at most 3 connections";
}


// ------------------------------------------------------------- mirrors

// Files f0.bin, f1.bin, ... of one size, served nowhere yet.
std::vector<ServedFileSpec> GameFiles(int count, std::size_t size)
{
    std::vector<ServedFileSpec> files;
    for (int i = 0; i < count; ++i)
        files.push_back({"f" + std::to_string(i) + ".bin", RandomBytes(size, 60 + i)});
    return files;
}

void ServeGame(FaultServer& server, const std::vector<ServedFileSpec>& files)
{
    for (const auto& file : files)
        server.SetBodyAt("/game/" + file.name, file.content);
}

// "http://127.0.0.1:PORT/game/" where nothing listens.
std::string RefusingBase()
{
    return "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/game/";
}

std::string GameBase(const FaultServer& server)
{
    return server.BaseUrl() + "game/";
}

// An answer of this status with a short body of its own.
FaultReply StatusReply(int status)
{
    FaultReply reply;
    reply.status = status;
    reply.body = std::string("no file here");
    return reply;
}

FaultReply CutReply(std::size_t after)
{
    FaultReply reply;
    reply.closeAfter = after;
    return reply;
}

std::string PathOf(const RecordedRequest& request)
{
    const auto from = request.requestLine.find(' ') + 1;
    return request.requestLine.substr(from, request.requestLine.rfind(' ') - from);
}

// The run with the list's own base URL and the mirrors of config.ini.
class MirrorRun : public ParallelRun {
protected:
    void StartWith(const std::string& listBase, std::vector<std::string> mirrors, int connections,
                   const std::vector<ServedFileSpec>& files)
    {
        window.config.m_connections = connections;
        window.config.m_mirrors = std::move(mirrors);
        g_downloadSession.SetFileBaseUrl(listBase);
        PlanAll(files);
        StartDownload();
    }

    // The run paused on one failed file, with the usual message and mark.
    void ExpectOnePause()
    {
        ASSERT_TRUE(WaitParked());
        ASSERT_TRUE(window.WaitForMessage(kNetworkFailed, std::chrono::seconds(1)));
        EXPECT_EQ(window.Messages().size(), 1u) << "one message for the file, not one a server";
        EXPECT_EQ(Marks(), "SE");
        EXPECT_EQ(g_downloadSession.Failures(), 1);
        EXPECT_EQ(g_downloadSession.LastFailure().result, FileResult::NetworkFailed);
        EXPECT_EQ(window.Face(), StartFace::Continue);
    }
};

// The check asks a mirror for the sizes the list's own server cannot give,
// so the totals and the disk-space check hold while that server is down.
TEST_F(MirrorRun, the_check_asks_the_mirrors_for_sizes_the_list_server_cannot_give)
{
    auto files = GameFiles(3, 5000);
    const auto large = GameFiles(4, 200000);
    files.push_back(large.back());
    FaultServer serving;
    ServeGame(serving, files);
    std::vector<FileLine> lines;
    for (const auto& file : files)
        lines.push_back(Line(file.name, Md5Of(file.content)));

    const std::string dir = folder.Folder();
    const PlannedFiles plan =
        PlanFilesInParallel(3, FolderBeneath(dir), dir, RefusingBase(), lines, {RefusingBase(), GameBase(serving)});
    ASSERT_EQ(plan.entries.size(), files.size());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(plan.entries[i].size, files[i].content.size()) << files[i].name;
        EXPECT_EQ(plan.entries[i].body != nullptr, files[i].content.size() < 65536) << files[i].name;
        total += files[i].content.size();
    }
    EXPECT_EQ(plan.totalBytes, total);
    EXPECT_EQ(plan.bytesToFetch, total);
}

TEST_F(MirrorRun, files_pass_a_refusing_and_a_cutting_server_and_resume_where_they_were_cut)
{
    constexpr std::size_t kCut = 70000;
    const auto files = GameFiles(5, 200000);
    FaultServer cutting;
    ServeGame(cutting, files);
    FaultReply cut = CutReply(kCut);
    // Held back a little so that every file in flight has met the refusing
    // server before the first cut moves this one behind the others.
    cut.headerDelayMs = 300;
    cutting.SetScript({cut});
    FaultServer serving;
    ServeGame(serving, files);

    StartWith(RefusingBase(), {GameBase(cutting), GameBase(serving)}, 3, files);
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

TEST_F(MirrorRun, a_file_missing_on_one_server_comes_from_the_next)
{
    const auto files = GameFiles(2, 30000);
    FaultServer missing;
    missing.SetScript({StatusReply(404)});
    NginxServer mirror;
    for (const auto& file : files)
        mirror.Put("game/" + file.name, file.content);

    StartWith(GameBase(missing), {mirror.BaseUrl() + "game/"}, 1, files);
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SD");
    // A missing file is no fault of the server: each file asks it first.
    EXPECT_EQ(missing.Requests().size(), files.size());
}

TEST_F(MirrorRun, every_source_failing_pauses_once_and_resume_tries_them_all_again)
{
    constexpr std::size_t kCut = 40000;
    const auto files = GameFiles(1, 120000);
    FaultServer broken;
    broken.SetScript({StatusReply(503)});
    FaultServer flaky;
    ServeGame(flaky, files);
    flaky.SetScript({CutReply(kCut), FaultReply{}});

    StartWith(RefusingBase(), {GameBase(broken), GameBase(flaky)}, 1, files);
    ExpectOnePause();
    EXPECT_EQ(broken.Requests().size(), 1u);
    EXPECT_EQ(SizeOf(folder.Folder() + "f0.bin.tmp"), kCut) << "the bytes before the cut are kept";

    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SERD");
    EXPECT_EQ(broken.Requests().size(), 2u) << "every server is asked again after the pause";
    const auto requests = flaky.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(kCut) + "-");
}

TEST_F(MirrorRun, without_mirrors_a_server_fault_pauses_the_run_as_it_always_did)
{
    const auto files = GameFiles(1, 1000);
    FaultServer server;
    ServeGame(server, files);
    server.SetScript({StatusReply(503), FaultReply{}});

    StartWith(GameBase(server), {}, DefaultConnections, files);
    ExpectOnePause();
    EXPECT_EQ(server.Requests().size(), 1u) << "asked once before the pause";

    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    ExpectAllExact(files);
    EXPECT_EQ(Marks(), "SERD");
}

} // namespace
