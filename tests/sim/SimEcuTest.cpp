#include "SimEcu.h"
#include "MemoryLine.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace bifuel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint8_t sum8(const Bytes& b, std::size_t n) {
    return static_cast<std::uint8_t>(std::accumulate(b.begin(), b.begin() + n, 0u) & 0xFF);
}

// Appends the checksum to [code, command, data...].
Bytes framed(Bytes body) {
    body.push_back(sum8(body, body.size()));
    return body;
}

Bytes shortRequest(std::uint8_t cmd, std::uint8_t d1, std::uint8_t d2, std::uint8_t code = 25) {
    return framed({code, cmd, d1, d2});
}
Bytes shortRequest(std::uint8_t cmd) {
    return shortRequest(cmd, cmd, cmd);
}
Bytes ack(std::uint8_t cmd, std::uint8_t code = 25) {
    return framed({code, cmd});
}

// A data frame of (code, high, low) triples.
Bytes tripleFrame(std::uint8_t cmd, const std::vector<std::array<std::uint8_t, 3>>& items) {
    Bytes body{25, cmd};
    for (const auto& t : items)
        body.insert(body.end(), t.begin(), t.end());
    return framed(body);
}

class SimEcuTest : public ::testing::Test {
  protected:
    void start(EcuState state = SimEcu::defaultState()) {
        ecu = std::make_unique<SimEcu>(sched, line.device(), std::move(state));
        line.host().open();
    }

    void write(const Bytes& bytes) { line.host().write(bytes.data(), bytes.size()); }

    Bytes readHost() {
        Bytes out(line.host().bytesAvailable());
        out.resize(line.host().read(out.data(), out.size()));
        return out;
    }

    // Sends one frame and returns whatever came back within `waitMs`.
    Bytes exchange(const Bytes& request, int waitMs = 5) {
        write(request);
        sched.advance(waitMs);
        return readHost();
    }

    // ANNOUNCE with the frame's length, then the frame; both must be acknowledged.
    void announced(const Bytes& frame) {
        ASSERT_EQ(exchange(shortRequest(0x31, 0x31, static_cast<std::uint8_t>(frame.size()))),
                  ack(0x31));
        ASSERT_EQ(exchange(frame), ack(frame[1]));
    }

    Bytes data(const Bytes& reply) const { return Bytes(reply.begin() + 2, reply.end() - 1); }

    VirtualScheduler sched;
    MemoryLine line{sched};
    std::unique_ptr<SimEcu> ecu;
};

// ---- replies ------------------------------------------------------------------------------

struct ProbeCase {
    std::uint8_t code;
    Bytes reply;
};

class ProbeTest : public SimEcuTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeTest, AnswersOnlyItsOwnCodeInThatCodesLayout) {
    EcuState s = SimEcu::defaultState();
    s.programCode = GetParam().code;
    start(s);
    for (const std::uint8_t other : {23, 25, 26}) {
        if (other == GetParam().code) continue;
        EXPECT_TRUE(exchange(shortRequest(0x21, 0x21, 0x21, other)).empty()) << int(other);
    }
    EXPECT_EQ(exchange(shortRequest(0x21, 0x21, 0x21, GetParam().code)), GetParam().reply);
    EXPECT_EQ(ecu->counters().framesReceived, 3); // well-formed, whatever the code
    EXPECT_EQ(ecu->counters().repliesSent, 1);
}

INSTANTIATE_TEST_SUITE_P(Codes, ProbeTest,
                         ::testing::Values(ProbeCase{23, {0x17, 0x21, 0x2A, 0x62}},
                                           ProbeCase{25, {0x19, 0x21, 0x2A, 0x64}},
                                           ProbeCase{26, {0x1A, 0x21, 0x2A, 0x00, 0x65}}));

TEST_F(SimEcuTest, ShortRepliesOfTheDefaultEcu) {
    start();
    const struct {
        Bytes request;
        Bytes reply;
    } cases[] = {
        {{0x19, 0x21, 0x21, 0x21, 0x7C}, {0x19, 0x21, 0x2A, 0x64}},
        {shortRequest(0x2C, 8, 8), framed({25, 0x2C, 'C', 'A', 'R', '0', '1', 0xFF, 0xFF, 0xFF})},
        {shortRequest(0x2F), framed({25, 0x2F, 8, 12})},
        {shortRequest(0x22, 0, 2), ack(0x22)},
        {shortRequest(0x26), ack(0x26)},
        {shortRequest(0x2E, 8, 12), ack(0x2E)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exchange(c.request), c.reply) << int(c.request[1]);
}

TEST_F(SimEcuTest, IdentificationBlockAtItsOffsets) {
    start();
    const Bytes r = exchange(shortRequest(0x30));
    ASSERT_EQ(r.size(), 45u);
    EXPECT_EQ(r[0], 25);
    EXPECT_EQ(r[1], 0x30);
    EXPECT_EQ(r[2], 42);
    EXPECT_EQ(std::string(r.begin() + 3, r.begin() + 33), "KestraLX        2014.03.122.54");
    EXPECT_EQ(Bytes(r.begin() + 33, r.begin() + 39), (Bytes{0x00, 0x30, 0x39, 0x00, 0x1A, 0x85}));
    // L1 live (37), L2 params (49 codes), L3 diagram, L4, L5 MAP points.
    EXPECT_EQ(Bytes(r.begin() + 39, r.begin() + 44), (Bytes{37, 98, 54, 0, 32}));
    EXPECT_EQ(r[44], sum8(r, 44));
}

TEST_F(SimEcuTest, IdentificationBlockKeepsItsReportedLength) {
    EcuState s = SimEcu::defaultState();
    s.identLength = 45;
    s.model = "AVeryLongModelIdentifier"; // cut at 16 characters
    s.firmwareVersion = "3.6";            // padded to 4
    start(s);
    EXPECT_EQ(exchange(shortRequest(0x21)), framed({25, 0x21, 45}));
    const Bytes r = exchange(shortRequest(0x30));
    ASSERT_EQ(r.size(), 48u);
    EXPECT_EQ(r[2], 45);
    EXPECT_EQ(std::string(r.begin() + 3, r.begin() + 19), "AVeryLongModelId");
    EXPECT_EQ(std::string(r.begin() + 29, r.begin() + 33), "3.6 ");
    EXPECT_EQ(r[40], 106); // "3.6" reads as 360: 53 codes
    EXPECT_EQ(Bytes(r.begin() + 44, r.begin() + 47), (Bytes{0, 0, 0}));
    EXPECT_EQ(r.back(), sum8(r, r.size() - 1));
}

TEST_F(SimEcuTest, LiveDataOfTheDefaultEcu) {
    start();
    const Bytes r = exchange(shortRequest(0x23));
    ASSERT_EQ(r.size(), 37u + 3);
    EXPECT_EQ(r[2] << 8 | r[3], 37500);  // idle at 800 rpm
    EXPECT_EQ(r[6] & 0xF0, 0xC0);        // engine running, pressure normal, nothing saved
    EXPECT_EQ(r[22] << 8 | r[23], 2800); // petrol time of cylinder 1
    EXPECT_EQ(r[30] << 8 | r[31], 0);    // no gas time on petrol
    EXPECT_EQ(r[36], 0);
    EXPECT_EQ(r[37], 0);
    EXPECT_EQ(r[38] & 7, 1); // petrol mode
}

TEST_F(SimEcuTest, DiagramReplyCarriesTheDefaultPoints) {
    start();
    const Bytes r = exchange(shortRequest(0x25));
    ASSERT_EQ(r.size(), 54u + 3);
    const int gas[9] = {2000, 3840, 5680, 7520, 10280, 13040, 16720, 20400, 25000};
    const int petrol[9] = {0, 2000, 4000, 6000, 9000, 12000, 16000, 20000, 25000};
    for (int i = 0; i < 9; ++i) {
        const std::uint8_t* p = r.data() + 2 + 6 * i;
        EXPECT_EQ(p[2] << 8 | p[3], gas[i]) << i;
        EXPECT_EQ((p[4] & 0x7F) << 8 | p[5], petrol[i]) << i;
        EXPECT_EQ((p[4] & 0x80) != 0, i == 1 || i == 2) << i; // idle-run points
    }
    EXPECT_EQ(r.back(), sum8(r, r.size() - 1));
}

// ---- parameter list -----------------------------------------------------------------------

TEST(SimEcuReadList, EntriesByFirmwareVersion) {
    const struct {
        const char* version;
        std::size_t entries;
    } cases[] = {
        {"2.54", 49}, {"1.54", 49}, {"1.55", 52}, {"1.58", 52}, {"1.59", 52}, {"1.60", 53},
        {"1.99", 53}, {"2.00", 49}, {"3.56", 49}, {"3.57", 52}, {"3.60", 53}, {"3.62", 53},
        {"3.99", 53}, {"4.00", 49}, {"1,60", 53}, {"", 49},     {"x.yz", 49}, {"1.6x", 49},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SimEcu::readListFor(c.version).size(), c.entries) << '"' << c.version << '"';
    }
    const auto list = SimEcu::readListFor("1.60");
    EXPECT_EQ(list.front(), 0x5F);
    EXPECT_EQ(list[48], 0xA9);
    EXPECT_EQ(Bytes(list.begin() + 49, list.end()), (Bytes{0xAA, 0xAB, 0xAC, 0xAD}));
}

TEST_F(SimEcuTest, ParameterReplyFollowsTheFirmwaresList) {
    const struct {
        const char* version;
        std::size_t dataBytes;
    } cases[] = {{"2.54", 98}, {"1.58", 104}, {"3.62", 106}};
    for (const auto& c : cases) {
        EcuState s = SimEcu::defaultState();
        s.firmwareVersion = c.version;
        ecu.reset();
        start(s);
        const Bytes ident = exchange(shortRequest(0x30));
        ASSERT_EQ(ident.size(), 45u);
        EXPECT_EQ(ident[40], c.dataBytes) << c.version;
        const Bytes r = exchange(shortRequest(0x24));
        EXPECT_EQ(r.size(), c.dataBytes + 3) << c.version;
    }
}

TEST_F(SimEcuTest, ParameterValuesInListOrderHighByteFirst) {
    EcuState s = SimEcu::defaultState();
    s.firmwareVersion = "3.62";
    s.params[0x5F] = 0x1234;
    s.params[0xAD] = 0xBEEF;
    s.params.erase(0x5A); // an unknown code answers 0
    start(s);
    const Bytes d = data(exchange(shortRequest(0x24)));
    ASSERT_EQ(d.size(), 106u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 4), (Bytes{0x12, 0x34, 0x00, 0x00}));
    EXPECT_EQ(Bytes(d.end() - 2, d.end()), (Bytes{0xBE, 0xEF}));
}

TEST_F(SimEcuTest, AnnouncedParameterWriteIsReadBack) {
    start();
    // 22 triples: the host's parameter write, 69 bytes, announced as [19 31 31 45 C0].
    const Bytes writeList{0x5A, 0x41, 0x43, 0x52, 0x5C, 0x9F, 0x44, 0x45, 0x53, 0x54, 0x55,
                          0x56, 0x57, 0x58, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99};
    std::vector<std::array<std::uint8_t, 3>> items;
    for (std::size_t i = 0; i < writeList.size(); ++i) {
        items.push_back(
            {writeList[i], static_cast<std::uint8_t>(0xA0 + i), static_cast<std::uint8_t>(i)});
    }
    const Bytes frame = tripleFrame(0x32, items);
    ASSERT_EQ(frame.size(), 69u);
    EXPECT_EQ(exchange({0x19, 0x31, 0x31, 0x45, 0xC0}), ack(0x31));
    EXPECT_EQ(exchange(frame), ack(0x32));

    // Back to short frames: the read answers with the written words at their list places.
    const Bytes d = data(exchange(shortRequest(0x24)));
    const auto list = SimEcu::readListFor("2.54");
    ASSERT_EQ(d.size(), 2 * list.size());
    for (std::size_t i = 0; i < writeList.size(); ++i) {
        const auto at = std::find(list.begin(), list.end(), writeList[i]) - list.begin();
        EXPECT_EQ(d[2 * at], 0xA0 + i) << std::hex << int(writeList[i]);
        EXPECT_EQ(d[2 * at + 1], i) << std::hex << int(writeList[i]);
    }
    EXPECT_EQ(d[0] << 8 | d[1], 0); // 0x5F was not written
}

TEST_F(SimEcuTest, UnannouncedDataFrameIsNotAcknowledged) {
    start();
    const Bytes frame = tripleFrame(0x32, {{0x5A, 0x12, 0x34}, {0x41, 0x01, 0x02}});
    EXPECT_TRUE(exchange(frame).empty()); // read as a 5-byte request with a wrong checksum
    EXPECT_EQ(ecu->state().params.at(0x5A), 1315);
    sched.advance(600); // leftover bytes are discarded
    EXPECT_EQ(exchange(shortRequest(0x2F)), framed({25, 0x2F, 8, 12}));
}

// ---- diagram ------------------------------------------------------------------------------

TEST_F(SimEcuTest, DiagramWriteIsReadBackAndSkipsNonDiagramCodes) {
    start();
    std::vector<std::array<std::uint8_t, 3>> items;
    Bytes expected;
    for (int i = 0; i < 9; ++i) {
        const int first = i <= 5 ? 0x61 + 3 * i : 0x76 + 3 * (i - 6);
        const std::uint16_t words[3] = {
            static_cast<std::uint16_t>(100 + i), static_cast<std::uint16_t>(3000 + 1000 * i),
            static_cast<std::uint16_t>(2500 * i | (i == 4 ? 0x8000 : 0))};
        for (int w = 0; w < 3; ++w) {
            items.push_back({static_cast<std::uint8_t>(first + w),
                             static_cast<std::uint8_t>(words[w] >> 8),
                             static_cast<std::uint8_t>(words[w] & 0xFF)});
            expected.push_back(static_cast<std::uint8_t>(words[w] >> 8));
            expected.push_back(static_cast<std::uint8_t>(words[w] & 0xFF));
        }
    }
    ASSERT_EQ(tripleFrame(0x33, items).size(), 84u);
    // Codes between the two blocks are no diagram items; a point must not pick them up.
    items.push_back({0x73, 0xDE, 0xAD});
    items.push_back({0x74, 0xDE, 0xAD});
    items.push_back({0x75, 0xDE, 0xAD});
    announced(tripleFrame(0x33, items));

    EXPECT_EQ(data(exchange(shortRequest(0x25))), expected);
}

// ---- MAP lists ----------------------------------------------------------------------------

TEST_F(SimEcuTest, MapListsReadAndErase) {
    const struct {
        std::uint8_t read, erase, other;
        std::vector<std::uint8_t> EcuState::*list;
    } cases[] = {{0x27, 0x29, 0x28, &EcuState::mapGas}, {0x28, 0x2A, 0x27, &EcuState::mapPetrol}};
    for (const auto& c : cases) {
        ecu.reset();
        start();
        const Bytes before = SimEcu::defaultState().*c.list;
        ASSERT_EQ(before.size(), 32u);
        ASSERT_NE(before, Bytes(32, 0));
        EXPECT_EQ(data(exchange(shortRequest(c.read))), before);
        const Bytes otherBefore = data(exchange(shortRequest(c.other)));
        EXPECT_EQ(data(exchange(shortRequest(c.erase))), Bytes(32, 0));
        EXPECT_EQ(data(exchange(shortRequest(c.read))), Bytes(32, 0));
        EXPECT_EQ(data(exchange(shortRequest(c.other))), otherBefore);
    }
}

TEST_F(SimEcuTest, MapListFollowsTheReportedPointCount) {
    EcuState s = SimEcu::defaultState();
    s.mapPointCount = 20;
    start(s);
    EXPECT_EQ(exchange(shortRequest(0x30))[43], 20);
    EXPECT_EQ(data(exchange(shortRequest(0x27))).size(), 20u);
    EXPECT_EQ(data(exchange(shortRequest(0x2A))), Bytes(20, 0));
}

// ---- RPM map stream -----------------------------------------------------------------------

TEST_F(SimEcuTest, DefaultMapStreamIsReadInChunks) {
    start();
    ASSERT_EQ(exchange(shortRequest(0x2F)), framed({25, 0x2F, 8, 12}));
    Bytes stream;
    for (const std::uint8_t n : {64, 60}) {
        const Bytes r = exchange(shortRequest(0x37, n, n));
        ASSERT_EQ(r.size(), n + 3u);
        EXPECT_EQ(r.back(), sum8(r, r.size() - 1));
        const Bytes d = data(r);
        stream.insert(stream.end(), d.begin(), d.end());
    }
    Bytes expected{0xFF, 0xFF, 0xEA, 0x60, 0x75, 0x30, 0x4E, 0x20, 0x3A, 0x98,
                   0x2E, 0xE0, 0x27, 0x10, 0x1D, 0x4C, 0x00, 0x0A, 0x14, 0x1E,
                   0x28, 0x32, 0x46, 0x5A, 0x78, 0x96, 0xB4, 0xDC};
    expected.insert(expected.end(), 96, 0x80);
    EXPECT_EQ(stream, expected);
    EXPECT_EQ(ecu->state().rpmMap.size(), 126u);

    // A new size request starts the stream over; reading past its end gives zeros.
    exchange(shortRequest(0x2F));
    EXPECT_EQ(data(exchange(shortRequest(0x37, 2, 2))), (Bytes{0xFF, 0xFF}));
    exchange(shortRequest(0x37, 120, 120));
    EXPECT_EQ(data(exchange(shortRequest(0x37, 4, 4))), (Bytes{0x80, 0x80, 0, 0}));
}

TEST_F(SimEcuTest, WrittenMapStreamIsReadBack) {
    start();
    Bytes stream{6, 10};
    for (int i = 2; i < 2 + 6 * 2 + 10 + 6 * 10; ++i)
        stream.push_back(static_cast<std::uint8_t>(i * 7));
    ASSERT_EQ(stream.size(), 84u);

    EXPECT_EQ(exchange(shortRequest(0x2E, 6, 10)), ack(0x2E));
    for (std::size_t at = 0; at < stream.size(); at += 50) {
        Bytes body{25, 0x36};
        body.insert(body.end(), stream.begin() + at,
                    stream.begin() + std::min(at + 50, stream.size()));
        announced(framed(body));
    }
    EXPECT_EQ(exchange(shortRequest(0x2F)), framed({25, 0x2F, 6, 10}));
    Bytes back;
    for (const std::uint8_t n : {64, 18}) {
        const Bytes d = data(exchange(shortRequest(0x37, n, n)));
        back.insert(back.end(), d.begin(), d.end());
    }
    EXPECT_EQ(back, Bytes(stream.begin() + 2, stream.end()));

    // A new size request starts the write at the beginning again.
    exchange(shortRequest(0x2E, 8, 12));
    announced(framed({25, 0x36, 8, 12, 0xAB}));
    EXPECT_EQ(Bytes(ecu->state().rpmMap.begin(), ecu->state().rpmMap.begin() + 4),
              (Bytes{8, 12, 0xAB, stream[3]}));
}

// ---- other writes -------------------------------------------------------------------------

TEST_F(SimEcuTest, ShortWritesAndDataFramesChangeTheState) {
    start();
    EcuState& s = ecu->state();
    s.live[34] = 0x11; // error bytes 1 and 2
    s.live[35] = 0x0C;

    EXPECT_EQ(exchange(shortRequest(0x22, 0, 0xF4)), ack(0x22));
    EXPECT_EQ(s.lastModeByte, 0xF4);
    EXPECT_EQ(data(exchange(shortRequest(0x23)))[36] & 7, 4); // now on gas

    EXPECT_EQ(exchange(shortRequest(0x26)), ack(0x26));
    const Bytes live = data(exchange(shortRequest(0x23)));
    EXPECT_EQ(live[34], 0);
    EXPECT_EQ(live[35], 0);

    announced(framed({25, 0x2D, 'A', 'B', 'C', 'D', 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(exchange(shortRequest(0x2C, 8, 8)),
              framed({25, 0x2C, 'A', 'B', 'C', 'D', 0xFF, 0xFF, 0xFF, 0xFF}));

    announced(framed({25, 0x3C, 0x03, 0x10, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
    EXPECT_EQ(s.lastAcb, (Bytes{0x03, 0x10, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
}

TEST_F(SimEcuTest, CutOffNameIsIgnored) {
    start();
    announced(framed({25, 0x2D, 'A', 'B', 'C', 'D', 0xFF, 0xFF, 0xFF, 0xFF}));
    // Announced too short for eight name bytes: no ack, the name stays.
    EXPECT_EQ(exchange(shortRequest(0x31, 0x31, 7)), ack(0x31));
    EXPECT_TRUE(exchange(framed({25, 0x2D, 'X', 'Y', 'Z', 'W'})).empty());
    EXPECT_EQ(data(exchange(shortRequest(0x2C, 8, 8))),
              (Bytes{'A', 'B', 'C', 'D', 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SimEcuTest, SavedFlagIsRaisedInThreeLiveRepliesAfterEachStoringWrite) {
    const auto savedBit = [this] { return (exchange(shortRequest(0x23))[6] & 0x10) != 0; };
    const struct {
        const char* what;
        Bytes frame;
        bool stores;
    } cases[] = {
        {"name", framed({25, 0x2D, 'N', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), true},
        {"params", tripleFrame(0x32, {{0x5A, 0x05, 0x23}}), true},
        {"diagram", tripleFrame(0x33, {{0x62, 0x07, 0xD0}}), true},
        {"map chunk", framed({25, 0x36, 8, 12}), true},
        {"auto-calibration", framed({25, 0x3C, 1, 2, 3, 4, 5, 6, 7, 8}), false},
    };
    for (const auto& c : cases) {
        ecu.reset();
        start();
        EXPECT_FALSE(savedBit()) << c.what;
        announced(c.frame);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(savedBit(), c.stores) << c.what << " reply " << i;
        EXPECT_FALSE(savedBit()) << c.what;
    }
}

TEST_F(SimEcuTest, SavedFlagSurvivesALostLiveReply) {
    start();
    announced(tripleFrame(0x32, {{0x5A, 0x05, 0x23}}));
    ecu->injectOnce(Fault::Drop);
    EXPECT_TRUE(exchange(shortRequest(0x23)).empty());
    EXPECT_EQ(exchange(shortRequest(0x23))[6] & 0x10, 0x10);
}

// ---- framing ------------------------------------------------------------------------------

TEST_F(SimEcuTest, BadFramesGetNoReply) {
    start();
    const struct {
        const char* what;
        Bytes frame;
        int badChecksums;
    } cases[] = {
        {"checksum", {25, 0x21, 0x21, 0x21, 0x7D}, 1},
        {"other code", shortRequest(0x23, 0x23, 0x23, 23), 0},
        {"unknown command", shortRequest(0x40), 0},
        {"announce too short", shortRequest(0x31, 0x31, 2), 0},
    };
    for (const auto& c : cases) {
        const int badBefore = ecu->counters().badChecksums;
        EXPECT_TRUE(exchange(c.frame).empty()) << c.what;
        EXPECT_EQ(ecu->counters().badChecksums - badBefore, c.badChecksums) << c.what;
        // The frame was consumed whole: the next request is understood.
        EXPECT_EQ(exchange(shortRequest(0x2F)), framed({25, 0x2F, 8, 12})) << c.what;
    }
    EXPECT_EQ(ecu->counters().framesReceived, 3 + 4);
    EXPECT_EQ(ecu->counters().byCommand.at(0x2F), 4);
    EXPECT_EQ(ecu->counters().byCommand.at(0x40), 1);
    EXPECT_EQ(ecu->counters().byCommand.count(0x21), 0u);
}

TEST_F(SimEcuTest, StalledRequestIsDiscardedAfterHalfASecond) {
    const struct {
        int gapMs;
        bool joined;
    } cases[] = {{499, true}, {500, true}, {501, false}};
    const Bytes req = shortRequest(0x2F);
    const Bytes reply = framed({25, 0x2F, 8, 12});
    for (const auto& c : cases) {
        ecu.reset();
        start();
        write(Bytes(req.begin(), req.begin() + 2));
        sched.advance(c.gapMs);
        if (c.joined) {
            EXPECT_EQ(exchange(Bytes(req.begin() + 2, req.end())), reply) << c.gapMs;
        } else {
            EXPECT_TRUE(exchange(Bytes(req.begin() + 2, req.end())).empty()) << c.gapMs;
            sched.advance(600);
            EXPECT_EQ(exchange(req), reply) << c.gapMs; // framing starts over
        }
    }
}

TEST_F(SimEcuTest, StalledAnnouncedFrameFallsBackToShortFrames) {
    start();
    EXPECT_EQ(exchange(shortRequest(0x31, 0x31, 11)), ack(0x31));
    write({25, 0x2D, 'A', 'B'});
    sched.advance(501);
    // The host repeats its ANNOUNCE after a timeout; it must be read as a short frame.
    EXPECT_EQ(exchange(shortRequest(0x31, 0x31, 11)), ack(0x31));
    EXPECT_EQ(exchange(framed({25, 0x2D, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'})), ack(0x2D));
}

TEST_F(SimEcuTest, RepliesFollowTheLastRequestByteAfterTheTurnaround) {
    line.setByteTimeUs(MemoryLine::kByteTimeUs9600);
    start();
    for (const std::int64_t turnaroundUs : {0, 3000}) {
        line.clearWireLog();
        ecu->setTurnaroundUs(turnaroundUs);
        const std::int64_t sentUs = sched.nowUs();
        write(shortRequest(0x21));
        sched.advance(50);
        ASSERT_EQ(line.wireLog().size(), 2u);
        const WireWrite& w = line.wireLog()[1];
        EXPECT_FALSE(w.fromHost);
        EXPECT_EQ(w.bytes, (Bytes{0x19, 0x21, 0x2A, 0x64}));
        EXPECT_EQ(w.timeUs, sentUs + 5 * MemoryLine::kByteTimeUs9600 + turnaroundUs);
        EXPECT_EQ(readHost(), w.bytes);
    }
}

// ---- faults -------------------------------------------------------------------------------

TEST_F(SimEcuTest, InjectedFaultShapesOnlyTheNextReply) {
    const Bytes good{0x19, 0x21, 0x2A, 0x64};
    const struct {
        Fault fault;
        Bytes reply;
    } cases[] = {
        {Fault::Drop, {}},
        {Fault::Corrupt, {0x19, 0x21, 0x2A, 0x65}},
        {Fault::WrongEcho, {0x19, 0x22, 0x2A, 0x65}},
    };
    for (const auto& c : cases) {
        ecu.reset();
        start();
        ecu->injectOnce(c.fault);
        EXPECT_EQ(exchange(shortRequest(0x21)), c.reply) << int(c.fault);
        EXPECT_EQ(exchange(shortRequest(0x21)), good) << int(c.fault);
        EXPECT_EQ(ecu->counters().repliesSent, c.reply.empty() ? 1 : 2);
    }
}

TEST_F(SimEcuTest, SplitReplyArrivesInTwoHalvesAGapApart) {
    start();
    const Bytes whole = exchange(shortRequest(0x30));
    ecu->faults().splitGapMs = 700;
    ecu->injectOnce(Fault::Split);
    Bytes joined = exchange(shortRequest(0x30), 699);
    EXPECT_EQ(joined, Bytes(whole.begin(), whole.begin() + 22));
    sched.advance(1);
    const Bytes rest = readHost();
    joined.insert(joined.end(), rest.begin(), rest.end());
    EXPECT_EQ(joined, whole);
    EXPECT_EQ(ecu->counters().repliesSent, 2);
}

TEST_F(SimEcuTest, ReplyToARequestDuringTheSplitGapWaitsForTheSecondHalf) {
    start();
    ecu->injectOnce(Fault::Split);
    EXPECT_EQ(exchange(shortRequest(0x21)), (Bytes{0x19, 0x21}));
    Bytes after = exchange(shortRequest(0x2F), 1000);
    EXPECT_EQ(after, (Bytes{0x2A, 0x64, 0x19, 0x2F, 0x08, 0x0C, 0x5C}));
}

TEST_F(SimEcuTest, SurplusBytesFollowTheReplyAndDependOnTheSeed) {
    const auto surplus = [this](std::uint32_t seed) {
        ecu.reset();
        start();
        ecu->faults().seed = seed;
        ecu->faults().surplusBytes = 6;
        ecu->injectOnce(Fault::Surplus);
        const Bytes r = exchange(shortRequest(0x21));
        EXPECT_EQ(r.size(), 4u + 6);
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), (Bytes{0x19, 0x21, 0x2A, 0x64}));
        return Bytes(r.begin() + 4, r.end());
    };
    const Bytes a = surplus(7);
    EXPECT_EQ(surplus(7), a);
    EXPECT_NE(surplus(8), a);
}

TEST_F(SimEcuTest, EveryKthReplyGetsItsFault) {
    const struct {
        int Faults::*every;
        int k;
        Bytes faulty;
    } cases[] = {
        {&Faults::dropEvery, 3, {}},
        {&Faults::corruptEvery, 2, {0x19, 0x21, 0x2A, 0x65}},
        {&Faults::wrongEchoEvery, 4, {0x19, 0x22, 0x2A, 0x65}},
        {&Faults::splitEvery, 3, {0x19, 0x21}},
        {&Faults::surplusEvery, 5, {}}, // length checked below
    };
    const Bytes good{0x19, 0x21, 0x2A, 0x64};
    for (const auto& c : cases) {
        ecu.reset();
        start();
        ecu->faults().*c.every = c.k;
        for (int n = 1; n <= 2 * c.k; ++n) {
            const Bytes r = exchange(shortRequest(0x21));
            if (n % c.k != 0) {
                EXPECT_EQ(r, good) << c.k << " reply " << n;
            } else if (c.every == &Faults::surplusEvery) {
                EXPECT_EQ(r.size(), 4u + 3) << "reply " << n;
            } else {
                EXPECT_EQ(r, c.faulty) << c.k << " reply " << n;
                sched.advance(1000); // let a split's second half go by
                readHost();
            }
        }
    }
}

TEST_F(SimEcuTest, WriteWithLostAckIsStillApplied) {
    start();
    EXPECT_EQ(exchange(shortRequest(0x31, 0x31, 11)), ack(0x31));
    ecu->injectOnce(Fault::Drop);
    EXPECT_TRUE(exchange(framed({25, 0x2D, 'L', 'O', 'S', 'T', 0xFF, 0xFF, 0xFF, 0xFF})).empty());
    EXPECT_EQ(data(exchange(shortRequest(0x2C, 8, 8))),
              (Bytes{'L', 'O', 'S', 'T', 0xFF, 0xFF, 0xFF, 0xFF}));
}

// ---- the line itself ----------------------------------------------------------------------

// A handler may replace the port's events (a user detaching itself on arrival); the running
// handler and what it captured must outlive that.
TEST(MemoryLineEvents, HandlerMayReplaceTheEventsItRunsFrom) {
    VirtualScheduler sched;
    MemoryLine line{sched};
    SerialPort& host = line.host();
    host.open();
    line.device().open();
    std::string seen;
    SerialPort::Events events;
    events.bytesArrived = [&host, &seen, tag = std::string(64, 'x')] {
        host.setEvents({});
        seen = tag;
    };
    host.setEvents(std::move(events));
    const std::uint8_t byte = 0x42;
    line.device().write(&byte, 1);
    sched.advance(1);
    EXPECT_EQ(seen, std::string(64, 'x'));
}

} // namespace
} // namespace bifuel::sim
