// What the reference host's services share: its configuration, its mode, the transcript of a
// headless run and the answers queued for message boxes.
#pragma once

#include "TIniFile.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace refhost {

// Every message, activity text, receipt and report page of a headless run, one entry per line,
// kept in memory and appended to a file when one is named.
class TTranscript {
public:
    void SetFile(const std::filesystem::path& file);
    void Write(const std::string& kind, const std::string& text);
    std::vector<std::string> Lines() const;
    void Clear();
    // Called with every line written (the scenario runner echoes the transcript to stdout).
    std::function<void(const std::string&)> OnLine;

private:
    mutable std::mutex FLock;
    std::vector<std::string> FLines;
    std::ofstream FFile;
};

struct THostContext {
    std::string ProgramName; // "Invoicing" or "BackOffice"
    std::filesystem::path ConfigFile;
    TIniFile Config;
    bool Headless = true;
    TTranscript Transcript;
    // Answers (button bits) for the next message boxes of a headless run; when none is queued
    // the first button of the message's set is taken.
    std::deque<std::int32_t> MessageAnswers;
    // Headless: each answer given to a message box goes to the transcript too ("ANSWER: No").
    bool TranscribeAnswers = false;

    // Loads the host configuration file.
    static std::shared_ptr<THostContext> Load(const std::filesystem::path& configFile,
                                              std::string programName, bool headless);
};

} // namespace refhost
