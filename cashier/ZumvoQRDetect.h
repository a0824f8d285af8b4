// TZumvoQRDetect: runs the QR reader program in a "Getting Zumvo QR Code" window and reads the
// code from its output: first line "READY", second line "<type>:<code>".
#pragma once

#include "clsInterfacedObject.h"
#include "intfZumvoQRDetect.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zumvo {

// The reader program's file name (on Windows it ends in ".exe").
#ifdef _WIN32
inline constexpr const char* QRReaderProgramName = "Trelvan_QR_Detect.exe";
#else
inline constexpr const char* QRReaderProgramName = "Trelvan_QR_Detect";
#endif

// The reader next to the module file.
std::filesystem::path QRReaderProgramFile();

// Reads the reader's output lines: true with type and code when the first line is exactly
// "READY" and a second, non-empty line exists; the second line is split at its first ':' (no ':' gives an
// empty type and the whole line as code).
bool ParseQRReaderOutput(const std::vector<std::string>& lines, std::string& codeType, std::string& code);

class TZumvoQRDetect : public pallux::TInterfacedObject<IZumvoQRDetect> {
public:
    // The reader next to the module, or another program (tests, other readers).
    explicit TZumvoQRDetect(std::filesystem::path program = QRReaderProgramFile());

    bool GetQRCode(std::string& codeType, std::string& code) override;

private:
    std::filesystem::path FProgram;
};

pallux::IntfPtr<IZumvoQRDetect> CreateQRDetect();

} // namespace zumvo
