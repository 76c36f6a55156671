#include "Context.h"
#include "LinkHarness.h"
#include "link/Receiver_Unit.h"

#include <random>

namespace bifuel::test {
namespace {

// Every field the parameter codes carry, set to a random value of its valid range. Values
// that cannot travel unchanged are left out here and named in their own tests below.
void randomiseCodecFields(Configuration_Class& c, std::mt19937& rng) {
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto flag = [&] { return in(0, 1) == 1; };
    auto percent = [&] { return in(0, 1) ? in(1, 99) : -in(1, 99); };
    c.Press_Scale = 1315; // the pressures below read back exactly at the default scale
    c.PG_Temper = in(10, 50);
    c.PG_RPM = 600 + 100 * in(0, 14);
    c.PG_Time = in(0, 127);
    for (bool* f :
         {&c.Flag52_0,        &c.Save_Map, &c.MonoInject,   &c.Flag52_3,          &c.Flag52_4,
          &c.NoSequentInject, &c.Flag52_6, &c.Flag52_7,     &c.Flag5C_0,          &c.Flag5C_1,
          &c.LPG_on,          &c.Flag5C_4, &c.Flag5C_5,     &c.Flag5C_6,          &c.Flag5C_7,
          &c.Flag9F_0,        &c.Flag9F_1, &c.Flag9F_2,     &c.Flag9F_4,          &c.Flag9F_6,
          &c.Flag9F_7,        &c.Flag9F_8, &c.Flag9F_9,     &c.PG_GAS_Hot_Engine, &c.Flag9F_11,
          &c.Level_Invert,    &c.Level_90, &c.Level_Buzzer, &c.GP_Buzzer}) {
        *f = flag();
    }
    c.Param5C = in(0, 127);
    c.Param44_Press = in(0, 44);
    c.Param45 = in(0, 255);
    DecodePreScaler(c, static_cast<std::uint8_t>(in(1, 6)));
    c.Level_Type = std::string(LevelTypeName(in(1, 9)));
    c.Level_Param = in(0, 255);
    c.Level1 = in(0, 1023);
    c.Level2 = in(0, 1023);
    c.Level3 = in(0, 1023);
    c.Level4 = in(0, 1023);
    c.Level5 = in(0, 65535);
    c.ACB_Press = in(1, 448);
    c.ACB_Corr_93 = percent();
    c.ACB_Corr_94 = percent();
    c.ACB_Temper = in(1, 120);
    c.ACB_Corr_96 = percent();
    c.ACB_Corr_97 = percent();
    c.ACB_Value_98 = 2 * in(1, 1023);
    c.ACB_Corr_99 = 70;
}

// The codec fields that differ between two records, for readable failures.
std::string Differences(const Configuration_Class& a, const Configuration_Class& b) {
    std::string out;
    auto check = [&](const char* name, auto member) {
        if (a.*member != b.*member) out += std::string(name) + " ";
    };
#define FIELD(f) check(#f, &Configuration_Class::f)
    FIELD(Press_Scale);
    FIELD(PG_Temper);
    FIELD(PG_RPM);
    FIELD(PG_Time);
    FIELD(Flag52_0);
    FIELD(Save_Map);
    FIELD(MonoInject);
    FIELD(Flag52_3);
    FIELD(Flag52_4);
    FIELD(NoSequentInject);
    FIELD(Flag52_6);
    FIELD(Flag52_7);
    FIELD(Param5C);
    FIELD(Flag5C_0);
    FIELD(Flag5C_1);
    FIELD(LPG_on);
    FIELD(Flag5C_4);
    FIELD(Flag5C_5);
    FIELD(Flag5C_6);
    FIELD(Flag5C_7);
    FIELD(Flag9F_0);
    FIELD(Flag9F_1);
    FIELD(Flag9F_2);
    FIELD(Flag9F_3);
    FIELD(Flag9F_4);
    FIELD(Flag9F_6);
    FIELD(Flag9F_7);
    FIELD(Flag9F_8);
    FIELD(Flag9F_9);
    FIELD(PG_GAS_Hot_Engine);
    FIELD(Flag9F_11);
    FIELD(Param44_Press);
    FIELD(Param45);
    FIELD(RPM_PreScaler);
    FIELD(Level_Type);
    FIELD(Level_Param);
    FIELD(Level1);
    FIELD(Level_Invert);
    FIELD(Level_90);
    FIELD(Level_Buzzer);
    FIELD(GP_Buzzer);
    FIELD(Level2);
    FIELD(Level3);
    FIELD(Level4);
    FIELD(Level5);
    FIELD(ACB_Press);
    FIELD(ACB_Corr_93);
    FIELD(ACB_Corr_94);
    FIELD(ACB_Temper);
    FIELD(ACB_Corr_96);
    FIELD(ACB_Corr_97);
    FIELD(ACB_Value_98);
    FIELD(ACB_Corr_99);
#undef FIELD
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
