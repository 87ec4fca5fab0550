#include <cstdio>
#include <string>

#include "cli/CliOptions.h"
#include "cli/ConsoleClient.h"

int main(int argc, char** argv)
{
    std::string error;
    const auto options = ParseCliOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "zorvath-cli: %s\nTry 'zorvath-cli --help'.\n", error.c_str());
        return ExitUsage;
    }
    if (options->help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("zorvath-cli %s\n", ZORVATH_VERSION);
        return 0;
    }
    RunConsoleClient(*options);
}
