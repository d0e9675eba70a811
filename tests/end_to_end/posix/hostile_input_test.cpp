// The built programs in a hostile environment: report names that are the run's own input files or
// devices, memory limits of a cgroup or of ulimit, endless iteration, huge sparse input files,
// signals while a file is being written, file-size and stack limits. Each case runs the program in
// a fresh folder; every refusal is one line naming the file, the line and the setting, with exit
// status 1, and leaves the folder (and every earlier report) exactly as it was. A case the machine
// cannot set up (no cgroup to create, a limit the sanitizers cannot run under) is skipped with the
// reason.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::end_to_end {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using testing::Ended;
using testing::Launch;
using testing::set_limit;
using testing::snapshot;
using Lines = std::vector<std::string>;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the sanitizers reserve terabytes of address space at start
#else
constexpr bool kSanitized = false;
#endif

constexpr std::uint64_t MiB = 1024 * 1024;

// The run was refused with one error line that starts with `where` ("SG2D_000.ent:2:
// report_file_name: ") and holds every one of `words`; the folder is as it was.
void expect_refused(const Ended& r, const std::string& where, const std::vector<std::string>& words,
                    const std::map<std::string, std::string>& before, const std::string& folder,
                    const char* program = "advdiff2d") {
    EXPECT_FALSE(r.timed_out);
    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal << "; stderr: " << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string prefix = std::string(program) + ": error: ";
    EXPECT_EQ(r.err.rfind(prefix + where, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not one line: " << r.err;
    for (const std::string& word : words) EXPECT_NE(r.err.find(word), std::string::npos) << word << " in " << r.err;
    EXPECT_EQ(snapshot(folder), before) << "the folder changed";
}

// ---------------------------------------------------------------------------------------------
// Input files of small valid runs; every value alone on its line, so that the line numbers in
// the messages are the indexes below.

enum class Mode { single_grid, multigrid };
constexpr Mode SG = Mode::single_grid;
constexpr Mode MG = Mode::multigrid;

const Lines kSingleGrid = {
    "1", "'relat.txt'", "5", "5", "1", "1", "45", "1", "1.0", "10", "1E-8", "1E-3", "1", "0", "1", "0", "0"};
const Lines kMultigrid = {"1",   "'relat.txt'", "2", "2",    "3",    "3", "1", "45", "1", "2.0", "1.0",
                          "1.0", "10",          "1", "1E-8", "1E-3", "1", "0", "1",  "0", "0"};

struct Edit {
    int line;
    std::string text;
};

std::string parameter_file(Mode mode) { return mode == MG ? "MG2D_000.ent" : "SG2D_000.ent"; }
std::string reference_file(Mode mode) { return mode == MG ? "exata2" : "exata1"; }

std::string reference_values(long count) {
    std::string text;
    for (long k = 0; k < count; ++k) text += "1.0\n";
    return text;
}

// Writes dados1.ent, the parameter file with `edits` and a reference file of `reference_count`
// values (the 5 x 5 grid of the unedited files by default; a negative count writes none).
void write_inputs(const ScratchFolder& folder, Mode mode, const std::vector<Edit>& edits = {},
                  long reference_count = 25) {
    Lines lines = mode == MG ? kMultigrid : kSingleGrid;
    for (const Edit& e : edits) lines.at(static_cast<std::size_t>(e.line - 1)) = e.text;
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    folder.write("dados1.ent", std::string("caso de teste\n") + (mode == MG ? "1" : "2") + "   run_mode\n");
    folder.write(parameter_file(mode), text);
    if (reference_count >= 0) folder.write(reference_file(mode), reference_values(reference_count));
}

// ---------------------------------------------------------------------------------------------
// A child of this process's memory cgroup with a limit of its own, for the program to run in.

class MemoryCgroup {
public:
    // Empty, with the reason in `why`, where no such group can be made (no memory controller, no
    // permission, a read-only cgroup file system).
    static std::unique_ptr<MemoryCgroup> make(std::uint64_t limit, std::string& why) {
        std::ifstream groups("/proc/self/cgroup"), mounts("/proc/self/mountinfo");
        std::string line, v1_group, v2_group, v1_mount, v2_mount;
        while (std::getline(groups, line)) {
            const std::size_t a = line.find(':'), b = line.find(':', a + 1);
            if (b == std::string::npos) continue;
            const std::string controllers = "," + line.substr(a + 1, b - a - 1) + ",";
            if (controllers.find(",memory,") != std::string::npos) v1_group = line.substr(b + 1);
            if (line.rfind("0::", 0) == 0) v2_group = line.substr(b + 1);
        }
        while (std::getline(mounts, line)) {
            std::istringstream in(line);
            std::vector<std::string> f;
            for (std::string w; in >> w;) f.push_back(w);
            std::size_t dash = 0;
            while (dash < f.size() && f[dash] != "-") ++dash;
            if (dash + 3 >= f.size() || f[3] != "/") continue;
            if (f[dash + 1] == "cgroup2") v2_mount = f[4];
            if (f[dash + 1] == "cgroup" && ("," + f[dash + 3] + ",").find(",memory,") != std::string::npos)
                v1_mount = f[4];
        }
        const std::string name = "/advdiff2d-test-" + std::to_string(getpid());
        if (!v1_group.empty() && !v1_mount.empty()) {
            auto group = std::unique_ptr<MemoryCgroup>(new MemoryCgroup(v1_mount + v1_group + name));
            if (group->create(why) && group->put("memory.limit_in_bytes", std::to_string(limit), why)) return group;
            return nullptr;
        }
        if (!v2_group.empty() && !v2_mount.empty()) {
            auto group = std::unique_ptr<MemoryCgroup>(new MemoryCgroup(v2_mount + v2_group + name));
            if (!group->create(why)) return nullptr;
            if (!fs::exists(group->path_ + "/memory.max")) {
                why = "the memory controller is not enabled for the children of " + v2_mount + v2_group;
                return nullptr;
            }
            if (group->put("memory.max", std::to_string(limit), why)) return group;
            return nullptr;
        }
        why = "no memory cgroup is mounted";
        return nullptr;
    }

    ~MemoryCgroup() {
        if (!created_) return;
        for (int attempt = 0; attempt < 100 && rmdir(path_.c_str()) != 0; ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // In the child before exec: moves the calling process into the group.
    void join() const {
        const std::string pid = std::to_string(getpid());
        const int fd = open((path_ + "/cgroup.procs").c_str(), O_WRONLY);
        if (fd < 0 || write(fd, pid.data(), pid.size()) != static_cast<ssize_t>(pid.size())) _exit(124);
        close(fd);
    }

private:
    explicit MemoryCgroup(std::string path) : path_(std::move(path)) {}

    bool create(std::string& why) {
        if (mkdir(path_.c_str(), 0755) != 0) {
            why = "cannot create the cgroup " + path_ + ": " + std::strerror(errno);
            return false;
        }
        created_ = true;
        return true;
    }
    bool put(const std::string& file, const std::string& value, std::string& why) const {
        std::ofstream out(path_ + "/" + file);
        out << value << std::flush;
        if (!out) why = "cannot write " + path_ + "/" + file;
        return static_cast<bool>(out);
    }

    std::string path_;
    bool created_ = false;
};

// ---------------------------------------------------------------------------------------------
// Report names that would destroy what the run reads (the same file however it is spelled), or a
// device, a FIFO.

TEST(HostileReportName, OneOfTheRunsOwnFilesIsRefusedNamingTheSetting) {
    const struct {
        Mode mode;
        std::string name;
        std::string described;
    } cases[] = {
        {SG, "'dados1.ent'", "the input file dados1.ent"},
        {SG, "'SG2D_000.ent'", "the input file SG2D_000.ent"},
        {MG, "'MG2D_000.ent'", "the input file MG2D_000.ent"},
        {SG, "'exata1'", "the reference file exata1"},
        {MG, "'./exata2'", "the reference file exata2"},
        {SG, "'sub/../exata1'", "the reference file exata1"},
        {MG, "'link-to-exata2'", "the reference file exata2"},
        // The other mode's parameter file is the user's input too.
        {SG, "'MG2D_000.ent'", "the input file MG2D_000.ent of multigrid runs"},
        {MG, "'./SG2D_000.ent'", "the input file SG2D_000.ent of single-grid runs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, c.mode, {{2, c.name}});
        folder.write(parameter_file(c.mode == SG ? MG : SG), "the parameters of the other mode\n");
        fs::create_directory(folder / "sub");
        fs::create_symlink("exata2", folder / "link-to-exata2");
        const auto before = snapshot(folder.path());
        const Ended r = testing::run(folder.path(), {});
        expect_refused(r, parameter_file(c.mode) + ":2: report_file_name: ", {c.described}, before, folder.path());
    }
}

TEST(HostileReportName, AnExistingFifoOrDeviceIsRefusedAndStaysWhatItWas) {
    const struct {
        std::string name;
        std::string kind;
    } cases[] = {
        {"'pipe'", "a FIFO"},
        {"'/dev/null'", "a character device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, SG, {{2, c.name}});
        ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0644), 0);
        const auto before = snapshot(folder.path());
        const Ended r = testing::run(folder.path(), {});
        expect_refused(r, "SG2D_000.ent:2: report_file_name: ", {c.kind, "not a regular file"}, before, folder.path());
        struct stat info {};
        ASSERT_EQ(stat("/dev/null", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "/dev/null was replaced";
    }
}

// ---------------------------------------------------------------------------------------------
// Names of the extra outputs that only the writing after the run would find wrong, found before.

TEST(HostileOutputName, ANameThatCouldOnlyFailOrDoHarmAfterTheRunIsRefusedBeforeIt) {
    using Prepare = std::function<void(const ScratchFolder&)>;
    const auto link_to = [](std::string target) {
        return [target](const ScratchFolder& f) { fs::create_symlink(target, f / "out.json"); };
    };
    // A last part one byte longer than the file system of the scratch folders takes.
    const long name_max = pathconf("/tmp", _PC_NAME_MAX);
    ASSERT_GT(name_max, 4);
    const std::string too_long = std::string(static_cast<std::size_t>(name_max) - 3, 'f') + ".vti";
    const struct {
        const char* name;
        std::vector<std::string> options;
        Prepare prepare;
        std::string where;
        std::vector<std::string> words;
    } cases[] = {
        // Standard output goes to a file (the runner's log): a link to it must not replace that file.
        {"a link to the program's standard output", {"--summary", "out.json"}, link_to("/proc/self/fd/1"),
         "--summary: ", {"\"/proc/self/fd/1\"", "standard output", "not a file name"}},
        {"a link to /dev/stdout", {"--summary", "out.json"}, link_to("/dev/stdout"),
         "--summary: ", {"standard output", "not a file name"}},
        {"a last part too long for the file system", {"--fields", too_long}, nullptr,
         "--fields: ", {std::to_string(name_max + 1) + " bytes long", "allows at most " + std::to_string(name_max)}},
        {"the other mode's parameter file", {"--summary", "MG2D_000.ent"},
         [](const ScratchFolder& f) { f.write("MG2D_000.ent", "the multigrid parameters\n"); },
         "--summary: ", {"the input file MG2D_000.ent of multigrid runs"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, SG);
        if (c.prepare) c.prepare(folder);
        const auto before = snapshot(folder.path());
        Launch launch;
        launch.args.insert(launch.args.end(), c.options.begin(), c.options.end());
        const Ended r = testing::run(folder.path(), launch);
        expect_refused(r, c.where, c.words, before, folder.path());
        EXPECT_EQ(r.out, "");
    }
}

// ---------------------------------------------------------------------------------------------
// Memory: limits of a cgroup and of ulimit are found before computing; an endless iteration stops
// with one line before its history takes more than the run may have.

// Runs that need several hundred MiB: a 2049 x 2049 multigrid run and a 513 x 513 Gauss
// elimination band.
struct LargeRun {
    const char* name;
    Mode mode;
    std::vector<Edit> edits;
    std::string where;
};
const LargeRun kLargeRuns[] = {
    {"2049 x 2049 multigrid", MG, {{3, "11"}}, "MG2D_000.ent:5: coarsest_nx: "},
    {"513 x 513 Gauss elimination", SG, {{1, "4"}, {3, "513"}, {4, "513"}}, "SG2D_000.ent:3: Nx: "},
};

TEST(HostileMemory, ACgroupLimitIsFoundBeforeComputing) {
    std::string why;
    const auto group = MemoryCgroup::make(400 * MiB, why);
    if (!group) GTEST_SKIP() << "no cgroup with a memory limit can be made here: " << why;
    for (const LargeRun& c : kLargeRuns) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, c.mode, c.edits, 0);  // the reference is not read before the check
        const auto before = snapshot(folder.path());
        Launch launch;
        launch.in_child = [&] { group->join(); };
        const Ended r = testing::run(folder.path(), launch);
        expect_refused(r, c.where, {"of memory", "cgroup"}, before, folder.path());
        EXPECT_LT(r.max_rss_kib, 100 * 1024) << "memory was taken before the refusal";
    }
    // A run that fits goes through inside the same group.
    ScratchFolder folder;
    write_inputs(folder, MG);
    Launch launch;
    launch.in_child = [&] { group->join(); };
    const Ended r = testing::run(folder.path(), launch);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(folder / "relat.txt"));
}

TEST(HostileMemory, UnderUlimitVEveryRunEitherGoesThroughOrIsRefusedNamingItsSetting) {
    if (kSanitized) GTEST_SKIP() << "a sanitized program cannot start under an address-space limit";
    for (const LargeRun& c : kLargeRuns) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, c.mode, c.edits, 0);
        const auto before = snapshot(folder.path());
        Launch launch;
        launch.in_child = [] { set_limit(RLIMIT_AS, 400 * MiB); };
        const Ended r = testing::run(folder.path(), launch);
        expect_refused(r, c.where, {"of memory", "ulimit -v"}, before, folder.path());
    }
    // Limits on both sides of what a run needs (as its refusal under a tight limit states it): a run
    // either writes its report or stops with a line that names the size setting, whether it is
    // refused before it starts or runs out of memory on the way; never a bare "out of memory",
    // never a signal.
    const struct {
        const char* name;
        Mode mode;
        std::vector<Edit> edits;
        long nodes;
        std::string where;
    } sizes[] = {
        {"1025 x 1025 multigrid MSI", MG, {{1, "2"}, {3, "10"}, {13, "2"}}, 1025L * 1025, "MG2D_000.ent:5: coarsest_nx: "},
        {"2049 x 17 MSI", SG, {{1, "2"}, {3, "2049"}, {4, "17"}}, 2049L * 17, "SG2D_000.ent:3: Nx: "},
        {"129 x 129 Gauss elimination", SG, {{1, "4"}, {3, "129"}, {4, "129"}}, 129L * 129, "SG2D_000.ent:3: Nx: "},
    };
    for (const auto& c : sizes) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, c.mode, c.edits, c.nodes);
        Launch tight;
        tight.in_child = [] { set_limit(RLIMIT_AS, 8 * MiB); };
        const Ended refused = testing::run(folder.path(), tight);
        ASSERT_TRUE(refused.exited) << "ended by signal " << refused.signal;
        const std::size_t needs = refused.err.find(" needs ");
        ASSERT_NE(needs, std::string::npos) << refused.err;
        const double figure = std::stod(refused.err.substr(needs + 7));
        const bool in_gib = refused.err.compare(refused.err.find(' ', needs + 7), 4, " GiB") == 0;
        const auto needed = static_cast<std::uint64_t>(figure * (in_gib ? 1024 : 1) * MiB);
        // The program itself takes some 6 MiB of address space before it reads anything.
        for (std::uint64_t extra = 4 * MiB; extra <= 44 * MiB; extra += 5 * MiB) {
            SCOPED_TRACE("ulimit -v of what it needs + " + std::to_string(extra / MiB) + " MiB");
            fs::remove(folder / "relat.txt");
            Launch launch;
            launch.in_child = [&] { set_limit(RLIMIT_AS, static_cast<rlim_t>(needed + extra)); };
            const Ended r = testing::run(folder.path(), launch);
            ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
            if (r.status == 0) {
                EXPECT_TRUE(fs::exists(folder / "relat.txt"));
            } else {
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err.rfind("advdiff2d: error: " + c.where, 0), 0u) << r.err;
                EXPECT_NE(r.err.find("memory"), std::string::npos) << r.err;
                EXPECT_FALSE(fs::exists(folder / "relat.txt"));
            }
        }
    }
}

TEST(HostileMemory, AnEndlessIterationStopsWithOneLineBeforeItsHistoryOutgrowsTheMemory) {
    // 3 x 3 nodes: iterations take nanoseconds, so the history grows as fast as it can.
    const std::vector<Edit> endless = {{3, "3"}, {4, "3"}, {10, "2147483647"}, {11, "0"}};
    std::string why;
    std::unique_ptr<MemoryCgroup> group;
    if (kSanitized) {
        group = MemoryCgroup::make(300 * MiB, why);
        if (!group) GTEST_SKIP() << "sanitized: no address-space limit, and no cgroup can be made: " << why;
    }
    ScratchFolder folder;
    write_inputs(folder, SG, endless, 9);
    folder.write("relat.txt", "the earlier report\n");
    const auto before = snapshot(folder.path());
    Launch launch;
    if (group)
        launch.in_child = [&] { group->join(); };
    else
        launch.in_child = [] { set_limit(RLIMIT_AS, 300 * MiB); };
    const Ended r = testing::run(folder.path(), launch);
    expect_refused(r, "SG2D_000.ent:10: max_iterations: ",
                   {"the run stopped at iteration", "without reaching the tolerance", "memory"}, before, folder.path());
}

TEST(HostileMemory, MemoryNeededCoversWhatTheRunTakesAndFailsAsTheRunWould) {
    // Large enough for the run's arrays to outweigh the program itself. The test process holds
    // none of the files (the reference tool makes the reference file): a child shares the test's
    // pages until it starts the program, and its peak memory counts them.
    const struct {
        const char* name;
        Mode mode;
        std::vector<Edit> edits;
    } runs[] = {
        {"513 x 513 multigrid Gauss-Seidel", MG, {{3, "9"}, {13, "2"}}},
        {"257 x 257 MSI", SG, {{1, "2"}, {3, "257"}, {4, "257"}, {10, "2"}}},
        {"129 x 129 Gauss elimination", SG, {{1, "4"}, {3, "129"}, {4, "129"}}},
    };
    for (const auto& c : runs) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, c.mode, c.edits, -1);
        Launch reference;
        reference.binary = ADVDIFF_REFERENCE_BINARY;
        reference.args = {};
        ASSERT_EQ(testing::run(folder.path(), reference).status, 0);
        const std::vector<std::string> before = folder.names();
        Launch asked;
        asked.args = {"--memory-needed", "--summary", "s.json", "--fields", "f.vti"};
        const Ended r = testing::run(folder.path(), asked);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        ASSERT_FALSE(r.out.empty());
        EXPECT_EQ(r.out.find_first_not_of("0123456789"), r.out.size() - 1) << r.out;
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(folder.names(), before) << "a file was written";
        const std::uint64_t needed = std::stoull(r.out);

        Launch run;
        run.args = {"--no-edit", "--window", "0", "--summary", "s.json", "--fields", "f.vti"};
        const Ended ran = testing::run(folder.path(), run);
        ASSERT_TRUE(ran.exited);
        ASSERT_EQ(ran.status, 0) << ran.err;
        // The program itself takes a few MiB before it reads anything.
        const auto taken = static_cast<std::uint64_t>(ran.max_rss_kib) * 1024;
        if (!kSanitized) {
            EXPECT_GE(needed + 8 * MiB, taken);
        }
    }
    // What the run refuses, --memory-needed refuses with the same line.
    const struct {
        std::vector<Edit> edits;
        std::vector<std::string> options;
        std::string where;
    } refusals[] = {
        {{}, {"--summary", "SG2D_000.ent"}, "--summary: "},
        {{{1, "4"}}, {"--strict"}, "MG2D_000.ent:1: solver_kind: "},  // no Gauss elimination smoother
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.where);
        ScratchFolder folder;
        write_inputs(folder, MG, c.edits);
        const auto before = snapshot(folder.path());
        Launch run, asked;
        run.args = {"--no-edit", "--window", "0"};
        asked.args = {"--memory-needed"};
        for (Launch* launch : {&run, &asked}) launch->args.insert(launch->args.end(), c.options.begin(), c.options.end());
        const Ended refused = testing::run(folder.path(), run);
        expect_refused(refused, c.where, {}, before, folder.path());
        const Ended r = testing::run(folder.path(), asked);
        expect_refused(r, c.where, {}, before, folder.path());
        EXPECT_EQ(r.err, refused.err);
        EXPECT_EQ(r.out, "");
    }
}

TEST(HostileMemory, TheSummaryOfALongHistoryNeedsNoMoreMemoryThanTheHistory) {
    if (kSanitized) GTEST_SKIP() << "a sanitized program's own memory does not fit these limits";
    // Two million iterations of a 3 x 3 grid: 16 MB of norms, some 40 MB of JSON text.
    const std::vector<Edit> long_history = {{3, "3"}, {4, "3"}, {10, "2000000"}, {11, "0"}};
    const std::string reference = "0.3\n0.3\n0.3\n0.3\n0.3\n0.3\n0.3\n0.3\n0.3\n";
    std::string why;
    const auto group = MemoryCgroup::make(80 * MiB, why);
    for (const bool in_cgroup : {true, false}) {
        SCOPED_TRACE(in_cgroup ? "in a cgroup of 80 MiB" : "under ulimit -v of 80 MiB");
        if (in_cgroup && !group) {
            std::cout << "no cgroup with a memory limit can be made here: " << why << "\n";
            continue;
        }
        ScratchFolder folder;
        write_inputs(folder, SG, long_history, -1);
        folder.write("exata1", reference);
        Launch launch;
        launch.args = {"--no-edit", "--window", "0", "--summary", "s.json"};
        if (in_cgroup)
            launch.in_child = [&] { group->join(); };
        else
            launch.in_child = [] { set_limit(RLIMIT_AS, 80 * MiB); };
        const Ended r = testing::run(folder.path(), launch);
        ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string json = ScratchFolder::read(folder / "s.json");
        const std::size_t history = json.find("\"norm_history\": [");
        ASSERT_NE(history, std::string::npos);
        EXPECT_EQ(std::count(json.begin() + static_cast<std::ptrdiff_t>(history), json.end(), ','), 2000000);
        EXPECT_EQ(json.substr(json.size() - 4), "]\n}\n");
    }
}

TEST(HostileMemory, WithNoMemoryFigureAtAllARunThatCouldOutgrowTheMachineIsRefused) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers read /proc as the program starts";
    // The program runs in a cgroup it cannot see: /proc is hidden behind an empty file system of a
    // mount namespace of its own, so that there is no MemAvailable, no cgroup and no ulimit to read,
    // while the group's limit still stops a run that would take the machine's memory.
    std::string why;
    const auto group = MemoryCgroup::make(300 * MiB, why);
    if (!group) GTEST_SKIP() << "no cgroup with a memory limit can be made here: " << why;
    const auto hide_proc = [] {
        return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount("none", "/proc", "tmpfs", 0, nullptr) == 0;
    };
    const pid_t probe = fork();
    if (probe == 0) _exit(hide_proc() ? 0 : 1);
    int probe_status = 0;
    waitpid(probe, &probe_status, 0);
    if (!WIFEXITED(probe_status) || WEXITSTATUS(probe_status) != 0)
        GTEST_SKIP() << "/proc cannot be hidden here (it takes root and mount namespaces)";
    Launch launch;
    launch.in_child = [&] {
        group->join();
        if (!hide_proc()) _exit(124);
    };
    {
        SCOPED_TRACE("an endless iteration");
        ScratchFolder folder;
        write_inputs(folder, SG, {{3, "3"}, {4, "3"}, {10, "2147483647"}, {11, "0"}}, 9);
        const auto before = snapshot(folder.path());
        const Ended r = testing::run(folder.path(), launch);
        expect_refused(r, "SG2D_000.ent:10: max_iterations: ", {"cannot be read", "ulimit -v", "fewer iterations"},
                       before, folder.path());
    }
    {
        SCOPED_TRACE("a run of a few iterations");
        ScratchFolder folder;
        write_inputs(folder, SG);
        const Ended r = testing::run(folder.path(), launch);
        ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::exists(folder / "relat.txt"));
    }
}

// ---------------------------------------------------------------------------------------------
// Input files: read in pieces, only as far as needed.

TEST(HostileInputFile, AHugeSparseParameterFileEndsInOneLineOrIsReadOnlyAsFarAsItsValues) {
    constexpr off_t k40GiB = off_t{40} << 30;
    {
        SCOPED_TRACE("40 GiB of zero bytes");
        ScratchFolder folder;
        write_inputs(folder, SG);
        ASSERT_EQ(truncate((folder / "SG2D_000.ent").c_str(), 0), 0);
        ASSERT_EQ(truncate((folder / "SG2D_000.ent").c_str(), k40GiB), 0);
        const auto before = snapshot(folder.path());
        const Ended r = testing::run(folder.path(), {});
        expect_refused(r, "SG2D_000.ent:1: ", {"not a text file", "0x00"}, before, folder.path());
        EXPECT_LT(r.max_rss_kib, 64 * 1024);
    }
    for (const char* name : {"dados1.ent", "MG2D_000.ent"}) {
        SCOPED_TRACE(std::string("the values, then 40 GiB of zero bytes: ") + name);
        ScratchFolder folder;
        write_inputs(folder, MG);
        ASSERT_EQ(truncate((folder / name).c_str(), k40GiB), 0);
        const Ended r = testing::run(folder.path(), {});
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::exists(folder / "relat.txt"));
        EXPECT_LT(r.max_rss_kib, 64 * 1024);
    }
}

// ---------------------------------------------------------------------------------------------
// The reference file is checked before anything is allocated.

TEST(HostileReference, AMissingReferenceOfAHugeGridIsFoundBeforeAnyAllocation) {
    const struct {
        Mode mode;
        std::vector<Edit> edits;
        std::string file;
    } cases[] = {
        {SG, {{3, "16000"}, {4, "16000"}}, "exata1"},
        {MG, {{3, "13"}}, "exata2"},  // 8193 x 8193
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ScratchFolder folder;
        write_inputs(folder, c.mode, c.edits, -1);
        const auto before = snapshot(folder.path());
        const Ended r = testing::run(folder.path(), {});
        expect_refused(r, c.file + ": ", {"no such file"}, before, folder.path());
        EXPECT_LT(r.max_rss_kib, 64 * 1024) << "memory was taken before the reference was found missing";
    }
}

// ---------------------------------------------------------------------------------------------
// Signals while the report or the reference file is being written: the temporary file goes, the
// earlier file stays.

// Sends `signo` to the program as soon as it prepares or writes a temporary file
// "."+`target`+".XXXXXX" in `folder` (watched from before the program starts): the program is
// stopped first, and the signal goes only if the temporary file is still there, so that it reaches
// the program before the file is renamed into place. Under load the events are read late and the
// program may have finished writing by then: it is let go on, and too_late() says so afterwards.
class SignalOnWrite {
public:
    SignalOnWrite(const std::string& folder, std::string target, int signo)
        : folder_(folder), fd_(inotify_init1(IN_CLOEXEC)), prefix_("." + std::move(target) + "."), signo_(signo) {
        if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_ATTRIB | IN_MODIFY);
    }
    ~SignalOnWrite() {
        if (fd_ >= 0) close(fd_);
    }
    bool ready() const { return fd_ >= 0; }
    bool sent() const { return sent_; }
    // A temporary file was seen, but never still there once the program was stopped.
    bool too_late() const { return seen_ && !sent_; }

    void operator()(pid_t child) {
        alignas(inotify_event) char events[4096];
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(100);
        while (!sent_ && std::chrono::steady_clock::now() < give_up) {
            struct pollfd wait_for {fd_, POLLIN, 0};
            if (poll(&wait_for, 1, 100) <= 0) {
                siginfo_t info {};
                if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                    info.si_pid != 0)
                    return;  // ended meanwhile
                continue;
            }
            const ssize_t got = read(fd_, events, sizeof events);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len > 0 && std::string(event->name).rfind(prefix_, 0) == 0) {
                    kill(child, SIGSTOP);
                    siginfo_t info {};
                    waitid(P_PID, static_cast<id_t>(child), &info, WSTOPPED | WEXITED | WNOWAIT);
                    seen_ = true;
                    if (!fs::exists(fs::path(folder_) / event->name)) {
                        kill(child, SIGCONT);  // gone already (renamed, or the check's probe)
                        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                        continue;
                    }
                    kill(child, signo_);
                    kill(child, SIGCONT);
                    sent_ = true;
                    break;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    std::string folder_;
    int fd_;
    std::string prefix_;
    int signo_;
    bool sent_ = false;
    bool seen_ = false;
};

void expect_ended_by(const Ended& r, int signo) {
    ASSERT_FALSE(r.timed_out);
    if (signo == SIGINT || signo == SIGTERM) {
        ASSERT_TRUE(r.exited) << "signal " << r.signal;
        EXPECT_EQ(r.status, 128 + signo);
    } else {
        ASSERT_FALSE(r.exited) << "exit status " << r.status << ": " << r.err;
        EXPECT_EQ(r.signal, signo);
    }
}

// Runs `launch` in a folder that `prepare(attempt)` fills, signalling it while it writes `target`
// (whose earlier content it keeps), until the signal came in time: each new attempt has a larger
// file to write. The folder must afterwards be as it was before the run.
void expect_signal_while_writing(const std::string& target, int signo, Launch launch,
                                 const std::function<void(ScratchFolder&, int)>& prepare) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        ScratchFolder folder;
        prepare(folder, attempt);
        folder.write(target, "the earlier file\n");
        const auto before = snapshot(folder.path());
        SignalOnWrite on_write(folder.path(), target, signo);
        ASSERT_TRUE(on_write.ready());
        launch.while_running = [&](pid_t child) { on_write(child); };
        const Ended r = testing::run(folder.path(), launch);
        if (on_write.too_late()) continue;
        ASSERT_TRUE(on_write.sent()) << target << " was never written: " << r.err;
        expect_ended_by(r, signo);
        EXPECT_EQ(snapshot(folder.path()), before) << "a temporary file was left or " << target << " replaced";
        return;
    }
    FAIL() << "the program wrote " << target << " before it could be stopped, in every attempt";
}

TEST(HostileSignals, ASignalWhileTheReportIsWrittenLeavesNoTemporaryAndTheEarlierReport) {
    for (const int signo : {SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGTERM}) {
        SCOPED_TRACE(strsignal(signo));
        // Half a million listed iterations of a 3 x 3 grid (a report of about 17 MB), twice as
        // many at each further attempt.
        expect_signal_while_writing("relat.txt", signo, {}, [](ScratchFolder& folder, int attempt) {
            const std::string iterations = std::to_string(500000 << attempt);
            write_inputs(folder, SG, {{3, "3"}, {4, "3"}, {10, iterations}, {11, "0"}, {14, "1"}, {15, "1"}}, 9);
        });
    }
}

TEST(HostileSignals, ASignalWhileTheReferenceFileIsWrittenLeavesNoTemporaryAndTheEarlierFile) {
    Launch launch;
    launch.binary = ADVDIFF_REFERENCE_BINARY;
    launch.args = {};
    for (const int signo : {SIGHUP, SIGUSR2}) {
        SCOPED_TRACE(strsignal(signo));
        // 1025 x 1025 (a reference file of about 26 MB), 2049 x 2049 at further attempts.
        expect_signal_while_writing("exata2", signo, launch, [](ScratchFolder& folder, int attempt) {
            write_inputs(folder, MG, {{3, attempt == 0 ? "10" : "11"}}, -1);
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Limits of ulimit on file size and stack.

TEST(HostileLimits, AWritePastTheFileSizeLimitIsReportedLikeAFullDisk) {
    const struct {
        const char* binary;
        std::vector<std::string> args;
        std::string target;
    } cases[] = {
        {ADVDIFF_BINARY, {"--no-edit", "--window", "0"}, "relat.txt"},
        {ADVDIFF_REFERENCE_BINARY, {}, "exata1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        ScratchFolder folder;
        // 65 x 65: a report and a reference file larger than the 1 KiB allowed.
        write_inputs(folder, SG, {{3, "65"}, {4, "65"}, {14, "1"}}, 65 * 65);
        folder.write(c.target, "the earlier file\n");
        const auto before = snapshot(folder.path());
        Launch launch;
        launch.binary = c.binary;
        launch.args = c.args;
        launch.in_child = [] { set_limit(RLIMIT_FSIZE, 1024); };
        const Ended r = testing::run(folder.path(), launch);
        expect_refused(r, c.target + ": ", {"cannot be written", "File too large"}, before, folder.path(),
                       c.binary == std::string(ADVDIFF_BINARY) ? "advdiff2d" : "advdiff2d-reference");
    }
}

TEST(HostileLimits, AWriteErrorAfterTheRunShowsTheNameWithItsControlBytesEscaped) {
    // A summary (2000 norms) larger than the file-size limit, beside a report that fits it, in a
    // folder whose name holds a newline, terminal commands (ESC, BEL, the CSI of ISO 8859-1 and of
    // UTF-8), a byte that is not UTF-8, and UTF-8 text, which stays.
    const std::string sub = "sub\nrm -rf ~ # \x1B]0;pwned\x07\x9B" "2J\xC2\x9B" "2J\xFF\xC3\xA9";
    const std::string shown = "sub\\x0Arm -rf ~ # \\x1B]0;pwned\\x07\\x9B" "2J\\xC2\\x9B" "2J\\xFF\xC3\xA9";
    ScratchFolder folder;
    write_inputs(folder, SG, {{3, "3"}, {4, "3"}, {10, "2000"}, {11, "0"}}, 9);
    fs::create_directory(folder / sub);
    Launch launch;
    launch.args = {"--no-edit", "--window", "0", "--summary", sub + "/s.json"};
    launch.in_child = [] { set_limit(RLIMIT_FSIZE, 8 * 1024); };
    const Ended r = testing::run(folder.path(), launch);
    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "advdiff2d: error: " + shown + "/s.json: cannot be written: File too large\n");
    EXPECT_TRUE(fs::exists(folder / "relat.txt")) << "the report is written before the summary";
    EXPECT_TRUE(fs::is_empty(folder / sub)) << "a temporary file was left";
}

TEST(HostileLimits, BothProgramsRunWithA64KiBStack) {
    const struct {
        const char* name;
        Mode mode;
        std::vector<Edit> edits;
    } runs[] = {
        {"Gauss-Seidel", SG, {{3, "65"}, {4, "65"}}},
        {"MSI", SG, {{1, "2"}, {3, "65"}, {4, "65"}}},
        {"ADI", SG, {{1, "3"}, {3, "65"}, {4, "65"}}},
        {"Gauss elimination", SG, {{1, "4"}, {3, "65"}, {4, "65"}}},
        {"multigrid MSI", MG, {{1, "2"}, {3, "6"}}},
        {"multigrid ADI", MG, {{1, "3"}, {3, "6"}}},
    };
    for (const auto& c : runs) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        write_inputs(folder, c.mode, c.edits, -1);
        for (const char* binary : {ADVDIFF_REFERENCE_BINARY, ADVDIFF_BINARY}) {
            Launch launch;
            launch.binary = binary;
            if (binary == std::string(ADVDIFF_REFERENCE_BINARY)) launch.args = {};
            launch.in_child = [] { set_limit(RLIMIT_STACK, 64 * 1024); };
            const Ended r = testing::run(folder.path(), launch);
            ASSERT_TRUE(r.exited) << binary << " ended by signal " << r.signal;
            EXPECT_EQ(r.status, 0) << binary << ": " << r.err;
        }
        EXPECT_TRUE(fs::exists(folder / "relat.txt"));
    }
}

}  // namespace
}  // namespace advdiff::end_to_end
