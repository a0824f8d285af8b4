#include "TIniFile.h"

#include "clsSysUtils.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <stdexcept>

namespace refhost {

namespace {

std::string Trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    const auto end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

} // namespace

std::optional<int> ParseWholeNumber(const std::string& text) {
    const std::string t = Trim(text);
    int value = 0;
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (first != last && *first == '+')
        ++first;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (t.empty() || ec != std::errc() || ptr != last)
        return std::nullopt;
    return value;
}

TIniFile::TIniFile(std::filesystem::path file) : FFile(std::move(file)) {
    std::ifstream in(FFile);
    if (!in)
        return;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t.front() == '[' && t.back() == ']') {
            FSections.push_back({Trim(t.substr(1, t.size() - 2)), {}});
            continue;
        }
        const auto eq = t.find('=');
        if (eq == std::string::npos || eq == 0)
            throw std::runtime_error(FFile.string() + ":" + std::to_string(number) +
                                     ": not a key=value line");
        if (FSections.empty())
            FSections.push_back({"", {}});
        FSections.back().Keys.push_back({Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))});
    }
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& name) const {
    for (const auto& s : FSections)
        if (pallux::SameText(s.Name, name))
            return &s;
    return nullptr;
}

std::optional<std::string> TIniFile::Read(const std::string& section, const std::string& key) const {
    // Later sections of the same name extend earlier ones; the first key found wins.
    for (const auto& s : FSections) {
        if (!pallux::SameText(s.Name, section))
            continue;
        for (const auto& k : s.Keys)
            if (pallux::SameText(k.Name, key))
                return k.Value;
    }
    return std::nullopt;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
    return Read(section, key).value_or(fallback);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
    const auto text = Read(section, key);
    if (!text)
        return fallback;
    const auto value = ParseWholeNumber(*text);
    if (!value)
        throw std::runtime_error("'" + *text + "' is not a valid integer value for " + section + "/" + key);
    return *value;
}

void TIniFile::Write(const std::string& section, const std::string& key, const std::string& value) {
    TSection* target = const_cast<TSection*>(FindSection(section));
    if (!target) {
        FSections.push_back({section, {}});
        target = &FSections.back();
    }
    for (auto& k : target->Keys)
        if (pallux::SameText(k.Name, key)) {
            k.Value = value;
            return;
        }
    target->Keys.push_back({key, value});
}

void TIniFile::Save() const {
    std::ofstream out(FFile, std::ios::trunc);
    if (!out)
        throw std::runtime_error("Cannot write " + FFile.string());
    for (const auto& s : FSections) {
        if (!s.Name.empty())
            out << '[' << s.Name << "]\n";
        for (const auto& k : s.Keys)
            out << k.Name << '=' << k.Value << '\n';
        out << '\n';
    }
}

} // namespace refhost
