// The console client end to end: build/bin/zorvath-cli runs as a child
// process against a real nginx or the fault server, so the paths that end the
// process (close, list failures, installer launch) are seen from outside, with
// their exit statuses and the reports that libsysrep.so writes to SYSREP_LOG.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/SignedSequenceStore.h"
#include "planning/Md5.h"
#include "planning/Minisign.h"
#include "platform/FileFolderStore.h"
#include "support/FaultServer.h"
#include "support/MinisignTool.h"
#include "support/NginxServer.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "support/TinyProxy.h"

extern char** environ;

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

constexpr const char* kNetError = "下载失败!\n请检查网络连接后重试!";
constexpr const char* kDownloadAgain = "下载失败!\n请重新下载!";
constexpr const char* kListFailed = "读取配置文件失败!\n请检查网络连接!";
constexpr const char* kMaintenance = "服务器维护，暂时无可用更新!\n请稍后重新下载!";
constexpr const char* kNoSpace = "磁盘空间不足，请重新选择下载目录!";
constexpr const char* kRegKey = "folder";

template <typename Pred>
bool Eventually(Pred pred, std::chrono::seconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

struct ServedFile {
    std::string name; // as listed, '\' between folders
    std::string content;
};

struct CliResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// A player's machine in a temporary folder: a home with its configuration
// folder (where the remembered folder is kept), a working directory with
// config.ini, and the report log; the lists are served by nginx.
class ConsoleClient : public ::testing::Test {
protected:
    ConsoleClient()
    {
        fs::create_directories(Home() + "/.config");
        fs::create_directories(RunDir());
        WriteConfig(nginx.BaseUrl() + "lists/update.txt", nginx.BaseUrl() + "lists/setup.txt");
    }

    std::string Home() const { return root.Path().string() + "/home"; }
    std::string RunDir() const { return root.Path().string() + "/run"; }
    std::string ReportLog() const { return root.Path().string() + "/sysrep.log"; }
    // Where the default-folder rule puts the files: the home, then "dir".
    std::string DefaultFolder() const { return Home() + "/Game/"; }
    std::string ChosenFolder() const { return root.Path().string() + "/chosen/"; }
    FileFolderStore Store() const { return FileFolderStore(Home() + "/.config/Vonmark/Halvane.conf"); }

    void WriteConfig(const std::string& updateUrl, const std::string& setupUrl, const std::string& pubkey = "")
    {
        std::ofstream(RunDir() + "/config.ini", std::ios::trunc)
            << "[settings]\nmutex=ZorvathTest\nupdate=" << updateUrl << "\nsetup=" << setupUrl
            << "\nreg_key=" << kRegKey << "\ndir=Game\n"
            << (pubkey.empty() ? "" : "pubkey=" + pubkey + "\n");
    }

    // Lists the files (status line given) with the installer; the files are
    // served by nginx unless the lists point elsewhere.
    void Publish(const std::vector<ServedFile>& files, const std::string& installer,
                 const std::string& fileBase = "", const std::string& status = "1")
    {
        const std::string base = fileBase.empty() ? nginx.BaseUrl() + "game/" : fileBase;
        std::string update = status + "\nv1\n" + base + "\n";
        for (const ServedFile& file : files) {
            std::string relative = file.name;
            std::replace(relative.begin(), relative.end(), '\\', '/');
            nginx.Put("game/" + relative, file.content);
            update += file.name + "," + Md5Of(file.content) + "\n";
        }
        nginx.Put("lists/update.txt", update);
        nginx.Put("lists/setup.txt", installer + "\n");
    }

    // Starts the client in the working directory; output goes to files.
    pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {})
    {
        ++m_runs;
        m_outPath = root.Path().string() + "/out" + std::to_string(m_runs);
        m_errPath = root.Path().string() + "/err" + std::to_string(m_runs);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("HOME=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                entry.rfind("XDG_CACHE_HOME=", 0) != 0 &&
                entry.rfind("SYSREP_LOG=", 0) != 0 &&
                entry.rfind("LD_LIBRARY_PATH=", 0) != 0)
                env.push_back(entry);
        }
        env.push_back("HOME=" + Home());
        env.push_back("XDG_CONFIG_HOME=" + Home() + "/.config");
        env.push_back("SYSREP_LOG=" + ReportLog());
        // The sanitizer's dlopen wrapper hides the program's own run path from
        // the loader, so the library beside it is named on the search path too.
        const char* libraryPath = std::getenv("LD_LIBRARY_PATH");
        env.push_back(std::string("LD_LIBRARY_PATH=") + ZORVATH_BIN_DIR +
                      (libraryPath != nullptr && *libraryPath != '\0' ? std::string(":") + libraryPath : ""));
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());

        const std::string program = std::string(ZORVATH_BIN_DIR) + "/zorvath-cli";
        std::vector<std::string> argvText{program};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argvText)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string dir = RunDir();

        const pid_t pid = fork();
        if (pid == 0) {
            const int out = ::open(m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || ::chdir(dir.c_str()) != 0)
                _exit(126);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        return pid;
    }

    CliResult Wait(pid_t pid)
    {
        CliResult result;
        int status = 0;
        const bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; },
                                      std::chrono::seconds(60));
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "zorvath-cli did not end within 60 s";
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadFileText(m_outPath);
        result.err = ReadFileText(m_errPath);
        return result;
    }

    // What the last client started has written to standard output so far.
    std::string OutSoFar() const { return ReadFileText(m_outPath); }

    CliResult Run(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {})
    {
        return Wait(Start(args, extraEnv));
    }

    // The step texts handed to the report library, one per call, in order.
    std::vector<std::string> Reports() const
    {
        std::vector<std::string> steps;
        std::istringstream log(ReadFileText(ReportLog()));
        for (std::string line; std::getline(log, line);) {
            std::vector<std::string> fields;
            std::istringstream split(line);
            for (std::string field; std::getline(split, field, '\t');)
                fields.push_back(field);
            if (fields.size() == 6)
                steps.push_back(fields[2]);
        }
        return steps;
    }

    TempDir root;
    NginxServer nginx;

private:
    int m_runs = 0;
    std::string m_outPath;
    std::string m_errPath;
};

TEST_F(ConsoleClient, fresh_download_with_install_launches_the_installer_and_forgets_the_folder)
{
    const std::vector<ServedFile> files{
        {"data\\maps\\forest\\level.map", RandomBytes(700000, 1)},
        {"data\\sound.bank", RandomBytes(1000, 2)},
        {"readme.txt", "hello\n"},
        {"bin\\setup.sh", "#!/bin/sh\npwd > \"$ZORVATH_TEST_MARKER.part\"\n"
                          "mv \"$ZORVATH_TEST_MARKER.part\" \"$ZORVATH_TEST_MARKER\"\n"},
    };
    Publish(files, "bin\\setup.sh");
    const std::string marker = root.Path().string() + "/installer-ran";

    const CliResult result = Run({"--install", "--quiet"}, {"ZORVATH_TEST_MARKER=" + marker});

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "") << "--quiet prints nothing but failures";
    for (const ServedFile& file : files) {
        std::string relative = file.name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        EXPECT_EQ(ReadFileText(DefaultFolder() + relative), file.content) << relative;
        EXPECT_FALSE(Exists(DefaultFolder() + relative + ".tmp"));
        EXPECT_FALSE(Exists(DefaultFolder() + relative + ".des"));
    }
    ASSERT_TRUE(Eventually([&] { return Exists(marker); }, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFileText(marker), RunDir() + "\n") << "the installer runs in the client's working directory";
    EXPECT_EQ(Store().Read(kRegKey), "") << "the folder is forgotten once the installer runs";
    EXPECT_THAT(Reports(), ElementsAre(AnyOf("S", "D"), AnyOf("S", "D"), "SDI")) << "single marks, then the trace";
    EXPECT_THAT(Reports(), Contains("S"));
}

TEST_F(ConsoleClient, returning_user_download_starts_by_itself)
{
    const std::vector<ServedFile> files{{"pack\\a.bin", RandomBytes(600000, 3)}, {"b.bin", "bee"}};
    Publish(files, "b.bin");
    fs::create_directories(ChosenFolder());
    ASSERT_TRUE(Store().Write(kRegKey, ChosenFolder()));

    const CliResult result = Run({});

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFileText(ChosenFolder() + "pack/a.bin"), files[0].content);
    EXPECT_EQ(ReadFileText(ChosenFolder() + "b.bin"), "bee");
    // The start mark is sent on the check run while the download thread
    // already runs; the two single marks may arrive in either order.
    EXPECT_THAT(Reports(), ElementsAre(AnyOf("B", "D"), AnyOf("B", "D"), "BD"));
    EXPECT_THAT(Reports(), Contains("B"));
    EXPECT_NE(result.out.find("下载完成!"), std::string::npos) << result.out;
    EXPECT_EQ(Store().Read(kRegKey), ChosenFolder());
}

TEST_F(ConsoleClient, network_drop_mid_file_is_resumed_from_the_partial_file)
{
    const std::string content = RandomBytes(1500000, 4);
    FaultServer files;
    files.SetBody(content);
    FaultReply drop;
    drop.closeAfter = 700000;
    // Size query, the answer that drops (the size is known from the check:
    // no probe), then correct answers.
    files.SetScript({FaultReply{}, drop, FaultReply{}});
    Publish({}, "x.bin", files.BaseUrl());
    nginx.Put("lists/update.txt", "1\nv1\n" + files.BaseUrl() + "\nx.bin," + Md5Of(content) + "\n");

    const CliResult result = Run({"--folder", ChosenFolder(), "--retry-wait", "0"});

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFileText(ChosenFolder() + "x.bin"), content);
    EXPECT_NE(result.err.find(std::string(kNetError) + "\n"), std::string::npos) << result.err;
    ASSERT_FALSE(Reports().empty());
    EXPECT_EQ(Reports().back(), "SERD");
    const auto requests = files.Requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string range = requests[2].Header("Range");
    EXPECT_EQ(range.rfind("bytes=", 0), 0u) << range;
    EXPECT_NE(range.rfind("bytes=0-", 0), 0u) << "resumed, not fetched again: " << range;
}

TEST_F(ConsoleClient, killed_with_several_files_in_flight_the_next_run_completes_every_file_exactly)
{
    NginxServer::Options slow;
    slow.extraServerConfig = "location /game/ { limit_rate 400k; }";
    NginxServer game(slow);
    std::vector<ServedFile> files;
    std::string update = "1\nv1\n" + game.BaseUrl() + "game/\n";
    for (int i = 0; i < 4; ++i) {
        files.push_back({"k" + std::to_string(i) + ".bin", RandomBytes(900000, 60 + i)});
        game.Put("game/" + files.back().name, files.back().content);
        update += files.back().name + "," + Md5Of(files.back().content) + "\n";
    }
    nginx.Put("lists/update.txt", update);
    nginx.Put("lists/setup.txt", "k0.bin\n");
    const auto inFlight = [&] {
        int count = 0;
        for (const ServedFile& file : files) {
            std::error_code error;
            const auto size = fs::file_size(ChosenFolder() + file.name + ".tmp", error);
            count += !error && size > 0 && size < file.content.size() ? 1 : 0;
        }
        return count;
    };

    const pid_t pid = Start({"--folder", ChosenFolder(), "--connections", "4", "--quiet"});
    const bool several = Eventually([&] { return inFlight() >= 3; }, std::chrono::seconds(30));
    ::kill(pid, SIGKILL);
    const CliResult killed = Wait(pid);
    ASSERT_TRUE(several) << killed.err;
    EXPECT_EQ(killed.status, 128 + SIGKILL);

    const CliResult again = Run({"--folder", ChosenFolder(), "--quiet"});
    EXPECT_EQ(again.status, 0) << again.err;
    for (const ServedFile& file : files) {
        EXPECT_EQ(ReadFileText(ChosenFolder() + file.name), file.content) << file.name;
        EXPECT_FALSE(fs::exists(ChosenFolder() + file.name + ".tmp")) << file.name;
    }
}

TEST_F(ConsoleClient, lists_sizes_and_files_go_through_the_proxy_of_upper_case_http_proxy)
{
    if (!TinyProxyPresent())
        GTEST_SKIP() << "tinyproxy is not installed (scripts/common.sh installs it)";
    const std::vector<ServedFile> files{{"pack\\a.bin", RandomBytes(300000, 8)}, {"b.bin", "bee"}};
    Publish(files, "b.bin");
    TinyProxy proxy;
    // The client inherits our environment: nothing in it may bypass the proxy.
    ScopedEnv noBypass("no_proxy", nullptr);
    ScopedEnv noBypassUpper("NO_PROXY", nullptr);
    ScopedEnv noLower("http_proxy", nullptr);

    const CliResult result = Run({"--folder", ChosenFolder(), "--quiet"}, {"HTTP_PROXY=" + proxy.Url()});

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFileText(ChosenFolder() + "pack/a.bin"), files[0].content);
    EXPECT_EQ(ReadFileText(ChosenFolder() + "b.bin"), "bee");
    // What the proxy was asked for, without the lists' fresh-copy queries.
    std::vector<std::string> targets;
    for (const std::string& request : proxy.Requests())
        targets.push_back(request.substr(0, request.find_first_of("? ", 4)));
    const std::string get = "GET " + nginx.BaseUrl();
    // The lists, then each file for its size and once for its body; the
    // short one's size query brought the file itself.
    EXPECT_THAT(targets, ::testing::UnorderedElementsAre(get + "lists/update.txt", get + "lists/setup.txt",
                                                         get + "game/pack/a.bin", get + "game/pack/a.bin",
                                                         get + "game/b.bin"));
}

TEST_F(ConsoleClient, body_that_stays_corrupted_gives_up_after_the_retries)
{
    const std::string content = RandomBytes(400000, 5);
    std::string corrupted = content;
    corrupted[1000] = static_cast<char>(corrupted[1000] ^ 1);
    FaultServer files;
    files.SetBody(corrupted);
    Publish({}, "x.bin", files.BaseUrl());
    nginx.Put("lists/update.txt", "1\nv1\n" + files.BaseUrl() + "\nx.bin," + Md5Of(content) + "\n");

    const CliResult result = Run({"--folder", ChosenFolder(), "--retries", "1", "--retry-wait", "0"});

    EXPECT_EQ(result.status, 3) << result.err;
    const std::string shown = std::string(kDownloadAgain) + "\n";
    const auto first = result.err.find(shown);
    ASSERT_NE(first, std::string::npos) << result.err;
    EXPECT_NE(result.err.find(shown, first + 1), std::string::npos) << "shown once per failure";
    EXPECT_FALSE(Exists(ChosenFolder() + "x.bin"));
    EXPECT_FALSE(Exists(ChosenFolder() + "x.bin.tmp"));
    ASSERT_FALSE(Reports().empty());
    EXPECT_EQ(Reports().back(), "SEREC");
}

// A transfer slow enough to be interrupted in the middle of the file.
class SlowConsoleClient : public ConsoleClient {
protected:
    void SetUp() override
    {
        NginxServer::Options options;
        options.extraServerConfig = "location /game/ { limit_rate 1m; }";
        m_slow = std::make_unique<NginxServer>(options);
        m_slow->Put("game/data/big.bin", content);
        nginx.Put("lists/update.txt",
                  "1\nv1\n" + m_slow->BaseUrl() + "game/\ndata\\big.bin," + Md5Of(content) + "\n");
        nginx.Put("lists/setup.txt", "data\\big.bin\n");
    }

    std::string Partial() const { return ChosenFolder() + "data/big.bin.tmp"; }

    // Starts the client and waits until part of the file is on disk.
    pid_t StartAndWaitForBytes()
    {
        const pid_t pid = Start({"--folder", ChosenFolder()});
        EXPECT_TRUE(Eventually([&] {
            std::error_code missing;
            const auto size = fs::file_size(Partial(), missing);
            return !missing && size >= 524288;
        }));
        return pid;
    }

    const std::string content = RandomBytes(2 * 1024 * 1024, 6);

private:
    std::unique_ptr<NginxServer> m_slow;
};

TEST_F(SlowConsoleClient, killed_mid_file_then_run_again_finishes_from_the_partial_file)
{
    const pid_t pid = StartAndWaitForBytes();
    ::kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid).status, 128 + SIGKILL);
    const auto kept = fs::file_size(Partial());
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, content.size());
    EXPECT_EQ(ReadFileText(ChosenFolder() + "data/big.bin.des"), Md5Of(content));

    const CliResult again = Run({"--folder", ChosenFolder()});

    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFileText(ChosenFolder() + "data/big.bin"), content);
    EXPECT_NE(again.out.find("fetched " + std::to_string(content.size() - kept) + " bytes"), std::string::npos)
        << "only the missing part is fetched: " << again.out;
}

TEST_F(SlowConsoleClient, ctrl_c_closes_with_mark_c_and_keeps_the_partial_file)
{
    // Lists are never written: the close leaves files of these names alone.
    std::ofstream(RunDir() + "/update.txt") << "left over";
    std::ofstream(RunDir() + "/setup.txt") << "left over";
    const pid_t pid = StartAndWaitForBytes();
    ::kill(pid, SIGINT);
    const CliResult result = Wait(pid);

    EXPECT_EQ(result.status, 130);
    EXPECT_TRUE(Exists(Partial()));
    EXPECT_EQ(ReadFileText(ChosenFolder() + "data/big.bin.des"), Md5Of(content));
    EXPECT_FALSE(Exists(ChosenFolder() + "data/big.bin"));
    EXPECT_EQ(ReadFileText(RunDir() + "/update.txt"), "left over");
    EXPECT_EQ(ReadFileText(RunDir() + "/setup.txt"), "left over");
    EXPECT_EQ(Reports(), (std::vector<std::string>{"S", "SC"}));
}

// Runs that end before any file is fetched, each with its own exit status.
class ConsoleClientEnds;

struct EndCase {
    const char* name;
    std::function<void(ConsoleClientEnds&, FaultServer&)> arrange;
    std::vector<std::string> args;
    int status;
    std::string message;    // expected on standard error ("" : any text)
    std::string lastReport; // "" : no report expected
};

void PrintTo(const EndCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConsoleClientEnds : public ConsoleClient, public ::testing::WithParamInterface<EndCase> {
public:
    using ConsoleClient::nginx;
    using ConsoleClient::Publish;
    using ConsoleClient::root;
    using ConsoleClient::WriteConfig;
};

const EndCase kEndCases[] = {
    {"unreachable_list_url",
     [](ConsoleClientEnds& c, FaultServer&) {
         const auto port = FreeLoopbackPort();
         c.WriteConfig(
             "http://127.0.0.1:" + std::to_string(port) + "/update.txt",
             "http://127.0.0.1:" + std::to_string(port) + "/setup.txt");
     },
     {},
     1,
     std::string(kListFailed) + "\n",
     "C"},
    {"server_under_maintenance",
     [](ConsoleClientEnds& c, FaultServer&) {
         c.Publish({{"a.bin", "a"}}, "a.bin", "", "0");
     },
     {},
     1,
     std::string(kMaintenance) + "\n",
     "C"},
    {"list_naming_a_file_outside_the_folder",
     [](ConsoleClientEnds& c, FaultServer&) {
         c.Publish({{"a.bin", "a"}}, "a.bin");
         c.nginx.Put("lists/update.txt", "1\nv1\n" + c.nginx.BaseUrl() + "game/\n..\\..\\evil.sh," +
                                             std::string(32, '0') + "\n");
     },
     {},
     1,
     "..\\..\\evil.sh", // the message names the offending name
     "C"},
    {"not_enough_space_for_the_announced_sizes",
     [](ConsoleClientEnds& c, FaultServer& files) {
         FaultReply huge;
         huge.contentLength = "1125899906842624"; // 1 PiB
         files.SetScript({huge});
         c.Publish({}, "a.bin", files.BaseUrl());
         c.nginx.Put("lists/update.txt", "1\nv1\n" + files.BaseUrl() + "\na.bin," + std::string(32, '0') + "\n");
     },
     {"--folder", "chosen"},
     4,
     std::string(kNoSpace) + "\n",
     "C"},
    {"unknown_option", [](ConsoleClientEnds&, FaultServer&) {}, {"--colour"}, 2, "", ""},
    {"retries_that_are_no_number", [](ConsoleClientEnds&, FaultServer&) {}, {"--retries", "many"}, 2, "", ""},
    {"settings_file_that_is_missing", [](ConsoleClientEnds&, FaultServer&) {}, {"--config", "nowhere.ini"}, 2, "",
     ""},
    {"folder_that_is_a_file",
     [](ConsoleClientEnds& c, FaultServer&) { std::ofstream(c.root.Path() / "run/plain") << "x"; },
     {"--folder", "plain"},
     2,
     "",
     ""},
};

TEST_P(ConsoleClientEnds, exit_status_message_and_report)
{
    const EndCase& c = GetParam();
    FaultServer files;
    c.arrange(*this, files);

    const CliResult result = Run(c.args);

    EXPECT_EQ(result.status, c.status) << result.err;
    if (!c.message.empty()) {
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    } else {
        EXPECT_FALSE(result.err.empty()) << "every failure says why";
    }
    if (c.lastReport.empty()) {
        EXPECT_TRUE(Reports().empty());
    } else {
        ASSERT_FALSE(Reports().empty());
        EXPECT_EQ(Reports().back(), c.lastReport);
    }
}

INSTANTIATE_TEST_SUITE_P(console_client, ConsoleClientEnds, ::testing::ValuesIn(kEndCases),
                         [](const ::testing::TestParamInfo<EndCase>& info) { return info.param.name; });

TEST_F(ConsoleClient, installer_that_cannot_be_started_keeps_the_remembered_folder)
{
    Publish({{"setup.bin", "not a program"}}, "setup.bin");
    const CliResult result = Run({"--folder", ChosenFolder(), "--install"});
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("安装程序启动失败!\n" + ChosenFolder() + "setup.bin\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(Store().Read(kRegKey), ChosenFolder());
}

// An operator's release signed with the stock minisign tool and a
// config.ini that names the public key.
class SignedConsoleClient : public ConsoleClient {
protected:
    void SetUp() override
    {
        if (!HaveMinisign())
            GTEST_SKIP() << kMinisignMissing;
        key = MakeStockKeyPair(root, "release");
        ASSERT_FALSE(key.publicKeyLine.empty());
        WriteConfig(nginx.BaseUrl() + "lists/update.txt", nginx.BaseUrl() + "lists/setup.txt", key.publicKeyLine);
    }

public:
    // For the rows of the table below.
    using ConsoleClient::nginx;

    void SignLists(std::uint64_t sequence)
    {
        for (const char* list : {"update.txt", "setup.txt"}) {
            const std::string path = (nginx.DocumentRoot() / "lists" / list).string();
            ASSERT_NE(StockSign(key, path, "seq:" + std::to_string(sequence)), "");
        }
    }

    FileSignedSequenceStore Releases() const { return FileSignedSequenceStore(Home() + "/.config/Vonmark/Halvane.releases"); }
    std::string KeyId() const { return KeyIdText(ParsePublicKey(key.publicKeyLine)->keyId); }

    StockKeyPair key;
};

TEST_F(SignedConsoleClient, signed_release_downloads_every_file_and_is_remembered)
{
    const std::vector<ServedFile> files{{"pack\\a.bin", RandomBytes(300000, 5)}, {"setup.sh", "#!/bin/sh\n"}};
    Publish(files, "setup.sh");
    SignLists(1765000000);

    const CliResult result = Run({"--folder", ChosenFolder()});

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFileText(ChosenFolder() + "pack/a.bin"), files[0].content);
    EXPECT_EQ(ReadFileText(ChosenFolder() + "setup.sh"), files[1].content);
    AcceptedRelease recorded;
    ASSERT_EQ(Releases().Read(KeyId(), recorded), SequenceStoreRead::Found);
    EXPECT_EQ(recorded.sequence, 1765000000u);
}

// Lists whose signatures do not hold end the client as a list it cannot
// read does: status 1, the reason on standard error, no file asked for and
// nothing made in the folder.
TEST_F(SignedConsoleClient, refused_signatures_end_with_status_1_and_nothing_fetched_or_written)
{
    struct Case {
        const char* name;
        std::function<void(SignedConsoleClient&)> tamper;
        std::string message;
    };
    const Case cases[] = {
        {"list_altered_after_signing",
         [](SignedConsoleClient& t) {
             t.nginx.Put("lists/setup.txt", "evil.sh\n");
         },
         "读取配置文件失败!\n更新列表的签名无效\n"},
        {"signature_missing",
         [](SignedConsoleClient& t) { fs::remove(t.nginx.DocumentRoot() / "lists/update.txt.minisig"); },
         "读取配置文件失败!\n无法获取更新列表的签名\n"},
        {"older_than_the_release_accepted_before",
         [](SignedConsoleClient& t) { ASSERT_TRUE(t.Releases().Write(t.KeyId(), {20, std::string(64, '0')})); },
         "读取配置文件失败!\n更新列表比之前使用的版本旧\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(ChosenFolder());
        fs::remove(Home() + "/.config/Vonmark/Halvane.releases");
        Publish({{"a.bin", "a"}}, "a.bin");
        SignLists(10);
        c.tamper(*this);
        const std::size_t requestsBefore = nginx.RequestedPaths().size();

        const CliResult result = Run({"--folder", ChosenFolder()});

        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_TRUE(fs::is_empty(ChosenFolder()));
        const auto requested = nginx.RequestedPaths();
        for (std::size_t i = requestsBefore; i < requested.size(); ++i)
            EXPECT_EQ(requested[i].rfind("/lists/", 0), 0u) << requested[i];
    }
}

TEST_F(ConsoleClient, folder_that_cannot_be_written_ends_with_status_2_and_is_forgotten)
{
    Publish({{"a.bin", "a"}}, "a.bin");
    fs::create_directories(ChosenFolder());
    ASSERT_TRUE(Store().Write(kRegKey, ChosenFolder()));
    CliResult result;
    {
        ImmutableFolder frozen(ChosenFolder());
        ASSERT_TRUE(frozen.Ok());
        result = Run({});
    }
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find("下载路径无法写入:\n" + ChosenFolder() + "\n"), std::string::npos) << result.err;
    EXPECT_EQ(Store().Read(kRegKey).value_or(""), "") << "the next start asks for a folder";
    EXPECT_TRUE(fs::is_empty(ChosenFolder()));
}

// --json: standard output is one event object per line and nothing else.
using nlohmann::json;

// Every line of out parsed by a real parser (which also refuses ill-formed
// UTF-8); each must be an object with a known event word and phase.
std::vector<json> JsonLines(const std::string& out)
{
    std::vector<json> events;
    EXPECT_TRUE(out.empty() || out.back() == '\n') << "the last line ends";
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const json event = json::parse(line, nullptr, false);
        if (event.is_discarded() || !event.is_object() || !event.contains("event") || !event["event"].is_string() ||
            !event.contains("phase") || !event["phase"].is_string()) {
            ADD_FAILURE() << "not an event object: " << line;
            continue;
        }
        EXPECT_THAT(event["event"].get<std::string>(),
                    AnyOf("phase", "progress", "file-start", "file-end", "status", "version", "folder", "message",
                          "result"))
            << line;
        EXPECT_THAT(event["phase"].get<std::string>(), AnyOf("checking", "downloading", "paused", "done", "failed"))
            << line;
        events.push_back(event);
    }
    return events;
}

std::vector<json> EventsNamed(const std::vector<json>& events, const std::string& name)
{
    std::vector<json> named;
    for (const json& event : events) {
        if (event["event"] == name)
            named.push_back(event);
    }
    return named;
}

std::vector<std::string> Phases(const std::vector<json>& events)
{
    std::vector<std::string> phases;
    for (const json& event : EventsNamed(events, "phase"))
        phases.push_back(event["phase"]);
    return phases;
}

std::vector<std::string> MessageTexts(const std::vector<json>& events)
{
    std::vector<std::string> texts;
    for (const json& event : EventsNamed(events, "message"))
        texts.push_back(event["text"]);
    return texts;
}

TEST_F(ConsoleClient, json_run_reports_phases_files_and_progress_to_the_last_byte)
{
    // A quote and a byte that is no UTF-8 in a name must not break a line.
    const std::vector<ServedFile> files{
        {"data\\maps\\level.map", RandomBytes(900000, 21)},
        {"say \"hi\" \xff.bin", RandomBytes(3000, 22)},
        {"setup.sh", "#!/bin/sh\n"},
    };
    Publish(files, "setup.sh");

    const CliResult result = Run({"--json", "--folder", ChosenFolder()});

    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<json> events = JsonLines(result.out);
    ASSERT_FALSE(events.empty());
    EXPECT_THAT(Phases(events), ElementsAre("checking", "downloading", "done"));
    EXPECT_EQ(events.back(), json::parse(R"({"event":"result","phase":"done","exit":0})"));

    std::uint64_t total = 0;
    for (const ServedFile& file : files) {
        total += file.content.size();
        std::string name = file.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        if (name.find('\xff') != std::string::npos)
            name.replace(name.find('\xff'), 1, "\xEF\xBF\xBD");
        SCOPED_TRACE(name);
        int starts = 0;
        for (const json& start : EventsNamed(events, "file-start")) {
            if (start["name"] == name) {
                ++starts;
                EXPECT_EQ(start["size"], file.content.size());
                EXPECT_EQ(start["phase"], "downloading");
            }
        }
        EXPECT_EQ(starts, 1);
        std::vector<std::string> outcomes;
        for (const json& end : EventsNamed(events, "file-end")) {
            if (end["name"] == name)
                outcomes.push_back(end["outcome"]);
        }
        EXPECT_THAT(outcomes, ElementsAre("ok"));
    }

    const std::vector<json> progress = EventsNamed(events, "progress");
    ASSERT_FALSE(progress.empty());
    std::uint64_t before = 0;
    for (const json& p : progress) {
        EXPECT_GE(p["bytes_done"].get<std::uint64_t>(), before) << p;
        before = p["bytes_done"];
        EXPECT_EQ(p["bytes_total"], total) << p;
        EXPECT_EQ(p["files_total"], files.size()) << p;
        EXPECT_TRUE(p["speed"].is_number_unsigned()) << p;
    }
    EXPECT_EQ(progress.back()["bytes_done"], total);
    EXPECT_EQ(progress.back()["files_done"], files.size());
    EXPECT_THAT(EventsNamed(events, "status"), Contains(json::parse(R"({"event":"status","phase":"downloading",)"
                                                                    R"("text":"下载完成!"})")));
    EXPECT_THAT(MessageTexts(events), ElementsAre()) << "nothing to answer on a good run";
    EXPECT_NE(result.err.find("all 3 files present"), std::string::npos) << "the client's own line: " << result.err;
}

TEST_F(ConsoleClient, json_run_that_fails_ends_with_the_message_phase_failed_and_its_status)
{
    struct Case {
        const char* name;
        std::function<void(FaultServer&)> arrange;
        std::vector<std::string> phases;
        std::string message;
        std::string outcome; // how the file's transfers end ("" : no file starts)
        int status;
    };
    const std::string content = RandomBytes(400000, 23);
    const Case cases[] = {
        {"lists_not_found",
         [](FaultServer&) {},
         {"checking", "failed"},
         kListFailed,
         "",
         1},
        {"digest_that_never_matches",
         [&](FaultServer& server) {
             std::string corrupted = content;
             corrupted[1000] = static_cast<char>(corrupted[1000] ^ 1);
             server.SetBody(corrupted);
             nginx.Put("lists/update.txt", "1\nv1\n" + server.BaseUrl() + "\nx.bin," + Md5Of(content) + "\n");
             nginx.Put("lists/setup.txt", "x.bin\n");
         },
         {"checking", "downloading", "paused", "downloading", "paused", "failed"},
         kDownloadAgain,
         "digest-mismatch",
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(ChosenFolder());
        fs::remove(nginx.DocumentRoot() / "lists/update.txt");
        fs::remove(nginx.DocumentRoot() / "lists/setup.txt");
        FaultServer server;
        c.arrange(server);

        const CliResult result = Run({"--json", "--folder", ChosenFolder(), "--retries", "1", "--retry-wait", "0"});

        EXPECT_EQ(result.status, c.status) << result.err;
        const std::vector<json> events = JsonLines(result.out);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(Phases(events), c.phases);
        EXPECT_THAT(MessageTexts(events), Contains(c.message));
        EXPECT_NE(result.err.find(c.message), std::string::npos) << "messages also go to standard error";
        std::vector<std::string> outcomes;
        for (const json& end : EventsNamed(events, "file-end"))
            outcomes.push_back(end["outcome"]);
        if (c.outcome.empty())
            EXPECT_THAT(outcomes, ElementsAre());
        else
            EXPECT_THAT(outcomes, ElementsAre(c.outcome, c.outcome)) << "one per try";
        EXPECT_EQ(events.back()["event"], "result");
        EXPECT_EQ(events.back()["phase"], "failed");
        EXPECT_EQ(events.back()["exit"], c.status);
    }
}

TEST_F(SlowConsoleClient, json_run_shows_progress_on_the_way_and_ends_130_when_interrupted)
{
    const pid_t pid = Start({"--json", "--folder", ChosenFolder()});
    // Interrupted once a progress event shows bytes on the way.
    EXPECT_TRUE(Eventually([&] {
        const std::string out = OutSoFar();
        for (const json& p : EventsNamed(JsonLines(out.substr(0, out.rfind('\n') + 1)), "progress")) {
            if (p["bytes_done"] > 0)
                return true;
        }
        return false;
    }));
    ::kill(pid, SIGINT);
    const CliResult result = Wait(pid);

    EXPECT_EQ(result.status, 130);
    const std::vector<json> events = JsonLines(result.out);
    ASSERT_FALSE(events.empty());
    int onTheWay = 0;
    for (const json& p : EventsNamed(events, "progress")) {
        EXPECT_EQ(p["bytes_total"], content.size()) << p;
        EXPECT_EQ(p["files_done"], 0) << p;
        EXPECT_TRUE(p["speed"].is_number_unsigned()) << p;
        if (p["bytes_done"] > 0 && p["bytes_done"] < content.size())
            ++onTheWay;
    }
    EXPECT_GE(onTheWay, 1) << result.out;
    EXPECT_THAT(EventsNamed(events, "message"),
                Contains(json::parse(R"({"event":"message","phase":"downloading","text":"下载未完成,是否仍要关闭?",)"
                                     R"("caption":"关闭","buttons":"ok-cancel","answer":"ok"})")));
    EXPECT_EQ(events.back(), json::parse(R"({"event":"result","phase":"failed","exit":130})"));
    EXPECT_NE(result.err.find("interrupted"), std::string::npos) << result.err;
}

TEST(console_client_usage, help_and_version_end_at_once)
{
    for (const char* option : {"--help", "--version"}) {
        const std::string command = std::string(ZORVATH_BIN_DIR) + "/zorvath-cli " + option + " > /dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << option;
    }
}

} // namespace
