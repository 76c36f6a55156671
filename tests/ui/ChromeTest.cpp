#include "UiHarness.h"

#include "Skin_3D_Unit.h"
#include "files/Colors_3D_Unit.h"
#include "files/FindUnit.h"
#include "files/Skin_3D_Unit.h"
#include "link/Check_Versions.h"
#include "link/Main_Window.h"

#include <QFontMetrics>
#include <QLineEdit>

#include <cmath>
#include <cstdio>
#include <random>

namespace bifuel::test {
namespace {

std::string argbText(std::uint32_t argb) {
    char text[10];
    std::snprintf(text, sizeof text, "#%08X", static_cast<unsigned>(argb));
    return text;
}

TEST(FlipColour, KeepsTheAlphaAndTakesRedGreenBlueFromTheGenerator) {
    struct Case {
        const char* old;
        std::uint32_t alpha;
    };
    // A text that is not a colour counts as opaque.
    for (const Case& c :
         {Case{"#EAD7D5D5", 0xEA}, Case{"#00102030", 0x00}, Case{"#7fabcdef", 0x7F},
          Case{"red", 0xFF}, Case{"#EAD7D5", 0xFF}, Case{"#GGD7D5D5", 0xFF}, Case{"", 0xFF}}) {
        std::mt19937 random(7);
        std::mt19937 same(7);
        const std::uint32_t first = static_cast<std::uint32_t>(same()) & 0xFFFFFFu;
        const std::uint32_t second = static_cast<std::uint32_t>(same()) & 0xFFFFFFu;
        EXPECT_EQ(FlipColour(c.old, random), argbText(c.alpha << 24 | first)) << c.old;
        // Each flip draws anew from the same generator.
        EXPECT_EQ(FlipColour(c.old, random), argbText(c.alpha << 24 | second)) << c.old;
    }
}

double luminance(const std::string& text) {
    const auto channel = [&](std::size_t at) {
        const double c = std::stoi(text.substr(at, 2), nullptr, 16) / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(3) + 0.7152 * channel(5) + 0.0722 * channel(7);
}

TEST(ColourDefaults, EveryDefaultReadsOnTheDarkPanels) {
    // The two ends of the panels' fill; colours of texts, points and frames need 3:1 there.
    for (const char* panel : {"#FF222830", "#FF0E1116"}) {
        for (int i = 1; i < kColourCount; ++i) {
            const std::string colour(ColourEntries()[static_cast<std::size_t>(i)].defaultText);
            const double ratio = (luminance(colour) + 0.05) / (luminance(panel) + 0.05);
            EXPECT_GE(ratio, 3.0) << ColourEntries()[static_cast<std::size_t>(i)].key << " "
                                  << colour << " on " << panel;
        }
    }
}

TEST(FitPixelSize, TakesTheLargestSizeThatFitsTheRoom) {
    QFont font;
    font.setBold(true);
    const QString text = QStringLiteral("Bifuel Studio");
    for (const double width : {40.0, 90.0, 150.0, 400.0}) {
        const int px = ui::FitPixelSize(font, text, QSizeF(width, 200), 60);
        QFont at = font;
        at.setPixelSize(px);
        QFont larger = font;
        larger.setPixelSize(px + 1);
        if (px > 6) {
            EXPECT_LE(QFontMetricsF(at).horizontalAdvance(text), width) << width;
        }
        if (px < 60) {
            EXPECT_GT(QFontMetricsF(larger).horizontalAdvance(text), width) << width;
        }
    }
    // The height limits it too.
    QFont at = font;
    at.setPixelSize(ui::FitPixelSize(font, text, QSizeF(1000, 20), 60));
    EXPECT_LE(QFontMetricsF(at).height(), 20);
}

using Chrome = StudioHarness;

void showServiceButtons(ui::TForm_3D_GEN& main) {
    QTest::mousePress(main.portName(), Qt::LeftButton);
    main.passwordBox()->setText(QStringLiteral("kirvel4815"));
    QTest::keyClick(main.passwordBox(), Qt::Key_Return);
}

TEST_F(Chrome, LeftPressOnFlipTurnsTheContentAndGivesTheSkinANewColourOnce) {
    start();
    run(2500); // past the splash
    showServiceButtons(main());
    const std::string old = ctx().skin.Color;
    main().flipRandom().seed(11);
    std::mt19937 expectedRandom(11);
    const std::string expected = FlipColour(old, expectedRandom);

    QTest::mousePress(main().flipButton(), Qt::LeftButton);
    ASSERT_TRUE(main().flipRunning());
    run(150);
    EXPECT_TRUE(main().flipOverlay()->isVisible());
    EXPECT_FALSE(main().contentLayout()->isVisible()) << "its picture turns in its place";
    const ui::FlipPose away = ui::FlipPoseAt(main().flipElapsed());
    EXPECT_GT(away.angle, 0);
    EXPECT_LT(away.angle, 90);
    EXPECT_GT(away.depth, 0);
    EXPECT_EQ(ctx().skin.Color, old) << "the colour changes only edge-on";

    // A second press while it runs changes nothing: one colour is drawn, not two.
    const int elapsed = main().flipElapsed();
    QTest::mousePress(main().flipButton(), Qt::LeftButton);
    EXPECT_GE(main().flipElapsed(), elapsed);
    run(300); // turning in, with the new colour
    QTest::mousePress(main().flipButton(), Qt::LeftButton);
    EXPECT_GT(main().flipElapsed(), ui::kFlipHalfMs);
    ASSERT_TRUE(runUntil([this] { return !main().flipRunning(); }, 1000));
    EXPECT_FALSE(main().flipOverlay()->isVisible());
    EXPECT_TRUE(main().contentLayout()->isVisible());
    EXPECT_EQ(ctx().skin.Color, expected);
    EXPECT_EQ(ctx().skin.Color.substr(0, 3), old.substr(0, 3)) << "the alpha stays";

    // The other windows take the new skin, as after a colour picked in the skin window.
    run(200);
    EXPECT_EQ(app->skin().programSwatch()->colour(), ui::ColourFromText(expected));

    // Saved with the settings.
    main().close();
    KeyFile file;
    ASSERT_TRUE(file.OpenKeyFile(work.path() / "bifuel-studio.ini"));
    ASSERT_TRUE(file.FindKey("Form_3D_Color"));
    EXPECT_EQ(file.Found_Value, expected);
}

TEST_F(Chrome, RightPressOnFlipOpensTheSkinWindowAndChangesNothing) {
    start();
    run(300);
    showServiceButtons(main());
    const WindowSkin before = ctx().skin;
    QTest::mousePress(main().flipButton(), Qt::RightButton);
    EXPECT_TRUE(app->skin().isVisible());
    EXPECT_FALSE(main().flipRunning());
    run(1000);
    EXPECT_TRUE(ctx().skin == before);
}

TEST_F(Chrome, TitleKeepsTheFileAndTheEcuInAWindowWithTheSimulatorBadge) {
    connectToSimulator();
    ctx().config.CFG_Name = "Golf_IV_1.6_Installer_Garage";
    main().Update_Title();
    ASSERT_EQ(main().width(), ui::kDesignWidth);
    const QString file = QStringLiteral("Golf_IV_1.6_Installer_Garage.cfg");
    const QString model = QString::fromStdString(ModelDisplayName(ctx().config.ECU_Model));
    ASSERT_TRUE(main().titleText().contains(file)) << "the title itself keeps everything";
    const QString shown = main().shownTitle();
    EXPECT_TRUE(shown.contains(file)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(model)) << shown.toStdString();

    // The fitting itself, from a wide room down to one the file name alone fills.
    QString title = QString::fromStdString(TitleText(ctx()));
    title = title.left(title.lastIndexOf(QStringLiteral("     ["))); // the badge shows the note
    QFont font;
    font.setPixelSize(12);
    const QFontMetrics m(font);
    const int fileWidth = m.horizontalAdvance(file);
    const int modelAndFile = m.horizontalAdvance(model + QStringLiteral("   ") + file);
    for (int room = m.horizontalAdvance(title) + 10; room > 40; room -= 7) {
        const QString fitted = ui::FitTitle(title, m, room);
        SCOPED_TRACE(fitted.toStdString() + " in " + std::to_string(room));
        EXPECT_LE(m.horizontalAdvance(fitted), room);
        if (room >= fileWidth) {
            EXPECT_TRUE(fitted.contains(file));
        } else {
            // Only the file name is left, shortened in its middle.
            EXPECT_TRUE(fitted.startsWith(file.left(2)) && fitted.contains(QChar(0x2026)));
        }
        if (room >= modelAndFile + m.horizontalAdvance(QStringLiteral(" 1.23"))) {
            EXPECT_TRUE(fitted.contains(model));
        }
    }
}

TEST_F(Chrome, MenusKeepOneItemHeightAtAnySize) {
    std::filesystem::create_directories(work.path() / "Language");
    std::filesystem::copy_file(std::filesystem::path(BIFUEL_SOURCE_DIR) / "data" / "Language" /
                                   "Deutsch.lng",
                               work.path() / "Language" / "Deutsch.lng");
    start();
    run(300);
    for (const QSize size :
         {QSize(ui::kDesignWidth, ui::kDesignHeight), QSize(1000, 700), QSize(500, 400)}) {
        main().resize(size);
        QCoreApplication::processEvents();
        ui::HudStringList* lng = main().languageMenu();
        ui::HudStringList* file = main().fileMenu();
        ASSERT_GE(lng->count(), 1);
        ASSERT_LT(lng->count(), file->count()) << "a short list shows the fault";
        const int h = file->itemHeight();
        EXPECT_NEAR(h, ui::HudStringList::kItemDesignHeight * main().contentLayout()->scaleY(), 1);
        for (ui::HudButton* button : {main().fileMenuButton(), main().languageMenuButton()}) {
            QTest::mousePress(button, Qt::LeftButton);
            ui::HudStringList* list = button == main().fileMenuButton() ? file : lng;
            ASSERT_TRUE(list->isVisible());
            for (int i = 0; i < list->count(); ++i)
                EXPECT_EQ(list->itemRect(i).height(), h);
            // The panel ends under the last item.
            EXPECT_NEAR(list->height(), list->count() * h, 2) << size.width();
        }
        main().CloseMenus();
    }
}

TEST_F(Chrome, RoundedWindowsAreMaskedAndFullScreenShowsTheWholeTitleBand) {
    start();
    run(2500);
    ShowMessageWindow(ctx(), 13, "corners");
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 1000));
    app->skin().ShowSkinWindow();
    app->wait().Wait_Show_Large();
    QCoreApplication::processEvents();
    for (QWidget* w :
         std::initializer_list<QWidget*>{&main(), &app->skin(), &app->message(), &app->wait()}) {
        SCOPED_TRACE(w->objectName().toStdString());
        const QRegion mask = w->mask();
        EXPECT_FALSE(mask.contains(QPoint(0, 0)));
        EXPECT_FALSE(mask.contains(QPoint(w->width() - 1, w->height() - 1)));
        EXPECT_TRUE(mask.contains(QPoint(w->width() / 2, 0)));
        EXPECT_TRUE(mask.contains(QPoint(w->width() / 2, w->height() / 2)));
    }
    app->wait().hide();

    main().ToggleFullScreen();
    QCoreApplication::processEvents();
    const ui::Rect a = main().workArea();
    const QRect area(a.left, a.top, a.width, a.height);
    const auto onScreen = [&](QWidget* w) {
        return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    };
    EXPECT_TRUE(main().mask().isEmpty()) << "full screen meets the screen's edges";
    for (QWidget* w :
         std::initializer_list<QWidget*>{main().logo(), main().minimiseCircle(),
                                         main().fullScreenCircle(), main().contentLayout()}) {
        EXPECT_TRUE(area.contains(onScreen(w))) << w->metaObject()->className();
    }
    EXPECT_GE(onScreen(main().contentLayout()).top(), onScreen(main().logo()).bottom());
    EXPECT_EQ(main().visibleRect().translated(main().pos()), area);
}

} // namespace
} // namespace bifuel::test
