#include "THostContext.h"

#include <stdexcept>

namespace refhost {

void TTranscript::SetFile(const std::filesystem::path& file) {
    std::lock_guard lock(FLock);
    FFile = std::ofstream(file, std::ios::app);
    if (!FFile)
        throw std::runtime_error("Cannot write the transcript " + file.string());
}

void TTranscript::Write(const std::string& kind, const std::string& text) {
    std::string line = kind + ": " + text;
    {
        std::lock_guard lock(FLock);
        if (FFile) {
            FFile << line << '\n';
            FFile.flush();
        }
        FLines.push_back(line);
    }
    if (OnLine)
        OnLine(line);
}

std::vector<std::string> TTranscript::Lines() const {
    std::lock_guard lock(FLock);
    return FLines;
}

void TTranscript::Clear() {
    std::lock_guard lock(FLock);
    FLines.clear();
}

std::shared_ptr<THostContext> THostContext::Load(const std::filesystem::path& configFile,
                                                 std::string programName, bool headless) {
    auto ctx = std::make_shared<THostContext>();
    ctx->ProgramName = std::move(programName);
    ctx->Headless = headless;
    if (!configFile.empty()) {
        if (!std::filesystem::exists(configFile))
            throw std::runtime_error("Host configuration file not found: " + configFile.string());
        ctx->ConfigFile = std::filesystem::absolute(configFile);
        ctx->Config = TIniFile(ctx->ConfigFile);
        const std::string transcript = ctx->Config.ReadString("Headless", "Transcript");
        if (!transcript.empty())
            ctx->Transcript.SetFile(ctx->ConfigFile.parent_path() / transcript);
    }
    return ctx;
}

} // namespace refhost
