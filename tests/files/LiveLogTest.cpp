#include "files/Live_Log.h"

#include "EngineModel.h"
#include "link/LinkHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

// Values at the edges of what the columns carry: negative temperatures, a cut-off level,
// status bits in every column, a long frame.
LiveLogRecord edgeRecord() {
    LiveLogRecord r;
    r.Time_Ms = 3'599'999;
    r.Rpm = 6530;
    r.Temp_Vap = -5;
    r.Temp_Gas = -123;
    r.Press_Vap = 207;
    r.Press_Coll = 31;
    r.Press_Diff = 0;
    r.Level = 1023;
    r.Petrol_Us = {3125, 0, 25000, 7};
    r.Gas_Us = {4004, 4010, 0, 65535};
    r.Petrol_Avg_Us = 9377;
    r.Gas_Avg_Us = 24516;
    r.Mode = 4;
    r.Status = 0xA0;
    r.Error1 = 0x11;
    r.Error2 = 0xFF;
    r.Map_Col = 8;
    r.Map_Row = 0;
    for (int i = 0; i < 37; ++i)
        r.Frame.push_back(static_cast<std::uint8_t>(i * 7));
    return r;
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

TEST(LiveLog, LinesReadBackToTheRecordsTheyWereWrittenFrom) {
    LiveLogRecord zero;
    zero.Frame = {0x00};
    for (const LiveLogRecord& r : {edgeRecord(), zero}) {
        const std::string line = FormatLiveLogLine(r);
        EXPECT_EQ(ParseLiveLogLine(line), r) << line;
        EXPECT_EQ(ParseLiveLogLine(line + "\r"), r) << "a line end written by another system";
    }
    // Every level code survives its trip through volts.
    for (std::int32_t code = 0; code <= 1023; ++code) {
        LiveLogRecord r;
        r.Level = code;
        ASSERT_EQ(ParseLiveLogLine(FormatLiveLogLine(r))->Level, code);
    }
    const std::string line = FormatLiveLogLine(edgeRecord());
    EXPECT_EQ(line.substr(0, 40), "3599.999,6530,-0.5,-12.3,2.07,0.31,0.00,");
    const std::string header = LiveLogHeader();
    EXPECT_EQ(std::count(line.begin(), line.end(), ','),
              std::count(header.begin(), header.end(), ','));
}

TEST(LiveLog, MalformedLinesAreRefused) {
    const std::string good = FormatLiveLogLine(edgeRecord());
    const std::string cases[] = {
        "",
        good.substr(0, good.rfind(',')),        // a column short
        good + ",00",                           // a column too many
        good.substr(0, good.size() - 1),        // an odd count of hex digits
        "x" + good,                             // not a number
        "3599.9999" + good.substr(8),           // more decimals than the column has
        good.substr(0, good.size() - 2) + "G0", // not a hex digit
        "-1.000" + good.substr(8),              // a time before the log began
        "3599.,6530" + good.substr(13),         // a point without decimals
    };
    for (const std::string& line : cases)
        EXPECT_FALSE(ParseLiveLogLine(line)) << line;
}

TEST(LiveLog, ACutLastLineIsSkippedAndOtherFilesAreRefused) {
    test::TempWorkDir work;
    const fs::path file = work.path() / "drive.csv";
    LiveLogRecord second = edgeRecord();
    second.Time_Ms += 312;
    const std::string lines = LiveLogHeader() + "\n" + FormatLiveLogLine(edgeRecord()) + "\n" +
                              FormatLiveLogLine(second) + "\n";

    writeFile(file, lines);
    LiveLogFile log = ReadLiveLog(file);
    EXPECT_EQ(log.Error, "");
    EXPECT_EQ(log.Records, (std::vector{edgeRecord(), second}));
    EXPECT_EQ(log.Skipped_Lines, 0u);

    // A power loss in the middle of the third line, at every place it can happen: even a
    // cut inside the frame, which would read as a record with a shorter frame, is skipped.
    const std::string third = FormatLiveLogLine(edgeRecord());
    for (std::size_t cut = 1; cut <= third.size(); cut += 7) {
        writeFile(file, lines + third.substr(0, cut));
        log = ReadLiveLog(file);
        ASSERT_EQ(log.Records.size(), 2u) << cut;
        EXPECT_EQ(log.Skipped_Lines, 1u);
    }

    writeFile(file, "time,rpm\n1,2\n");
    EXPECT_NE(ReadLiveLog(file).Error, "");
    EXPECT_NE(ReadLiveLog(work.path() / "absent.csv").Error, "");
}

class LiveRecordTest : public test::LinkHarness {
  protected:
    LiveRecordTest() : test::LinkHarness(test::ConfiguredEcu()) {}
};

// The record of a live reply holds the values the pages were handed and the reply's own
// data bytes.
TEST_F(LiveRecordTest, ARecordHoldsTheDecodedValuesAndTheBytesTheEcuSent) {
    sim::EngineModel engine{clock, ecu};
    engine.setRunning(true);
    engine.requestRpm(2500);
    connect();
    clock.advance(3000);

    // With each record, the data bytes of the reply as they crossed the line.
    std::vector<LiveLogRecord> records;
    std::vector<std::vector<std::uint8_t>> sent;
    auto watch = ctx.events.liveData.subscribe([&] {
        records.push_back(RecordFromLive(ctx, clock.nowUs() / 1000));
        std::vector<std::uint8_t> fromEcu;
        for (const auto& w : line.wireLog()) {
            if (!w.fromHost) fromEcu.insert(fromEcu.end(), w.bytes.begin(), w.bytes.end());
        }
        const auto replyEnd = fromEcu.end() - 1; // without the checksum
        sent.emplace_back(replyEnd - (ctx.link.Reply_Length - 3), replyEnd);
    });
    ASSERT_TRUE(clock.runUntil([&] { return records.size() >= 3; }, 5000));

    const LiveLogRecord& r = records.back();
    const sim::EngineSnapshot& now = engine.snapshot();
    EXPECT_NEAR(r.Rpm, now.rpm, now.rpm / 50);
    EXPECT_EQ(r.Level, now.levelCode);
    EXPECT_EQ(r.Mode, now.mode);
    EXPECT_EQ(r.Status & 0x80, 0x80) << "engine running";
    EXPECT_EQ(r.Map_Col, ctx.rpmMap.Live_Cell.c);
    EXPECT_EQ(r.Map_Row, ctx.rpmMap.Live_Cell.r);
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_GT(r.Petrol_Us[c], 0);
    EXPECT_EQ(r.Frame.size(), 37u);
    EXPECT_EQ(r.Frame, sent.back());
    EXPECT_LT(records[1].Time_Ms, r.Time_Ms);
    EXPECT_EQ(ParseLiveLogLine(FormatLiveLogLine(r)), r);
}

} // namespace
} // namespace bifuel
