// velora_previewer: see a DrawVelora effect without the engine.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "previewer/options.h"
#include "previewer/preview.h"

namespace {

constexpr const char* kProgram = "velora_previewer";

// Ctrl+C (or SIGTERM) stops the reading of the script, or the drawing after
// the frame it is drawing (the frames drawn are written); a second one while
// the files are written abandons them, leaving the earlier files as they
// were; a third ends the program at once. SIGHUP (the terminal closed, an
// ssh session dropped: nobody asked for a shorter preview) stops the run
// and abandons its files at once, the earlier files kept as they were.
volatile sig_atomic_t signalsReceived = 0;
volatile sig_atomic_t latestSignal = 0;
volatile sig_atomic_t hungUp = 0;

void OnSignal(int signal)
{
    latestSignal = signal;
    hungUp = hungUp || signal == SIGHUP;
    signalsReceived = signalsReceived + 1;
    if (signalsReceived >= 2) {
        struct sigaction action{};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        for (const int each : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now{};
            if (sigaction(each, nullptr, &now) == 0 && now.sa_handler == OnSignal) {
                sigaction(each, &action, nullptr);
            }
        }
    }
}

// A signal ignored when the program starts (SIGHUP under nohup, SIGINT in a
// job the shell started in the background) stays ignored.
void CatchSignals()
{
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read of the script returns at once
    for (const int each : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before{};
        if (sigaction(each, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(each, &action, nullptr);
    }
}

// The progress bar owns the terminal line while it is shown.
class Terminal {
public:
    explicit Terminal(bool bar) : bar_(bar) {}

    void Progress(std::int32_t done, std::int32_t total)
    {
        if (!bar_) {
            return;
        }
        constexpr int kWidth = 30;
        const int filled = total > 0 ? static_cast<int>(std::int64_t{done} * kWidth / total) : kWidth;
        std::fprintf(stderr, "\r[%s%s] %d/%d frames", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), done, total);
        std::fflush(stderr);
        shown_ = true;
    }
    void Status(const char* text)
    {
        if (!bar_) {
            return;
        }
        Clear();
        std::fprintf(stderr, "%s", text);
        std::fflush(stderr);
        shown_ = true;
    }
    void Line(const std::string& text)
    {
        Clear();
        std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
    }
    void Clear()
    {
        if (shown_) {
            std::fprintf(stderr, "\r\033[K");
            shown_ = false;
        }
    }

private:
    bool bar_;
    bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv)
{
    using namespace velora::previewer;
    Options options;
    try {
        options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(HelpText(kProgram).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", kProgram, VELORA_VERSION);
        return 0;
    }

    if (options.printScript) {
        try {
            std::fputs(PreviewScript(options).c_str(), stdout);
            return 0;
        } catch (const UsageError& error) {
            std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
            return 2;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s: error: %s\n", kProgram, error.what());
            return 1;
        }
    }

    Terminal terminal(!options.quiet && isatty(STDERR_FILENO));
    Reporter reporter;
    if (!options.quiet) {
        reporter.note = [&](const std::string& line) { terminal.Line(line); };
    }
    if (options.verbose) {
        reporter.host = [&](const std::string& line) { terminal.Line(line); };
    }
    reporter.warn = [&](const std::string& line) { terminal.Line(line); };
    reporter.progress = [&](std::int32_t done, std::int32_t total) { terminal.Progress(done, total); };
    reporter.writing = [&] { terminal.Status("writing the files..."); };
    reporter.writingProgress = [&](std::int32_t done, std::int32_t total) {
        terminal.Status(("writing the files: " + std::to_string(done) + " of " + std::to_string(total) +
                         " frames encoded")
                            .c_str());
    };
    reporter.stopRequested = [] { return signalsReceived != 0; };
    reporter.abandonRequested = [] { return signalsReceived >= 2 || hungUp != 0; };
    reporter.stopSignal = [] { return static_cast<int>(latestSignal); };
    CatchSignals();
    try {
        const Summary summary = RunPreview(options, reporter);
        terminal.Clear();
        if (summary.frames == 0) {
            std::fprintf(stderr, "%s: stopped by %s before the first frame: nothing written\n", kProgram,
                         SignalName(latestSignal).c_str());
            return 128 + latestSignal;
        }
        std::printf("%s: %s\n", kProgram, SummaryLine(summary).c_str());
        return summary.interrupted ? 128 + summary.stopSignal : 0;
    } catch (const Stopped& stopped) {
        terminal.Clear();
        std::fprintf(stderr, "%s: %s\n", kProgram, stopped.what());
        return 128 + stopped.Signal();
    } catch (const UsageError& error) {
        terminal.Clear();
        std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
        return 2;
    } catch (const std::exception& error) {
        terminal.Clear();
        std::fprintf(stderr, "%s: error: %s\n", kProgram, error.what());
    } catch (...) {
        terminal.Clear();
        std::fprintf(stderr, "%s: error: unexpected failure\n", kProgram);
    }
    return 1;
}
