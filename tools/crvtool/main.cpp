// crvtool: the engine's command-line shell.
//
// Exit codes: 0 success, 1 an engine or file error (one line on stderr), 2 a usage error,
// 3 "nothing found" for the look-up commands.
#include "CrvToolCommands.h"

#include "CRVExcept/CRVExcept.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

void PrintHelp(std::FILE* out) {
    std::fputs("usage: crvtool COMMAND [ARGS...]\n\ncommands:\n", out);
    for (const TCrvToolCommand& c : CrvToolCommands())
        std::fprintf(out, "  %s\n      %s\n", c.Synopsis, c.Summary);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintHelp(args.empty() ? stderr : stdout);
        return args.empty() ? KExitUsage : KExitOk;
    }
    for (const TCrvToolCommand& c : CrvToolCommands()) {
        if (args[0] != c.Name)
            continue;
        try {
            TArgs parsed(std::vector<std::string>(args.begin() + 1, args.end()));
            return c.Run(parsed);
        } catch (const EUsage& e) {
            std::fprintf(stderr, "crvtool %s: %s\nusage: crvtool %s\n", c.Name, e.what(), c.Synopsis);
            return KExitUsage;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "crvtool %s: %s\n", c.Name, e.what());
            return KExitError;
        }
    }
    std::fprintf(stderr, "crvtool: unknown command '%s' (see crvtool --help)\n", args[0].c_str());
    return KExitUsage;
}
