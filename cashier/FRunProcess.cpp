#include "FRunProcess.h"

#include "clsSysUtils.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace zumvo {

namespace {

// One poll: up to 100 ms waiting for the end of the program, then 10 ms more.
constexpr int PollWaitMs = 100;
constexpr int PollSleepMs = 10;

} // namespace

TOutputLineSplitter::TOutputLineSplitter(std::vector<std::string>& lines) : FLines(lines) {
    FLines.emplace_back();
}

void TOutputLineSplitter::Feed(char c) {
    if (c == '\r') {
        if (!FCurrent.empty())
            FLines.back() = FCurrent;
        FLines.emplace_back();
        FCurrent.clear();
    } else if (c != '\n') {
        FCurrent += c;
    }
}

void TOutputLineSplitter::Feed(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        Feed(data[i]);
}

void TOutputLineSplitter::Finish() {
    FLines.back() += FCurrent;
    FCurrent.clear();
}

TfrmRunProcess::TfrmRunProcess(QWidget* parent) : QDialog(parent) {
    setObjectName("frmRunProcess");
    setWindowTitle("Running...");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                   Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(301, 105);
    FCancel = new QPushButton("Cancel...", this);
    FCancel->setObjectName("btnCancel");
    QFont font = FCancel->font();
    font.setPixelSize(21);
    FCancel->setFont(font);
    FCancel->setGeometry(75, 30, 151, 45);
    connect(FCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

TfrmRunProcess::~TfrmRunProcess() {
    KillProcess();
}

void TfrmRunProcess::KillProcess() {
    if (FProcess) {
        FProcess->kill();
        FProcess = nullptr;
    }
}

void TfrmRunProcess::btnCancelClick() {
    KillProcess();
}

void TfrmRunProcess::closeEvent(QCloseEvent* event) {
    KillProcess();
    event->accept();
}

void TfrmRunProcess::reject() {
    KillProcess();
    QDialog::reject();
}

void TfrmRunProcess::ExecuteCommand() {
    if (parentWidget())
        move(parentWidget()->window()->frameGeometry().center() - rect().center());
    show();
    CommandOutput.clear();
    FProcess = nullptr;
    OutputCapped = !RunProgram(Program, Arguments, &CommandOutput);
    hide();
}

bool TfrmRunProcess::RunProgram(const std::filesystem::path& program,
                                const std::vector<std::string>& arguments, std::vector<std::string>* lines) {
    if (program.empty())
        return true;
    QStringList args;
    for (const auto& argument : arguments)
        args << QString::fromStdString(argument);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProgram(QString::fromStdString(pallux::PathToUtf8(program)));
    process.setArguments(args);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return true;

    FProcess = &process;
    bool ended = false;
    QEventLoop waiting;
    QObject::connect(&process, &QProcess::finished, &waiting, [&] {
        ended = true;
        waiting.quit();
    });
    // Past the limit the program is stopped at once, while Qt is still reading its output in: what
    // it buffers stays within a read or two of the limit.
    bool capped = false;
    std::size_t taken = 0;
    QObject::connect(&process, &QProcess::readyRead, &waiting, [&] {
        if (!capped && taken + static_cast<std::size_t>(process.bytesAvailable()) > OutputLimit) {
            capped = true;
            process.kill();
            waiting.quit();
        }
    });
    QTimer poll;
    poll.setSingleShot(true);
    QObject::connect(&poll, &QTimer::timeout, &waiting, &QEventLoop::quit);

    std::vector<std::string> ignored;
    TOutputLineSplitter splitter(lines ? *lines : ignored);
    std::vector<char> buffer(RunProcessReadSize + 1);
    while (true) {
        // The event loop runs while waiting: the window repaints and Cancel can act.
        if (!ended) {
            poll.start(PollWaitMs + PollSleepMs);
            waiting.exec();
            poll.stop();
        }
        const bool last = ended || capped;
        QCoreApplication::processEvents();
        const std::size_t room = OutputLimit - std::min(OutputLimit, taken);
        const qint64 got =
            process.read(buffer.data(), static_cast<qint64>(std::min(RunProcessReadSize, room)));
        if (got < 0)
            break;
        taken += static_cast<std::size_t>(got);
        buffer[static_cast<std::size_t>(got)] = '\0';
        if (lines)
            splitter.Feed(buffer.data(), static_cast<std::size_t>(got));
        if (last || taken >= OutputLimit)
            break;
    }
    if (lines)
        splitter.Finish();
    FProcess = nullptr;
    if (taken >= OutputLimit && !capped) {
        // At the limit exactly: only more output (or none before the end) tells. More stops the
        // program at once through the readyRead handler.
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(1000);
        capped = process.bytesAvailable() > 0 || process.state() != QProcess::NotRunning;
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
    return !capped;
}

} // namespace zumvo
