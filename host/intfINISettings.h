// The host's settings service over INI files.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

namespace pallux {

class IINISettings : public IInterface {
public:
    static constexpr TGUID IID{"{868ECE0A-6B75-48AD-8ACD-4C60B9559C4F}"};

    // Opens the settings file; section names the file's section that holds the keys.
    virtual void PALLUX_CALL Open(const std::string& fileName, const std::string& section) = 0;
    // Reads a key; profile selects the profile of keys ("Default").
    virtual std::string PALLUX_CALL ReadString(const std::string& key, const std::string& profile) = 0;
    virtual std::int32_t PALLUX_CALL ReadInteger(const std::string& key, const std::string& profile) = 0;
    virtual void PALLUX_CALL WriteString(const std::string& key, const std::string& profile,
                                         const std::string& value) = 0;
};

} // namespace pallux
