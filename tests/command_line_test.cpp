// The program run as a user runs it, and the reading of its numbers.
#include "app/command_line.hpp"
#include "app/printable.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <sys/resource.h>
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
        std::vector<char*> argv{const_cast<char*>(PURETONE_BINARY)};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(PURETONE_BINARY, argv.data());
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

bool one_error_line(const std::string& err)
{
    return err.rfind("puretone: ", 0) == 0 && err.find('\n') == err.size() - 1;
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

TEST_F(cli, no_path_prints_the_usage_line_on_standard_output)
{
    const run_result r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("usage: ") + PURETONE_BINARY + " <wav file> [<frequency> [sec]]\n");
    EXPECT_EQ(r.err, "");
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
    // Only argument 1 is a flag, and only those exact words: a path is a path.
    ASSERT_EQ(run({path("--help"), "440", "1"}).status, 0);
    ASSERT_EQ(run({path("x.wav"), "--help", "1"}).status, 0);  // frequency 0
    EXPECT_EQ(fs::file_size(path("--help")), 88244u);
    run_options full;
    full.append_output = "/dev/full";  // a failed answer is reported, not lost
    const run_result r = run({"--version"}, full);
    EXPECT_TRUE(r.status == 1 && one_error_line(r.err)) << r.err;
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
    for (const char* name : {"/dev/stdout", "-", "/proc/self/fd/1"}) {
        const run_result piped = run({name, "1000", "2"});
        EXPECT_EQ(piped.status, 0);
        EXPECT_TRUE(piped.out == file) << name;
    }
    // An appending caller keeps what it wrote before: nothing is reopened.
    std::ofstream(path("log.txt")) << "log line\n";
    run_options append;
    append.append_output = path("log.txt");
    EXPECT_EQ(run({"/dev/stdout", "1000", "2"}, append).status, 0);
    EXPECT_TRUE(read_file(path("log.txt")) == "log line\n" + file);
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
    EXPECT_EQ(read_file(path("keep.wav")), "keep");
    EXPECT_FALSE(fs::exists(path("new.wav")));
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
        {"", 0, "No such file or directory"},
        {"/dev/full", 0, "No space left on device"},
        {"/dev/fd/9", 0, "Bad file descriptor"},      // not open
        {path("big.wav"), 100000, "File too large"},  // a replacement cut short
        {path("new.wav"), 100000, "File too large"},  // a new file cut short
        {path("link.wav"), 100000, "File too large"}, // a replacement through a link
    };
    std::ofstream(path("big.wav")) << "old big";
    std::ofstream(path("target.wav")) << "old";
    fs::create_symlink("target.wav", path("link.wav"));
    for (const auto& c : cases) {
        run_options options;
        options.file_size_limit = c.file_size_limit;
        const run_result r = run({c.path}, options);
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
}

// Stopped part way, by a signal, the run leaves the old file byte for byte,
// and ends by that signal.
TEST_F(cli, interrupted_run_leaves_the_old_file_and_nothing_else)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::ofstream(path("t.wav")) << "old";
        run_options options;
        options.during = [&](pid_t pid) {
            // Once the temporary file has grown: the run is in the middle.
            for (int tries = 0; tries < 2000; ++tries) {
                for (const auto& name : names_in(dir))
                    if (name != "t.wav" && fs::file_size(dir / name) > 100000)
                        return static_cast<void>(kill(pid, signal));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ADD_FAILURE() << "no temporary file grew";
            kill(pid, SIGKILL);
        };
        const run_result r = run({path("t.wav"), "440", "48695"}, options);
        EXPECT_EQ(r.signal, signal);
        EXPECT_EQ(read_file(path("t.wav")), "old");
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"t.wav"});
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(puretone::printable(c.text), c.shown) << c.shown;
}

}  // namespace
