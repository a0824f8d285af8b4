// TfrmRunProcess: a small "Running..." window that runs a program, collects its output (standard
// output and standard error together) as lines and keeps the user interface alive while it
// waits; its Cancel button stops the program.
#pragma once

#include <QDialog>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

class QProcess;
class QPushButton;

namespace zumvo {

// Largest read per poll of the program's output, in bytes.
inline constexpr std::size_t RunProcessReadSize = 40000;
// Most output a run collects, in bytes: a program that writes more is stopped (a QR reader answers
// with a line or two; one gone wrong must not fill the till's memory).
inline constexpr std::size_t RunProcessOutputLimit = 1024 * 1024;

// Splits program output into lines: CR ends a line (CR LF is fine), LF alone is ignored, so
// LF-only output stays one long line. Empty lines between two CRs are kept.
class TOutputLineSplitter {
public:
    // Starts a run: one empty line in the list, nothing pending.
    explicit TOutputLineSplitter(std::vector<std::string>& lines);
    void Feed(char c);
    void Feed(const char* data, std::size_t size);
    // Appends what is pending after the last CR to the last line.
    void Finish();

private:
    std::vector<std::string>& FLines;
    std::string FCurrent;
};

class TfrmRunProcess : public QDialog {
public:
    explicit TfrmRunProcess(QWidget* parent = nullptr);
    ~TfrmRunProcess() override;

    // The program to run, by its path, and its arguments, each passed as it is (no command line
    // is put together and split again: a path may hold blanks and quotes).
    std::filesystem::path Program;
    std::vector<std::string> Arguments;
    // The output lines of the last run (UTF-8 as the program wrote them).
    std::vector<std::string> CommandOutput;
    // True when the last run wrote more than OutputLimit bytes and was stopped for it (its lines
    // then hold what came before the limit, at most).
    bool OutputCapped = false;
    std::size_t OutputLimit = RunProcessOutputLimit;

    // Shows the window (not modal), runs Program into CommandOutput and returns when the
    // program has ended or was stopped.
    void ExecuteCommand();
    // Runs the program with the arguments; the output goes into lines when given. A program that
    // cannot be started leaves lines untouched. Answers false when the output passed OutputLimit
    // (the program is then stopped).
    bool RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                    std::vector<std::string>* lines);
    // Stops the running program, if any.
    void KillProcess();

    QPushButton* CancelButton() const { return FCancel; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QPushButton* FCancel = nullptr;
    QProcess* FProcess = nullptr; // the running program; null when idle

    void btnCancelClick();
};

} // namespace zumvo
