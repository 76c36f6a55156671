#include "Context.h"
#include "LinkHarness.h"
#include "link/Parameter_Table.h"
#include "link/Receiver_Unit.h"

#include <map>
#include <random>

namespace bifuel::test {
namespace {

// Every field of the parameter table set to a random value its codec carries unchanged.
// Values that cannot travel unchanged are left out here and named in their own tests below.
void randomiseCodecFields(Configuration_Class& c, std::mt19937& rng) {
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto percent = [&] { return in(0, 1) ? in(1, 99) : -in(1, 99); };
    for (const ParamCode& p : ParameterTable()) {
        for (const ParamField& f : p.fields) {
            switch (f.codec) {
            case ParamCodec::Bit:
            case ParamCodec::InvertedBit:
                c.*f.flag = in(0, 1) == 1;
                break;
            case ParamCodec::ZeroBit:       // never sent
            case ParamCodec::HalvedPercent: // reads back within 1 %
                break;
            case ParamCodec::Word:
                c.*f.number = in(0, 0xFFFF);
                break;
            case ParamCodec::Byte:
                c.*f.number = in(0, 0xFF);
                break;
            case ParamCodec::ZeroAs80: {
                const int v = in(0, 0xFE);
                c.*f.number = v < 0x80 ? v : v + 1; // 128 has no byte of its own
                break;
            }
            case ParamCodec::TenBits:
                c.*f.number = in(0, 1023);
                break;
            case ParamCodec::Temperature:
                c.*f.number = in(1, 120);
                break;
            case ParamCodec::RpmPeriod:
                c.*f.number = 600 + 100 * in(0, 14); // the page's speeds
                break;
            case ParamCodec::Pressure:
                c.*f.number = in(0, 448 / f.scale);
                break;
            case ParamCodec::Doubled:
                c.*f.number = 2 * in(1, 1023);
                break;
            case ParamCodec::PreScaler:
                c.*f.text = PreScalerText(static_cast<std::uint8_t>(in(0, 255)));
                break;
            case ParamCodec::LevelType:
                c.*f.text = std::string(LevelTypeName(in(1, 9)));
                break;
            case ParamCodec::PressurePercent:
            case ParamCodec::DegreesPercent:
                c.*f.number = percent();
                // A zero companion sends no value: its own case below.
                c.*f.companion = std::max(c.*f.companion, 1);
                break;
            }
        }
    }
    c.Press_Scale = 1315; // the pressures read back exactly at the default scale
}

// The table's fields that differ between two records, for readable failures.
std::string Differences(const Configuration_Class& a, const Configuration_Class& b) {
    std::string out;
    for (const ParamCode& p : ParameterTable()) {
        for (const ParamField& f : p.fields) {
            if (f.key == nullptr) continue;
            VisitMember(f, [&](auto member) {
                if (a.*member != b.*member) out += std::string(f.key) + " ";
            });
        }
    }
    return out.empty() && !(a == b) ? "a field outside the codec" : out;
}

class ParameterCodec : public ::testing::Test {
  protected:
    ParameterCodec() { ctx.link.Ident.Firmware_Version = 362; }

    // Encodes the write list of `in` into a parameter reply and decodes it over `over`.
    Configuration_Class roundTrip(const Configuration_Class& in, const Configuration_Class& over) {
        ctx.config = in;
        const std::vector<std::uint8_t> list = ReadList(ctx.link.Ident.Firmware_Version);
        auto& rx = ctx.link.RX_Frame;
        rx.fill(0);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto& writable = ParameterWriteList();
            if (std::find(writable.begin(), writable.end(), list[i]) == writable.end()) continue;
            const WordBytes b = EncodeParameter(ctx, list[i]);
            rx[2 + 2 * i] = b[0];
            rx[3 + 2 * i] = b[1];
        }
        ctx.link.Reply_Length = static_cast<std::uint8_t>(2 * list.size() + 3);
        ctx.config = over;
        DecodeParams(ctx, ReceivedReply(ctx.link));
        return ctx.config;
    }

    // Decodes a full parameter reply holding `words` by code, every other word 0.
    void receive(const std::map<std::uint8_t, std::uint16_t>& words) {
        const std::vector<std::uint8_t> list = ReadList(ctx.link.Ident.Firmware_Version);
        auto& rx = ctx.link.RX_Frame;
        rx.fill(0);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto word = words.find(list[i]);
            if (word == words.end()) continue;
            rx[2 + 2 * i] = static_cast<std::uint8_t>(word->second >> 8);
            rx[3 + 2 * i] = static_cast<std::uint8_t>(word->second);
        }
        ctx.link.Reply_Length = static_cast<std::uint8_t>(2 * list.size() + 3);
        DecodeParams(ctx, ReceivedReply(ctx.link));
    }

    std::uint16_t sent(std::uint8_t code) {
        const WordBytes b = EncodeParameter(ctx, code);
        return static_cast<std::uint16_t>(BytesToWord(b[0], b[1]));
    }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), work.paths(true)};
};

TEST_F(ParameterCodec, EveryFieldReadsBackAsWritten) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        Configuration_Class a;
        Configuration_Class b;
        randomiseCodecFields(a, rng);
        randomiseCodecFields(b, rng);
        const Configuration_Class back = roundTrip(a, b);
        ASSERT_TRUE(back == a) << "round " << round << ": " << Differences(back, a);
    }
    EXPECT_FALSE(ctx.timers.Timer_GEN_Transmit->isRunning()) << "no default had to be sent";
}

// The exceptions: values that by design come back different.
TEST_F(ParameterCodec, ValuesThatComeBackDifferent) {
    Configuration_Class base;
    randomiseCodecFields(base, *std::make_unique<std::mt19937>(1));
    struct Case {
        const char* why;
        void (*set)(Configuration_Class&);
        void (*expect)(Configuration_Class&);
    };
    const Case cases[] = {
        {"0x9F bit 3 is never written back", [](Configuration_Class& c) { c.Flag9F_3 = true; },
         [](Configuration_Class& c) { c.Flag9F_3 = false; }},
        {"a correction of 0 is sent as no value: the default",
         [](Configuration_Class& c) { c.ACB_Corr_93 = 0; },
         [](Configuration_Class& c) { c.ACB_Corr_93 = 50; }},
        {"a correction whose companion is 0 goes as no value: the default",
         [](Configuration_Class& c) {
             c.ACB_Temper = 0;
             c.ACB_Corr_96 = -30;
         },
         [](Configuration_Class& c) { c.ACB_Corr_96 = c.ACB_Corr_97 = c.LPG_on ? 10 : 20; }},
        {"the doubled value loses its odd bit",
         [](Configuration_Class& c) { c.ACB_Value_98 = 1401; },
         [](Configuration_Class& c) { c.ACB_Value_98 = 1400; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Configuration_Class in = base;
        c.set(in);
        Configuration_Class expected = in;
        c.expect(expected);
        const Configuration_Class back = roundTrip(in, base);
        EXPECT_TRUE(back == expected) << Differences(back, expected);
    }
}

// What the ECU cannot hold is refused by name, never cut to fit or sent as something else.
TEST_F(ParameterCodec, ValuesTheEcuCannotHoldAreRefusedByKey) {
    const struct {
        void (*set)(Configuration_Class&);
        std::uint8_t code;
        const char* key;
    } cases[] = {
        {[](Configuration_Class& c) { c.PG_Time = 128; }, 0x52, "PG_Time"}, // 0x80 reads as 0
        {[](Configuration_Class& c) { c.Param5C = 128; }, 0x5C, "Param5C"},
        {[](Configuration_Class& c) { c.PG_Time = 256; }, 0x52, "PG_Time"},
        {[](Configuration_Class& c) { c.Level1 = 1024 + 55; }, 0x54,
         "Level1"}, // ten bits under four flags
        {[](Configuration_Class& c) { c.Level3 = 70000; }, 0x56, "Level3"},
        {[](Configuration_Class& c) { c.Level_Type = "Nonsense"; }, 0x53, "Level_Type"},
        {[](Configuration_Class& c) { c.PG_RPM = 9000; }, 0x43, "PG_RPM"},
        {[](Configuration_Class& c) { c.RPM_PreScaler = "1:x"; }, 0x45, "RPM_PreScaler"},
        {[](Configuration_Class& c) { c.PG_Temper = 900; }, 0x41, "PG_Temper"},
        {[](Configuration_Class& c) { c.PG_Temper = kTemperatureUnknown; }, 0x41,
         "PG_Temper"}, // nothing read
    };
    for (const auto& c : cases) {
        EcuImage image;
        c.set(image.config);
        const auto bytes = EncodeParameter(image, ctx.temperatureTable(), c.code);
        ASSERT_TRUE(std::holds_alternative<ParamFault>(bytes)) << c.key;
        EXPECT_EQ(std::get<ParamFault>(bytes).key, c.key);
    }
}

TEST_F(ParameterCodec, UnsignedCorrectionReadsBackWithinOnePercent) {
    // 0x99 is read with rounding where it is written as the smallest count of 128ths.
    Configuration_Class base;
    for (int m = 1; m <= 99; ++m) {
        Configuration_Class in = base;
        in.ACB_Corr_99 = m;
        EXPECT_NEAR(roundTrip(in, base).ACB_Corr_99, m, 1) << m;
    }
}

TEST_F(ParameterCodec, PrescalerOutsideTheListIsKeptAsTheEcuSentIt) {
    for (std::uint8_t raw : {0, 7, 200}) {
        Configuration_Class in;
        DecodePreScaler(in, raw);
        ctx.config = in;
        EXPECT_EQ(EncodeParameter(ctx, 0x45)[1], raw);
    }
}

TEST_F(ParameterCodec, LowByteOf52And9FCarryTheirFlags) {
    ctx.config.PG_Time = 0;
    ctx.config.Flag52_3 = false;
    ctx.config.Save_Map = true;
    ctx.config.NoSequentInject = true;
    EXPECT_EQ(EncodeParameter(ctx, 0x52), (WordBytes{0x80, 0x22}));
    ctx.config.LPG_on = false;
    ctx.config.Param5C = 7;
    ctx.config.Flag5C_0 = ctx.config.Flag5C_1 = ctx.config.Flag5C_4 = false;
    ctx.config.Flag5C_5 = ctx.config.Flag5C_6 = ctx.config.Flag5C_7 = false;
    EXPECT_EQ(EncodeParameter(ctx, 0x5C), (WordBytes{7, 0x04}));
}

// A correction read from the ECU goes back on any parameter write as the byte it was:
// 0x99 is unsigned and takes every byte but the no-value 5, bytes that read alike
// included. The signed codes stay within -99..+99.
TEST_F(ParameterCodec, CorrectionsKeepTheirOwnRange) {
    const auto list = ReadList(ctx.link.Ident.Firmware_Version);
    const auto entry = [&](std::uint8_t code) {
        return 2 + 2 * static_cast<std::size_t>(std::find(list.begin(), list.end(), code) -
                                                list.begin());
    };
    auto& rx = ctx.link.RX_Frame;
    rx.fill(0);
    rx[entry(0x98)] = 0x02; // 0x99's companion: 700, read as 1400
    rx[entry(0x98) + 1] = 0xBC;
    ctx.link.Reply_Length = static_cast<std::uint8_t>(2 * list.size() + 3);
    for (int b = 1; b <= 255; ++b) {
        if (b == kNoPercent) continue;
        rx[entry(0x99)] = static_cast<std::uint8_t>(b);
        DecodeParams(ctx, ReceivedReply(ctx.link));
        EXPECT_EQ(EncodeParameter(ctx, 0x99)[0], b) << "read as " << ctx.config.ACB_Corr_99 << " %";
    }

    using C = Configuration_Class;
    ctx.config.ACB_Press = 100;
    ctx.config.ACB_Temper = 40;
    const std::pair<std::uint8_t, std::int32_t C::*> signedCodes[] = {{0x93, &C::ACB_Corr_93},
                                                                      {0x94, &C::ACB_Corr_94},
                                                                      {0x96, &C::ACB_Corr_96},
                                                                      {0x97, &C::ACB_Corr_97}};
    const std::pair<std::int32_t, int> percentToByte[] = {{150, 0x7F}, {99, 0x7F},  {50, 0x40},
                                                          {-10, 0x8D}, {-99, 0xFF}, {-150, 0xFF}};
    for (const auto& [code, field] : signedCodes) {
        for (const auto& [percent, first] : percentToByte) {
            ctx.config.*field = percent;
            EXPECT_EQ(EncodeParameter(ctx, code)[0], first)
                << std::hex << int(code) << std::dec << " " << percent;
        }
    }
}

// A word the ECU reported goes back as it came while the record still says what it says:
// bits no field keeps included, only the bits a write always clears cleared. Once a field
// of it changes, the word is computed from the fields alone.
TEST_F(ParameterCodec, ReportedWordGoesBackWithOnlyTheAlwaysClearedBitsCleared) {
    const struct {
        std::uint8_t code;
        std::uint16_t reported;
        std::uint16_t sent;
        void (*edit)(Configuration_Class&);
        std::uint16_t sentEdited;
    } cases[] = {
        {0x9F, 0xFFFF, 0xD7FF, [](Configuration_Class& c) { c.Flag9F_0 = false; }, 0xD60F},
        {0x5C, 0x05FF, 0x05F7, [](Configuration_Class& c) { c.Param5C = 6; }, 0x06F7},
        {0x54, 0x0FFF, 0x0FFF, [](Configuration_Class& c) { c.Level_Invert = true; }, 0x13FF},
        {0x52, 0x80FF, 0x80FF, [](Configuration_Class& c) { c.Flag52_7 = false; }, 0x807F},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        receive({{c.code, c.reported}});
        EXPECT_EQ(sent(c.code), c.sent);
        c.edit(ctx.config);
        EXPECT_EQ(sent(c.code), c.sentEdited);
    }
}

// A pressure or correction goes back as the ECU reported it only while the words its
// encoding depends on do too.
TEST_F(ParameterCodec, ReportedWordGoesBackOnlyWhileItsCompanionsHold) {
    using C = Configuration_Class;
    const std::map<std::uint8_t, std::uint16_t> companions = {
        {0x5A, 1315}, {0x92, 0x0123}, {0x95, 0x0200}, {0x98, 0x02BC}};
    const struct {
        std::uint8_t code;
        std::uint16_t reported;
        std::int32_t C::*companion;
        std::int32_t edited;
    } cases[] = {
        {0x44, 0x0200, &C::Press_Scale, 2630}, {0x92, 0x0123, &C::Press_Scale, 2630},
        {0x93, 0x4077, &C::ACB_Press, 250},    {0x94, 0x4077, &C::Press_Scale, 2630},
        {0x96, 0x4077, &C::ACB_Temper, 80},    {0x97, 0x4077, &C::ACB_Temper, 80},
        {0x99, 0x5977, &C::ACB_Value_98, 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        auto words = companions;
        words[c.code] = c.reported;
        receive(words);
        ASSERT_EQ(sent(c.code), c.reported);
        ctx.config.*c.companion = c.edited;
        const auto fresh = EncodeFreshParameter(TakeImage(ctx), ctx.temperatureTable(), c.code);
        ASSERT_TRUE(std::holds_alternative<WordBytes>(fresh));
        const WordBytes expected = std::get<WordBytes>(fresh);
        EXPECT_EQ(sent(c.code), BytesToWord(expected[0], expected[1]));
        EXPECT_NE(sent(c.code), c.reported);
    }
}

TEST_F(ParameterCodec, ShortReplyDecodesOnlyWhatArrived) {
    ctx.config.Level5 = 1234;
    const auto list = ReadList(362);
    const auto at =
        static_cast<std::size_t>(std::find(list.begin(), list.end(), 0x58) - list.begin());
    ctx.link.RX_Frame.fill(0xEE);
    ctx.link.Reply_Length = static_cast<std::uint8_t>(2 * at + 3); // stops before 0x58
    DecodeParams(ctx, ReceivedReply(ctx.link));
    EXPECT_EQ(ctx.config.Level5, 1234);
}

} // namespace
} // namespace bifuel::test
