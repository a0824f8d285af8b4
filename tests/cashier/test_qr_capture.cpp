// QR capture: the real reader program on QR codes and barcodes made at test time, stand-in
// programs for the odd outputs, the run-process window's line splitting and Cancel, the busy
// button and the logo decoder.
#include "FRunProcess.h"
#include "QRReader.h"
#include "ZumvoQRDetect.h"
#include "clsButtonProgress.h"
#include "clsJpegImage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <ZXing/BitMatrix.h>
#include <ZXing/CharacterSet.h>
#include <ZXing/MultiFormatWriter.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

using namespace zumvo;
namespace fs = std::filesystem;

namespace {

// A scratch folder with a copy of the reader program (which reads its settings file next to
// itself), for images and stand-in programs.
class QRCaptureTest : public ::testing::Test {
protected:
    fs::path Folder =
        fs::temp_directory_path() / ("zumvo_qr_" + std::to_string(getpid()) + "_" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path Reader = Folder / QRReaderProgramName;

    void SetUp() override {
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        fs::copy_file(fs::path(ZUMVO_BIN_DIR) / QRReaderProgramName, Reader);
    }
    void TearDown() override { fs::remove_all(Folder); }

    // A barcode picture of the text (UTF-8), written as PNG.
    fs::path Barcode(const std::string& name, const std::string& text,
                     ZXing::BarcodeFormat format = ZXing::BarcodeFormat::QRCode) {
        ZXing::MultiFormatWriter writer(format);
        writer.setEncoding(ZXing::CharacterSet::UTF8);
        writer.setMargin(10);
        const ZXing::BitMatrix matrix = writer.encode(QString::fromStdString(text).toStdWString(), 300,
                                                      format == ZXing::BarcodeFormat::QRCode ? 300 : 120);
        QImage image(matrix.width(), matrix.height(), QImage::Format_Grayscale8);
        for (int y = 0; y < matrix.height(); ++y)
            for (int x = 0; x < matrix.width(); ++x)
                image.setPixel(x, y, matrix.get(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        const fs::path file = Folder / name;
        EXPECT_TRUE(image.save(QString::fromStdString(file.string())));
        return file;
    }
    void Settings(const std::string& text) { std::ofstream(Folder / "Trelvan_QR_Detect.ini") << text; }
    // A stand-in reader: a shell script with that body.
    fs::path StandIn(const std::string& body) {
        const fs::path file = Folder / "standin.sh";
        std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(file, fs::perms::owner_all);
        return file;
    }
    struct TRead {
        bool Ok;
        std::string Type, Code;
    };
    static TRead Read(const fs::path& program) {
        TRead r{false, "-", "-"};
        r.Ok = pallux::MakeIntf<TZumvoQRDetect>(program)->GetQRCode(r.Type, r.Code);
        return r;
    }
};

TEST_F(QRCaptureTest, RealReaderDecodesWhatTheImageHolds) {
    struct TCase {
        const char* Name;
        std::string Text;
        ZXing::BarcodeFormat Format;
        std::string Type;
    };
    const TCase cases[] = {
        {"plain.png", "ABC123", ZXing::BarcodeFormat::QRCode, "QR"},
        {"colons.png", "AB:12:34", ZXing::BarcodeFormat::QRCode, "QR"},
        {"utf8.png", "Zürich-€5 ½", ZXing::BarcodeFormat::QRCode, "QR"},
        {"code128.png", "CODE128-42", ZXing::BarcodeFormat::Code128, "Code128"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Settings("[Settings]\nImage=" + Barcode(c.Name, c.Text, c.Format).filename().string() + "\n");
        const TRead r = Read(Reader);
        EXPECT_TRUE(r.Ok);
        EXPECT_EQ(r.Type, c.Type);
        EXPECT_EQ(r.Code, c.Text);
    }
}

TEST_F(QRCaptureTest, RealReaderWithoutACode) {
    QImage blank(200, 200, QImage::Format_Grayscale8);
    blank.fill(Qt::white);
    blank.save(QString::fromStdString((Folder / "blank.png").string()));
    std::ofstream(Folder / "notanimage.png") << "text";
    struct TCase {
        std::string Settings;
        std::vector<std::string> Args;
        int ExitCode;
    };
    const TCase cases[] = {
        {"Image=blank.png\n", {}, 1},
        {"Image=missing.png\n", {}, 2},
        {"Image=notanimage.png\n", {}, 2},
        {"", {}, 2},
        {"Folder=empty\n", {}, 2},
        {"", {"--image", (Folder / "blank.png").string()}, 1},
        {"", {"--colour"}, 2},
    };
    fs::create_directories(Folder / "empty");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Settings + (c.Args.empty() ? "" : c.Args[0]));
        Settings(c.Settings);
        if (c.Args.empty()) {
            EXPECT_FALSE(Read(Reader).Ok);
        }
        QProcess p;
        QStringList args;
        for (const auto& a : c.Args)
            args << QString::fromStdString(a);
        p.start(QString::fromStdString(Reader.string()), args);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), c.ExitCode);
        EXPECT_EQ(p.readAll().toStdString(), "READY\r\n"); // READY only, nothing on the shared pipe
    }
}

TEST_F(QRCaptureTest, RealReaderTakesTheNewestImageOfAFolder) {
    fs::create_directories(Folder / "drop");
    const fs::path older = Barcode("drop/first.png", "OLDER");
    const fs::path newer = Barcode("drop/second.png", "NEWER");
    fs::last_write_time(older, fs::file_time_type::clock::now());
    fs::last_write_time(newer, fs::file_time_type::clock::now() - std::chrono::hours(1));
    std::ofstream(Folder / "drop" / "notes.txt") << "not a picture";
    Settings("[Settings]\nFolder=drop\n");
    EXPECT_EQ(Read(Reader).Code, "OLDER"); // the file written last, whatever its name
    const auto source = qrreader::ReadSettings(Folder / "Trelvan_QR_Detect.ini");
    EXPECT_EQ(source.Folder, Folder / "drop");
    EXPECT_TRUE(source.Image.empty());
}

TEST_F(QRCaptureTest, ReaderOutputContract) {
    struct TCase {
        const char* Name;
        std::string Body;
        bool Ok;
        std::string Type, Code;
    };
    const TCase cases[] = {
        {"CR LF", R"(printf 'READY\r\nQR:ABC123\r\n')", true, "QR", "ABC123"},
        {"first colon splits", R"(printf 'READY\r\nQR:AB:12\r\n')", true, "QR", "AB:12"},
        {"CR only, no end", R"(printf 'READY\rQR:X1')", true, "QR", "X1"},
        {"no colon", R"(printf 'READY\r\nABC\r\n')", true, "", "ABC"},
        {"stderr counts too", R"(printf 'READY\r\n'; printf 'QR:ERR\r\n' >&2)", true, "QR", "ERR"},
        {"LF only", R"(printf 'READY\nQR:ABC\n')", false, "-", "-"},
        {"no READY", R"(printf 'QR:ABC\r\n')", false, "-", "-"},
        {"lower case", R"(printf 'ready\r\nQR:ABC\r\n')", false, "-", "-"},
        {"READY alone, no line end", R"(printf 'READY')", false, "-", "-"},
        {"READY and an empty line", R"(printf 'READY\r\n')", false, "-", "-"},
        {"CR CR", R"(printf 'READY\r\r\nQR:X\r\n')", false, "-", "-"},
        {"failing program", "exit 3", false, "-", "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRead r = Read(StandIn(c.Body));
        EXPECT_EQ(r.Ok, c.Ok);
        EXPECT_EQ(r.Type, c.Type);
        EXPECT_EQ(r.Code, c.Code);
    }
    EXPECT_FALSE(Read(Folder / "no_such_reader").Ok);
}

TEST_F(QRCaptureTest, LinesAsTheSplitterCutsThem) {
    struct TCase {
        std::string Output;
        std::vector<std::string> Lines;
    };
    const TCase cases[] = {
        {"READY\r\nQR:A\r\n", {"READY", "QR:A", ""}},
        {"READY\r\rQR:A", {"READY", "", "QR:A"}},
        {"a\nb\n", {"ab"}},
        {"", {""}},
        {"\r", {"", ""}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        TOutputLineSplitter splitter(lines);
        splitter.Feed(c.Output.data(), c.Output.size());
        splitter.Finish();
        EXPECT_EQ(lines, c.Lines) << c.Output;
    }
    // Through a real program: output longer than one read, written while it runs, arrives whole.
    TfrmRunProcess window;
    std::vector<std::string> lines;
    const fs::path big = StandIn("head -c 100000 /dev/zero | tr '\\0' x; printf '\\r'; sleep 1; printf end");
    EXPECT_TRUE(window.RunProgram(big, {}, &lines));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(100000, 'x'));
    EXPECT_EQ(lines[1], "end");
    lines.clear();
    window.RunProgram(Folder / "missing", {}, &lines);
    EXPECT_TRUE(lines.empty());
}

// A reader gone wrong that writes without end is stopped past the limit; the till's memory holds
// no more than the limit of it, and no code is taken from it.
TEST_F(QRCaptureTest, EndlessOutputIsCappedAndTheReaderStopped) {
    const fs::path pidFile = Folder / "pid";
    const fs::path flood = StandIn("echo $$ > '" + pidFile.string() +
                                   "'; printf 'READY\\r\\nQR:X'; exec head -c 200000000 /dev/zero");
    TfrmRunProcess window;
    std::vector<std::string> lines;
    EXPECT_FALSE(window.RunProgram(flood, {}, &lines));
    std::size_t kept = 0;
    for (const auto& line : lines)
        kept += line.size();
    EXPECT_LE(kept, RunProcessOutputLimit);
    int pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_NE(kill(pid, 0), 0) << "the reader is gone";
    EXPECT_FALSE(Read(flood).Ok);

    // Output exactly at the limit is whole.
    window.OutputLimit = 6;
    EXPECT_TRUE(window.RunProgram(StandIn("printf 'READY\\r'"), {}, &lines));
    EXPECT_FALSE(window.RunProgram(StandIn("printf 'READY\\r\\n'"), {}, &lines));
}

// The reader is started by its path with its arguments as they are: a folder with blanks and a
// double quote in its name still names one program, and an argument is never split.
TEST_F(QRCaptureTest, ReaderPathAndArgumentsAreNotSplit) {
    const fs::path odd = Folder / "Till \"A\" 'x' folder";
    fs::create_directories(odd);
    const fs::path reader = odd / "reader.sh";
    std::ofstream(reader) << "#!/bin/sh\nprintf 'READY\\r\\nQR:%s|%s\\r\\n' \"$#\" \"$1\"\n";
    fs::permissions(reader, fs::perms::owner_all);
    const TRead r = Read(reader);
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Code, "0|");
    TfrmRunProcess window;
    std::vector<std::string> lines;
    EXPECT_TRUE(window.RunProgram(reader, {"a \"b\" c"}, &lines));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "QR:1|a \"b\" c");
}

TEST_F(QRCaptureTest, CancelStopsTheReader) {
    const fs::path pidFile = Folder / "pid";
    const fs::path reader =
        StandIn("echo $$ > '" + pidFile.string() + "'; printf 'READY\\r\\n'; exec sleep 60");
    QTimer poll;
    int clicks = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "frmRunProcess" && w->isVisible() && fs::exists(pidFile) &&
                fs::file_size(pidFile) > 0) {
                EXPECT_EQ(w->windowTitle(), "Getting Zumvo QR Code");
                QTest::mouseClick(w->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
                ++clicks;
                poll.stop();
            }
    });
    poll.start(50);
    const TRead r = Read(reader);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(r.Ok); // READY and nothing else
    int pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_NE(kill(pid, 0), 0); // the reader is gone
}

// Calls a function at each event of one type a widget receives.
class TEventRecorder : public QObject {
public:
    TEventRecorder(QWidget& widget, QEvent::Type type, std::function<void()> onEvent)
        : FType(type), FOnEvent(std::move(onEvent)) {
        widget.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == FType)
            FOnEvent();
        return false;
    }

private:
    QEvent::Type FType;
    std::function<void()> FOnEvent;
};

TEST(ButtonProgressTest, BusyWhileHeldAndBackWhenReleased) {
    QPushButton button("Redeem");
    button.resize(120, 48);
    button.show();
    QApplication::processEvents();
    QStringList painted; // the caption at each paint
    TEventRecorder recorder(button, QEvent::Paint, [&] { painted << button.text(); });
    {
        auto progress = ShowButtonProgress(&button, "Connecting...");
        EXPECT_EQ(button.text(), "Connecting...");
        // Shown before the caller's work, with no event loop between.
        EXPECT_FALSE(painted.isEmpty());
        EXPECT_EQ(painted.filter("Connecting...").size(), painted.size());
        EXPECT_FALSE(button.isEnabled());
        auto* bar = button.findChild<QProgressBar*>();
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->geometry(), QRect(0, 43, 120, 5));
        progress->SetPosition(140);
        EXPECT_EQ(bar->value(), 100);
    }
    EXPECT_EQ(button.text(), "Redeem");
    EXPECT_TRUE(button.isEnabled());
    EXPECT_EQ(button.findChild<QProgressBar*>(), nullptr);

    EXPECT_TRUE(ShowButtonProgress(nullptr, "")); // no button: nothing to decorate
    auto orphan = std::make_unique<QPushButton>("Scan");
    auto progress = ShowButtonProgress(orphan.get(), "");
    EXPECT_EQ(orphan->text(), "Working...");
    orphan.reset(); // the button goes first; releasing the progress later is safe
    progress.reset();
}

TEST(JpegTest, LogoAndBadData) {
    const QImage logo = DecodeJpeg(ZumvoLogoJpeg());
    EXPECT_EQ(logo.size(), QSize(223, 96));
    const unsigned char notJpeg[] = {'P', 'N', 'G', 0, 1, 2};
    EXPECT_THROW(DecodeJpeg(notJpeg), std::runtime_error);
    EXPECT_THROW(DecodeJpeg({}), std::runtime_error);
}

} // namespace
