#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "ChildRun.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

// A player's machine for the whole console client (build/bin/zorvath-cli):
// a home (remembered folder, digest cache), a working directory with
// config.ini pointing at lists served by nginx, and a download folder.
class ConsoleMachine {
public:
    // files: names (as listed) and their digests; the lists name base as the
    // file server.
    ConsoleMachine(const NginxServer& lists, const std::string& base,
                   const std::vector<std::pair<std::string, std::string>>& files)
    {
        std::filesystem::create_directories(Home() + "/.config");
        std::filesystem::create_directories(RunDir());
        std::string update = "1\nv1\n" + base + "\n";
        for (const auto& [name, md5] : files)
            update += name + "," + md5 + "\n";
        lists.Put("cli-lists/update.txt", update);
        lists.Put("cli-lists/setup.txt", files.front().first + "\n");
        std::ofstream(RunDir() + "/config.ini", std::ios::trunc)
            << "[settings]\nupdate=" << lists.BaseUrl() << "cli-lists/update.txt\nsetup=" << lists.BaseUrl()
            << "cli-lists/setup.txt\nreg_key=bench\ndir=Game\n";
    }

    std::string Home() const { return m_root.Path().string() + "/home"; }
    std::string RunDir() const { return m_root.Path().string() + "/run"; }
    std::string Folder() const { return m_root.Path().string() + "/game/"; }

    // Forgets the downloaded files (and, with cache, the remembered digests).
    void Clear(bool cache)
    {
        std::filesystem::remove_all(Folder());
        if (cache)
            std::filesystem::remove_all(Home() + "/.cache");
    }

    // One whole run of the client; ok when it ended with every file present.
    Run Client(const std::string& program, const std::vector<std::string>& extra, const std::string& proxy = "")
    {
        std::vector<std::string> arguments{program, "--folder", Folder(), "--quiet"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const std::string home = Home();
        const std::string dir = RunDir();
        return InChild([&] {
            if (::chdir(dir.c_str()) != 0)
                return false;
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
            ::unsetenv("XDG_CACHE_HOME");
            ::setenv("SYSREP_LOG", "/dev/null", 1);
            if (!proxy.empty()) {
                ::setenv("http_proxy", proxy.c_str(), 1);
                ::unsetenv("no_proxy");
                ::unsetenv("NO_PROXY");
            }
            std::vector<char*> argv;
            for (auto& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            return false;
        });
    }

private:
    TempDir m_root;
};

// build/bin/zorvath-cli beside this benchmark.
inline std::string ConsoleClientProgram(const char* argv0)
{
    return (std::filesystem::absolute(argv0).parent_path() / "zorvath-cli").string();
}
