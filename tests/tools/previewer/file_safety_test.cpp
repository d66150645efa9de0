// The previewer's promise that no file of the user's is lost or cut: an
// output appears whole beside its target or not at all, one file under two
// names is never both read and written, and a script too long is refused
// rather than read in part. Real folders, real failures: a file size limit
// (the kernel answers EFBIG exactly as a full disk answers ENOSPC), a
// descriptor that the kernel no longer knows at close, tmpfs beside the
// build folder's file system.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "script/script.h"
#include "previewer/atomic_file.h"
#include "previewer/file_checks.h"
#include "previewer/frame_sink.h"
#include "previewer/options.h"
#include "previewer/plan.h"
#include "reference/surface.h"
#include "temp_dir.h"

namespace velora::previewer {
namespace {

namespace fs = std::filesystem;

using Folder = testing::TempDir;

void Put(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What the action throws (an Error), "" when it throws nothing.
template <typename Error = std::runtime_error, typename Action>
std::string WhatFails(Action action)
{
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

dev_t DeviceOf(const std::string& path)
{
    struct stat info{};
    return stat(path.c_str(), &info) == 0 ? info.st_dev : 0;
}

// While it lives, no file of this process grows past `bytes`: a write beyond
// fails with EFBIG (SIGXFSZ ignored), as a write to a full disk fails.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0) << std::strerror(errno);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
};

// Catches: the temporary file made in the working folder instead of beside
// its target.
TEST(AtomicFile, TheTemporaryFileLiesBesideItsTargetUntilTheWholeFileIsInPlace)
{
    Folder folder;
    const std::string target = folder / "out.webp";
    AtomicFile file(target);
    file.Write(std::string(100000, 'a'));
    file.Write("end");
    const std::vector<std::string> during = folder.Names();
    ASSERT_EQ(during.size(), 1u) << "the temporary file alone, and not yet the target";
    EXPECT_TRUE(during[0].starts_with(kTemporaryPrefix)) << during[0];
    file.Commit();
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.webp"});
    EXPECT_EQ(Slurp(target), std::string(100000, 'a') + "end");
}

// Catches the same fault where a user meets it: the rename from the working
// folder's file system to the target's fails (EXDEV) and nothing is written.
TEST(AtomicFile, ATargetOnAnotherFileSystemThanTheWorkingFolderIsWritten)
{
    if (!fs::is_directory("/dev/shm") || DeviceOf("/dev/shm") == DeviceOf(".")) {
        GTEST_SKIP() << "no /dev/shm on a file system other than the working folder's";
    }
    Folder folder("/dev/shm");
    const std::string target = folder / "sheet.png";
    Put(target, "earlier");
    WriteWholeFile(target, {'n', 'e', 'w'});
    EXPECT_EQ(Slurp(target), "new");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"sheet.png"});
}

// A write that fails, at once (a large write goes straight to the file) or
// only when the last bytes are flushed at the commit, leaves the earlier file
// whole and no temporary file behind, and names the file and the reason.
// Catches: a failed write dropped, and the file committed short over the
// earlier one.
TEST(AtomicFile, AWriteThatFailsNowOrAtTheCommitKeepsTheEarlierFile)
{
    for (const std::size_t size : {std::size_t{200000}, std::size_t{3000}}) {
        SCOPED_TRACE(size);
        Folder folder;
        const std::string target = folder / "out.webp";
        Put(target, "earlier");
        const FileSizeLimit limit(1024);
        const std::string error = WhatFails([&] {
            AtomicFile file(target);
            file.Write(std::string(size, 'x'));
            file.Commit();
        });
        EXPECT_NE(error.find(target), std::string::npos) << error;
        EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
        EXPECT_EQ(Slurp(target), "earlier");
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.webp"});
    }
}

// A run killed while its last bytes go to the disk (here by SIGXFSZ, at
// the flush past the size limit; a SIGKILL or a power cut alike) never got
// as far as the rename: the earlier file is there as it was.
// Catches: the file closed after the rename instead of before it (the
// unfinished file already in place when the run dies).
TEST(AtomicFile, ARunKilledWhileClosingLeavesTheEarlierFile)
{
    Folder folder;
    const std::string target = folder / "out.webp";
    Put(target, "earlier");
    const pid_t child = fork();
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        signal(SIGXFSZ, SIG_DFL);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            AtomicFile file(target);
            file.Write(std::string(3000, 'x'));  // held in the buffer until the close
            file.Commit();
        } catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    EXPECT_EQ(Slurp(target), "earlier");
}

#if defined(__x86_64__)
// In a child process whose fchmod calls all fail with EPERM (as on a file
// system that keeps no permissions), makes an AtomicFile in folder.
// Returns the child's exit status: 0 when the constructor threw and left
// neither a file in the folder nor a descriptor open.
int MakeWhereFchmodFails(const Folder& folder)
{
    const pid_t child = fork();
    if (child != 0) {
        int status = -1;
        waitpid(child, &status, 0);
        return status;
    }
    const auto open = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = open();
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fchmod, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        _exit(3);
    }
    try {
        AtomicFile file(folder / "out.webp");
    } catch (const std::runtime_error&) {
        _exit(folder.Names().empty() && open() == before ? 0 : 2);
    }
    _exit(1);
}

// A temporary file whose permissions cannot be set is given up whole: it is
// removed and its descriptor closed.
// Catches: the constructor throwing with its temporary file made, so that no
// destructor ever removes it.
TEST(AtomicFile, ATemporaryFileThatCannotBeSetUpIsRemoved)
{
    Folder folder;
    const int status = MakeWhereFchmodFails(folder);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 3) {
        GTEST_SKIP() << "no seccomp filter can be set here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: nothing thrown; 2: a file or descriptor left";
    EXPECT_TRUE(folder.Names().empty());
}
#endif

// Closes, behind the writer's back, the descriptor this process holds on a
// file of `folder` whose name starts with the temporary prefix, so that the
// writer's own close fails. Returns false when there is none.
bool CloseTemporaryDescriptor(const Folder& folder)
{
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const fs::path names = fs::read_symlink(entry.path(), error);
        if (!error && names.parent_path() == folder.Path() &&
            names.filename().string().starts_with(kTemporaryPrefix)) {
            return ::close(std::atoi(entry.path().filename().c_str())) == 0;
        }
    }
    return false;
}

// Catches: a failed close ignored, and the file put in place although the
// system never confirmed it whole.
TEST(AtomicFile, AFailedCloseIsReportedAndReplacesNothing)
{
    Folder folder;
    const std::string target = folder / "out.webp";
    Put(target, "earlier");
    std::string error;
    {
        AtomicFile file(target);
        file.Write(std::string(100000, 'x'));  // beyond the buffer: written at once
        ASSERT_TRUE(CloseTemporaryDescriptor(folder));
        error = WhatFails([&] { file.Commit(); });
    }
    EXPECT_NE(error.find("cannot close"), std::string::npos) << error;
    EXPECT_NE(error.find(target), std::string::npos) << error;
    EXPECT_EQ(Slurp(target), "earlier");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.webp"});
}

std::string DistinctError(const std::string& output, const std::string& background)
{
    Options options;
    options.background = background;
    OutputPaths outputs;
    outputs.animation = output;
    return WhatFails<UsageError>(
        [&] { CheckDistinct(options, outputs, "", "/nonexistent/DrawVelora.so", "/nonexistent"); });
}

// Catches: "same file" decided by the path alone, which a hard link's
// second name gets past.
TEST(FileChecks, AHardLinkIsTheFileItNames)
{
    Folder folder;
    const std::string background = folder / "sky.png";
    Put(background, "png");
    ASSERT_EQ(link(background.c_str(), (folder / "out.webp").c_str()), 0) << std::strerror(errno);
    EXPECT_NE(DistinctError(folder / "out.webp", background).find("would overwrite the --background file"),
              std::string::npos)
        << DistinctError(folder / "out.webp", background);
    EXPECT_EQ(DistinctError(folder / "other.webp", background), "");
}

// Catches: files compared by inode without the device (the roots of two
// file systems are both inode 1).
TEST(FileChecks, OneInodeNumberOnTwoDevicesIsTwoFiles)
{
    struct stat proc{};
    struct stat sys{};
    if (stat("/proc", &proc) != 0 || stat("/sys", &sys) != 0 || proc.st_ino != sys.st_ino ||
        proc.st_dev == sys.st_dev) {
        GTEST_SKIP() << "/proc and /sys are not one inode number on two devices here";
    }
    // Named through links, so that the paths differ and the identities
    // differ only in their device.
    Folder folder;
    ASSERT_EQ(symlink("/proc", (folder / "a.webp").c_str()), 0) << std::strerror(errno);
    ASSERT_EQ(symlink("/sys", (folder / "b.png").c_str()), 0) << std::strerror(errno);
    EXPECT_EQ(DistinctError(folder / "a.webp", folder / "b.png"), "");
}

// Earlier outputs of every kind, two frames of a run of 8 x 8 through the
// sink, and its commit: returns the commit's error, "" when it succeeded.
std::string RunSink(const Folder& folder, const std::string& sheet)
{
    fs::create_directory(folder / "frames");
    Put(folder / "out.webp", "earlier animation");
    Put(folder / "frames/frame-0000.png", "earlier frame 0");
    Put(folder / "frames/frame-0001.png", "earlier frame 1");
    const OutputPaths paths{folder / "out.webp", sheet, folder / "frames"};
    FrameSink sink(paths, 8, 8, 2, 2, 90, true);
    reference::HostSurface frame(8, 8, "frame");
    for (std::int32_t i = 0; i < 2; ++i) {
        std::memset(frame.Bytes(), 40 + 100 * i, frame.Stride() * 8);
        sink.Push(frame, i, i * 100);
    }
    sink.Finish(200, frame);
    return WhatFails([&] {
        sink.Commit({fs::path(folder / "frames/frame-0000.png"), fs::path(folder / "frames/frame-0001.png")},
                    nullptr);
    });
}

// Every output of a run goes in place together, or, when one cannot, none
// does: the earlier animation and frames are back as they were, and no
// temporary file or folder is left.
// Catches: old frames moved aside without the step being recorded, so that
// a failed commit does not bring them back.
TEST(FrameSink, EveryOutputIsReplacedOrNone)
{
    {
        Folder folder;
        ASSERT_EQ(RunSink(folder, folder / "out-sheet.png"), "");
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"frames", "out-sheet.png", "out.webp"}));
        EXPECT_EQ(Slurp(folder / "out.webp").substr(0, 4), "RIFF");
        EXPECT_EQ(Slurp(folder / "frames/frame-0001.png").substr(1, 3), "PNG");
        EXPECT_EQ(folder.Names("frames"), (std::vector<std::string>{"frame-0000.png", "frame-0001.png"}));
    }
    Folder folder;
    fs::create_directory(folder / "taken.png");  // the sheet cannot replace a folder
    const std::string error = RunSink(folder, folder / "taken.png");
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
    EXPECT_NE(error.find("nothing was replaced"), std::string::npos) << error;
    EXPECT_EQ(Slurp(folder / "out.webp"), "earlier animation");
    EXPECT_EQ(Slurp(folder / "frames/frame-0000.png"), "earlier frame 0");
    EXPECT_EQ(Slurp(folder / "frames/frame-0001.png"), "earlier frame 1");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"frames", "out.webp", "taken.png"}));
    EXPECT_EQ(folder.Names("frames"), (std::vector<std::string>{"frame-0000.png", "frame-0001.png"}));
}

std::string PlanError(const std::string& script)
{
    Options options;
    options.script = script;
    Plan plan;
    return WhatFails<UsageError>([&] { MakePlan(options, plan, Reporter{}); });
}

// Catches: a script read only up to the size limit, so that a longer one
// is cut there without a word and its end never read.
TEST(Plan, AScriptOneBytePastTheLimitIsRefusedNotCut)
{
    Folder folder;
    const std::string calls = "Init(1, 64, 64, 1, 16, 4);\nStart(1);\n// ";
    const auto padded = [&](std::size_t size) { return calls + std::string(size - calls.size() - 1, 'x') + "\n"; };
    Put(folder / "largest.txt", padded(script::kMaxBytes));
    Put(folder / "longer.txt", padded(script::kMaxBytes + 1));
    EXPECT_EQ(PlanError(folder / "largest.txt"), "");
    EXPECT_NE(PlanError(folder / "longer.txt").find("larger than 1048576 bytes"), std::string::npos)
        << PlanError(folder / "longer.txt");
}

// The previewer reads a script by the studio's limits: 64 layers at once and
// 100 000 particles in all.
// Catches: the limits handed to the reader swapped or copied wrongly.
TEST(Plan, AScriptIsHeldToTheStudiosLimits)
{
    // count layers, each spawning `each` particles, the last `extra` more.
    const auto layers = [](int count, int each, int extra) {
        std::string text;
        for (int h = 1; h <= count; ++h) {
            const std::string handle = std::to_string(h);
            text += "Init(" + handle + ", 64, 64, 1, 16, 4);\nSetNumof(" + handle + ", " +
                    std::to_string(each + (h == count ? extra : 0)) + ");\nStart(" + handle + ");\n";
        }
        return text;
    };
    struct Case {
        int layers;
        int each;
        int extra;
        const char* refusal;  // "" when the script reads
    };
    const Case cases[] = {
        {64, 1562, 32, ""},  // 64 layers and 100 000 particles
        {65, 0, 0, "more than 64 layers"},
        {2, 50000, 1, "more than the 100000"},
    };
    Folder folder;
    for (const Case& c : cases) {
        Put(folder / "script.txt", layers(c.layers, c.each, c.extra));
        const std::string error = PlanError(folder / "script.txt");
        if (*c.refusal == '\0') {
            EXPECT_EQ(error, "") << c.layers << " layers";
        } else {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << c.layers << " layers: " << error;
        }
    }
}

}  // namespace
}  // namespace velora::previewer
