#include "files/Work_Folder.h"

#include "link/LinkHarness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// An installed tree under <root>/usr, a folder to start in, and a home.
class WorkFolderTest : public ::testing::Test {
  protected:
    WorkFolderTest() {
        write(shipped() / "bifuel-studio.dat", "table");
        write(shipped() / "Language" / "Deutsch.lng", "deutsch");
        write(shipped() / "Language" / "notes.txt", "not a language");
        fs::create_directories(root() / "usr" / "bin");
        fs::create_directories(root() / "start");
    }
    fs::path root() const { return work.path(); }
    fs::path shipped() const { return root() / "usr" / "share" / "bifuel-studio"; }
    WorkFolderInputs installed() const {
        WorkFolderInputs in;
        in.Current_Dir = root() / "start";
        in.Program_Dir = root() / "usr" / "bin";
        in.Home = (root() / "home").string();
        return in;
    }
    test::TempWorkDir work;
};

TEST_F(WorkFolderTest, TheFolderFollowsWhereTheProgramRunsFrom) {
    const fs::path start = root() / "start";
    const fs::path home = root() / "home" / ".local" / "share" / "bifuel-studio";
    struct Case {
        const char* what;
        std::function<void(WorkFolderInputs&)> setUp;
        WorkFolderKind kind;
        fs::path dir;
        bool error;
    };
    const Case cases[] = {
        {"installed: the home's data folder", [](WorkFolderInputs&) {}, WorkFolderKind::PerUser,
         home, false},
        {"installed, XDG_DATA_HOME set",
         [&](WorkFolderInputs& in) { in.Xdg_Data_Home = (root() / "xdg").string(); },
         WorkFolderKind::PerUser, root() / "xdg" / "bifuel-studio", false},
        {"a relative XDG_DATA_HOME is not used",
         [](WorkFolderInputs& in) { in.Xdg_Data_Home = "data"; }, WorkFolderKind::PerUser, home,
         false},
        {"started where the table is: that folder",
         [&](WorkFolderInputs&) { write(start / "bifuel-studio.dat", "mine"); },
         WorkFolderKind::Current, start, false},
        {"not installed: the current folder",
         [&](WorkFolderInputs& in) { in.Program_Dir = root() / "elsewhere"; },
         WorkFolderKind::Current, start, false},
        {"no home at all: the current folder, and why",
         [](WorkFolderInputs& in) { in.Home.clear(); }, WorkFolderKind::Current, start, true},
    };
    for (const Case& c : cases) {
        fs::remove(start / "bifuel-studio.dat");
        WorkFolderInputs in = installed();
        c.setUp(in);
        const WorkFolder folder = ChooseWorkFolder(in);
        EXPECT_EQ(folder.Kind, c.kind) << c.what;
        EXPECT_EQ(folder.Dir, c.dir) << c.what;
        EXPECT_EQ(!folder.Error.empty(), c.error) << c.what;
    }
}

TEST_F(WorkFolderTest, TheFirstStartCopiesTheShippedFilesAndLaterStartsKeepTheUsersOwn) {
    const WorkFolder folder = ChooseWorkFolder(installed());
    ASSERT_EQ(PrepareWorkFolder(folder, "bifuel-studio"), "");
    EXPECT_EQ(read(folder.Dir / "bifuel-studio.dat"), "table");
    EXPECT_EQ(read(folder.Dir / "Language" / "Deutsch.lng"), "deutsch");
    EXPECT_FALSE(fs::exists(folder.Dir / "Language" / "notes.txt"));
    EXPECT_TRUE(fs::is_directory(folder.Dir / "Config"));

    // The user's own table and language stay; a language shipped later arrives.
    write(folder.Dir / "bifuel-studio.dat", "calibrated by the user");
    write(folder.Dir / "Language" / "Deutsch.lng", "edited");
    write(shipped() / "Language" / "Polski.lng", "polski");
    ASSERT_EQ(PrepareWorkFolder(folder, "bifuel-studio"), "");
    EXPECT_EQ(read(folder.Dir / "bifuel-studio.dat"), "calibrated by the user");
    EXPECT_EQ(read(folder.Dir / "Language" / "Deutsch.lng"), "edited");
    EXPECT_EQ(read(folder.Dir / "Language" / "Polski.lng"), "polski");
    for (const auto& entry : fs::recursive_directory_iterator(folder.Dir))
        EXPECT_NE(entry.path().extension(), ".part") << "no copy left half-done";
}

TEST_F(WorkFolderTest, AFolderThatCannotBeMadeIsSaidSo) {
    write(root() / "home" / ".local", "a file where the folder goes");
    const WorkFolder folder = ChooseWorkFolder(installed());
    const std::string error = PrepareWorkFolder(folder, "bifuel-studio");
    EXPECT_NE(error.find("cannot make the folder"), std::string::npos) << error;
    EXPECT_EQ(PrepareWorkFolder(ChooseWorkFolder([&] {
                                    WorkFolderInputs in = installed();
                                    in.Program_Dir = root();
                                    return in;
                                }()),
                                "bifuel-studio"),
              "")
        << "a current folder is left as it is";
}

} // namespace
} // namespace bifuel
