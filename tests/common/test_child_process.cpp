// The tests' child processes: arguments reach the program unchanged (blanks, quotes, backslashes,
// letters outside ASCII: the Windows command line is one string the child splits again), output
// read by line or written to a file, exit codes, kills and programs that cannot start.
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace zumvo::test;

namespace {

const std::string Echo = BuiltProgram("zumvo_child_echo");

std::vector<std::string> Lines(TChildProcess& child) {
    std::vector<std::string> lines;
    for (std::string line = child.ReadLine(); !line.empty(); line = child.ReadLine())
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(ChildProcess, ArgumentsArriveAsGiven) {
    const std::vector<std::string> args = {"plain",
                                           "",
                                           "two words",
                                           "quote\"inside",
                                           "\"quoted\"",
                                           "ends in a backslash\\",
                                           "C:\\folder with blanks\\",
                                           "back\\\\slashes \\\"before\\\\\" quotes",
                                           "tab\there",
                                           "--flag=a b",
                                           "\xc3\xa4\xc4\x87 \xe2\x82\xac"};
    std::vector<std::string> expected;
    for (const auto& a : args)
        expected.push_back("[" + a + "]");
    std::vector<std::string> withMode{"echo"};
    withMode.insert(withMode.end(), args.begin(), args.end());
    TChildProcess child(Echo, withMode);
    EXPECT_EQ(Lines(child), expected);
    EXPECT_TRUE(child.Wait().Ok());
}

TEST(ChildProcess, ExitCodesAndBothOutputs) {
    for (int code : {0, 1, 3, 127}) {
        const TProgramRun run = RunProgram(Echo, {"exit", std::to_string(code)});
        EXPECT_TRUE(run.Status.Exited) << run.Status.Text();
        EXPECT_EQ(run.Status.Code, code);
        EXPECT_EQ(run.Status.Ok(), code == 0);
        EXPECT_TRUE(run.Has("to standard output")) << run.Output;
        EXPECT_TRUE(run.Has("to standard error")) << run.Output;
    }
    // Into a file: appended, standard error as well.
    const fs::path file =
        fs::temp_directory_path() /
        ("zumvo_child_output_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".txt");
    fs::remove(file);
    for (int round = 0; round < 2; ++round) {
        TChildOptions options;
        options.OutputFile = file.string();
        TChildProcess child(Echo, {"exit", "4"}, options);
        EXPECT_EQ(child.ReadLine(100), "") << "no pipe when the output goes to a file";
        const TExitStatus status = child.Wait();
        EXPECT_TRUE(status.Exited && status.Code == 4) << status.Text();
    }
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    fs::remove(file);
    std::string all = text.str();
    std::erase(all, '\r');
    EXPECT_EQ(all, "to standard output\nto standard error\nto standard output\nto standard error\n");
}

TEST(ChildProcess, TheEnvironmentGetsTheAdditions) {
    const TProgramRun set =
        RunProgram(Echo, {"env", "ZUMVO_CHILD_TEST"}, 60000, {{"ZUMVO_CHILD_TEST", "a b=c"}});
    EXPECT_EQ(set.Output.substr(0, set.Output.find_first_of("\r\n")), "a b=c");
    const TProgramRun unset = RunProgram(Echo, {"env", "ZUMVO_CHILD_TEST"});
    EXPECT_EQ(unset.Output.substr(0, unset.Output.find_first_of("\r\n")), "(unset)");
    // The test's own variables stay.
    const TProgramRun path = RunProgram(Echo, {"env", "PATH"}, 60000, {{"ZUMVO_CHILD_TEST", "x"}});
    EXPECT_NE(path.Output.substr(0, path.Output.find_first_of("\r\n")), "(unset)");
}

TEST(ChildProcess, WaitKillsAfterItsTimeOutAndKillEndsAtOnce) {
    TChildProcess late(Echo, {"wait"});
    EXPECT_EQ(late.ReadLine(), "ready");
    EXPECT_EQ(late.ReadLine(50), "") << "nothing more comes";
    const TExitStatus waited = late.Wait(50);
    EXPECT_TRUE(waited.Killed) << waited.Text();
    EXPECT_FALSE(waited.Ok());
    EXPECT_EQ(late.ReadLine(), "") << "the output ends with the program";

    TChildProcess killed(Echo, {"wait"});
    EXPECT_EQ(killed.ReadLine(), "ready");
    const TExitStatus status = killed.Kill();
    EXPECT_TRUE(status.Killed) << status.Text();
    EXPECT_EQ(killed.Kill().Killed, true) << "asked again, the same status";

    // An ended program keeps its own status.
    TChildProcess ended(Echo, {"exit", "5"});
    EXPECT_EQ(ended.Wait().Code, 5);
    EXPECT_FALSE(ended.Kill().Killed);
}

TEST(ChildProcess, AProgramThatCannotStartEndsWith127) {
    TChildProcess missing((fs::temp_directory_path() / "zumvo_no_such_program").string(), {"x"});
    EXPECT_EQ(missing.ReadLine(), "");
    const TExitStatus status = missing.Wait();
    EXPECT_TRUE(status.Exited && status.Code == 127) << status.Text();
}

TEST(ChildProcess, AnnouncedPort) {
    EXPECT_EQ(AnnouncedPort("listening on 4711"), 4711);
    EXPECT_EQ(AnnouncedPort("listening on"), 0);
    EXPECT_EQ(AnnouncedPort("error: port in use"), 0);
    EXPECT_EQ(AnnouncedPort(""), 0);
}
