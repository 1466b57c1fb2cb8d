// The program run as a user runs it, and the reading of its numbers.
#include "app/command_line.hpp"
#include "app/option_values.hpp"
#include "app/printable.hpp"
#include "app/thread_count.hpp"

#include <puretone/puretone.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <iostream>
#include <sstream>
#include <thread>
#include <grp.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct run_result {
    int status;  // the exit status, or -1 when a signal ended the run
    int signal;  // the signal that ended the run, or 0
    std::string out, err;
};

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct run_options {
    rlim_t file_size_limit = 0;         // nonzero: writes beyond it fail (RLIMIT_FSIZE)
    std::string append_output;          // standard output appends to this file, not to the pipe
    std::function<void(pid_t)> during;  // called while the run goes on
    uid_t user = 0;                     // nonzero: run as this user and group, with no other groups
    std::string argv0 = PURETONE_BINARY;
    std::string cwd;                    // the run's working directory, if set
    int fd3 = -1;                       // given to the run as its descriptor 3
    bool nonblocking_output = false;    // standard output left O_NONBLOCK
    std::vector<std::string> env;       // "NAME=value" added to the run's environment
    rlim_t open_files_limit = 0;        // nonzero: at most this many descriptors (RLIMIT_NOFILE)
    rlim_t memory_limit = 0;            // nonzero: at most this many bytes of address space (RLIMIT_AS)
    int blocked_signal = 0;             // blocked by the caller, as the run starts
    int closed_descriptor = -1;         // closed as the run starts
    bool traced = false;                // stopped by ptrace at its start, for `during` to trace
    std::string read_write_input;       // standard input is this file, open for reading and writing
};

struct started_run {
    pid_t pid;
    int out_pipe;
    fs::path err_path;
};

// Starts the binary with `args`; its standard output goes into a pipe.
started_run start(const std::vector<std::string>& args, const run_options& options = {})
{
    static int runs = 0;
    const fs::path err_path = fs::temp_directory_path() /
        ("puretone_err_" + std::to_string(getpid()) + "_" + std::to_string(++runs));
    // Under an emulator: "qemu-<cpu> [its options] -0 argv0 binary args".
    // Made before the fork: the child may have no descriptor to spare.
    std::vector<std::string> words;
    std::istringstream emulator(PURETONE_EMULATOR);
    for (std::string word; emulator >> word;)
        words.push_back(word);
    const bool emulated = !words.empty();
    if (emulated)
        words.insert(words.end(), {"-0", options.argv0, PURETONE_BINARY});
    else
        words.push_back(options.argv0);
    int out_pipe[2];
    if (pipe(out_pipe) != 0)
        return {-1, -1, err_path};
    const pid_t child = fork();
    if (child == 0) {
        const int out = options.append_output.empty()
            ? out_pipe[1] : open(options.append_output.c_str(), O_WRONLY | O_APPEND);
        dup2(out, 1);
        close(out_pipe[0]);
        close(out_pipe[1]);
        std::FILE* err = std::freopen(err_path.c_str(), "w", stderr);
        if (err == nullptr)
            _exit(127);
        if (options.file_size_limit != 0) {
            const rlimit limit{options.file_size_limit, options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const rlimit no_core{0, 0};  // SIGXCPU and SIGQUIT would dump one
        setrlimit(RLIMIT_CORE, &no_core);
        if (options.fd3 >= 0)
            dup2(options.fd3, 3);
        if (options.nonblocking_output)
            fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK);
        for (const std::string& setting : options.env)
            putenv(const_cast<char*>(setting.c_str()));
        if (options.open_files_limit != 0)  // only 0, 1 and 2 left: what the runner left open would count
            syscall(SYS_close_range, 3, ~0U, 0);
        for (const auto& [resource, value] : {std::pair{RLIMIT_NOFILE, options.open_files_limit},
                                              std::pair{RLIMIT_AS, options.memory_limit}})
            if (value != 0) {
                const rlimit limit{value, value};
                setrlimit(resource, &limit);
            }
        if (options.blocked_signal != 0) {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, options.blocked_signal);
            sigprocmask(SIG_BLOCK, &blocked, nullptr);
        }
        if (!options.read_write_input.empty())
            dup2(open(options.read_write_input.c_str(), O_RDWR), 0);
        if (options.closed_descriptor >= 0)
            close(options.closed_descriptor);
        if (options.traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(125);  // not traceable here: trace_opens tells the test
        if ((!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            || (options.user != 0 && (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0)))
            _exit(126);
        std::vector<std::string> substituted;  // "{pid}" is the run's own process id
        for (std::string arg : args) {
            if (const auto at = arg.find("{pid}"); at != std::string::npos)
                arg.replace(at, 5, std::to_string(getpid()));
            substituted.push_back(arg);
        }
        words.insert(words.end(), substituted.begin(), substituted.end());
        std::vector<char*> argv;
        for (auto& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        execvp(emulated ? argv[0] : PURETONE_BINARY, argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    return {child, out_pipe[0], err_path};
}

run_result finish(const started_run& started)
{
    run_result result{-1, 0, "", ""};
    char chunk[65536];
    for (ssize_t got; (got = read(started.out_pipe, chunk, sizeof chunk)) > 0;)
        result.out.append(chunk, static_cast<std::size_t>(got));
    close(started.out_pipe);
    int wait_status = 0;
    waitpid(started.pid, &wait_status, 0);
    if (WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status))
        result.signal = WTERMSIG(wait_status);
    result.err = read_file(started.err_path);
    fs::remove(started.err_path);
    return result;
}

run_result run(const std::vector<std::string>& args, const run_options& options = {})
{
    const started_run started = start(args, options);
    if (options.during)
        options.during(started.pid);
    return finish(started);
}

// The names in a directory, sorted.
std::vector<std::string> names_in(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The temporary file a running process has open in `directory`, as a path
// through its descriptor in /proc (the file may have no name), or "".
std::string temporary_of(pid_t pid, const fs::path& directory)
{
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fds, error)) {
        char target[4096];
        const ssize_t length = readlink(entry.path().c_str(), target, sizeof target);
        const std::string name(target, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
        if (name.rfind(directory.string() + "/", 0) == 0
            && (name.find("/.puretone.") != std::string::npos
                || (name.size() > 10 && name.compare(name.size() - 10, 10, " (deleted)") == 0)))
            return entry.path().string();
    }
    return "";
}

// The bytes written so far into a running process's temporary file.
std::uintmax_t temporary_size(pid_t pid, const fs::path& directory)
{
    struct stat status{};
    const std::string file = temporary_of(pid, directory);
    return !file.empty() && stat(file.c_str(), &status) == 0 ? static_cast<std::uintmax_t>(status.st_size) : 0;
}

// Follows a run started with `traced` from one system call to the next,
// and calls `on_open` with the result of each openat as it returns, the
// run stopped there, until `on_open` returns true; then lets the run go on
// untraced. False when the run could not be traced (no ptrace, as under
// qemu-user, or no PTRACE_GET_SYSCALL_INFO before Linux 5.3): the run is
// then let go at once, and not reaped.
bool trace_opens(pid_t pid, const std::function<bool(long long)>& on_open)
{
    siginfo_t first{};
    if (waitid(P_PID, static_cast<id_t>(pid), &first, WSTOPPED | WEXITED | WNOWAIT) != 0 || first.si_code != CLD_TRAPPED)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    if (ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD) != 0) {
        ptrace(PTRACE_DETACH, pid, nullptr, 0);
        return false;
    }
    unsigned long long call = 0;
    long signal = 0;
    while (ptrace(PTRACE_SYSCALL, pid, nullptr, signal) == 0 && waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        signal = WSTOPSIG(status) == (SIGTRAP | 0x80) || WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
        if (WSTOPSIG(status) != (SIGTRAP | 0x80))
            continue;
        __ptrace_syscall_info info{};
        if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) {
            ptrace(PTRACE_DETACH, pid, nullptr, 0);
            return false;
        }
        if (info.op == PTRACE_SYSCALL_INFO_ENTRY)
            call = info.entry.nr;
        else if (info.op == PTRACE_SYSCALL_INFO_EXIT && call == SYS_openat && on_open(info.exit.rval))
            break;
    }
    ptrace(PTRACE_DETACH, pid, nullptr, 0);
    return true;
}

// The threads a running process has now, from /proc.
int threads_of(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return 0;
}

class cli : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("puretone_cli_" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }
    fs::path dir;
};

// Whether the file system under `dir` makes unnamed files (O_TMPFILE).
bool unnamed_files(const fs::path& dir)
{
    const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

// Waits until the run's temporary file in `dir` has grown, then stops the
// run (SIGSTOP): it is then in the middle of writing.
void stop_when_grown(pid_t pid, const fs::path& dir)
{
    for (int tries = 0; tries < 2000 && temporary_size(pid, dir) < 100000; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, SIGSTOP);
}

bool one_error_line(const std::string& err)
{
    return err.rfind("puretone: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

// FS_IOC_SETFLAGS and FS_APPEND_FL of <linux/fs.h>, whose <linux/mount.h>
// clashes with <sys/mount.h>: the kernel's ABI, the same on every target.
const unsigned long set_inode_flags = _IOW('f', 2, long);
constexpr int append_only_flag = 0x00000020;

// Users and groups no account has: the cases that need another user run as
// these, which needs root.
constexpr uid_t user = 48001, other_user = 48002, other_group = 48003;

// A case this machine cannot run is left out and named, never passed in
// silence. Spelled unlike GTEST_SKIP's "[  SKIPPED ]", which would make
// CTest count the whole test as skipped; CI lists these lines.
void skip_case(const std::string& why)
{
    std::cout << "[ SKIPPED  ] " << why << '\n';
}

// A kernel setting for one test, restored after. `held` is false where it
// cannot be set here (absent, or /proc/sys read-only in a container).
struct kernel_setting {
    std::string path, before;
    bool held;
    kernel_setting(std::string name, const char* value) : path("/proc/sys/fs/" + name), before(read_file(path))
    {
        std::ofstream(path) << value;
        held = read_file(path) == std::string(value) + "\n";
    }
    ~kernel_setting()
    {
        if (!before.empty())
            std::ofstream(path) << before;
    }
};

// A POSIX access or default ACL as the kernel stores it, little-endian on
// every host: a 32-bit version 2, then entries of a 16-bit tag, 16-bit
// permissions and a 32-bit id.
std::string acl(std::initializer_list<std::array<std::uint32_t, 3>> entries)
{
    std::string bytes;
    const auto append_le32 = [&bytes](std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<char>(value >> shift & 0xff));
    };
    append_le32(2);
    for (const auto& [tag, permissions, id] : entries) {
        append_le32(tag | permissions << 16);
        append_le32(id);
    }
    return bytes;
}

std::string attribute(const fs::path& file, const char* name)
{
    std::string value(4096, '\0');
    const ssize_t size = getxattr(file.c_str(), name, value.data(), value.size());
    return size < 0 ? "" : value.substr(0, static_cast<std::size_t>(size));
}

TEST(command_line, leading_integer_reads_like_atoi_and_refuses_overflow)
{
    const struct {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"440", 440}, {"440.9", 440}, {"880Hz", 880}, {"1e3", 1}, {"abc", 0}, {"", 0},
        {" \t+7", 7}, {"-25", -25}, {"- 5", 0}, {"00000000000000000012", 12},
        {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt}, {"-2147483649", std::nullopt}, {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(puretone::leading_integer(c.text), c.value) << '"' << c.text << '"';
}

TEST(option_values, read_decimals_durations_and_tones_exactly_or_not_at_all)
{
    const struct {
        const char* text;
        std::optional<double> value;
    } numbers[] = {
        {"0.5", 0.5}, {"-12", -12}, {"+.25", 0.25}, {"3.", 3}, {"1e-3", 1e-3}, {"2E+2", 200}, {"-0", -0.0},
        {"1e-310", 1e-310}, {"0e999", 0}, {"", std::nullopt}, {".", std::nullopt}, {"0x1p-1", std::nullopt},
        {"inf", std::nullopt}, {"nan", std::nullopt}, {" 1", std::nullopt}, {"1 ", std::nullopt},
        {"1e", std::nullopt}, {"1e-400", std::nullopt}, {"1e400", std::nullopt}, {"1,5", std::nullopt},
    };
    for (const auto& c : numbers)
        EXPECT_EQ(puretone::decimal_number(c.text), c.value) << '"' << c.text << '"';
    // Frames nearest seconds * rate, ties to even, from the digits.
    const struct {
        const char* text;
        std::uint32_t rate;
        std::optional<std::int64_t> frames;
    } durations[] = {
        {"2.5", 44100, 110250}, {"250ms", 44100, 11025}, {"2.5s", 48000, 120000}, {"0.5", 1, 0}, {"1.5", 1, 2},
        {"2.5", 1, 2}, {"2.5000000000000000000001", 1, 3}, {"0.0000226757", 44100, 1}, {"1ms", 44100, 44},
        {"0.0000113378", 44100, 0}, {"0", 8000, 0}, {".5", 2, 1}, {"99999999999999999999", 1, std::int64_t{1} << 40},
        {"", 1, std::nullopt}, {"-1", 1, std::nullopt}, {"1e3", 1, std::nullopt}, {"1.2.3", 1, std::nullopt},
        {"1 s", 1, std::nullopt}, {"ms", 1, std::nullopt},
    };
    for (const auto& c : durations)
        EXPECT_EQ(puretone::duration_frames(c.text, c.rate), c.frames) << '"' << c.text << "\" at " << c.rate;
    // Tones: channels, frequency, level, phase in degrees (RN(D / 360)).
    const struct {
        const char* text;
        bool valid;
        puretone_tone tone;
    } tones[] = {
        {"1000", true, {1000, 0, 0, PURETONE_LEVEL_FULL, 0}},
        {"2=1000:-6dB:90", true, {1000, -6, 0.25, PURETONE_LEVEL_DBFS, 2}},
        {"1,3-4=997.5:-0.5:-45", true, {997.5, -0.5, -0.125, PURETONE_LEVEL_RATIO, 13}},
        {"1-8=1:full:1", true, {1, 0, 1.0 / 360, PURETONE_LEVEL_FULL, 255}},
        {"0=1000", false, {}}, {"2-1=1000", false, {}}, {"1,=1000", false, {}}, {"=1000", false, {}},
        {"1000:", false, {}}, {"1000:0.5:", false, {}}, {"1000:0.5:90:1", false, {}}, {"1kHz", false, {}},
    };
    for (const auto& c : tones) {
        const auto tone = puretone::tone_of(c.text);
        ASSERT_EQ(tone.has_value(), c.valid) << c.text;
        if (tone) {
            EXPECT_TRUE(tone->frequency == c.tone.frequency && tone->level == c.tone.level
                        && tone->phase == c.tone.phase && tone->level_kind == c.tone.level_kind
                        && tone->channels == c.tone.channels) << c.text;
        }
    }
}

// Unset, the thread count is the CPUs this process may run on: in a child
// held to one CPU, one; here, no more than the affinity mask allows.
TEST(thread_count, follows_the_affinity_mask)
{
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_TRUE(puretone::available_cpus() >= 1 && puretone::available_cpus() <= CPU_COUNT(&allowed));
    int first = 0;
    while (!CPU_ISSET(first, &allowed))
        ++first;
    const pid_t child = fork();
    if (child == 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        _exit(sched_setaffinity(0, sizeof one, &one) == 0 && puretone::available_cpus() == 1 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(cli, no_path_prints_the_usage_line_on_standard_output)
{
    const run_result r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("usage: ") + PURETONE_BINARY + " <wav file> [<frequency> [sec]]\n");
    EXPECT_EQ(r.err, "");
    // The program's name is shown like any other text; a usage line that
    // cannot be written is a failure.
    run_options odd;
    odd.argv0 = "pure\ntone\x1b[2J";
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"--help"}})
        EXPECT_EQ(run(args, odd).out.substr(0, 30), "usage: pure\\ntone\\x1b[2J <wav ");
    run_options full;
    full.append_output = "/dev/full";
    const run_result failed = run({}, full);
    EXPECT_TRUE(failed.status == 1 && one_error_line(failed.err)) << failed.err;
}

TEST_F(cli, help_and_version_answer_on_standard_output_and_write_nothing)
{
    const std::string usage = std::string("usage: ") + PURETONE_BINARY + " <wav file> [<frequency> [sec]]\n";
    const struct {
        std::vector<std::string> args;
        std::string starts;
    } cases[] = {
        {{"--help"}, usage}, {{"-h", "440"}, usage}, {{"--version"}, "puretone " PURETONE_VERSION "\n"},
    };
    for (const auto& c : cases) {
        const run_result r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(c.starts, 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_NE(run({"--help"}).out.find("man puretone"), std::string::npos);
    EXPECT_FALSE(fs::exists("--help") || fs::exists("-h") || fs::exists("--version"));
    // Only those exact words: a path is a path. After the file a flag still
    // answers, writing nothing; after "--" it is a word, read as 0 Hz.
    ASSERT_EQ(run({path("--help"), "440", "1"}).status, 0);
    EXPECT_EQ(fs::file_size(path("--help")), 88244u);
    for (const char* flag : {"--help", "--version"}) {
        const run_result late = run({path("x.wav"), flag, "1"});
        EXPECT_TRUE(late.status == 0 && !late.out.empty() && late.err.empty()) << flag;
    }
    EXPECT_FALSE(fs::exists(path("x.wav")));
    ASSERT_EQ(run({"--", path("x.wav"), "--help", "1"}).status, 0);
    EXPECT_EQ(fs::file_size(path("x.wav")), 88244u);
    run_options full;
    full.append_output = "/dev/full";  // a failed answer is reported, not lost
    const run_result r = run({"--version"}, full);
    EXPECT_TRUE(r.status == 1 && one_error_line(r.err)) << r.err;
}

TEST_F(cli, options_give_the_format_they_describe)
{
    // Each file as the library makes it: its header, then its frames packed
    // as the file holds them (s24 in 3 bytes, a pad byte after an odd size).
    const auto tone = [](double frequency, double phase = 0) {
        return puretone_tone{frequency, 0, phase, PURETONE_LEVEL_FULL, 0};
    };
    const struct {
        std::vector<std::string> args;
        puretone_format format;
        std::vector<puretone_tone> tones;
        std::int64_t frames, fade_in, fade_out;
    } cases[] = {
        {{"-r", "48000", "--format", "s24", "--level", "-18dB", "@", "1000", "1"},
         {sizeof(puretone_format), 48000, PURETONE_FORMAT_S24, PURETONE_LEVEL_DBFS, -18, 1, 0}, {tone(1000)}, 48000, 0, 0},
        {{"--rate=7", "--format=s24", "--channels=3", "--level=0.5", "@", "3", "1"},  // odd: padded
         {sizeof(puretone_format), 7, PURETONE_FORMAT_S24, PURETONE_LEVEL_RATIO, 0.5, 3, 0}, {tone(3)}, 7, 0, 0},
        {{"--format", "f32", "-c2", "-r96000", "--level", "-20dBFS", "--", "@", "-997", "1"},
         {sizeof(puretone_format), 96000, PURETONE_FORMAT_F32, PURETONE_LEVEL_DBFS, -20, 2, 0}, {tone(-997)}, 96000, 0, 0},
        {{"--format", "s32", "--level", "full", "@"},
         {sizeof(puretone_format), 44100, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 1, 0}, {tone(440)}, 441000, 0, 0},
        {{"--rate", "44100", "--format", "s16", "--channels", "1", "@", "440", "2"}, PURETONE_FORMAT_INIT, {tone(440)}, 88200, 0, 0},
        // Signals: several tones, a tone per channel, phases, lengths, fades.
        {{"--tone", "60:0.8", "--tone", "7000:0.2", "--length", "2.5", "@"}, PURETONE_FORMAT_INIT,
         {{60, 0.8, 0, PURETONE_LEVEL_RATIO, 0}, {7000, 0.2, 0, PURETONE_LEVEL_RATIO, 0}}, 110250, 0, 0},
        {{"-c", "2", "--tone", "1=1000", "--tone", "2=1000:1:90", "--length", "250ms", "@"},
         {sizeof(puretone_format), 44100, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 2, 0},
         {{1000, 0, 0, PURETONE_LEVEL_FULL, 1}, {1000, 1, 0.25, PURETONE_LEVEL_RATIO, 2}}, 11025, 0, 0},
        {{"-r", "48000", "--format", "f32", "--length", "0.5s", "--fade", "10ms", "@", "1000"},
         {sizeof(puretone_format), 48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1, 0}, {tone(1000)}, 24000, 480, 480},
        {{"--frames", "7", "--fade-in", "0.0001", "--phase", "90", "@", "440"}, PURETONE_FORMAT_INIT,
         {tone(440, 0.25)}, 7, 4, 0},
        {{"-c", "3", "--format", "s32", "--tone", "1,3=-1000.5:-0.4", "--tone", "2-3=500:-6dB:180", "--frames", "3000",
          "--fade-out", "1ms", "@"},
         {sizeof(puretone_format), 44100, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 3, 0},
         {{-1000.5, -0.4, 0, PURETONE_LEVEL_RATIO, 5}, {500, -6, 0.5, PURETONE_LEVEL_DBFS, 6}}, 3000, 0, 44},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        std::replace(args.begin(), args.end(), std::string("@"), path("o.wav"));
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::int64_t frames = c.frames;
        std::string expected(static_cast<std::size_t>(puretone_header_length(&c.format)), '\0');
        ASSERT_EQ(puretone_header(&c.format, frames, reinterpret_cast<unsigned char*>(expected.data())), PURETONE_OK);
        std::vector<std::int32_t> samples(static_cast<std::size_t>(frames) * c.format.channels);
        puretone_signal signal = PURETONE_SIGNAL_INIT;
        signal.tones = c.tones.data();
        signal.tone_count = static_cast<std::uint32_t>(c.tones.size());
        signal.length = frames;
        signal.fade_in = c.fade_in;
        signal.fade_out = c.fade_out;
        ASSERT_EQ(puretone_signal_frames(&c.format, &signal, 0, frames, samples.data()), PURETONE_OK);
        const int width = c.format.sample_format == PURETONE_FORMAT_S16 ? 2 : c.format.sample_format == PURETONE_FORMAT_S24 ? 3 : 4;
        for (std::size_t k = 0; k < samples.size(); ++k) {
            std::uint32_t bits;
            if (width == 2)
                bits = static_cast<std::uint16_t>(reinterpret_cast<const std::int16_t*>(samples.data())[k]);
            else
                std::memcpy(&bits, &samples[k], 4);
            for (int b = 0; b < width; ++b)
                expected.push_back(static_cast<char>(bits >> (8 * b)));
        }
        if (expected.size() % 2 != 0)
            expected.push_back('\0');
        EXPECT_EQ(read_file(path("o.wav")), expected) << c.args[0];
    }
    // With no options, the file of today; a file named like an option
    // needs -- or ./ before it.
    ASSERT_EQ(run({"--", path("-x"), "440", "1"}).status, 0);
    ASSERT_EQ(run({path("plain.wav"), "440", "1"}).status, 0);
    EXPECT_EQ(read_file(path("-x")), read_file(path("plain.wav")));
}

TEST_F(cli, arguments_give_the_file_their_numbers_describe)
{
    const struct {
        std::vector<std::string> args, same_as;
        std::uintmax_t size;
    } cases[] = {
        {{}, {"440", "10"}, 882044},                 // the defaults
        {{"1000", "2"}, {}, 176444},
        {{"abc"}, {"0", "10"}, 882044},              // silence, full length
        {{"440", "0"}, {}, 44},                      // the header alone
        {{"440.9", "2.9"}, {"440", "2"}, 176444},
        {{"880Hz", " +1", "extra", "more"}, {"880", "1"}, 88244},
        {{"-2147483648", "1"}, {}, 88244},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{path("a.wav")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out + r.err, "");  // silent on success
        EXPECT_EQ(fs::file_size(path("a.wav")), c.size) << c.args.size();
        if (!c.same_as.empty()) {
            std::vector<std::string> plain{path("b.wav")};
            plain.insert(plain.end(), c.same_as.begin(), c.same_as.end());
            ASSERT_EQ(run(plain).status, 0);
            EXPECT_EQ(read_file(path("a.wav")), read_file(path("b.wav"))) << c.same_as[0];
        }
    }
}

TEST_F(cli, replaces_a_longer_file_and_writes_standard_output_as_it_is)
{
    std::ofstream(path("t.wav")) << std::string(1000000, 'x');
    ASSERT_EQ(run({path("t.wav"), "1000", "2"}).status, 0);
    const std::string file = read_file(path("t.wav"));
    EXPECT_EQ(file.size(), 176444u);
    // Any spelling the kernel resolves to this process's descriptor 1.
    fs::create_symlink("/dev/stdout", path("out-link"));
    const char* names[] = {"/dev/stdout", "-", "/proc/self/fd/1", "/dev/fd//1", "/dev/./fd/1",
                           "/proc/thread-self/fd/1", "/proc/{pid}/fd/1", "/proc/self/../self/fd/1"};
    for (const std::string name : names) {
        const run_result piped = run({name, "1000", "2"});
        EXPECT_EQ(piped.status, 0);
        EXPECT_TRUE(piped.out == file) << name;
        // An appending caller keeps what it wrote before: nothing is reopened.
        std::ofstream(path("log.txt")) << "log line\n";
        run_options append;
        append.append_output = path("log.txt");
        EXPECT_EQ(run({name, "1000", "2"}, append).status, 0);
        EXPECT_TRUE(read_file(path("log.txt")) == "log line\n" + file) << name;
    }
    // /dev/stdout is descriptor 1, though descriptor 0 holds the same file.
    std::ofstream(path("log.txt")) << "log line\n";
    run_options same_file;
    same_file.append_output = same_file.read_write_input = path("log.txt");
    const run_result by_link = run({"/dev/stdout", "1000", "2"}, same_file);
    EXPECT_TRUE(by_link.status == 0 && read_file(path("log.txt")) == "log line\n" + file) << by_link.err;
    // Through a link of the user's: only where the kernel tells (openat2).
    run_options through_link;
    through_link.append_output = path("log.txt");
    EXPECT_EQ(run({path("out-link"), "1000", "2"}, through_link).status, 0);
    if (syscall(SYS_openat2, AT_FDCWD, "/", nullptr, 0) == -1 && errno == ENOSYS)
        skip_case("a link to /dev/stdout: this kernel has no openat2");
    else
        EXPECT_TRUE(read_file(path("log.txt")) == "log line\n" + file + file);
    // A descriptor of a deleted file is written as it is: no file is made.
    run_options deleted;
    deleted.fd3 = open(path("victim").c_str(), O_RDWR | O_CREAT, 0644);
    fs::remove(path("victim"));
    EXPECT_EQ(run({"/proc/thread-self/fd/3", "1000", "2"}, deleted).status, 0);
    EXPECT_EQ(lseek(deleted.fd3, 0, SEEK_END), 176444);
    close(deleted.fd3);
    // A pipe its opener left non-blocking, read slowly, still takes it all.
    run_options slow;
    slow.nonblocking_output = true;
    slow.during = [](pid_t) { std::this_thread::sleep_for(std::chrono::milliseconds(200)); };
    const run_result waited = run({"-", "1000", "2"}, slow);
    EXPECT_TRUE(waited.status == 0 && waited.out == file) << waited.err;
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"log.txt", "out-link", "t.wav"}));
}

TEST_F(cli, refuses_numbers_out_of_range_before_touching_the_output)
{
    const std::vector<std::string> bad[] = {
        {"440", "48696"}, {"440", "-1"}, {"440", "4294967296"}, {"2147483648"}, {"-99999999999", "1"},
    };
    std::ofstream(path("keep.wav")) << "keep";
    for (const auto& numbers : bad)
        for (const char* name : {"keep.wav", "new.wav"}) {
            std::vector<std::string> args{path(name)};
            args.insert(args.end(), numbers.begin(), numbers.end());
            const run_result r = run(args);
            EXPECT_EQ(r.status, 2) << numbers.back();
            EXPECT_TRUE(one_error_line(r.err) && r.err.find(numbers.back()) != std::string::npos) << r.err;
        }
    // Options: unknown, without their value, or with a bad one; tones too
    // long for RIFF in their format, or beyond the exact angle domain.
    const struct {
        std::vector<std::string> options, numbers;
        bool with_path;
        std::string named;  // what the message must show
    } bad_options[] = {
        {{"-x"}, {}, true, "'-x'"},
        {{"--rat", "44100"}, {}, true, "'--rat'"},
        {{"--rate"}, {}, false, "'--rate'"},
        {{"-c"}, {}, false, "'-c'"},
        {{"--rate", "0"}, {}, true, "'0'"},
        {{"-r", "768001"}, {}, true, "'768001'"},
        {{"--rate=44100.0"}, {}, true, "'44100.0'"},
        {{"-r", "+48000"}, {}, true, "'+48000'"},
        {{"--format", "s8"}, {}, true, "'s8'"},
        {{"--format="}, {}, true, "''"},
        {{"--format", "S16"}, {}, true, "'S16'"},
        {{"--level", "1.5"}, {}, true, "'1.5'"},
        {{"--level", "-18"}, {}, true, "'-18'"},
        {{"--level", "3dB"}, {}, true, "'3dB'"},
        {{"--level", "nan"}, {}, true, "'nan'"},
        {{"--level", "-infdB"}, {}, true, "'-infdB'"},
        {{"--level", " 0.5"}, {}, true, "'\\u{0020}0.5'"},
        {{"--channels", "0"}, {}, true, "'0'"},
        {{"-c", "9"}, {}, true, "'9'"},
        {{"-r", "48000"}, {}, false, "no wav file"},
        {{}, {"--rate", "8000"}, true, "'--rate' comes after the file"},
        {{}, {"440", "1", "-c2"}, true, "'-c2' comes after the file"},
        {{"--format", "f32", "-c", "8", "-r", "768000"}, {"440", "175"}, true, "0 to 174 seconds"},
        {{"-r", "1"}, {"2147483647", "1000000"}, true, "8.8e14"},
        {{"--level", "0x1p-1"}, {}, true, "'0x1p-1'"},  // decimal numbers only
        {{"--level", "1e-400"}, {}, true, "'1e-400'"},  // nonzero, yet zero as a double
        {{"--bogus", "--help"}, {}, true, "'--bogus'"},
        {{"--version", "--bogus"}, {}, true, "'--bogus'"},
        // Signals: sums above 1, channels, fades, and requests that mean two things.
        {{"--tone", "1000", "--tone", "500"}, {}, true, "channel 1's tone levels sum to 2;"},
        {{"--tone", "1000:-6dB", "--tone", "500:-6dB"}, {}, true, "sum to 1.00237"},
        {{"--tone", "1-=1000"}, {}, true, "'1-=1000'"},
        {{"--tone", "9=1000"}, {}, true, "'9=1000'"},
        {{"-c", "2", "--tone", "1=1000", "--tone", "3=500"}, {}, true, "beyond --channels 2"},
        {{"--tone", "1000:0.5:1e400"}, {}, true, "'1000:0.5:1e400'"},
        {{"--tone", "1000:2"}, {}, true, "'1000:2' is out of range"},
        {{"--length", "1", "--fade", "1.5"}, {}, true, "longer than the signal"},
        {{"--length", "2.5x"}, {}, true, "'2.5x'"},
        {{"--frames", "-1"}, {}, true, "'-1'"},
        {{"--tone", "1000"}, {"440"}, true, "and --tone cannot both"},
        {{"--phase", "90", "--tone", "5"}, {}, true, "--phase sets"},
        {{"--length", "1"}, {"440", "1"}, true, "--length or --frames"},
        {{"--length", "1", "--frames", "5"}, {}, true, "cannot both"},
        {{"--phase", "1e300"}, {}, true, "'1e300' is out of range"},
        {{"--phase", "1e-322"}, {}, true, "'1e-322'"},  // nonzero degrees, zero cycles
        {{"--tone", "1000:0.5:4.9e-324"}, {}, true, "'1000:0.5:4.9e-324'"},
        // Sweeps: forms, kinds, order, Nyquist, and what cannot stand with one.
        {{"--sweep", "20"}, {}, true, "'20'"},
        {{"--sweep", "20:20000:log"}, {}, true, "'20:20000:log'"},
        {{"--sweep", "0:20000"}, {}, true, "sweep '0:20000' is out of range"},
        {{"--sweep", "2000:20:sync"}, {}, true, "sweep '2000:20:sync' is out of range"},
        {{"--sweep", "20:20:linear"}, {}, true, "sweep '20:20:linear' is out of range"},
        {{"--sweep", "20:22051"}, {}, true, "at most half the rate"},
        {{"--sweep", "20:20000"}, {"1000"}, true, "--sweep makes the signal"},
        {{"--sweep", "20:20000", "--tone", "1000"}, {}, true, "--sweep makes the signal"},
        {{"--inverse", "inverse.wav"}, {}, true, "--inverse writes the inverse filter"},
        {{"--sweep", "20:20000:linear", "--inverse", "inverse.wav"}, {}, true, "--inverse writes"},
        {{"--sweep", "20:20000", "--length", "1", "--fade", "2"}, {}, true, "longer than the signal"},
        {{"--sweep", "20:20000", "--frames", "0"}, {}, true, "one frame or more"},
    };
    for (const auto& c : bad_options)
        for (const char* name : {"keep.wav", "new.wav"}) {
            std::vector<std::string> args = c.options;
            if (c.with_path)
                args.push_back(path(name));
            args.insert(args.end(), c.numbers.begin(), c.numbers.end());
            const run_result r = run(args);
            EXPECT_EQ(r.status, 2) << c.named;
            EXPECT_TRUE(one_error_line(r.err) && r.err.find(c.named) != std::string::npos) << r.err;
            EXPECT_EQ(r.out, "");
        }
    // A thread count must be a whole number from 1 to 1024, and nothing else.
    for (const char* threads : {"0", "-1", "+2", " 2", "2x", "", "1025", "99999999999", "2\n"})
        for (const char* name : {"keep.wav", "new.wav"}) {
            run_options options;
            options.env = {std::string("PURETONE_THREADS=") + threads};
            const run_result r = run({path(name), "440", "1"}, options);
            EXPECT_EQ(r.status, 2) << threads;
            EXPECT_TRUE(one_error_line(r.err) && r.err.find("PURETONE_THREADS") != std::string::npos) << r.err;
        }
    EXPECT_EQ(read_file(path("keep.wav")), "keep");
    EXPECT_FALSE(fs::exists(path("new.wav")));
}

// A sweep's inverse filter is written whole beside it, and where either
// file fails, neither old file is lost; a synchronized sweep's own length
// is said.
TEST_F(cli, a_sweep_and_its_inverse_are_written_whole_or_not_at_all)
{
    std::ofstream(path("sweep.wav")) << "old sweep";
    std::ofstream(path("inverse.wav")) << "old inverse";
    fs::create_directory(path("closed"));
    fs::permissions(path("closed"), fs::perms::owner_read | fs::perms::owner_exec);
    const bool privileged = geteuid() == 0;  // root writes into a closed directory
    const struct {
        std::string sweep, inverse;
        rlim_t file_size_limit;
    } failures[] = {
        {path("sweep.wav"), path("missing/inverse.wav"), 0},  // the inverse cannot be opened
        {path("sweep.wav"), path("inverse.wav"), 200000},     // the inverse, twice the sweep's size, cut short
        {path("missing/sweep.wav"), path("inverse.wav"), 0},  // the sweep cannot be opened
    };
    for (const auto& f : failures) {
        run_options options;
        options.file_size_limit = f.file_size_limit;
        const run_result r = run({"--sweep", "20:20000", "--length", "2", "--inverse", f.inverse, f.sweep}, options);
        EXPECT_EQ(r.status, 1) << f.inverse;
        EXPECT_TRUE(one_error_line(r.err)) << r.err;
        EXPECT_EQ(read_file(path("sweep.wav")), "old sweep") << f.inverse;
        EXPECT_EQ(read_file(path("inverse.wav")), "old inverse") << f.inverse;
    }
    // One file for both, by name, through a directory or a link, or standard
    // output twice: refused.
    fs::create_symlink("sweep.wav", path("to_sweep.wav"));
    for (const auto& [inverse, sweep] : {std::pair{path("sweep.wav"), path("sweep.wav")},
                                         {dir.string() + "/./sweep.wav", path("sweep.wav")},
                                         {path("to_sweep.wav"), path("sweep.wav")},
                                         {path("fresh.wav"), dir.string() + "/../" + dir.filename().string() + "/fresh.wav"},
                                         {std::string("-"), std::string("-")}}) {
        const run_result r = run({"--sweep", "20:20000", "--inverse", inverse, sweep});
        EXPECT_EQ(r.status, 2) << inverse;
        EXPECT_TRUE(one_error_line(r.err) && r.err.find("the same file") != std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(path("fresh.wav")));
    if (!privileged) {
        const run_result r = run({"--sweep", "20:20000", "--inverse", path("closed/inverse.wav"), path("sweep.wav")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(read_file(path("sweep.wav")), "old sweep");
    }
    const run_result r = run({"-r", "48000", "--sweep", "20:20000:sync", "--length", "5", "--inverse",
                              path("inverse.wav"), path("sweep.wav")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(one_error_line(r.err) && r.err.find("after 232101 frames, not 240000") != std::string::npos) << r.err;
    // 232101 frames: the sweep's 2 bytes each, the inverse's 4, after their headers.
    EXPECT_EQ(fs::file_size(path("sweep.wav")), 44u + 2u * 232101u);
    EXPECT_EQ(fs::file_size(path("inverse.wav")), 58u + 4u * 232101u);
}

// Chunks made on any number of threads make the same file, across chunk
// boundaries and the short last chunk.
TEST_F(cli, every_thread_count_writes_the_same_bytes)
{
    run_options alone;
    alone.env = {"PURETONE_THREADS=1"};
    ASSERT_EQ(run({path("one.wav"), "11025", "61"}, alone).status, 0);
    const std::string one = read_file(path("one.wav"));
    for (const char* threads : {"2", "3", "7", "1024"}) {
        run_options options;
        options.env = {std::string("PURETONE_THREADS=") + threads};
        EXPECT_EQ(run({path("many.wav"), "11025", "61"}, options).status, 0);
        EXPECT_TRUE(read_file(path("many.wav")) == one) << threads;
        const run_result piped = run({"-", "11025", "61"}, options);
        EXPECT_TRUE(piped.status == 0 && piped.out == one) << threads;
    }
    EXPECT_TRUE(run({"-", "11025", "61"}).out == one);  // as many as this machine has
}

TEST_F(cli, reports_outputs_that_cannot_be_opened_or_written)
{
    const struct {
        std::string path;
        rlim_t file_size_limit;
        const char* reason;
    } cases[] = {
        {path("missing/a.wav"), 0, "No such file or directory"},
        {path("new\nline/\x1b[2J.wav"), 0, "No such file or directory"},  // still one line
        {dir.string(), 0, "Is a directory"},
        {"", 1000, "No such file or directory"},     // refused at once, nothing written first
        {"/dev/full", 0, "No space left on device"},
        {"/dev/fd/9", 0, "Bad file descriptor"},      // not open
        {path("big.wav"), 100000, "File too large"},  // a replacement cut short
        {path("new.wav"), 100000, "File too large"},  // a new file cut short
        {path("link.wav"), 100000, "File too large"}, // a replacement through a link
        {path("big.wav"), 3000000, "File too large"}, // refused at once where blocks are reserved
    };
    std::ofstream(path("big.wav")) << "old big";
    std::ofstream(path("target.wav")) << "old";
    fs::create_symlink("target.wav", path("link.wav"));
    for (const char* threads : {"PURETONE_THREADS=1", "PURETONE_THREADS=3"})  // a failure stops the workers too
        for (const auto& c : cases) {
            run_options options;
            options.file_size_limit = c.file_size_limit;
            options.cwd = dir.string();
            options.env = {threads};
            const run_result r = run({c.path, "440", "60"}, options);
            EXPECT_EQ(r.status, 1) << c.path;
            EXPECT_TRUE(one_error_line(r.err) && r.err.find(c.reason) != std::string::npos) << r.err;
            EXPECT_EQ(r.out, "");
        }
    // The old files whole, the link kept, and no temporary file left.
    EXPECT_EQ(read_file(path("big.wav")), "old big");
    EXPECT_EQ(read_file(path("target.wav")), "old");
    EXPECT_TRUE(fs::is_symlink(path("link.wav")));
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"big.wav", "link.wav", "target.wav"}));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    // Out of descriptors to find the directory with, or with standard error
    // closed (the output must not take descriptor 2, where the message
    // would go): exit 1, the old file whole.
    for (const int closed : {-1, 2}) {
        run_options options;
        options.open_files_limit = closed == -1 ? 4 : 0;
        options.file_size_limit = closed == 2 ? 100000 : 0;
        options.closed_descriptor = closed;
#if defined(__SANITIZE_ADDRESS__)
        options.env = {"ASAN_OPTIONS=detect_leaks=0"};  // the leak check at exit needs descriptors too
#endif
        const run_result r = run({path("big.wav"), "440", "60"}, options);
        EXPECT_TRUE(r.status == 1 && (closed == 2 || one_error_line(r.err))) << r.err;
        EXPECT_TRUE(read_file(path("big.wav")) == "old big") << closed;
    }
    // Short of memory, at any point: the whole tone, or one line and the
    // old file; never an abort. (127: too little to load the libraries.)
    // Not under the sanitizers, which reserve terabytes of address space.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    for (rlim_t kib = 8800; kib <= 10400; kib += 100) {
        run_options options;
        options.memory_limit = kib << 10;
        options.env = {"PURETONE_THREADS=2"};
        const run_result r = run({path("big.wav"), "440", "60"}, options);
        const std::string now = read_file(path("big.wav"));
        EXPECT_TRUE(r.status == 127 || (r.status == 0 && now.size() == 5292044)
                    || (r.status == 1 && one_error_line(r.err) && now == "old big")) << kib << ": " << r.err;
        std::ofstream(path("big.wav")) << "old big";
    }
#endif
    run_options no_stdout;
    no_stdout.closed_descriptor = 1;
    EXPECT_NE(run({"-", "440", "1"}, no_stdout).err.find("Bad file descriptor"), std::string::npos);
    // A FIFO swapped for a regular file between the open that finds no
    // reader and the one that waits for it: refused, nothing written.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
    run_options traced;
    traced.traced = true;
    traced.during = [&](pid_t pid) {
        const bool traced_at_all = trace_opens(pid, [&](long long result) {
            return result == -ENXIO && renameat2(AT_FDCWD, path("fifo").c_str(), AT_FDCWD, path("big.wav").c_str(),
                                                 RENAME_EXCHANGE) == 0;
        });
        if (!traced_at_all) {
            skip_case("a FIFO swapped while opened: no ptrace here");
            kill(pid, SIGKILL);
        }
    };
    const run_result swapped = run({path("fifo"), "440", "1"}, traced);
    EXPECT_TRUE(swapped.signal == SIGKILL || swapped.status == 125 || (swapped.status == 1 && one_error_line(swapped.err)))
        << swapped.err;
    // Whichever name holds the regular file: reading the FIFO would block.
    EXPECT_EQ(read_file(fs::is_fifo(path("fifo")) ? path("big.wav") : path("fifo")), "old big");
}

TEST_F(cli, replaces_through_links_and_keeps_permission_bits)
{
    std::ofstream(path("target.wav")) << "old";
    fs::permissions(path("target.wav"), fs::perms(0640));
    fs::create_symlink("target.wav", path("link1.wav"));
    fs::create_symlink(path("link1.wav"), path("link2.wav"));  // a chain, absolute then relative
    ASSERT_EQ(run({path("link2.wav"), "1000", "2"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(path("link1.wav")) && fs::is_symlink(path("link2.wav")));
    EXPECT_EQ(fs::file_size(path("target.wav")), 176444u);
    EXPECT_EQ(fs::status(path("target.wav")).permissions(), fs::perms(0640));
    // A new file gets 0666 less the umask, as open(2) would give it.
    const mode_t mask = umask(022);
    ASSERT_EQ(run({path("new.wav"), "440", "0"}).status, 0);
    umask(mask);
    EXPECT_EQ(fs::status(path("new.wav")).permissions(), fs::perms(0644));
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"link1.wav", "link2.wav", "new.wav", "target.wav"}));
    // A path near PATH_MAX is replaced too: the temporary file is named
    // relative to its directory, however long the path.
    fs::path deep = dir / "deep";
    while (deep.string().size() < 3800)
        deep /= std::string(200, 'd');
    fs::create_directories(deep);
    std::ofstream(deep / "t.wav") << "old";
    struct stat before{}, after{};
    ASSERT_EQ(stat((deep / "t.wav").c_str(), &before), 0);
    EXPECT_EQ(run({(deep / "t.wav").string(), "1000", "2"}).status, 0);
    ASSERT_EQ(stat((deep / "t.wav").c_str(), &after), 0);
    EXPECT_TRUE(after.st_size == 176444 && after.st_ino != before.st_ino);
    // Replaced however the directory is reached: through a descriptor link
    // of the process (its working directory, its root, a directory it has
    // open), or through links that lead, in all, beyond PATH_MAX.
    const int deep_fd = open(deep.c_str(), O_PATH | O_DIRECTORY);
    const std::string e(200, 'e'), far = e + "/" + e + "/" + e;
    for (const std::string& sub : {e, e + "/" + e, far})
        ASSERT_EQ(mkdirat(deep_fd, sub.c_str(), 0755), 0);
    ASSERT_EQ(symlinkat((far + "/t.wav").c_str(), deep_fd, "hop.wav"), 0);
    fs::create_symlink(fs::relative(deep, dir) / "hop.wav", path("far.wav"));
    run_options through;
    through.cwd = dir.string();
    through.fd3 = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    for (const std::string& spelled :
         {std::string("/proc/self/cwd/t.wav"), "/proc/self/root" + path("t.wav"), std::string("/dev/fd/3/t.wav"),
          path("far.wav")}) {
        const int where = spelled == path("far.wav") ? deep_fd : AT_FDCWD;
        const std::string file = where == AT_FDCWD ? path("t.wav") : far + "/t.wav";
        const int old = openat(where, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(write(old, "old", 3), 3);
        close(old);
        ASSERT_EQ(fstatat(where, file.c_str(), &before, 0), 0);
        const run_result r = run({spelled, "1000", "2"}, through);
        ASSERT_EQ(fstatat(where, file.c_str(), &after, 0), 0);
        EXPECT_TRUE(r.status == 0 && after.st_size == 176444 && after.st_ino != before.st_ino) << spelled << r.err;
    }
    close(through.fd3);
    unlinkat(deep_fd, (far + "/t.wav").c_str(), 0);
    for (const std::string& sub : {far, e + "/" + e, e})
        unlinkat(deep_fd, sub.c_str(), AT_REMOVEDIR);
    close(deep_fd);
    // A file under a read lease: the run waits for the lease to break.
    std::ofstream(path("leased.wav")) << "old";
    const int leased = open(path("leased.wav").c_str(), O_RDONLY | O_CLOEXEC);  // the run must not share it
    std::signal(SIGIO, SIG_IGN);  // the lease holder's notice
    if (fcntl(leased, F_SETLEASE, F_RDLCK) != 0) {
        skip_case("a file under a lease: leases are disabled here");
        std::signal(SIGIO, SIG_DFL);
        return;
    }
    run_options holder;
    holder.during = [&](pid_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        close(leased);
    };
    const run_result waited = run({path("leased.wav"), "1000", "2"}, holder);
    std::signal(SIGIO, SIG_DFL);
    EXPECT_TRUE(waited.status == 0 && fs::file_size(path("leased.wav")) == 176444u) << waited.err;
}

// Stopped part way, by a signal, the run leaves the old file byte for byte,
// and ends by that signal.
TEST_F(cli, interrupted_run_leaves_the_old_file_and_nothing_else)
{
    int round = 0;
    // The crash signals too, sent from outside: handled on the alternate
    // stack, and the status still shows them. SIGKILL leaves nothing where
    // the temporary file has no name.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF, SIGPWR, SIGRTMIN,
                             SIGRTMAX, SIGIO, SIGSTKFLT, SIGSEGV, SIGABRT, SIGBUS, SIGTRAP, SIGSYS, SIGKILL}) {
        std::ofstream(path("t.wav")) << "old";
        run_options options;
        const int threads = ++round % 2 == 1 ? 1 : 3;  // the caller alone, or with two workers
        options.env = {"PURETONE_THREADS=" + std::to_string(threads)};
        bool unnamed = true;
        options.during = [&](pid_t pid) {
            // Once the temporary file has grown: the run is in the middle.
            for (int tries = 0; tries < 2000; ++tries) {
                if (temporary_size(pid, dir) > 100000) {
                    unnamed = temporary_of(pid, dir).find("/.puretone.") == std::string::npos;
                    // At least: the thread sanitizer adds one of its own to a run with workers.
                    EXPECT_TRUE(threads == 1 ? threads_of(pid) == 1 : threads_of(pid) >= threads) << signal;
                    return static_cast<void>(kill(pid, signal));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ADD_FAILURE() << "no temporary file grew";
            kill(pid, SIGKILL);
        };
        const run_result r = run({path("t.wav"), "440", "48695"}, options);
        EXPECT_EQ(r.signal, signal);
        EXPECT_EQ(read_file(path("t.wav")), "old");
        if (signal == SIGKILL && !unnamed) {
            skip_case("SIGKILL: this file system has no O_TMPFILE, so the temporary file has a name");
            for (const auto& name : names_in(dir))
                if (name != "t.wav")
                    fs::remove(dir / name);
        }
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"t.wav"});
    }
    // Waiting for a FIFO's reader, the run still ends by a signal.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
    run_options waiting;
    waiting.during = [](pid_t pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(pid, SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(pid, SIGKILL);  // not reaped yet, so still ours: a hang fails, never blocks the suite
    };
    EXPECT_EQ(run({path("fifo")}, waiting).signal, SIGTERM);
    // A signal the caller blocked stays blocked: the run ends whole.
    run_options blocked;
    blocked.blocked_signal = SIGTERM;
    blocked.during = [&](pid_t pid) {
        for (int tries = 0; tries < 2000 && temporary_size(pid, dir) < 100000; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(pid, SIGTERM);
    };
    const run_result whole = run({path("t.wav"), "440", "300"}, blocked);
    EXPECT_TRUE(whole.status == 0 && fs::file_size(path("t.wav")) == 44 + 300 * 88200u) << whole.signal;
}

// A signal as the run ends: either the old file and the signal's status, or
// the new file and 0; never a finished file reported as a failure.
TEST_F(cli, a_signal_at_the_end_gives_the_old_file_or_success)
{
    ASSERT_EQ(run({path("tone.wav"), "440", "1"}).status, 0);
    const std::string tone = read_file(path("tone.wav"));
    for (int delay = 0; delay < 60; ++delay) {
        std::ofstream(path("t.wav")) << "old";
        run_options options;
        options.during = [&](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::microseconds(50 * delay));
            kill(pid, SIGTERM);
        };
        const run_result r = run({path("t.wav"), "440", "1"}, options);
        const std::string now = read_file(path("t.wav"));
        EXPECT_TRUE(r.signal == SIGTERM ? now == "old" : r.status == 0 && now == tone) << delay << ": " << r.status;
        EXPECT_EQ(names_in(dir), (std::vector<std::string>{"t.wav", "tone.wav"}));
    }
    // A new file appears only whole: killed at any moment, the run leaves
    // nothing or the tone, never an empty or partial file.
    if (!unnamed_files(dir))
        return skip_case("a new file under SIGKILL: no O_TMPFILE here, so it is created at its name first");
    for (int delay = 0; delay < 60; ++delay) {
        run_options options;
        options.during = [&](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::microseconds(100 * delay));
            kill(pid, SIGKILL);
        };
        run({path("new.wav"), "440", "1"}, options);
        EXPECT_TRUE(!fs::exists(path("new.wav")) || read_file(path("new.wav")) == tone) << delay;
        fs::remove(path("new.wav"));
        EXPECT_EQ(names_in(dir), (std::vector<std::string>{"t.wav", "tone.wav"}));
    }
}

// Planted in a sticky, world-writable directory by another user: a link to
// a victim's file, a dangling link, a file. The kernel refuses them to any
// program, root included, and so to this one.
TEST_F(cli, the_kernel_decides_where_a_planted_name_leads)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to plant names as another user";
    const kernel_setting links("protected_symlinks", "1"), regular("protected_regular", "1");
    if (!links.held || !regular.held)
        GTEST_SKIP() << "fs.protected_symlinks and fs.protected_regular cannot be set here";
    fs::create_directory(dir / "sticky");
    fs::permissions(dir / "sticky", fs::perms(01777));
    std::ofstream(path("victim.wav")) << "victim";
    ASSERT_EQ(chown(path("victim.wav").c_str(), user, user), 0);
    fs::create_symlink(path("victim.wav"), dir / "sticky/link.wav");
    fs::create_symlink(path("new.wav"), dir / "sticky/dangling.wav");
    std::ofstream(dir / "sticky/theirs.wav") << "theirs";
    for (const char* name : {"link.wav", "dangling.wav", "theirs.wav"}) {
        ASSERT_EQ(lchown((dir / "sticky" / name).c_str(), other_user, other_user), 0);
        const run_result r = run({(dir / "sticky" / name).string(), "1000", "1"});
        EXPECT_TRUE(r.status == 1 && one_error_line(r.err) && r.err.find("Permission denied") != std::string::npos)
            << name << ": " << r.err;
    }
    EXPECT_EQ(read_file(path("victim.wav")), "victim");
    EXPECT_EQ(read_file(dir / "sticky/theirs.wav"), "theirs");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"sticky", "victim.wav"}));
}

// A replacement carries owner, group, mode (less set-ID bits) and ACL; where
// it cannot, or the rename could not work, the file is written in place.
// Either way the file ends as it was but for its contents.
TEST_F(cli, replaces_only_where_nothing_is_lost_else_writes_in_place)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as other users and to mount";
    const kernel_setting regular("protected_regular", "0");
    ASSERT_EQ(run({path("tone.wav"), "1000", "1"}).status, 0);
    const std::string tone = read_file(path("tone.wav"));
    const auto make = [&](const char* sub, mode_t dir_mode, uid_t dir_owner, uid_t owner, gid_t group, mode_t mode) {
        fs::create_directories(dir / sub);
        chown((dir / sub).c_str(), dir_owner, dir_owner);
        chmod((dir / sub).c_str(), dir_mode);
        const fs::path file = dir / sub / "t.wav";
        std::ofstream(file) << "old";
        chown(file.c_str(), owner, group);
        chmod(file.c_str(), mode);
        return file;
    };
    const struct {
        fs::path file;
        uid_t run_as;
        bool in_place;
    } cases[] = {
        {make("readonly", 0755, 0, user, user, 0644), user, true},                  // no temporary file there
        {make("sticky", 01777, 0, other_user, other_user, 0666), user, true},       // no rename over theirs
        {make("mine", 0755, user, user, other_group, 0640), user, true},            // the group cannot be set
        {make("acl", 0755, 0, user, other_group, 0664), 0, false},                  // carried as it is
        {make("setid", 0755, 0, user, user, 06755), 0, false},                      // dropped, as a write would
        {make("mounted", 0755, 0, 0, 0, 0644), 0, true},                            // a bind mount: no rename
        {make("writeonly", 0300, user, user, user, 0644), user, false},             // found by search alone
    };
    const std::string access_acl = acl({{1, 6, 0}, {2, 6, user}, {4, 4, 0}, {0x10, 6, 0}, {0x20, 4, 0}});
    // What this machine may lack: each case that needs it skips, saying so.
    const bool acls = setxattr(cases[3].file.c_str(), "system.posix_acl_access", access_acl.data(),
                               access_acl.size(), 0) == 0;
    std::ofstream(dir / "mounted/source.wav") << "old";
    chown((dir / "mounted/source.wav").c_str(), user, user);  // in place by root: the set-user-ID bit goes
    chmod((dir / "mounted/source.wav").c_str(), 04755);
    const bool bind_mounted = mount((dir / "mounted/source.wav").c_str(), cases[5].file.c_str(), nullptr, MS_BIND,
                                    nullptr) == 0;
    for (const auto& c : cases) {
        const std::string sub = c.file.parent_path().filename();
        const char* lacking = sub == "sticky" && !regular.held ? "fs.protected_regular cannot be set to 0"
                              : sub == "acl" && !acls          ? "no POSIX ACLs on this file system"
                              : sub == "mounted" && !bind_mounted ? "no bind mounts"
                                                                  : nullptr;
        if (lacking != nullptr) {
            skip_case(sub + ": " + lacking + " here");
            continue;
        }
        struct stat before{}, after{};
        ASSERT_EQ(stat(c.file.c_str(), &before), 0);
        const std::string acl_before = attribute(c.file, "system.posix_acl_access");
        run_options options;
        options.user = c.run_as;
        const run_result r = run({c.file.string(), "1000", "1"}, options);
        EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
        ASSERT_EQ(stat(c.file.c_str(), &after), 0);
        EXPECT_TRUE(read_file(c.file) == tone) << c.file;
        EXPECT_EQ(after.st_ino == before.st_ino, c.in_place) << c.file;
        EXPECT_EQ(after.st_uid, before.st_uid) << c.file;
        EXPECT_EQ(after.st_gid, before.st_gid) << c.file;
        EXPECT_EQ(after.st_mode, before.st_mode & ~mode_t{S_ISUID | S_ISGID}) << c.file;
        EXPECT_EQ(attribute(c.file, "system.posix_acl_access"), acl_before) << c.file;
        EXPECT_EQ(names_in(c.file.parent_path()).size(), c.file.parent_path().filename() == "mounted" ? 2u : 1u);
    }
    EXPECT_TRUE(!bind_mounted || umount(cases[5].file.c_str()) == 0);
    // In place, two runs take turns: one whole tone, never a mixture.
    const std::string other = (run({path("tone.wav"), "440", "1"}), read_file(path("tone.wav")));
    run_options as_user;
    as_user.user = user;
    const started_run first = start({cases[0].file.string(), "1000", "20"}, as_user);
    const started_run second = start({cases[0].file.string(), "440", "20"}, as_user);
    EXPECT_EQ(finish(first).status + finish(second).status, 0);
    ASSERT_EQ(run({path("a.wav"), "1000", "20"}).status + run({path("b.wav"), "440", "20"}).status, 0);
    const std::string mixed = read_file(cases[0].file);
    EXPECT_TRUE(mixed == read_file(path("a.wav")) || mixed == read_file(path("b.wav")));
    // Under any reader's shared lock, the run says once that it waits.
    const int reader = open(cases[0].file.c_str(), O_RDONLY | O_CLOEXEC);  // the run must not share it
    ASSERT_EQ(flock(reader, LOCK_SH), 0);
    as_user.during = [&](pid_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        close(reader);
    };
    const run_result waited = run({cases[0].file.string(), "1000", "1"}, as_user);
    EXPECT_TRUE(waited.status == 0 && one_error_line(waited.err) && waited.err.find("waiting") != std::string::npos
                && read_file(cases[0].file) == tone) << waited.err;
    // An append-only directory is known before writing: written in place,
    // nothing left in it.
    const fs::path fixed = make("appendonly", 0755, 0, 0, 0, 0644);
    const int fixed_dir = open(fixed.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    int flags = append_only_flag;
    if (ioctl(fixed_dir, set_inode_flags, &flags) != 0) {
        skip_case("an append-only directory: this file system has no such flag");
    } else {
        struct stat before{}, after{};
        stat(fixed.c_str(), &before);
        const run_result r = run({fixed.string(), "1000", "1"});
        stat(fixed.c_str(), &after);
        EXPECT_TRUE(r.status == 0 && read_file(fixed) == tone && after.st_ino == before.st_ino) << r.err;
        EXPECT_EQ(names_in(fixed.parent_path()).size(), 1u);
        // Made append-only during the run: nothing can take the file's place
        // any more. The old file stays; an unnamed temporary file vanishes,
        // and a named one, which cannot be removed there now, is named.
        flags = 0;
        ioctl(fixed_dir, set_inode_flags, &flags);
        std::ofstream(fixed) << "old";
        const bool unnamed = unnamed_files(fixed.parent_path());
        run_options midway;
        midway.during = [&](pid_t pid) {
            stop_when_grown(pid, fixed.parent_path());
            flags = append_only_flag;
            ioctl(fixed_dir, set_inode_flags, &flags);
            kill(pid, SIGCONT);
        };
        const run_result late = run({fixed.string(), "440", "300"}, midway);
        EXPECT_TRUE(late.status == 1 && one_error_line(late.err) && read_file(fixed) == "old") << late.err;
        EXPECT_TRUE(unnamed ? names_in(fixed.parent_path()).size() == 1u
                            : late.err.find("is left beside it") != std::string::npos) << late.err;
        flags = 0;
        ioctl(fixed_dir, set_inode_flags, &flags);
        for (const auto& name : names_in(fixed.parent_path()))
            if (name != "t.wav")
                fs::remove(fixed.parent_path() / name);
    }
    close(fixed_dir);
    // Under a default ACL a new file gets the mode open(2) gives it.
    fs::create_directory(dir / "inherits");
    const std::string default_acl = acl({{1, 6, 0}, {4, 6, 0}, {0x20, 4, 0}});
    if (!acls) {
        skip_case("a new file under a default ACL: no POSIX ACLs here");
    } else {
        ASSERT_EQ(setxattr((dir / "inherits").c_str(), "system.posix_acl_default", default_acl.data(),
                           default_acl.size(), 0), 0);
        const mode_t mask = umask(022);
        close(open((dir / "inherits/by_open").c_str(), O_WRONLY | O_CREAT, 0666));
        EXPECT_EQ(run({(dir / "inherits/new.wav").string(), "440", "0"}).status, 0);
        umask(mask);
        EXPECT_EQ(fs::status(dir / "inherits/new.wav").permissions(),
                  fs::status(dir / "inherits/by_open").permissions());
        EXPECT_EQ(fs::status(dir / "inherits/new.wav").permissions(), fs::perms(0664));
    }
    // No other user can open the temporary file, from its creation on: it
    // is made 0600 (with a default ACL, its mask empty), whatever the umask,
    // a set-group-ID directory or a default ACL granting another user rw
    // would give it, and it takes the old file's attributes before any data.
    const fs::path shared = make("shared", 02775, 0, user, user, 0600);
    chown(shared.parent_path().c_str(), 0, other_group);
    chmod(shared.parent_path().c_str(), 02775);
    const std::string grant = acl({{1, 7, 0}, {2, 6, other_user}, {4, 7, 0}, {0x10, 7, 0}, {0x20, 5, 0}});
    if (!acls || setxattr(shared.parent_path().c_str(), "system.posix_acl_default", grant.data(), grant.size(), 0) != 0
        || setxattr(shared.c_str(), "user.note", "secret", 6, 0) != 0)
        return skip_case("the temporary file's mode and attributes: no POSIX ACLs or user attributes here");
    run_options traced;
    traced.traced = true;
    mode_t at_creation = 07777;  // not seen
    bool traceable = true;
    traced.during = [&](pid_t pid) {
        traceable = trace_opens(pid, [&](long long result) {
            struct stat made{};
            const std::string file = temporary_of(pid, shared.parent_path());
            if (result < 0 || file.empty() || stat(file.c_str(), &made) != 0)
                return false;
            at_creation = made.st_mode & 07777;
            return true;
        });
        if (!traceable)
            skip_case("the temporary file at its creation: no ptrace here");
    };
    const mode_t before_mask = umask(002);
    run_result made = run({shared.string(), "1000", "1"}, traced);
    if (!traceable)
        made = run({shared.string(), "1000", "1"});
    umask(before_mask);
    struct stat now{};
    ASSERT_EQ(stat(shared.c_str(), &now), 0);
    EXPECT_TRUE(made.status == 0 && read_file(shared) == tone) << made.err;
    EXPECT_TRUE(!traceable || at_creation == 0600) << std::oct << at_creation;
    EXPECT_TRUE(now.st_uid == user && now.st_gid == user && (now.st_mode & 07777) == 0600) << std::oct << now.st_mode;
    EXPECT_TRUE(attribute(shared, "user.note") == "secret" && attribute(shared, "system.posix_acl_access").empty());
    EXPECT_EQ(names_in(shared.parent_path()).size(), 1u);
}

// A change made to the old file while the tone is written (stopped there
// here) is kept by the replacement: its mode, owner and ACL as they are at
// the end, not as they were at the start.
TEST_F(cli, a_change_made_during_the_run_is_kept)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to give the file to another user";
    std::ofstream(path("t.wav")) << "old";
    ASSERT_EQ(chown(path("t.wav").c_str(), user, user), 0);
    chmod(path("t.wav").c_str(), 0664);
    const std::string granted = acl({{1, 6, 0}, {2, 6, other_user}, {4, 4, 0}, {0x10, 6, 0}, {0x20, 4, 0}});
    if (setxattr(path("t.wav").c_str(), "system.posix_acl_access", granted.data(), granted.size(), 0) != 0)
        GTEST_SKIP() << "no POSIX ACLs on this file system";
    // The entry for other_user removed, the mode narrowed, the file given away.
    const std::string revoked = acl({{1, 6, 0}, {2, 4, user}, {4, 0, 0}, {0x10, 4, 0}, {0x20, 0, 0}});
    struct stat changed{};
    std::string changed_acl;
    run_options options;
    options.during = [&](pid_t pid) {
        stop_when_grown(pid, dir);
        chmod(path("t.wav").c_str(), 0600);
        setxattr(path("t.wav").c_str(), "system.posix_acl_access", revoked.data(), revoked.size(), 0);
        chown(path("t.wav").c_str(), other_user, other_group);
        stat(path("t.wav").c_str(), &changed);
        changed_acl = attribute(path("t.wav"), "system.posix_acl_access");
        kill(pid, SIGCONT);
    };
    const run_result r = run({path("t.wav"), "440", "300"}, options);
    struct stat now{};
    ASSERT_EQ(stat(path("t.wav").c_str(), &now), 0);
    EXPECT_TRUE(r.status == 0 && now.st_size == 44 + 300 * 88200) << r.err;
    EXPECT_TRUE(now.st_ino != changed.st_ino && now.st_uid == other_user && now.st_gid == other_group
                && now.st_mode == changed.st_mode) << std::oct << now.st_mode << " " << changed.st_mode;
    EXPECT_TRUE(!changed_acl.empty() && attribute(path("t.wav"), "system.posix_acl_access") == changed_acl);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"t.wav"});
}

// No temporary file can be made for lack of inodes: a failure, and the old
// file stays whole (it is never written in place for that).
// No inode for the temporary file, or no room for the whole tone (tmpfs
// takes no reservation, so the writes fail part way, with workers running):
// the old file is left as it was, and nothing else.
TEST_F(cli, no_room_on_the_file_system_leaves_the_old_file)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to mount a file system";
    fs::create_directory(dir / "small");
    // The last: room for the old tone, but not for its attribute beside the
    // new file (tmpfs counts attributes against its inodes), nor for the
    // new tone. Never read as "cannot be carried", which would write in
    // place and empty the file.
    const struct {
        const char* options;
        const char* old_seconds;  // the old file: a tone, or "" for a few bytes
        std::size_t note;         // a user.note attribute of so many bytes
        const char* seconds;
    } cases[] = {{"nr_inodes=2", "", 0, "60"}, {"size=2m", "", 0, "60"}, {"size=1600k,nr_inodes=4", "12", 700, "20"}};
    for (const auto& c : cases) {
        if (mount("tmpfs", (dir / "small").c_str(), "tmpfs", 0, c.options) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        const std::string file = (dir / "small/t.wav").string();
        if (*c.old_seconds != '\0')
            ASSERT_EQ(run({file, "440", c.old_seconds}).status, 0);
        else
            std::ofstream(file) << "old";
        const std::string old = read_file(file), note(c.note, 'n');
        if (c.note != 0 && setxattr(file.c_str(), "user.note", note.data(), note.size(), 0) != 0) {
            skip_case(std::string(c.options) + ": no user attributes on tmpfs here");
        } else {
            run_options workers;
            workers.env = {"PURETONE_THREADS=3"};
            const run_result r = run({file, "440", c.seconds}, workers);
            EXPECT_TRUE(r.status == 1 && one_error_line(r.err) && r.err.find("No space left") != std::string::npos)
                << c.options << ": " << r.err;
            EXPECT_TRUE(read_file(file) == old && attribute(file, "user.note") == note) << c.options;
            EXPECT_EQ(names_in(dir / "small"), std::vector<std::string>{"t.wav"});
        }
        EXPECT_EQ(umount((dir / "small").c_str()), 0);
    }
}

TEST_F(cli, concurrent_runs_on_one_path_leave_one_whole_tone)
{
    ASSERT_EQ(run({path("a.wav"), "440", "20"}).status, 0);
    ASSERT_EQ(run({path("b.wav"), "1000", "20"}).status, 0);
    const started_run first = start({path("t.wav"), "440", "20"});
    const started_run second = start({path("t.wav"), "1000", "20"});
    EXPECT_EQ(finish(first).status, 0);
    EXPECT_EQ(finish(second).status, 0);
    const std::string result = read_file(path("t.wav"));
    EXPECT_TRUE(result == read_file(path("a.wav")) || result == read_file(path("b.wav")));
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.wav", "b.wav", "t.wav"}));
    // Another run's rename lands between this run's open and its lookup of
    // the directory (forced here, stopped at its open): it decides afresh,
    // and replaces the file that is there now.
    fs::copy_file(path("b.wav"), path("other.wav"));
    run_options traced;
    traced.traced = true;
    bool traceable = true;
    traced.during = [&](pid_t pid) {
        traceable = trace_opens(pid, [&](long long result) {
            char target[4096];
            const std::string fd = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(result);
            const ssize_t length = result >= 0 ? readlink(fd.c_str(), target, sizeof target) : -1;
            return length > 0 && std::string(target, static_cast<std::size_t>(length)) == path("t.wav")
                   && rename(path("other.wav").c_str(), path("t.wav").c_str()) == 0;
        });
        if (!traceable) {
            skip_case("a rename between the open and the lookup: no ptrace here");
            kill(pid, SIGKILL);
        }
    };
    const run_result forced = run({path("t.wav"), "440", "20"}, traced);
    EXPECT_TRUE(!traceable || (forced.status == 0 && read_file(path("t.wav")) == read_file(path("a.wav"))))
        << forced.err;
    EXPECT_TRUE(!traceable || !fs::exists(path("other.wav")));  // the rename was made
    fs::remove(path("other.wav"));
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.wav", "b.wav", "t.wav"}));
}

TEST(printable, escapes_what_would_break_the_line_or_drive_the_terminal)
{
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"tone.wav", "tone.wav"}, {"a\nb", "a\\nb"}, {"\t\r", "\\t\\r"}, {"\x1b[31m", "\\x1b[31m"},
        {"\x7f", "\\x7f"}, {"back\\slash", "back\\\\slash"},
        {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x8e\xb5", "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x8e\xb5"},  // UTF-8 stays
        {"\xc2\x9b", "\\xc2\\x9b"},                   // C1 CSI
        {"\xff\xc3", "\\xff\\xc3"},                   // invalid, truncated
        {"\xc0\xaf", "\\xc0\\xaf"},                   // overlong '/'
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},          // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}, // beyond U+10FFFF
        {"a\xe2\x80\xa8" "b", "a\\u{2028}b"},          // a line separator
        {"x\xe2\x80\xaewav.exe", "x\\u{202E}wav.exe"},  // right-to-left override
        {"\xe2\x81\xa9\xe2\x80\x8e", "\\u{2069}\\u{200E}"},
        {"\xe2\x80\xa9\xe2\x80\xaa", "\\u{2029}\\u{202A}"},
        {"a\xd8\x9c" "b", "a\\u{061C}b"},          // the Arabic letter mark
        {"a\xe2\x80\x8b" "b\xc2\xad" "c", "a\\u{200B}b\\u{00AD}c"},  // zero-width space, soft hyphen
        {"\xef\xbb\xbfx\xf3\xa0\x80\x81", "\\u{FEFF}x\\u{E0001}"},  // byte-order mark, a tag
        {"\xc3\xa9\xf0\x9f\x8e\xb5", "\xc3\xa9\xf0\x9f\x8e\xb5"},      // visible letters pass
        // Separators, marks, fillers and placeholders print like something
        // else: no-break space, ideographic space, a decomposed e-acute,
        // braille blank, U+FFFC, a noncharacter, U+0600, private use, a
        // Hangul filler, an unassigned code point; a space at either end.
        {"a\xc2\xa0" "b\xe3\x80\x80", "a\\u{00A0}b\\u{3000}"},
        {"e\xcc\x81\xe2\xa0\x80\xef\xbf\xbc", "e\\u{0301}\\u{2800}\\u{FFFC}"},
        {"\xef\xbf\xbe\xd8\x80\xee\x80\x80\xe3\x85\xa4", "\\u{FFFE}\\u{0600}\\u{E000}\\u{3164}"},
        {"\xf1\x80\x80\x80!", "\\u{40000}!"}, {" a b ", "\\u{0020}a b\\u{0020}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(puretone::printable(c.text), c.shown) << c.shown;
}

}  // namespace
