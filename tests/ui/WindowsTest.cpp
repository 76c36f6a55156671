#include "UiHarness.h"

#include "OpenGL_MSG.h"
#include "Single_Instance.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "files/FindUnit.h"
#include "link/Global_Unit.h"

#include <QLabel>
#include <QPushButton>

#include <filesystem>

namespace bifuel::test {
namespace {

using MessageWindow = StudioHarness;

TEST_F(MessageWindow, ShowsEachTypeWithItsButtons) {
    start();
    run(300);
    struct Case {
        int type;
        std::string text;
        std::vector<QString> buttons;
        QString label;
    };
    const std::vector<Case> cases{
        {3, "", {"Yes", "No"}, "Launch an innovative auto-calibration ?"},
        {12, "", {"OK"}, "\"bifuel-studio.dat\" file not found. Temperature ERROR"},
        {13, "", {"OK"}, ""},
        {13, "Error In Script\n\rScript number : 4", {"OK"}, "Error In Script\nScript number : 4"},
        {15, "", {"OK"}, "To work correctly, please install a newer version of the program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ShowMessageWindow(ctx(), c.type, c.text);
        ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 500));
        std::vector<QString> texts;
        for (ui::HudButton* b : app->message().buttons())
            texts.push_back(b->text());
        EXPECT_EQ(texts, c.buttons);
        EXPECT_EQ(app->message().labelText(), c.label);
        // The row stands centred in its 329-wide panel.
        const auto buttons = app->message().buttons();
        const int left = buttons.front()->x();
        const int right =
            app->message().buttonsPanel()->width() - buttons.back()->geometry().right() - 1;
        EXPECT_LE(std::abs(left - right), 1);
        if (c.type != 15) app->message().close();
    }
}

TEST_F(MessageWindow, UnknownTypeNeverStaysAndTheLastOfTwoQuickMessagesWins) {
    start();
    run(300);
    ShowMessageWindow(ctx(), 99, "");
    run(300);
    EXPECT_FALSE(app->message().isVisible());

    ShowMessageWindow(ctx(), 12, "");
    run(50);
    ShowMessageWindow(ctx(), 13, "second");
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 500));
    EXPECT_EQ(app->message().labelText(), "second");
}

TEST_F(MessageWindow, QuestionAnswerSetsTheAlgorithmAndTheCloseBoxDoesNot) {
    start();
    run(300);
    struct Case {
        int button; // -1: the title bar's close box
        std::string type;
        bool starts;
    };
    ctx().settings.ACB_SCR_Type = "Default";
    ctx().link.Ident.Innovational_Capable = true; // the ECUs the question is asked on
    for (const Case& c : {Case{0, "Innovational", true}, Case{1, "Fast calibration", true},
                          Case{-1, "Fast calibration", false}}) {
        ShowMessageWindow(ctx(), 3, "");
        ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 500));
        QAbstractButton* b = c.button < 0
                                 ? static_cast<QAbstractButton*>(app->message().closeButton())
                                 : app->message().buttons().at(static_cast<std::size_t>(c.button));
        QTest::mouseClick(b, Qt::LeftButton);
        EXPECT_FALSE(app->message().isVisible());
        EXPECT_EQ(ctx().settings.ACB_SCR_Type, c.type);
        // The answer starts the run; the close box starts nothing.
        EXPECT_EQ(AutoCalibrationRunning(ctx()), c.starts);
        EXPECT_EQ(AutoCalibrationNow(ctx()).algorithm, c.type);
        if (c.starts) {
            EXPECT_TRUE(StopAutoCalibration(ctx()));
        }
        EXPECT_FALSE(AutoCalibrationRunning(ctx()));
    }
}

TEST_F(StudioHarness, WaitWindowFollowsTheWriteOverTheMainWindow) {
    start();
    run(300);
    ui::TForm_3D_Wait& wait = app->wait();
    const ui::Rect m = main().frame();
    const std::vector<std::pair<WaitForm, ui::Rect>> steps{
        {WaitForm::Large, ui::WaitLarge(m)},
        {WaitForm::Corner, ui::WaitCorner(m)},
        {WaitForm::Large, ui::WaitLarge(m)}, // a second write comes back to the centre
    };
    for (const auto& [form, where] : steps) {
        ctx().view.TForm_3D_Wait = form;
        run(250);
        EXPECT_TRUE(wait.isVisible());
        EXPECT_EQ((ui::Rect{wait.x(), wait.y(), wait.width(), wait.height()}), where);
        EXPECT_TRUE(wait.indicator()->animating());
    }
    ctx().view.TForm_3D_Wait = WaitForm::Hidden;
    run(250);
    EXPECT_FALSE(wait.isVisible());
    EXPECT_FALSE(wait.indicator()->animating());
}

TEST(WaitGeometry, CentresAlsoOnAFullScreenWindow) {
    EXPECT_EQ(ui::WaitLarge({-12, -12, 1944, 1104}), (ui::Rect{-12 + 897, -12 + 477, 150, 150}));
    EXPECT_EQ(ui::WaitCorner({100, 50, 792, 579}), (ui::Rect{100 + 792 - 57, 77, 50, 50}));
}

TEST(MessageButtons, RowIsCentredInThePanel) {
    const ui::ButtonRow one = ui::MessageButtonRow(1, 329);
    EXPECT_NEAR(one.width, 95.7, 1e-9);
    EXPECT_NEAR(one.x.at(0), 116.65, 1e-9);
    const ui::ButtonRow two = ui::MessageButtonRow(2, 329);
    EXPECT_NEAR(two.width, 94.2, 1e-9);
    EXPECT_NEAR(two.x.at(0), 67.8, 1e-9);
    EXPECT_NEAR(two.x.at(1), 167.0, 1e-9);
}

class FixedOpenGL : public ui::OpenGLCheck {
  public:
    explicit FixedOpenGL(bool works) : works_(works) {}
    bool run() override { return works_; }

  private:
    bool works_;
};

TEST(OpenGLCheck, FailureShowsOnlyThePlainWindowWithTheLanguagesText) {
    TempWorkDir work;
    std::filesystem::create_directories(work.path() / "Language");
    std::ofstream(work.path() / "bifuel-studio.ini", std::ios::binary)
        << "Language=Deutsch\r\nDeutsch_Name=DejaVu Serif\r\n";
    std::ofstream(work.path() / "Language" / "Deutsch.lng", std::ios::binary)
        << "Error_OpenGL_Not_Work OpenGL geht nicht\r\n";
    const Paths paths = work.paths(false);

    FixedOpenGL works(true);
    EXPECT_EQ(ui::CheckOpenGL(works, paths), nullptr);

    FixedOpenGL fails(false);
    const auto window = ui::CheckOpenGL(fails, paths);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->message()->text(), "OpenGL geht nicht");
    EXPECT_EQ(window->message()->font().family(), "DejaVu Serif");
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_NE(w->objectName(), "TForm_3D_GEN") << "no other window is made";
    }
    QTest::mouseClick(window->okButton(), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

TEST(OpenGLCheck, TextsFollowTheSettingsAndLanguageFiles) {
    struct Case {
        const char* what;
        std::string ini;
        std::string lng; // written as Language/<name>.lng for the ini's language
        std::string message;
        std::string font;
    };
    const std::string english = NoOpenGLTexts{}.message;
    const std::vector<Case> cases{
        {"no settings file", "", "", english, "Tahoma"},
        {"English reads no file", "Language=English\r\n", "Error_OpenGL_Not_Work Nope\r\n", english,
         "Tahoma"},
        {"language without the key", "Language=Polski\r\nPolski_Name=Arial\r\n", "Other x\r\n",
         english, "Arial"},
        {"language with the key", "Language=Polski\r\n", "Error_OpenGL_Not_Work Brak OpenGL\r\n",
         "Brak OpenGL", "Tahoma"},
        {"a language that would leave the folder", "Language=../x\r\n", "", english, "Tahoma"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempWorkDir work;
        if (!c.ini.empty())
            std::ofstream(work.path() / "bifuel-studio.ini", std::ios::binary) << c.ini;
        if (!c.lng.empty()) {
            KeyFile ini;
            ASSERT_TRUE(ini.OpenKeyFile(work.path() / "bifuel-studio.ini"));
            ASSERT_TRUE(ini.FindKey("Language"));
            std::filesystem::create_directories(work.path() / "Language");
            std::ofstream(work.path() / "Language" / (ini.Found_Value + ".lng"), std::ios::binary)
                << c.lng;
        }
        const NoOpenGLTexts t = ReadNoOpenGLTexts(work.path(), "bifuel-studio");
        EXPECT_EQ(t.message, c.message);
        EXPECT_EQ(t.font, c.font);
    }
}

TEST_F(StudioHarness, SecondInstanceClosesTheFirstWhichSavesItsSettings) {
    start();
    run(300);
    const std::string name = ui::InstanceServerName("tester", work.path());
    ui::SingleInstance first(name);
    ASSERT_TRUE(first.listen([this] { main().close(); }));
    std::filesystem::remove(work.path() / "bifuel-studio.ini");

    ui::SingleInstance second(name);
    EXPECT_TRUE(second.closeRunningCopy(3000));
    EXPECT_FALSE(main().isVisible());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(std::filesystem::exists(work.path() / "bifuel-studio.ini"))
        << "settings written before the new copy goes on";
    EXPECT_TRUE(second.listen({}));

    ui::SingleInstance nobody(ui::InstanceServerName("tester", work.path() / "elsewhere"));
    EXPECT_FALSE(nobody.closeRunningCopy(500));
}

} // namespace
} // namespace bifuel::test
