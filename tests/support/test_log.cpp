#include "ZumvoLog.h"
#include "clsRotatingArchiveSink.h"

#include <gtest/gtest.h>
#include <zlib.h>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace zumvo;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Gunzip(const fs::path& p) {
#ifdef _WIN32
    gzFile f = gzopen_w(p.c_str(), "rb");
#else
    gzFile f = gzopen(p.c_str(), "rb");
#endif
    if (!f)
        return "<cannot open " + p.string() + ">";
    std::string out;
    char buf[65536];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0) << "gzread failed on " << p;
    EXPECT_EQ(gzclose(f), Z_OK);
    return out;
}

// True when text has the shape of pattern: '#' stands for one digit, '*' for one or more digits,
// '~' for a sign (+ or -), every other character for itself.
bool HasShape(std::string_view text, std::string_view pattern) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    for (const char p : pattern) {
        if (p == '*') {
            const std::size_t start = i;
            while (i < text.size() && digit(text[i]))
                ++i;
            if (i == start)
                return false;
            continue;
        }
        if (i == text.size())
            return false;
        const char c = text[i++];
        if (p == '#' ? !digit(c) : p == '~' ? c != '+' && c != '-' : c != p)
            return false;
    }
    return i == text.size();
}

// Lines without their CR LF; fails the test on a bare LF or an unterminated last line.
std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n')
            continue;
        EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at offset " << i;
        lines.push_back(text.substr(start, i - start - 1));
        start = i + 1;
    }
    EXPECT_EQ(start, text.size()) << "last line is not terminated";
    return lines;
}

bool IsHeader(const std::string& line) {
    return line.rfind("==== Log opened ", 0) == 0;
}

std::vector<fs::path> GzFiles(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(folder, ec))
        if (e.path().extension() == ".gz")
            found.push_back(e.path());
    return found;
}

void Age(const fs::path& p, std::chrono::hours by) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - by);
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Dir = fs::temp_directory_path() /
              ("zumvo_log_" + std::to_string(getpid()) + "_" + info->test_suite_name() + "_" + info->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        Settings.DestinationPath = Dir;
        Settings.ComputerName = "TILL07";
    }
    void TearDown() override {
        ShutdownLog();
        fs::remove_all(Dir);
    }
    fs::path File() const { return Dir / "ZumvoPayment_TILL07.log"; }
    fs::path Rotated(int i) const { return Dir / ("ZumvoPayment_TILL07.log." + std::to_string(i)); }

    // Every line written so far, oldest first: rotated files from the highest number down,
    // then the current file.
    std::vector<std::string> AllLines(int maxRotated) const {
        std::vector<std::string> all;
        for (int i = maxRotated; i >= 1; --i)
            if (fs::exists(Rotated(i)))
                for (auto& l : CrLfLines(ReadAll(Rotated(i))))
                    all.push_back(l);
        for (auto& l : CrLfLines(ReadAll(File())))
            all.push_back(l);
        return all;
    }

    fs::path Dir;
    TLogSettings Settings;
};

TEST_F(LogTest, LinesHaveTimeStampTagTextAndCrLf) {
    ConfigureLog(Settings);
    LogInfo("[TTest.Run] value % of {} %", 42, "x");
    LogInfo("[TTest.Run] two\nlines");
    LogError("TVoucherZumvo.DoVoucher", "boom");
    ShutdownLog();

    auto lines = CrLfLines(ReadAll(File()));
    ASSERT_EQ(lines.size(), 4u) << "a new file has no header";
    const std::string stamp = "####-##-## ##:##:##.### ";
    EXPECT_TRUE(HasShape(lines[0], stamp + "INFO      [TTest.Run] value 42 of {} x")) << lines[0];
    EXPECT_TRUE(HasShape(lines[1], stamp + "INFO      [TTest.Run] two")) << lines[1];
    EXPECT_EQ(lines[2], "lines");
    EXPECT_TRUE(HasShape(lines[3], stamp + "EXCEPTION [TVoucherZumvo.DoVoucher] Error : boom")) << lines[3];
}

TEST_F(LogTest, ReopeningAppendsAfterHeaderAndKeepsOldLines) {
    ConfigureLog(Settings);
    LogInfo("first run");
    ShutdownLog();
    ConfigureLog(Settings);
    LogInfo("second run");
    ShutdownLog();

    auto lines = CrLfLines(ReadAll(File()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with(" first run")) << "a new file starts with its first line";
    EXPECT_TRUE(HasShape(lines[1], "==== Log opened ####-##-##T##:##:##.###~#### (pid *, TILL07) ===="))
        << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" second run"));

    // Without a header the file is still appended to, never truncated.
    Settings.AppendWithHeader = false;
    ConfigureLog(Settings);
    LogInfo("third run");
    ShutdownLog();
    lines = CrLfLines(ReadAll(File()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[3].ends_with(" third run"));
}

TEST_F(LogTest, FileNameCarriesComputerName) {
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), File());
    EXPECT_TRUE(fs::exists(File()));
    ShutdownLog();

    Settings.ComputerName.clear();
#ifdef _WIN32
    wchar_t wide[256] = {};
    DWORD length = 255;
    ASSERT_TRUE(GetComputerNameW(wide, &length));
    EXPECT_EQ(LogFileName(Settings), Dir / (L"ZumvoPayment_" + std::wstring(wide, length) + L".log"));
#else
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(LogFileName(Settings), Dir / (std::string("ZumvoPayment_") + host + ".log"));
#endif

    Settings.ComputerName = "../x/y";
    EXPECT_EQ(LogFileName(Settings), Dir / "ZumvoPayment_.._x_y.log");

    Settings.IncludeComputerNameInFileName = false;
    EXPECT_EQ(LogFileName(Settings), Dir / "ZumvoPayment.log");

    // A missing folder is created.
    Settings.DestinationPath = Dir / "sub" / "dir";
    ConfigureLog(Settings);
    LogInfo("in a new folder");
    EXPECT_EQ(CurrentLogFile(), Dir / "sub" / "dir" / "ZumvoPayment.log");
    ShutdownLog();
    EXPECT_NE(ReadAll(Dir / "sub" / "dir" / "ZumvoPayment.log").find("in a new folder"), std::string::npos);
}

TEST_F(LogTest, RotatesAt2048KBKeepingTenFilesAndEveryRecentLine) {
    ConfigureLog(Settings); // 2048 KB, 10 rotated files
    const std::string filler(8000, 'z');
    const int total = 3300; // about 26 MB: more than 12 files of 2 MB
    for (int i = 0; i < total; ++i)
        LogInfo("#% %", i, filler);
    ShutdownLog();

    const std::uint64_t limit = 2048 * 1024;
    for (int i = 1; i <= 10; ++i) {
        ASSERT_TRUE(fs::exists(Rotated(i))) << i;
        // Full files: rotated only when the next line would not have fitted.
        EXPECT_LE(fs::file_size(Rotated(i)), limit);
        EXPECT_GT(fs::file_size(Rotated(i)), limit - 8100);
    }
    EXPECT_FALSE(fs::exists(Rotated(11)));
    EXPECT_LE(fs::file_size(File()), limit);

    // The kept lines are the most recent ones, complete and without a gap.
    auto lines = AllLines(12);
    ASSERT_FALSE(lines.empty());
    int expected = -1;
    for (const auto& line : lines) {
        if (IsHeader(line))
            continue;
        auto hash = line.find(" INFO      #");
        ASSERT_EQ(hash, 23u) << line.substr(0, 60);
        int n = std::stoi(line.substr(hash + 12));
        if (expected >= 0) {
            ASSERT_EQ(n, expected);
        }
        ASSERT_TRUE(line.ends_with(" " + filler)) << "line " << n << " is cut";
        expected = n + 1;
    }
    EXPECT_EQ(expected, total);
    EXPECT_GT(total - static_cast<int>(lines.size()), 0) << "the oldest file was deleted";
}

TEST_F(LogTest, RotationDropsSurplusFilesAndNeverSplitsALine) {
    Settings.RotateFileSizeKB = 1;
    Settings.RotateFileCount = 3;
    // Left over from a configuration that kept more files.
    for (int i : {1, 2, 3, 4, 7}) {
        std::ofstream(Rotated(i), std::ios::binary) << "old " << i << "\r\n";
    }
    ConfigureLog(Settings);
    LogInfo("%", std::string(3000, 'L')); // longer than a whole file
    LogInfo("after the long line");
    ShutdownLog();

    EXPECT_FALSE(fs::exists(Rotated(4)));
    EXPECT_FALSE(fs::exists(Rotated(7)));
    // The new file took the long line alone, then rotated once for the short one: the old
    // files moved up by one and the oldest kept one fell off.
    EXPECT_EQ(ReadAll(Rotated(3)), "old 2\r\n");
    EXPECT_EQ(ReadAll(Rotated(2)), "old 1\r\n");
    auto longLine = CrLfLines(ReadAll(Rotated(1)));
    ASSERT_EQ(longLine.size(), 1u);
    EXPECT_TRUE(longLine[0].ends_with(" " + std::string(3000, 'L')));
    auto current = CrLfLines(ReadAll(File()));
    ASSERT_EQ(current.size(), 1u);
    EXPECT_TRUE(current[0].ends_with(" after the long line"));
}

TEST_F(LogTest, OldRotatedFilesAreArchivedAtOpenAndAtRotation) {
    Settings.RotateFileSizeKB = 1;
    ConfigureLog(Settings);
    for (int i = 0; i < 40; ++i)
        LogInfo("line % %", i, std::string(100, 'a' + i % 26));
    ShutdownLog();
    ASSERT_TRUE(fs::exists(Rotated(3)));
    const fs::path archive = Dir / "archive";

    // Trigger at open: .2 and .3 are three days old, .1 is fresh.
    std::map<std::string, fs::path> oldContent;
    for (int i : {2, 3}) {
        oldContent[ReadAll(Rotated(i))] = Rotated(i);
        Age(Rotated(i), std::chrono::hours(72));
    }
    Age(Rotated(1), std::chrono::hours(47));
    const std::string fresh = ReadAll(Rotated(1));
    ConfigureLog(Settings);
    EXPECT_FALSE(fs::exists(Rotated(2)));
    EXPECT_FALSE(fs::exists(Rotated(3)));
    EXPECT_EQ(ReadAll(Rotated(1)), fresh);
    auto gz = GzFiles(archive);
    ASSERT_EQ(gz.size(), 2u);
    for (const auto& g : gz) {
        EXPECT_TRUE(g.filename().string().starts_with("ZumvoPayment_TILL07_")) << g;
        EXPECT_EQ(oldContent.erase(Gunzip(g)), 1u) << g << " does not hold a rotated file";
    }

    // Trigger at rotation: .1 has grown old in the meantime.
    Age(Rotated(1), std::chrono::hours(72));
    for (int i = 0; i < 20; ++i)
        LogInfo("more %", std::string(100, 'm'));
    FlushLog();
    gz = GzFiles(archive);
    ASSERT_EQ(gz.size(), 3u);
    int matches = 0;
    for (const auto& g : gz)
        matches += Gunzip(g) == fresh;
    EXPECT_EQ(matches, 1);
    EXPECT_NE(ReadAll(Rotated(1)), fresh);
}

TEST_F(LogTest, RotatedFileStaysWhenArchivingFails) {
    Settings.RotateFileSizeKB = 1;
    ConfigureLog(Settings);
    for (int i = 0; i < 15; ++i)
        LogInfo("line % %", i, std::string(100, 'b'));
    ShutdownLog();
    ASSERT_TRUE(fs::exists(Rotated(1)));
    const std::string content = ReadAll(Rotated(1));
    Age(Rotated(1), std::chrono::hours(100));
    std::ofstream(Dir / "archive") << "a file where the archive folder belongs";

    ConfigureLog(Settings);
    LogInfo("still logging");
    ShutdownLog();
    EXPECT_EQ(ReadAll(Rotated(1)), content);
    EXPECT_NE(ReadAll(File()).find("still logging"), std::string::npos);

    // Turned off: nothing is archived however old.
    fs::remove(Dir / "archive");
    Settings.ArchiveAfterDays = 0;
    ConfigureLog(Settings);
    ShutdownLog();
    EXPECT_TRUE(fs::exists(Rotated(1)));
    EXPECT_FALSE(fs::exists(Dir / "archive"));
}

TEST(LogTextTest, PlaceholdersAndValues) {
    EXPECT_EQ(FillPlaceholders("[A.B] % and % end", {"1", "two"}), "[A.B] 1 and two end");
    EXPECT_EQ(FillPlaceholders("% % %", {"x"}), "x % %");
    EXPECT_EQ(FillPlaceholders("only %", {"a", "b", "c"}), "only a");
    EXPECT_EQ(FillPlaceholders("% then %", {"50%", "b"}), "50% then b");
    EXPECT_EQ(FillPlaceholders("", {"a"}), "");

    EXPECT_EQ(detail::ToLogText(-5), "-5");
    EXPECT_EQ(detail::ToLogText(static_cast<unsigned char>(200)), "200");
    EXPECT_EQ(detail::ToLogText(UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(detail::ToLogText(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(detail::ToLogText(0.1), "0.1");
    EXPECT_EQ(detail::ToLogText(12.5), "12.5");
    EXPECT_EQ(detail::ToLogText(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(detail::ToLogText(true), "True");
    EXPECT_EQ(detail::ToLogText(false), "False");
    EXPECT_EQ(detail::ToLogText(static_cast<const char*>(nullptr)), "");
}

TEST_F(LogTest, GuardedLogsAndSwallowsExceptions) {
    ConfigureLog(Settings);
    int reached = 0;
    EXPECT_TRUE(Guarded("TClass.Fine", [&] { ++reached; }));
    EXPECT_FALSE(Guarded("TClass.Method", [&] {
        ++reached;
        throw std::runtime_error("something broke");
    }));
    EXPECT_FALSE(Guarded("TZumvoInfo.Create", [] { Require(false, "Could not create DBScript"); }));
    EXPECT_FALSE(Guarded("TClass.Odd", [] { throw 42; }));
    EXPECT_EQ(reached, 2);
    ShutdownLog();

    auto lines = CrLfLines(ReadAll(File()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with(" EXCEPTION [TClass.Method] Error : something broke")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" EXCEPTION [TZumvoInfo.Create] Error : Could not create DBScript"))
        << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" EXCEPTION [TClass.Odd] Error : unknown error")) << lines[2];
}

TEST_F(LogTest, NothingIsWrittenWhileNotConfigured) {
    LogInfo("before configure %", 1);
    ConfigureLog(Settings);
    LogInfo("configured");
    ShutdownLog();
    const std::string before = ReadAll(File());
    EXPECT_EQ(before.find("before configure"), std::string::npos);

    EXPECT_EQ(CurrentLogFile(), fs::path());
    LogInfo("after shutdown %", 2);
    LogError("TA.B", "after shutdown");
    FlushLog();
    EXPECT_FALSE(Guarded("TA.B", [] { throw std::runtime_error("x"); }));
    ShutdownLog();
    EXPECT_EQ(ReadAll(File()), before);

    // As after the library is unloaded and loaded again.
    ConfigureLog(Settings);
    LogInfo("reloaded");
    FlushLog();
    EXPECT_NE(ReadAll(File()).find("reloaded"), std::string::npos);
}

TEST_F(LogTest, UnopenableFileLeavesLogUnconfigured) {
    std::ofstream(Dir / "blocker") << "x";
    Settings.DestinationPath = Dir / "blocker"; // a file, not a folder
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), fs::path());
    LogInfo("dropped");
    EXPECT_TRUE(Guarded("TA.B", [] {}));

    // With a second choice the log goes there, and its first line says why.
    const fs::path fallback = Dir / "user" / "state";
    Settings.FallbackFolders = {{fallback, TLogFolderKind::Own}};
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), fallback / "ZumvoPayment_TILL07.log");
    LogInfo("[TA.B] kept");
    ShutdownLog();
    const auto lines = CrLfLines(ReadAll(fallback / "ZumvoPayment_TILL07.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("[ZumvoLog] The log cannot be written in " + (Dir / "blocker").string() + " ("),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("[TA.B] kept"), std::string::npos);

    // A usable destination needs no second choice.
    Settings.DestinationPath = Dir;
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), File());
}

TEST_F(LogTest, ConcurrentWritersLoseNothing) {
    Settings.RotateFileSizeKB = 64;
    Settings.RotateFileCount = 30;
    ConfigureLog(Settings);
    const int threads = 4, perThread = 2500;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                LogInfo("[TThread.Run] t% i% end", t, i);
        });
    for (auto& th : pool)
        th.join();
    ShutdownLog();
    ASSERT_TRUE(fs::exists(Rotated(5)));
    EXPECT_FALSE(fs::exists(Rotated(30)));

    std::vector<int> next(threads, 0);
    int seen = 0;
    for (const auto& line : AllLines(30)) {
        if (IsHeader(line))
            continue;
        const std::size_t tag = line.find("INFO      [TThread.Run] t");
        ASSERT_NE(tag, std::string::npos) << line;
        const std::string_view rest = std::string_view(line).substr(tag + 25);
        ASSERT_TRUE(HasShape(rest, "# i* end")) << line;
        const int t = rest[0] - '0', i = std::stoi(std::string(rest.substr(3)));
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
        ++seen;
    }
    EXPECT_EQ(seen, threads * perThread);
}

} // namespace

TEST_F(LogTest, ArgumentsAreWrittenAsTheyAreAndMaskedRangesReplaced) {
    ConfigureLog(Settings);
    const std::string request = "<id>u</id><password>s3cret</password>";
    struct TCase {
        TLogMasked Masked;
        const char* Expected;
    };
    const TCase cases[] = {
        {{request, 20, 6, "***"}, "<id>u</id><password>***</password>"},
        {{request, 0, 0, "***"}, "<id>u</id><password>s3cret</password>"},   // nothing to mask
        {{request, 30, 100, "***"}, "<id>u</id><password>s3cret</pa***"},    // range past the end
        {{request, 500, 3, "***"}, "<id>u</id><password>s3cret</password>"}, // range outside
    };
    for (const auto& c : cases)
        LogInfo("[T.M] % | % % %", c.Masked, -7, std::uint64_t{18446744073709551615u}, 2.5);
    LogInfo("[T.M] %% and %", "50%", "x"); // a % inside an argument is not a placeholder
    LogInfo("[T.M] more % than % args", true);
    ShutdownLog();

    const auto lines = CrLfLines(ReadAll(File()));
    ASSERT_EQ(lines.size(), std::size(cases) + 2);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_TRUE(
            lines[i].ends_with(std::string("[T.M] ") + cases[i].Expected + " | -7 18446744073709551615 2.5"))
            << lines[i];
    EXPECT_TRUE(lines[4].ends_with("[T.M] 50%x and %")) << lines[4];
    EXPECT_TRUE(lines[5].ends_with("[T.M] more True than % args")) << lines[5];
}

TEST_F(LogTest, SecretsAreMaskedInEveryLineUntilTheLogCloses) {
    ConfigureLog(Settings);
    MaskInLog("abc"); // too short: masking it would blank ordinary words
    MaskInLog("hunter22");
    MaskInLog("hunter22&x"); // a longer form is masked whole, not left with "&x"
    LogInfo("[T.M] % abc %", "hunter22&x", "hunter22hunter22");
    LogError("T.M", "hunter22");
    EXPECT_EQ(MaskedAsInLog("pw hunter22."), "pw ********.");
    for (int i = 0; i < 60; ++i) // many settings edits later, the latest is still masked
        MaskInLog("password-" + std::to_string(i));
    EXPECT_EQ(MaskedAsInLog("password-59 hunter22"), "******** hunter22");
    ShutdownLog();
    ConfigureLog(Settings); // a closed log forgets them
    LogInfo("[T.M] hunter22");
    ShutdownLog();

    std::vector<std::string> lines;
    for (const auto& line : CrLfLines(ReadAll(File())))
        if (!IsHeader(line))
            lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with("[T.M] ******** abc ****************")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("[T.M] Error : ********")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("[T.M] hunter22")) << lines[2];
}

TEST_F(LogTest, JsonEscapedSecretsAreMaskedAndJsonTextsStayJson) {
    ConfigureLog(Settings);
    const std::string password = R"(se"cr\et)"; // as a JSON string carries it: se\"cr\\et
    MaskInLog(password);
    LogInfo("[T.M] data % | %", R"({"pwd":"se\"cr\\et"})", R"("{\"pwd\":\"se\\\"cr\\\\et\"}")");
    ShutdownLog();
    const auto lines = CrLfLines(ReadAll(File()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(R"([T.M] data {"pwd":"********"} | "{\"pwd\":\"********\"}")"))
        << lines[0];

    ConfigureLog(Settings);
    MaskInLog("7041-pw");
    // Inside strings only: a number is the answer's own, and the text stays one JSON text.
    EXPECT_EQ(MaskedJsonText(R"({"a":"x7041-pwy","b":[7041,"7041-pw"],"7041-pw":1.10})"),
              R"({"a":"x********y","b":[7041,"********"],"********":1.10})");
    EXPECT_EQ(MaskedJsonText(R"({"a":1.10, "b" : "free"})"), R"({"a":1.10, "b" : "free"})")
        << "a text without the secret is kept as it was written";
    EXPECT_EQ(MaskedJsonText("not json 7041-pw"), "not json ********");
    EXPECT_EQ(MaskedJsonText(R"({"n":"{\"p\":\"7041-pw\",\"q\":\"a\\\\b\"}"})"),
              R"({"n":"{\"p\":\"********\",\"q\":\"a\\\\b\"}"})")
        << "escapes in a string are written back";
    MaskInLog("123456");
    EXPECT_EQ(MaskedJsonText(R"({"n":123456,"s":"123456"})"), R"({"n":123456,"s":"********"})");
    EXPECT_EQ(JsonEscaped("a\"b\\c\n"), R"(a\"b\\c\n)");
}

#ifndef _WIN32

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

// A folder in the temporary folder may have been made by another user first: it is taken only
// when it is the user's own, not a link and open to nobody else; the log then goes on to the next
// place, and the refused folder gets nothing.
TEST_F(LogTest, TemporaryFolderIsTakenOnlyWhenPrivateToTheUser) {
    std::ofstream(Dir / "blocker") << "x";
    Settings.DestinationPath = Dir / "blocker";
    const fs::path temp = Dir / "zumvo-tmp";
    const fs::path last = Dir / "last";
    Settings.FallbackFolders = {{temp, TLogFolderKind::Temporary}, {last, TLogFolderKind::Shared}};
    const fs::path tempLog = temp / "ZumvoPayment_TILL07.log";

    // Made by the module: 0700, and the log in it 0640 at most.
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), tempLog);
    EXPECT_EQ(ModeOf(temp), 0700u);
    EXPECT_EQ(ModeOf(tempLog) & 0137, 0u) << std::oct << ModeOf(tempLog);
    ShutdownLog();
    fs::remove_all(temp);

    // Open to other users.
    ASSERT_EQ(::mkdir(temp.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(temp.c_str(), 0777), 0);
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), last / "ZumvoPayment_TILL07.log");
    EXPECT_FALSE(fs::exists(tempLog));
    EXPECT_EQ(ModeOf(temp), 0777u) << "another user's arrangement is not changed, only refused";
    ShutdownLog();
    fs::remove_all(temp);

    // A link to a folder (of the user's, even private).
    fs::create_directories(Dir / "elsewhere");
    ::chmod((Dir / "elsewhere").c_str(), 0700);
    fs::create_directory_symlink(Dir / "elsewhere", temp);
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), last / "ZumvoPayment_TILL07.log");
    EXPECT_TRUE(fs::is_empty(Dir / "elsewhere"));
    ShutdownLog();
    fs::remove(temp);

    // Another user's folder (making one needs the administrator's rights).
    if (::geteuid() == 0) {
        ASSERT_EQ(::mkdir(temp.c_str(), 0700), 0);
        ASSERT_EQ(::chown(temp.c_str(), 65534, 65534), 0);
        ConfigureLog(Settings);
        EXPECT_EQ(CurrentLogFile(), last / "ZumvoPayment_TILL07.log");
        EXPECT_FALSE(fs::exists(tempLog));
        ShutdownLog();
        const std::string lines = ReadAll(last / "ZumvoPayment_TILL07.log");
        EXPECT_NE(lines.find("belongs to user id 65534"), std::string::npos) << lines;
    }
}

// The user's own folder made 0755 by an earlier version is narrowed; a folder and a log file of
// the user's stop being readable by others.
TEST_F(LogTest, OwnFolderAndOldLogAreNarrowed) {
    const fs::path own = Dir / "state" / "zumvo";
    fs::create_directories(own);
    ::chmod(own.c_str(), 0755);
    const fs::path log = own / "ZumvoPayment_TILL07.log";
    std::ofstream(log) << "old line\r\n";
    ::chmod(log.c_str(), 0644);
    Settings.DestinationPath = Dir / "none" / "blocker";
    std::ofstream(Dir / "none") << "x"; // a file: the destination cannot be made
    Settings.FallbackFolders = {{own, TLogFolderKind::Own}};
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), log);
    EXPECT_EQ(ModeOf(own), 0700u);
    EXPECT_EQ(ModeOf(log), 0640u);
    LogInfo("[T.M] new");
    ShutdownLog();
    EXPECT_NE(ReadAll(log).find("old line"), std::string::npos);
}

// A link at the log's name is never followed: the file it points to (another file of the
// user's) is not written, and the log goes to the next place.
TEST_F(LogTest, LinkAtTheLogsNameIsNotFollowed) {
    const fs::path victim = Dir / "victim.txt";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, File());
    const fs::path last = Dir / "last";
    Settings.FallbackFolders = {{last, TLogFolderKind::Shared}};
    ConfigureLog(Settings);
    EXPECT_EQ(CurrentLogFile(), last / "ZumvoPayment_TILL07.log");
    LogInfo("[T.M] line");
    ShutdownLog();
    EXPECT_EQ(ReadAll(victim), "precious");

    // Nor at an archive's name: rotated files are archived without writing through a link.
    Settings = TLogSettings{};
    Settings.DestinationPath = Dir / "rot";
    Settings.ComputerName = "TILL07";
    Settings.RotateFileSizeKB = 1;
    ConfigureLog(Settings);
    for (int i = 0; i < 15; ++i)
        LogInfo("line % %", i, std::string(100, 'b'));
    ShutdownLog();
    const fs::path rotated = Dir / "rot" / "ZumvoPayment_TILL07.log.1";
    ASSERT_TRUE(fs::exists(rotated));
    Age(rotated, std::chrono::hours(72));
    fs::create_directories(Dir / "rot" / "archive");
    // The archive's partial file is a dangling link: writing through it would make the file it
    // names, wherever that is.
    const auto written = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(fs::last_write_time(rotated))));
    std::tm tm{};
    localtime_r(&written, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const fs::path planted = Dir / "planted";
    fs::create_symlink(planted, Dir / "rot" / "archive" /
                                    ("ZumvoPayment_TILL07_" + std::string(stamp) + ".log.gz.part"));
    ConfigureLog(Settings);
    ShutdownLog();
    EXPECT_FALSE(fs::exists(planted));
    EXPECT_TRUE(fs::exists(rotated)) << "a rotated file whose archive could not be written stays";
    // Archives that are written take the log's mode (the link was removed, not followed: the
    // first file is archived now too).
    ASSERT_TRUE(fs::exists(Dir / "rot" / "ZumvoPayment_TILL07.log.2"));
    Age(Dir / "rot" / "ZumvoPayment_TILL07.log.2", std::chrono::hours(100));
    ConfigureLog(Settings);
    ShutdownLog();
    ASSERT_EQ(GzFiles(Dir / "rot" / "archive").size(), 2u);
    for (const auto& g : GzFiles(Dir / "rot" / "archive"))
        EXPECT_EQ(ModeOf(g) & 0137, 0u) << g << " " << std::oct << ModeOf(g);
    EXPECT_EQ(ReadAll(victim), "precious");
}

// An installed module's folder belongs to the system: a log in the user's place is said plainly
// on stderr, without failure wording; the reason is the log's own first line.
TEST_F(LogTest, FallbackIsAnnouncedWithoutFailureWording) {
    std::ofstream(Dir / "blocker") << "x";
    Settings.DestinationPath = Dir / "blocker";
    const fs::path own = Dir / "own";
    Settings.FallbackFolders = {{own, TLogFolderKind::Own}};
    ::testing::internal::CaptureStderr();
    ConfigureLog(Settings);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "Zumvo Payment: the log is " + (own / "ZumvoPayment_TILL07.log").string() + "\n");
    ShutdownLog();

    // A refused fallback folder is worth saying.
    const fs::path temp = Dir / "tmp-open";
    ASSERT_EQ(::mkdir(temp.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(temp.c_str(), 0777), 0);
    Settings.FallbackFolders = {{temp, TLogFolderKind::Temporary}, {own, TLogFolderKind::Own}};
    ::testing::internal::CaptureStderr();
    ConfigureLog(Settings);
    const std::string warned = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warned.find("refused the folder " + temp.string() + ": other users may use it (mode 0777)"),
              std::string::npos)
        << warned;
}

#endif
