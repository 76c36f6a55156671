// The desktop program records the live data of every connection into Logs/.
#include "UiHarness.h"

#include "files/Live_Log.h"
#include "files/Live_Recorder.h"

#include <filesystem>
#include <fstream>

namespace bifuel::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        files.push_back(it->path());
    return files;
}

class Recording : public StudioHarness {
  protected:
    void SetUp() override {
        start();
        liveWatch = ctx().events.liveData.subscribe([this] { ++frames; });
    }
    std::size_t frames = 0;
    Subscription liveWatch;
};

TEST_F(Recording, EveryLiveFrameOfTheConnectionGoesToItsLog) {
    ASSERT_TRUE(runUntil([this] { return frames >= 12; }, 20000));
    const std::vector<fs::path> logs = filesIn(work.path() / "Logs");
    ASSERT_EQ(logs.size(), 1u);
    const LiveLogFile log = ReadLiveLog(logs.front());
    ASSERT_TRUE(log.Error.empty()) << log.Error;
    EXPECT_EQ(log.Records.size(), frames);
    EXPECT_TRUE(logs.front().filename().string().starts_with("CAR01_")) << logs.front();
}

TEST_F(Recording, SwitchedOffInTheSettingsNothingIsRecorded) {
    ctx().settings.Log_Live = false;
    ASSERT_TRUE(runUntil([this] { return frames >= 6; }, 20000));
    EXPECT_FALSE(fs::exists(work.path() / "Logs"));
}

TEST_F(Recording, ALogThatCannotBeWrittenIsSaidOnTheStatusLine) {
    std::ofstream(work.path() / "Logs") << "a file where the folder should be";
    const std::string said = ctx().LangText("Log_Not_Written");
    ASSERT_TRUE(runUntil(
        [&] { return main().statusLine()->text().toStdString().starts_with(said); }, 20000))
        << "the status line never said it";
    save(main(), "recording-failed.png");
    const std::size_t before = frames;
    ASSERT_TRUE(runUntil([&] { return frames >= before + 6; }, 20000)) << "the link goes on";
    EXPECT_TRUE(ctx().link.ECU_Connected);
}

} // namespace
} // namespace bifuel::test
