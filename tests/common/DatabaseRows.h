// The rows of a query's first result set as text, one line per row, values joined by '|' (a null
// as the empty text): compact expectations on the host's tables.
#pragma once

#include "TDatabase.h"

#include <string>
#include <vector>

namespace zumvo::test {

inline std::vector<std::string> RowTexts(refhost::TDatabase& db, const std::string& sql) {
    std::vector<std::string> out;
    const auto result = db.RunBatch(sql); // kept: the loop below reads into it
    for (const auto& row : result.ResultSets.at(0).Rows) {
        std::string line;
        for (const auto& v : row)
            line += (line.empty() ? "" : "|") + v.AsText();
        out.push_back(line);
    }
    return out;
}

} // namespace zumvo::test
