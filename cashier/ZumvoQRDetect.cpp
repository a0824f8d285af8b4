#include "ZumvoQRDetect.h"

#include "FRunProcess.h"
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "clsSysUtils.h"

#include <QApplication>

namespace zumvo {

std::filesystem::path QRReaderProgramFile() {
    return ModuleFilePath().parent_path() / QRReaderProgramName;
}

bool ParseQRReaderOutput(const std::vector<std::string>& lines, std::string& codeType, std::string& code) {
    // An empty second line (the reader ended its READY line and found nothing) is no code.
    if (lines.empty() || lines[0] != "READY" || lines.size() < 2 || lines[1].empty())
        return false;
    const std::string& line = lines[1];
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        codeType.clear();
        code = line;
    } else {
        codeType = line.substr(0, colon);
        code = line.substr(colon + 1);
    }
    return true;
}

TZumvoQRDetect::TZumvoQRDetect(std::filesystem::path program) : FProgram(std::move(program)) {}

bool TZumvoQRDetect::GetQRCode(std::string& codeType, std::string& code) {
    bool result = false;
    Guarded("TZumvoQRDetect.GetQRCode", [&] {
        std::vector<std::string> lines;
        {
            TfrmRunProcess window(QApplication::activeWindow());
            window.setWindowTitle("Getting Zumvo QR Code");
            // By its path: a module folder with blanks or quotes in its name still names one program.
            window.Program = FProgram;
            window.ExecuteCommand();
            if (window.OutputCapped) {
                LogInfo(
                    "[TZumvoQRDetect.GetQRCode] The QR reader % wrote more than % bytes: stopped, no code taken",
                    pallux::PathToUtf8(FProgram), window.OutputLimit);
                return;
            }
            lines = window.CommandOutput;
        }
        result = ParseQRReaderOutput(lines, codeType, code);
    });
    return result;
}

pallux::IntfPtr<IZumvoQRDetect> CreateQRDetect() {
    return pallux::MakeIntf<TZumvoQRDetect>();
}

} // namespace zumvo
