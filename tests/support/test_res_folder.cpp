// Where the host's style sheets are looked up: beside the program, else in the installed data
// folder relative to it.
#include "HostResFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;
using zumvo::HostResFolder;

namespace {

class HostResFolderTest : public ::testing::Test {
protected:
    fs::path root;
    void SetUp() override {
        root = fs::temp_directory_path() / ("zumvo_res_" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "usr/bin");
    }
    void TearDown() override { fs::remove_all(root); }
};

} // namespace

TEST_F(HostResFolderTest, ResBesideTheProgramWinsAndTheInstalledFolderIsTheFallback) {
    const auto bin = root / "usr/bin";
    // neither there: the folder beside the program is named
    EXPECT_EQ(HostResFolder(bin), bin / "Res");

    // an installed system: /usr/bin programs, /usr/share/zumvo/refhost/Res
    fs::create_directories(root / "usr/share/zumvo/refhost/Res");
    EXPECT_EQ(HostResFolder(bin), root / "usr/share/zumvo/refhost/Res");

    // the suite's layout (and the build tree): Res beside the program
    fs::create_directories(bin / "Res");
    EXPECT_EQ(HostResFolder(bin), bin / "Res");
}

TEST_F(HostResFolderTest, AFileNamedResIsNotTheFolder) {
    const auto bin = root / "usr/bin";
    fs::create_directories(root / "usr/share/zumvo/refhost/Res");
    { std::ofstream(bin / "Res") << "not a folder"; }
    EXPECT_EQ(HostResFolder(bin), root / "usr/share/zumvo/refhost/Res");
}
