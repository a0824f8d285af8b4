// A small INI file: [Section] headers, Key=Value lines, ';' or '#' comment lines. Section and key
// names ignore case, as on Windows. Values are taken as written (trimmed), so a JSON text is a
// valid value.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace refhost {

class TIniFile {
public:
    TIniFile() = default;
    // Loads the file; a missing file is an empty one. A line that is neither a section, a key
    // nor a comment is an error naming the file and line.
    explicit TIniFile(std::filesystem::path file);

    std::optional<std::string> Read(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback = {}) const;
    // A whole number, or fallback when the key is missing; a value that is not a whole number is
    // an error naming the key.
    int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
    void Write(const std::string& section, const std::string& key, const std::string& value);
    void Save() const;

    const std::filesystem::path& FileName() const { return FFile; }

private:
    struct TKey {
        std::string Name, Value;
    };
    struct TSection {
        std::string Name;
        std::vector<TKey> Keys;
    };
    std::filesystem::path FFile;
    std::vector<TSection> FSections;

    const TSection* FindSection(const std::string& name) const;
};

// Parses a whole number as the host reads settings ("12", "-3"; no fraction, no other text).
std::optional<int> ParseWholeNumber(const std::string& text);

} // namespace refhost
