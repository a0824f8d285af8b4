#include "FRunProcess.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

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
    RunCommand(CommandToRun, &CommandOutput);
    hide();
}

void TfrmRunProcess::RunCommand(const std::string& commandLine, std::vector<std::string>* lines) {
    const QStringList words = QProcess::splitCommand(QString::fromStdString(commandLine));
    if (words.isEmpty())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(words.first(), words.mid(1), QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return;

    FProcess = &process;
    bool ended = false;
    QEventLoop waiting;
    QObject::connect(&process, &QProcess::finished, &waiting, [&] {
        ended = true;
        waiting.quit();
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
        const bool last = ended;
        QCoreApplication::processEvents();
        const qint64 got = process.read(buffer.data(), static_cast<qint64>(RunProcessReadSize));
        if (got < 0)
            break;
        buffer[static_cast<std::size_t>(got)] = '\0';
        if (lines)
            splitter.Feed(buffer.data(), static_cast<std::size_t>(got));
        if (last)
            break;
    }
    if (lines)
        splitter.Finish();
    FProcess = nullptr;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
}

} // namespace zumvo
