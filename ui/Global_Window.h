#pragma once

#include "Acb_Page.h"
#include "Graph_Page.h"
#include "Hud_Widgets.h"
#include "Main_Logic.h"
#include "Map_Page.h"
#include "Setup_Page.h"
#include "data/Live_Data.h"
#include "files/Language_View.h"
#include "link/Link_View.h"
#include "runtime/Signal.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

class QFontMetrics;
class QLineEdit;
class QPainter;

namespace bifuel {
class Context;
class Timer;
} // namespace bifuel

namespace bifuel::ui {

// The title shortened to `room` pixels. Its parts (separated by five blanks) are the
// program with its version, then the ECU, then the configuration file: the program part
// goes first, then dates and labels, and the file name stays in sight to the last.
QString FitTitle(const QString& title, const QFontMetrics& metrics, int room);

// The Flip effect: the content turns away about its horizontal axis to 90 degrees while
// it moves back to depth 300, takes the new colour edge-on, and turns in from 270 to 360
// degrees while it comes forward again; 300 ms each way.
inline constexpr int kFlipHalfMs = 300;
inline constexpr int kFlipFrameMs = 20;
inline constexpr double kFlipDepth = 300;
struct FlipPose {
    double angle = 0; // degrees about the horizontal axis
    double depth = 0; // away from the viewer
};
FlipPose FlipPoseAt(int elapsedMs);

// A list of texts to pick from: the File and Language menus.
class HudStringList : public QWidget, public HudItem {
  public:
    explicit HudStringList(QWidget* parent = nullptr);
    void setItems(const std::vector<std::string>& items);
    int count() const { return static_cast<int>(items_.size()); }
    QString item(int i) const { return items_.at(static_cast<std::size_t>(i)); }
    int itemIndex() const { return index_; }
    void setItemIndex(int index);
    void setTextColour(QColor colour);
    std::function<void(int)> onChange;
    std::function<void()> onMouseMove;
    std::function<void()> onMouseLeave;
    // Where item i lies, for input and for tests. Every item has one height, whatever
    // the number of items.
    QRect itemRect(int i) const;
    int itemHeight() const;
    static constexpr double kItemDesignHeight = 20;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void fontChanged() override { update(); }

  private:
    std::vector<QString> items_;
    int index_ = -1;
    int hover_ = -1;
    QColor textColour_ = Qt::white;
};

// One indicator of the column: panel, name label and value label.
struct Indicator {
    DesignLayout* panel = nullptr;
    HudLabel* name = nullptr;
    HudLabel* data = nullptr;
    IndicatorView LinkView::*view = nullptr;
    ViewControl DataView::*value = nullptr;
    std::string LanguageView::*caption = nullptr;
    int colourEntry = 0;
};

class ChartsWindow;

// The main window: title bar with its two circles, the indicator column with the port and
// mode panels, the splitter, the four pages, the menus and the start-up splash.
// One class over several files, one for each thing it does (Global_Window*.cpp): its
// parts share most of its controls, so they stay members rather than pass them around.
class TForm_3D_GEN : public QWidget {
  public:
    explicit TForm_3D_GEN(Context& ctx);
    ~TForm_3D_GEN() override;

    // Main window creation: the context's records, then the texts and the look.
    void FormCreate();
    // Runs one of the window's deferred actions (the queue calls it).
    void RunDeferredAction(int action);
    // Brings every control in line with the context's view state.
    void Refresh();
    void Update_Title();
    // Fonts and colours of the window and of the other open windows.
    void ApplyFonts();

    // Hand-overs to the other windows.
    std::function<void()> onFontsApplied;   // the other windows style themselves
    std::function<void()> onSkinChanged;    // the other windows copy the skin
    std::function<void()> onRefresh;        // after each refresh: the other windows
    std::function<void()> onClosed;         // the window closed: the program ends
    std::function<bool()> canClose;         // false: closing waits (edits would be lost)
    std::function<void()> onSettingsButton; // the hidden Settings button
    std::function<void(Qt::MouseButton)> onFlipButton;
    std::function<void()> onPortSearch; // the port search button
    std::function<void()> onIndicatorsPainted;

    // Controls, for the other windows and for tests.
    Context& context() { return ctx_; }
    HudLabel* valueLabel(int i) { return indicators_.at(static_cast<std::size_t>(i)).data; }
    HudLabel* nameLabel(int i) { return indicators_.at(static_cast<std::size_t>(i)).name; }
    static constexpr int kIndicators = 8;
    HudLabel* portName() { return portName_; }
    HudLabel* linkQuality() { return linkQuality_; }
    HudLabel* statusLine() { return dynamicInd_; }
    HudLabel* workModeLabel() { return workModeLabel_; }
    HudButton* workModeButton() { return workMode_; }
    HudButton* portSearchButton() { return portSearch_; }
    HudButton* fileMenuButton() { return menuFile_; }
    HudButton* languageMenuButton() { return menuLng_; }
    HudStringList* fileMenu() { return menuFileList_; }
    HudStringList* languageMenu() { return menuLngList_; }
    QWidget* fileMenuPanel() { return menuFilePanel_; }
    QWidget* languageMenuPanel() { return menuLngPanel_; }
    QLineEdit* passwordBox() { return password_; }
    HudButton* flipButton() { return flip_; }
    HudButton* settingsButton() { return settings_; }
    ChromeCircle* minimiseCircle() { return minimise_; }
    ChromeCircle* fullScreenCircle() { return fullScreen_; }
    DesignLayout* contentLayout() { return layout_; }
    DesignLayout* page(int i) { return pages_.at(static_cast<std::size_t>(i)); }
    SetupPage& setupPage() { return *setupPage_; }
    GraphPage& graphPage() { return *graphPage_; }
    AcbPage& acbPage() { return *acbPage_; }
    MapPage& mapPage() { return *mapPage_; }
    HudButton* chartsButton() { return chartsButton_; }
    ChartsWindow& charts() { return *charts_; }
    // The charts button and F8: the charts window over this one.
    void OpenCharts();
    int pageIndex() const { return pageIndex_; }
    void selectPage(int index);
    double columnWidth() const { return columnWidth_; }
    // The splitter rule: the column grows by dx when the new width lies inside the limits.
    bool moveSplitter(double dx);
    HudSlider* nameSizeSlider() { return nameSize_; }
    HudSlider* valueSizeSlider() { return valueSize_; }
    HudSlider* fontSizeSlider() { return fontSize_; }
    QWidget* splash() { return splash_; }
    QString titleText() const { return title_; }
    bool menuOpen() const { return menuOpen_; }
    // The screen's work area (the tests and the other windows ask).
    Rect workArea() const;
    Rect frame() const;

    // File menu items and the mode/keyboard actions, as the controls call them.
    void HudStringListBox_Menu_FileChange(int index);
    void HudStringListBox_Menu_LNGChange(int index);
    // A language picked by name (menu or Settings window): every text follows.
    void TakeLanguage(const std::string& name);
    void HudButton_Work_ModeClick();
    void ToggleFullScreen();
    // The page panels' opacity (the Panels_Opacity setting).
    void ApplyPanelsOpacity(double opacity);
    void CloseMenus();

    // The Flip button's left press: runs the Flip effect; false while one runs.
    bool Flip();
    bool flipRunning() const { return flipElapsed_ >= 0; }
    int flipElapsed() const { return flipElapsed_; }
    QWidget* flipOverlay() { return flipOverlay_; }
    // Seeded once; tests seed it again to know the colour.
    std::mt19937& flipRandom() { return flipRandom_; }

    // The part of the window on screen: all of it, or in full screen all but the margin
    // that lies outside the work area.
    QRect visibleRect() const;
    QWidget* logo() { return logo_; }
    // The title as drawn, and the room it has beside the logo, the badge and the circles.
    QString shownTitle() const;
    int titleRoom() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void buildColumn();
    void buildIndicators();
    void buildPortPanel();
    void buildModePanel();
    void buildSplitter();
    void buildSizeSliders();
    void buildPages();
    void buildMenus();
    void placeMenus();
    // The splitter's mouse events: true when the event was the splitter's.
    bool dragSplitter(QEvent* event);
    // Hands a key to FormKeyDown or FormKeyUp, unless a text box has the focus.
    void forwardKey(QObject* watched, QEvent* event);
    struct TitleLayout;
    TitleLayout titleLayout() const;
    void placeLayout();
    // The window's fill (the skin) over the visible part.
    void paintSkin(QPainter& p) const;
    void flipStep();
    void openMenu(bool file);
    void layoutColumn();
    void placeChrome();
    void setGeometryByProgram(const Rect& r);
    void restoreGeometry();
    void refreshIndicators();
    void FormKeyDown(int key, bool shift = false);
    void FormKeyUp(int key);
    void passwordEnter();
    void showSplash();
    Qt::Edges edgesAt(QPoint p) const;

    Context& ctx_;
    std::array<Indicator, kIndicators> indicators_{};
    DesignLayout* layout_ = nullptr;
    DesignLayout* column_ = nullptr;
    DesignLayout* portPanel_ = nullptr;
    DesignLayout* portCondition_ = nullptr;
    DesignLayout* modePanel_ = nullptr;
    HudPanel* splitter_ = nullptr;
    DesignLayout* tabs_ = nullptr;
    std::array<HudButton*, 4> tabItems_{};
    std::array<DesignLayout*, 4> pages_{};
    std::vector<DesignLayout*> pagePanels_;
    SetupPage* setupPage_ = nullptr; // owned by its panel
    GraphPage* graphPage_ = nullptr; // owned by its panel
    AcbPage* acbPage_ = nullptr;     // owned by its upper panel
    MapPage* mapPage_ = nullptr;     // owned by its panel
    HudLabel* portName_ = nullptr;
    HudLabel* linkQuality_ = nullptr;
    HudLabel* connectMarker_ = nullptr;
    HudLabel* dynamicInd_ = nullptr;
    HudButton* portSearch_ = nullptr;
    HudLabel* workModeLabel_ = nullptr;
    HudButton* workMode_ = nullptr;
    HudButton* menuFile_ = nullptr;
    HudButton* menuLng_ = nullptr;
    HudButton* flip_ = nullptr;
    HudButton* settings_ = nullptr;
    HudButton* chartsButton_ = nullptr;
    std::unique_ptr<ChartsWindow> charts_; // made with the window: it records from the start
    QLineEdit* password_ = nullptr;
    DesignLayout* menuFilePanel_ = nullptr;
    DesignLayout* menuLngPanel_ = nullptr;
    HudStringList* menuFileList_ = nullptr;
    HudStringList* menuLngList_ = nullptr;
    HudSlider* nameSize_ = nullptr;
    HudSlider* valueSize_ = nullptr;
    HudSlider* fontSize_ = nullptr;
    ChromeCircle* minimise_ = nullptr;
    ChromeCircle* fullScreen_ = nullptr;
    QWidget* splash_ = nullptr;
    QWidget* logo_ = nullptr;

    std::unique_ptr<Timer> menuTimer_;    // Timer_Menu
    std::unique_ptr<Timer> refreshTimer_; // view state to controls between live replies
    std::unique_ptr<Timer> flipTimer_;    // the Flip effect's frames
    QWidget* flipOverlay_ = nullptr;
    std::mt19937 flipRandom_;
    int flipElapsed_ = -1; // -1: no Flip running
    bool flipColoured_ = false;
    std::vector<Subscription> subscriptions_; // what the core tells this window
    bool menuOpen_ = false;
    int pageIndex_ = 0;
    double columnWidth_ = kColumnDesignWidth;
    bool settingGeometry_ = false;
    QSize programSize_;
    QSize maskedSize_; // the size the corner mask was made for; empty: no mask
    QString title_;
    bool splitterDrag_ = false;
    double splitterX_ = 0;
    QPoint dragOffset_;
    bool moving_ = false;
    bool closed_ = false;
};

} // namespace bifuel::ui
