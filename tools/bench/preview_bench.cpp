// The previewer end to end, as a user runs it: 3 s at 30 fps of 640 x 480 in
// mode 0, drawn, encoded and written, timed on the wall clock and reported
// as a multiple of the 3 s of animation it makes (below 1.0: faster than
// real time). 40 particles is the default preview; 10 000 makes every frame
// change everywhere, the encoder's hardest case.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

extern char** environ;

namespace {

constexpr double kAnimationSeconds = 3.0;

struct Measured {
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0;  // user and system time of the previewer
    double drawnSeconds = 0.0;  // its own "drawn in" figure
    int runs = 0;
};
std::map<long, Measured> measured;  // by particle count

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

void PreviewRender(benchmark::State& state)
{
    const long particles = state.range(0);
    std::string folder = (std::filesystem::temp_directory_path() / "velora-preview-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) {
        state.SkipWithError("cannot make a temporary folder");
        return;
    }
    const std::string output = folder + "/bench.webp";
    const std::string log = folder + "/summary.txt";
    std::vector<std::string> arguments = {VELORA_PREVIEW_PROGRAM, "--numof", std::to_string(particles),
                                          "--seconds", "3", "--fps", "30", "--seed", "1", "--output", output,
                                          "--quiet"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    Measured& total = measured[particles];
    for (auto _ : state) {
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const auto start = std::chrono::steady_clock::now();
        pid_t child = 0;
        int status = -1;
        struct rusage usage{};
        if (posix_spawn(&child, argv[0], &files, nullptr, argv.data(), environ) == 0) {
            wait4(child, &status, 0, &usage);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        posix_spawn_file_actions_destroy(&files);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the previewer failed");
            break;
        }
        state.SetIterationTime(wall);
        const std::string summary = Slurp(log);
        const std::size_t drawn = summary.find("drawn in ");
        total.wallSeconds += wall;
        total.cpuSeconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        total.drawnSeconds += drawn == std::string::npos ? 0.0 : std::atof(summary.c_str() + drawn + 9);
        ++total.runs;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (total.runs > 0) {
        state.counters["x_real_time"] = total.wallSeconds / total.runs / kAnimationSeconds;
        state.counters["cpu_s"] = total.cpuSeconds / total.runs;
    }
}

BENCHMARK(PreviewRender)
    ->ArgName("particles")
    ->Arg(40)
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nThe previewer, 640 x 480, 3 s at 30 fps in mode 0, on this machine (%ld cores online):\n",
                sysconf(_SC_NPROCESSORS_ONLN));
    for (const auto& [particles, total] : measured) {
        if (total.runs == 0) {
            continue;
        }
        const double ratio = total.wallSeconds / total.runs / kAnimationSeconds;
        std::printf("%6ld particles: %.2f s wall (drawing %.2f s, %.2f s of CPU), %.2fx real time "
                    "(goal: under 1.0) - %s\n",
                    particles, total.wallSeconds / total.runs, total.drawnSeconds / total.runs,
                    total.cpuSeconds / total.runs, ratio, ratio < 1.0 ? "goal met" : "goal missed");
    }
    return 0;
}
