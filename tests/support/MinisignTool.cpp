#include "support/MinisignTool.h"

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

#include "support/TempDir.h"

bool HaveMinisign()
{
    return RunShell("command -v minisign") == 0;
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int RunShell(const std::string& command)
{
    const std::string quiet = "(" + command + ") >/dev/null 2>&1";
    const int status = std::system(quiet.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

StockKeyPair MakeStockKeyPair(const TempDir& dir, const std::string& name)
{
    StockKeyPair pair;
    pair.publicKeyPath = (dir.Path() / (name + ".pub")).string();
    pair.secretKeyPath = (dir.Path() / (name + ".key")).string();
    if (RunShell("minisign -G -W -p " + ShellQuote(pair.publicKeyPath) + " -s " + ShellQuote(pair.secretKeyPath) +
                 " </dev/null") != 0)
        return pair;
    std::istringstream lines(ReadFileText(pair.publicKeyPath));
    std::string comment;
    std::getline(lines, comment);
    std::getline(lines, pair.publicKeyLine);
    return pair;
}
