// The main window's life: creation, show and close, the deferred actions, the refresh of
// every control from the view state, and the fonts. The rest of the window is in
// Global_Window_Layout.cpp (controls and geometry), Global_Window_Column.cpp (the
// indicator column), Global_Window_Menus.cpp, Global_Window_Keys.cpp and
// Global_Window_Look.cpp (title, fill and the Flip effect).
#include "Global_Window.h"
#include "Global_Window_Parts.h"

#include "Charts_Window.h"
#include "Hud_Window.h"

#include "Context.h"
#include "link/Global_Unit.h"

#include <QApplication>
#include <QCloseEvent>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

constexpr int kRefreshMs = 200;
constexpr int kMenuCloseMs = 300;

void showControl(HudLabel* label, const ViewControl& v, QColor fallback) {
    label->setVisible(v.visible);
    label->setText(FromUtf8(v.text));
    label->setColour(v.colour.empty() ? fallback : ColourFromText(v.colour, fallback));
}

} // namespace

QColor entryColour(const Context& ctx, int entry) {
    return ColourFromText(ctx.colours.ColourOf(entry));
}

// ---- TForm_3D_GEN -----------------------------------------------------------------------

TForm_3D_GEN::TForm_3D_GEN(Context& ctx)
    : QWidget(nullptr), ctx_(ctx), flipRandom_(std::random_device{}()) {
    setObjectName(QStringLiteral("TForm_3D_GEN"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kDesignWidth, kDesignHeight);
    buildControls();

    menuTimer_ = ctx_.scheduler.createTimer(kMenuCloseMs);
    menuTimer_->setOnFire([this] { CloseMenus(); });
    refreshTimer_ = ctx_.scheduler.createTimer(kRefreshMs);
    refreshTimer_->setOnFire([this] { Refresh(); });
    flipTimer_ = ctx_.scheduler.createTimer(kFlipFrameMs);
    flipTimer_->setOnFire([this] { flipStep(); });
    flipOverlay_ = MakeFlipOverlay(this);
    flipOverlay_->hide();

    // The live values reach the screen with the reply that carries them, not a refresh later.
    subscriptions_.push_back(ctx_.events.liveData.subscribe([this] { refreshIndicators(); }));
    subscriptions_.push_back(ctx_.events.titleChanged.subscribe([this] { Update_Title(); }));
    subscriptions_.push_back(ctx_.events.menusClose.subscribe([this] { CloseMenus(); }));
    subscriptions_.push_back(
        ctx_.events.deferredAction.subscribe([this](int action) { RunDeferredAction(action); }));
    qApp->installEventFilter(this);
}

TForm_3D_GEN::~TForm_3D_GEN() {
    qApp->removeEventFilter(this);
}

void TForm_3D_GEN::OpenCharts() {
    const bool opening = !charts_->isVisible();
    charts_->Open();
    if (opening) QueueDeferredAction(ctx_, kActionChartsFonts, 100);
}

void TForm_3D_GEN::RunDeferredAction(int action) {
    switch (action) {
    case kActionLayout:
        placeLayout();
        break;
    case kActionGeometry:
        restoreGeometry();
        break;
    case kActionMinimise:
        showMinimized();
        break;
    case kActionFullScreen:
        ToggleFullScreen();
        break;
    case kActionSkin:
        update();
        if (onSkinChanged) onSkinChanged();
        break;
    case kActionFonts:
        ApplyFonts();
        break;
    case kActionSplashShow:
        showSplash();
        break;
    case kActionSplashHide:
        splash_->hide();
        break;
    case kActionPage0Fonts:
        if (pageIndex_ == 0) setupPage_->ApplyFonts();
        break;
    case kActionPage1Fonts:
        if (pageIndex_ == 1) acbPage_->ApplyFonts();
        break;
    case kActionPage0Fonts + 2:
        if (pageIndex_ == 2) graphPage_->ApplyFonts();
        break;
    case kActionMapFonts:
        if (pageIndex_ == 3) mapPage_->ApplyFonts();
        break;
    case kActionChartsFonts:
        charts_->ApplyFonts();
        break;
    case kActionHistoryFont:
        graphPage_->ApplyHistoryFont();
        break;
    case kActionPromptFont:
        graphPage_->ApplyPromptFont();
        break;
    case kActionScaleFonts:
        if (pageIndex_ == 2) graphPage_->ApplyScaleFonts();
        break;
    default:
        break; // the other pages' font actions: their controls come with the pages
    }
}

void TForm_3D_GEN::FormCreate() {
    MainWindow_Create(ctx_);
    ApplyPanelsOpacity(ctx_.settings.Panels_Opacity);
    menuFileList_->setItems(ctx_.languageView.HudStringListBox_Menu_File);
    menuLngList_->setItems(ctx_.languageView.HudStringListBox_Menu_LNG);
    nameSize_->setValue(static_cast<int>(std::lround(ctx_.layout.Panel_IND_Size_Name)));
    valueSize_->setValue(static_cast<int>(std::lround(ctx_.layout.Panel_IND_Size_Data)));
    fontSize_->setValue(static_cast<int>(std::lround(ctx_.settings.Font_Size)));
    layoutColumn();
    ApplyFonts();
    Refresh();
}

void TForm_3D_GEN::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (ctx_.link.Main_Shown || closed_) return;
    ctx_.link.Main_Shown = true;
    setGeometryByProgram(CentredOn(workArea(), kDesignWidth, kDesignHeight));
    QueueDeferredAction(ctx_, kActionSplashShow, 1);
    QueueDeferredAction(ctx_, kActionGeometry, 100);
    QueueDeferredAction(ctx_, kActionFonts, 100);
    QueueDeferredAction(ctx_, kActionSkin, 100);
    RunDeferredAction(kActionLayout);
    QueueDeferredAction(ctx_, kActionPortOpen, 1000);
    selectPage(ctx_.settings.Page_Index);
    refreshTimer_->start();
}

void TForm_3D_GEN::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    // Edits not on the ECU go out first, or the user is asked; the close comes again.
    if (canClose && !canClose()) {
        event->ignore();
        return;
    }
    closed_ = true;
    refreshTimer_->stop();
    menuTimer_->stop();
    if (!ctx_.settings.Full_Screen) {
        ctx_.layout.Form_3D_GEN_Pos_X = x();
        ctx_.layout.Form_3D_GEN_Pos_Y = y();
        ctx_.layout.Form_3D_GEN_Width = width();
        ctx_.layout.Form_3D_GEN_Height = height();
    }
    ctx_.layout.Panel_IND_Width = columnWidth_;
    MainWindow_Close(ctx_, ctx_.settingsView.Shown);
    event->accept();
    if (onClosed) onClosed();
}

void TForm_3D_GEN::HudButton_Work_ModeClick() {
    bifuel::HudButton_Work_ModeClick(ctx_);
}

void TForm_3D_GEN::Update_Title() {
    title_ = FromUtf8(TitleText(ctx_));
    setWindowTitle(title_.trimmed());
    update(0, 0, width(), kLayoutTop);
}

void TForm_3D_GEN::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = entryColour(ctx_, 0);
    for (HudButton* b :
         {menuFile_, menuLng_, flip_, settings_, portSearch_, workMode_, chartsButton_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudButton* b : tabItems_) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudStringList* l : {menuFileList_, menuLngList_}) {
        l->setDesignFont(font);
        l->setTextColour(general);
    }
    QFont family = ProgramFont(s.Font_Name, s.Font_Size, 0);
    dynamicInd_->setDesignFont(family);
    QFont small = ProgramFont(s.Font_Name, std::max(8.0, s.Font_Size - 1.0), 1);
    portName_->setDesignFont(small);
    linkQuality_->setDesignFont(small);
    connectMarker_->setDesignFont(ProgramFont(s.Font_Name, 10, 0));
    QFont modeFont = ProgramFont(s.Font_Name, s.Font_Size + 3, 1);
    workModeLabel_->setDesignFont(modeFont);
    const double factor = ctx_.link.ECU_Connected ? ctx_.view.IND_Size_Factor : 1;
    for (Indicator& ind : indicators_) {
        const QColor c = entryColour(ctx_, ind.colourEntry);
        ind.name->setDesignFont(
            ProgramFont(s.Font_Name, ctx_.layout.Panel_IND_Size_Name * factor, 0));
        ind.data->setDesignFont(
            ProgramFont(s.Font_Name, ctx_.layout.Panel_IND_Size_Data * factor, 1));
        ind.name->setColour(c);
        ind.data->setColour(c);
        ind.panel->setAccent(c);
    }
    if (pageIndex_ == 0) setupPage_->ApplyFonts();
    if (pageIndex_ == 1) acbPage_->ApplyFonts();
    if (pageIndex_ == 2) graphPage_->ApplyFonts();
    if (pageIndex_ == 3) mapPage_->ApplyFonts();
    charts_->ApplyFonts();
    update();
    if (onFontsApplied) onFontsApplied();
}

void TForm_3D_GEN::Refresh() {
    const LinkView& v = ctx_.view;
    const LanguageView& t = ctx_.languageView;
    refreshIndicators();
    bool layoutChanged = false;
    for (Indicator& ind : indicators_) {
        ind.name->setText(FromUtf8(t.*(ind.caption)));
        const IndicatorView& iv = v.*(ind.view);
        const QRectF want(0, iv.panel.y, columnWidth_, std::max(1, iv.panel.height) - 2);
        if (column_->designRect(ind.panel) != want || ind.panel->isVisible() != iv.panel.visible)
            layoutChanged = true;
    }
    if (layoutChanged) {
        layoutColumn();
        ApplyFonts();
    }
    const QColor general = entryColour(ctx_, 0);
    showControl(portName_, v.HudLabel_Port_Name, general);
    showControl(linkQuality_, v.HudLabel_Port_Connect_Stabil, general);
    showControl(dynamicInd_, v.HudLabel_DynamicIND, general);
    connectMarker_->setVisible(v.HudButton_3D_GEN_Connect_Condition.visible);
    connectMarker_->setColour(entryColour(ctx_, static_cast<int>(Colour::Txt_Attention)));
    portSearch_->setVisible(v.HudButton_Port_Search.visible);
    portSearch_->setText(FromUtf8(t.HudButton_Port_Search));
    workMode_->setText(FromUtf8(t.HudButton_Work_Mode));
    menuFile_->setText(FromUtf8(t.HudButton_Menu_File));
    menuLng_->setText(FromUtf8(t.HudButton_Menu_LNG));
    flip_->setText(FromUtf8(t.HudButton_3D_GEN_Flip));
    settings_->setText(FromUtf8(t.HudButton_3D_GEN_Settings));
    chartsButton_->setText(FromUtf8(ctx_.LangText("Charts_Button")));
    const std::array<const std::string*, 4> tabTexts{&t.HudTabItem_CFG, &t.HudTabItem_ACB,
                                                     &t.HudTabItem_CLB, &t.HudTabItem_MAP};
    for (std::size_t i = 0; i < 4; ++i)
        tabItems_[i]->setText(FromUtf8(*tabTexts[i]));
    setupPage_->Refresh();
    graphPage_->Refresh();
    acbPage_->Refresh();
    mapPage_->Refresh();
    charts_->Refresh();
    if (menuFileList_->count() != static_cast<int>(t.HudStringListBox_Menu_File.size()))
        menuFileList_->setItems(t.HudStringListBox_Menu_File);
    if (menuLngList_->count() != static_cast<int>(t.HudStringListBox_Menu_LNG.size())) {
        menuLngList_->setItems(t.HudStringListBox_Menu_LNG);
        layoutColumn();
    }
    const QString title = FromUtf8(TitleText(ctx_));
    if (title != title_) Update_Title();
    if (isEnabled() != v.TForm_3D_GEN_Enabled) setEnabled(v.TForm_3D_GEN_Enabled);
    if (onRefresh) onRefresh();
}

} // namespace bifuel::ui
