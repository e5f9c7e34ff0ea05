// Runs the command-line tool on a table, as another program would.
#pragma once

#include <cstdio>
#include <string>

#include <sys/wait.h>

namespace testutil {

struct ToolRun {
    int status = -1; // exit code; 128 + signal when killed
    std::string out;
};

// withErrors: standard error is part of out (else it is dropped).
inline ToolRun runTool(const char* tool, const std::string& command, const std::string& file,
                       bool withErrors = false) {
    ToolRun run;
    const std::string line = std::string("'") + tool + "' " + command + " '" + file + "' " +
                             (withErrors ? "2>&1" : "2>/dev/null");
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe)
        return run;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        run.out.append(buf, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

} // namespace testutil
