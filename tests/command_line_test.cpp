// The program run as a user runs it, and the reading of its numbers.
#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct run_result {
    int status;  // the exit status, or -1 when a signal ended the run
    std::string out, err;
};

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs the binary with `args`, its standard output read through a pipe.
// A non-zero `file_size_limit` makes writes beyond it fail (RLIMIT_FSIZE).
run_result run(const std::vector<std::string>& args, rlim_t file_size_limit = 0)
{
    const fs::path err_path = fs::temp_directory_path() / ("puretone_err_" + std::to_string(getpid()));
    int out_pipe[2];
    if (pipe(out_pipe) != 0)
        return {-1, "", "pipe failed"};
    const pid_t child = fork();
    if (child == 0) {
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        close(out_pipe[1]);
        std::FILE* err = std::freopen(err_path.c_str(), "w", stderr);
        if (err == nullptr)
            _exit(127);
        if (file_size_limit != 0) {
            const rlimit limit{file_size_limit, file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG
        }
        std::vector<char*> argv{const_cast<char*>(PURETONE_BINARY)};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(PURETONE_BINARY, argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    run_result result{-1, "", ""};
    char chunk[65536];
    for (ssize_t got; (got = read(out_pipe[0], chunk, sizeof chunk)) > 0;)
        result.out.append(chunk, static_cast<std::size_t>(got));
    close(out_pipe[0]);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    if (WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    result.err = read_file(err_path);
    fs::remove(err_path);
    return result;
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

TEST_F(cli, replaces_a_longer_file_and_pipes_the_same_bytes)
{
    std::ofstream(path("t.wav")) << std::string(1000000, 'x');
    ASSERT_EQ(run({path("t.wav"), "1000", "2"}).status, 0);
    const std::string file = read_file(path("t.wav"));
    EXPECT_EQ(file.size(), 176444u);
    const run_result piped = run({"/dev/stdout", "1000", "2"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_TRUE(piped.out == file);
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
        {dir.string(), 0, "Is a directory"},
        {"", 0, "No such file or directory"},
        {"/dev/full", 0, "No space left on device"},
        {path("big.wav"), 100000, "File too large"},  // fails part way: the file is removed
        {path("link.wav"), 100000, "File too large"}, // through a link: the target is emptied
    };
    std::ofstream(path("target.wav")) << "old";
    fs::create_symlink(path("target.wav"), path("link.wav"));
    for (const auto& c : cases) {
        const run_result r = run({c.path}, c.file_size_limit);
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_TRUE(one_error_line(r.err) && r.err.find(c.reason) != std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(path("missing")));
    EXPECT_FALSE(fs::exists(path("big.wav")));
    EXPECT_TRUE(fs::is_symlink(path("link.wav")));
    EXPECT_EQ(fs::file_size(path("target.wav")), 0u);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

}  // namespace
