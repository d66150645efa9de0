// Runs several Windows programs one after the other in one process tree, so
// that a group of short runs shares one Wine prefix (whose set-up costs far
// more than the runs themselves under qemu).
//
// Usage: run_each.exe [--expect N] [--env NAME=VALUE] PROGRAM [ARGUMENT...]
//                     [--then [--expect N] [--env NAME=VALUE] PROGRAM [ARGUMENT...]]...
//
// Each program inherits the standard streams; --env sets a variable for it
// alone, --expect names the exit status it must end with (0 unless given).
// Prints one line per program and exits 0 only when every one ended as
// expected, else 1 (2 on wrong usage).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Run {
    std::vector<std::string> command;
    std::vector<std::pair<std::string, std::string>> environment;
    DWORD expected = 0;
};

// One argument as the C runtime of the child splits it again.
std::string Quoted(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

bool Parse(int argc, char** argv, std::vector<Run>& runs)
{
    runs.emplace_back();
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        Run& run = runs.back();
        if (argument == "--then") {
            if (run.command.empty()) {
                return false;
            }
            runs.emplace_back();
        } else if (run.command.empty() && argument == "--expect" && i + 1 < argc) {
            run.expected = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (run.command.empty() && argument == "--env" && i + 1 < argc) {
            const std::string setting = argv[++i];
            const std::size_t equals = setting.find('=');
            if (equals == std::string::npos || equals == 0) {
                return false;
            }
            run.environment.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
        } else {
            run.command.push_back(argument);
        }
    }
    return !runs.back().command.empty();
}

// The exit status, or an explanation in `error`.
bool Execute(const Run& run, DWORD& status, std::string& error)
{
    std::string line;
    for (const std::string& argument : run.command) {
        if (!line.empty()) {
            line += ' ';
        }
        line += Quoted(argument);
    }
    for (const auto& [name, value] : run.environment) {
        SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
    // The program writes where this one does.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION process{};
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back('\0');
    const BOOL started =
        CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    for (const auto& [name, value] : run.environment) {
        SetEnvironmentVariableA(name.c_str(), nullptr);
    }
    if (!started) {
        error = "cannot start it (error " + std::to_string(startError) + ")";
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    const BOOL got = GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!got) {
        error = "no exit status";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<Run> runs;
    if (!Parse(argc, argv, runs)) {
        std::fprintf(stderr,
                     "usage: run_each.exe [--expect N] [--env NAME=VALUE] PROGRAM [ARGUMENT...] "
                     "[--then ...]...\n");
        return 2;
    }
    // Plain line feeds, as the programs' own lines.
    _setmode(_fileno(stdout), _O_BINARY);
    int wrong = 0;
    for (const Run& run : runs) {
        std::fflush(stdout);
        DWORD status = 0;
        std::string error;
        const bool ran = Execute(run, status, error);
        const bool ok = ran && status == run.expected;
        wrong += ok ? 0 : 1;
        if (ran) {
            std::printf("run_each: %s %s with status %lu%s\n", ok ? "ok    " : "FAILED", run.command[0].c_str(),
                        static_cast<unsigned long>(status),
                        ok ? "" : (", expected " + std::to_string(run.expected)).c_str());
        } else {
            std::printf("run_each: FAILED %s: %s\n", run.command[0].c_str(), error.c_str());
        }
        std::fflush(stdout);
    }
    return wrong == 0 ? 0 : 1;
}
