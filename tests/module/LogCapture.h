// Points the module log at a test folder and reads its lines back.
#pragma once

#include "ZumvoLog.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zumvo::test {

class TLogCapture {
public:
    explicit TLogCapture(const std::filesystem::path& folder) {
        TLogSettings s;
        s.DestinationPath = folder;
        s.ComputerName = "TESTPC";
        ConfigureLog(s);
        FFile = LogFileName(s);
    }
    ~TLogCapture() { ShutdownLog(); }

    // The log's lines without time stamp and level: the text from the first '[' or, for lines
    // without one, the whole line.
    std::vector<std::string> Lines() const {
        FlushLog();
        std::vector<std::string> out;
        std::ifstream in(FFile, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            out.push_back(line);
        }
        return out;
    }
    // True when some line ends with the given text.
    bool Has(const std::string& text) const {
        for (const auto& l : Lines())
            if (l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0)
                return true;
        return false;
    }

private:
    std::filesystem::path FFile;
};

} // namespace zumvo::test
