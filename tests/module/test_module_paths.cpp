// The module's own paths from its file's path: its settings file and its log, for the folders a
// module is installed in (a program folder with blanks, letters outside ASCII, and on Windows a
// share reached by its UNC name \\server\share\...).
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "clsSysUtils.h"

#include <gtest/gtest.h>

using namespace zumvo;
namespace fs = std::filesystem;

namespace {

struct TPaths {
    std::string Settings, Log;
};

TPaths PathsOf(const fs::path& module) {
    TLogSettings log = ModuleLogSettings(module);
    log.ComputerName = "TILL1";
    return {pallux::PathToUtf8(SettingsFileOf(module)), pallux::PathToUtf8(LogFileName(log))};
}

} // namespace

TEST(ModulePaths, SettingsAndLogLieBesideTheModuleFile) {
#ifdef _WIN32
    const struct {
        const char* Module;
        const char* Settings;
        const char* Log;
    } cases[] = {
        {R"(C:\Program Files\Pallux\Zumvo Modul\ZumvoPayment.dll)",
         R"(C:\Program Files\Pallux\Zumvo Modul\ZumvoPayment.ini)",
         R"(C:\Program Files\Pallux\Zumvo Modul\ZumvoPayment_TILL1.log)"},
        {R"(\\server\share\Pallux\ZumvoPayment.dll)", R"(\\server\share\Pallux\ZumvoPayment.ini)",
         R"(\\server\share\Pallux\ZumvoPayment_TILL1.log)"},
        {"\\\\kasse-süd\\Kassen Ä\\Zumvo Modul\\ZumvoPayment.dll",
         "\\\\kasse-süd\\Kassen Ä\\Zumvo Modul\\ZumvoPayment.ini",
         "\\\\kasse-süd\\Kassen Ä\\Zumvo Modul\\ZumvoPayment_TILL1.log"},
        {R"(\\?\UNC\server\share\Pallux\ZumvoPayment.dll)", R"(\\?\UNC\server\share\Pallux\ZumvoPayment.ini)",
         R"(\\?\UNC\server\share\Pallux\ZumvoPayment_TILL1.log)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Module);
        const fs::path module = pallux::Utf8ToPath(c.Module);
        const TPaths paths = PathsOf(module);
        EXPECT_EQ(paths.Settings, c.Settings);
        EXPECT_EQ(paths.Log, c.Log);
    }
    // The share's root itself: the folder is the share.
    EXPECT_EQ(PathsOf(pallux::Utf8ToPath(R"(\\server\share\ZumvoPayment.dll)")).Log,
              R"(\\server\share\ZumvoPayment_TILL1.log)");
#else
    const struct {
        const char* Module;
        const char* Settings;
        const char* Log;
    } cases[] = {
        {"/usr/lib/zumvo/libZumvoPayment.so", "/usr/lib/zumvo/libZumvoPayment.ini",
         "/usr/lib/zumvo/libZumvoPayment_TILL1.log"},
        {"/mnt/kasse-süd/Kassen Ä/Zumvo Modul/libZumvoPayment.so",
         "/mnt/kasse-süd/Kassen Ä/Zumvo Modul/libZumvoPayment.ini",
         "/mnt/kasse-süd/Kassen Ä/Zumvo Modul/libZumvoPayment_TILL1.log"},
        // A share mounted by its UNC-like name keeps its double slash.
        {"//server/share/zumvo/libZumvoPayment.so", "//server/share/zumvo/libZumvoPayment.ini",
         "//server/share/zumvo/libZumvoPayment_TILL1.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Module);
        const TPaths paths = PathsOf(c.Module);
        EXPECT_EQ(paths.Settings, c.Settings);
        EXPECT_EQ(paths.Log, c.Log);
    }
#endif
}

TEST(ModulePaths, LogSettingsFollowTheModulesPolicy) {
    const TLogSettings log = ModuleLogSettings(pallux::Utf8ToPath("/opt/pos/Zumvo.so"));
    EXPECT_EQ(log.BaseName, "Zumvo");
    EXPECT_EQ(log.DefaultExtension, ".log");
    EXPECT_TRUE(log.IncludeComputerNameInFileName);
    EXPECT_EQ(log.RotateFileSizeKB, 2048u);
    EXPECT_EQ(log.RotateFileCount, 10);
    EXPECT_EQ(log.ArchiveAfterDays, 2);
    EXPECT_TRUE(log.EndOfLineCRLF);
    EXPECT_TRUE(log.AppendWithHeader);
    EXPECT_TRUE(log.FallbackFolders.empty()) << "the caller adds them";
}
