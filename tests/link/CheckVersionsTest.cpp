#include "link/Check_Versions.h"
#include "link/Instruction_Unit.h"

#include <gtest/gtest.h>

#include <string>

namespace bifuel {
namespace {

struct VersionCase {
    const char* text;
    std::int32_t numeric;
    bool noPressureSensors;
    std::size_t readListLength;
    bool innovational;
    bool freeMidPoints;
};

TEST(CheckVersions, CapabilitiesFollowTheFirmwareVersion) {
    const VersionCase cases[] = {
        {"2.54", 254, false, 49, false, false}, {"1.58", 158, true, 52, false, true},
        {"1.60", 160, true, 53, false, true},   {"1.63", 163, true, 53, true, true},
        {"3.57", 357, false, 52, false, false}, {"3.62", 362, false, 53, false, false},
        {"3.63", 363, false, 53, true, false},  {"1.55", 155, true, 52, false, false},
        {"1.99", 199, true, 53, true, true},    {"2.00", 200, false, 49, false, false},
        {"2.55", 255, false, 49, false, false}, {"1,63", 163, true, 53, true, true},
        {"x.yz", 0, false, 49, false, false},   {"    ", 0, false, 49, false, false},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::int32_t fw = NumericFirmwareVersion(c.text);
        EXPECT_EQ(fw, c.numeric);
        EXPECT_EQ(HasNoPressureSensors(fw), c.noPressureSensors);
        EXPECT_EQ(ReadList(fw).size(), c.readListLength);
        EXPECT_EQ(IsInnovationalCapable(fw), c.innovational);
        EXPECT_EQ(HasFreeMidPoints(fw), c.freeMidPoints);
    }
}

TEST(CheckVersions, ReadListAppendsTheNewerCodesInOrder) {
    const auto list = ReadList(362);
    ASSERT_EQ(list.size(), 53u);
    EXPECT_EQ(list.front(), 0x5F);
    EXPECT_EQ(list[48], 0xA9);
    EXPECT_EQ(list[49], 0xAA);
    EXPECT_EQ(list[50], 0xAB);
    EXPECT_EQ(list[51], 0xAC);
    EXPECT_EQ(list[52], 0xAD);
}

TEST(CheckVersions, WriteListsHaveTheirFixedLengthsAndSkipTheUnusedDiagramCodes) {
    EXPECT_EQ(ParameterWriteList().size(), 22u);
    const auto& diagram = DiagramWriteList();
    ASSERT_EQ(diagram.size(), 27u);
    for (std::uint8_t code : diagram) {
        EXPECT_TRUE(code < 0x73 || code > 0x75) << int(code);
    }
}

TEST(CheckVersions, ModelDisplayName) {
    const std::pair<const char*, const char*> cases[] = {
        {"KestraLX", "Kestra LX"},
        {"Kestra LX", "Kestra LX"},
        {"kestralx", "Kestra LX"},
        {"VoltigonRA", "Voltigon RA"},
        {"voltigon rb", "Voltigon RB"},
        {"Kestra", "Unknow"},
        {"", "Unknow"},
        {"   ", "Unknow"},
    };
    for (const auto& [id, name] : cases)
        EXPECT_EQ(ModelDisplayName(id), name) << id;
}

TEST(CheckVersions, FrameChecksumIsTheByteSum) {
    const std::uint8_t frame[] = {25, 0x23, 0x23, 0x23};
    EXPECT_EQ(FrameChecksum(frame, 4), 0x82);
    const std::uint8_t probe[] = {0x19, 0x21, 0x21, 0x21};
    EXPECT_EQ(FrameChecksum(probe, 4), 0x7C);
}

} // namespace
} // namespace bifuel
