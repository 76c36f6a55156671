// The indicator column: the eight indicators, the port and mode panels, the splitter
// that sets the column's width and the sliders of the indicators' text sizes.
#include "Global_Window.h"
#include "Global_Window_Parts.h"

#include "Hud_Window.h"

#include "Context.h"
#include "link/Global_Unit.h"

#include <QLineEdit>
#include <QMouseEvent>

#include <algorithm>

namespace bifuel::ui {
namespace {

constexpr double kSplitterWidth = 5;
constexpr double kSliderHeight = 10;

} // namespace

void TForm_3D_GEN::buildColumn() {
    column_ = new DesignLayout(QSizeF(columnWidth_, kColumnHeight), layout_);
    column_->setObjectName(QStringLiteral("HudPanel_IND"));
    buildIndicators();
    buildPortPanel();
    buildModePanel();
    buildSplitter();
    buildSizeSliders();
}

void TForm_3D_GEN::buildIndicators() {
    struct Def {
        IndicatorView LinkView::*view;
        ViewControl DataView::*value;
        std::string LanguageView::*caption;
        Colour colour;
        const char* name;
    };
    const std::array<Def, kIndicators> defs{{
        {&LinkView::HudPanel_IND_Petrol, &DataView::HudLabel_IND_Petrol_Data,
         &LanguageView::HudLabel_IND_Petrol_Name, Colour::Petrol, "HudPanel_IND_Petrol"},
        {&LinkView::HudPanel_IND_Gas, &DataView::HudLabel_IND_Gas_Data,
         &LanguageView::HudLabel_IND_Gas_Name, Colour::Gas, "HudPanel_IND_Gas"},
        {&LinkView::HudPanel_IND_RPM, &DataView::HudLabel_IND_RPM_Data,
         &LanguageView::HudLabel_IND_RPM_Name, Colour::RPM, "HudPanel_IND_RPM"},
        {&LinkView::HudPanel_IND_PressVap, &DataView::HudLabel_IND_PressVap_Data,
         &LanguageView::HudLabel_IND_PressVap_Name, Colour::PressVap, "HudPanel_IND_PressVap"},
        {&LinkView::HudPanel_IND_PressColl, &DataView::HudLabel_IND_PressColl_Data,
         &LanguageView::HudLabel_IND_PressColl_Name, Colour::Manifuld, "HudPanel_IND_PressColl"},
        {&LinkView::HudPanel_IND_PressDiff, &DataView::HudLabel_IND_PressDiff_Data,
         &LanguageView::HudLabel_IND_PressDiff_Name, Colour::PressDiff, "HudPanel_IND_PressDiff"},
        {&LinkView::HudPanel_IND_TempGas, &DataView::HudLabel_IND_TempGas_Data,
         &LanguageView::HudLabel_IND_TempGas_Name, Colour::TempGas, "HudPanel_IND_TempGas"},
        {&LinkView::HudPanel_IND_TempVap, &DataView::HudLabel_IND_TempVap_Data,
         &LanguageView::HudLabel_IND_TempVap_Name, Colour::TempVap, "HudPanel_IND_TempVap"},
    }};
    for (std::size_t i = 0; i < defs.size(); ++i) {
        Indicator& ind = indicators_[i];
        ind.view = defs[i].view;
        ind.value = defs[i].value;
        ind.caption = defs[i].caption;
        ind.colourEntry = static_cast<int>(defs[i].colour);
        ind.panel = new DesignLayout(QSizeF(columnWidth_, 50), column_);
        ind.panel->setObjectName(QString::fromLatin1(defs[i].name));
        ind.panel->setPanelLook(true);
        ind.name = new HudLabel(ind.panel);
        ind.name->setShrinkToFit(true);
        ind.data = new HudLabel(ind.panel);
        ind.data->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ind.data->onPainted = [this] {
            if (onIndicatorsPainted) onIndicatorsPainted();
        };
    }
}

void TForm_3D_GEN::buildPortPanel() {
    portPanel_ = new DesignLayout(QSizeF(columnWidth_, 50), column_);
    portPanel_->setObjectName(QStringLiteral("HudPanel_Port"));
    portPanel_->setPanelLook(true);
    portCondition_ = new DesignLayout(QSizeF(columnWidth_ - 10, 20), portPanel_);
    portCondition_->setPanelLook(true, 0.6);
    portName_ = new HudLabel(portCondition_);
    linkQuality_ = new HudLabel(portCondition_);
    linkQuality_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    portName_->setShrinkToFit(true);
    linkQuality_->setShrinkToFit(true);
    // Lit while a request waits for its reply.
    connectMarker_ = new HudLabel(portCondition_);
    connectMarker_->setText(QStringLiteral("\u25CF"));
    connectMarker_->setAlignment(Qt::AlignCenter);
    portSearch_ = new HudButton(QStringLiteral("Auto search port"), portPanel_);
    dynamicInd_ = new HudLabel(portPanel_);
    dynamicInd_->setAlignment(Qt::AlignCenter);
    dynamicInd_->setShrinkToFit(true);
    dynamicInd_->setWordWrap(true);
    connect(portSearch_, &QAbstractButton::clicked, this, [this] {
        if (onPortSearch) onPortSearch();
    });
    for (HudLabel* l : {portName_, linkQuality_, dynamicInd_}) {
        l->onMousePress = [this] {
            password_->setFocus(Qt::MouseFocusReason);
            password_->clear();
        };
    }
}

void TForm_3D_GEN::buildModePanel() {
    modePanel_ = new DesignLayout(QSizeF(columnWidth_, 50), column_);
    modePanel_->setObjectName(QStringLiteral("HudPanel_Pult"));
    modePanel_->setPanelLook(true);
    workModeLabel_ = new HudLabel(modePanel_);
    workModeLabel_->setAlignment(Qt::AlignCenter);
    workMode_ = new HudButton(QStringLiteral("Mode"), modePanel_);
    connect(workMode_, &QAbstractButton::clicked, this, [this] { HudButton_Work_ModeClick(); });
}

void TForm_3D_GEN::buildSplitter() {
    splitter_ = new HudPanel(layout_);
    splitter_->setObjectName(QStringLiteral("HudPanel_Splitter"));
    splitter_->setFillOpacity(0.5);
    splitter_->setRadius(2);
    splitter_->setCursor(Qt::SplitHCursor);
    splitter_->installEventFilter(this);
}

void TForm_3D_GEN::buildSizeSliders() {
    nameSize_ = new HudSlider(6, 22, layout_);
    valueSize_ = new HudSlider(6, 50, layout_);
    fontSize_ = new HudSlider(6, 20, layout_);
    nameSize_->onChange = [this](int v) {
        ctx_.layout.Panel_IND_Size_Name = v;
        ApplyFonts();
    };
    valueSize_->onChange = [this](int v) {
        ctx_.layout.Panel_IND_Size_Data = v;
        ApplyFonts();
    };
    fontSize_->onChange = [this](int v) {
        ctx_.settings.Font_Size = static_cast<float>(v);
        QueueDeferredAction(ctx_, kActionFonts, 100);
    };
}

void TForm_3D_GEN::layoutColumn() {
    const double w = columnWidth_;
    layout_->place(column_, QRectF(5, kColumnTop, w, kColumnHeight));
    column_->setDesignSize(QSizeF(w, kColumnHeight));
    const LinkView& v = ctx_.view;
    for (Indicator& ind : indicators_) {
        const IndicatorView& iv = v.*(ind.view);
        ind.panel->setDesignSize(QSizeF(w, std::max(1, iv.panel.height)));
        column_->place(ind.panel, QRectF(0, iv.panel.y, w, std::max(1, iv.panel.height) - 2));
        ind.panel->place(ind.name, QRectF(8, iv.name.y, w - 12, iv.name.height));
        ind.panel->place(ind.data, QRectF(8, iv.data.y, w - 14, iv.data.height));
        ind.panel->setVisible(iv.panel.visible);
    }
    column_->place(portPanel_, QRectF(0, 400, w, 48));
    portPanel_->setDesignSize(QSizeF(w, 48));
    portPanel_->place(portCondition_, QRectF(5, 2, w - 10, 18));
    portCondition_->setDesignSize(QSizeF(w - 10, 18));
    portCondition_->place(portName_, QRectF(5, 0, (w - 10) * 0.55, 18));
    portCondition_->place(connectMarker_, QRectF((w - 10) * 0.55, 2, 10, 14));
    portCondition_->place(linkQuality_, QRectF((w - 10) * 0.62, 0, (w - 10) * 0.38 - 5, 18));
    portPanel_->place(portSearch_, QRectF(5, 24, w - 10, 20));
    portPanel_->place(dynamicInd_, QRectF(3, 20, w - 6, 27));
    column_->place(modePanel_, QRectF(0, 450, w, 48));
    modePanel_->setDesignSize(QSizeF(w, 48));
    modePanel_->place(workModeLabel_, QRectF(5, 2, w - 10, 22));
    modePanel_->place(workMode_, QRectF(5, 25, w - 10, 20));

    const double pagesLeft = 5 + w + kSplitterWidth;
    const double pagesWidth = kLayoutWidth - pagesLeft - 5;
    layout_->place(splitter_,
                   QRectF(5 + w + 1, kColumnTop + 4, kSplitterWidth - 2, kColumnHeight - 8));
    layout_->place(tabs_, QRectF(pagesLeft, kColumnTop, pagesWidth, kColumnHeight));
    const double sliderTop = kColumnTop + kColumnHeight - 2;
    layout_->place(nameSize_, QRectF(5, sliderTop, w / 2, kSliderHeight));
    layout_->place(valueSize_, QRectF(5 + w / 2, sliderTop, w / 2, kSliderHeight));
    layout_->place(fontSize_, QRectF(pagesLeft, sliderTop, pagesWidth, kSliderHeight));
    placeMenus();
    ctx_.layout.Panel_IND_Width = w;
}

bool TForm_3D_GEN::moveSplitter(double dx) {
    const double width = columnWidth_ + dx;
    if (!ColumnWidthAccepted(width)) return false;
    columnWidth_ = width;
    layoutColumn();
    return true;
}

// The splitter's mouse events drag the column's edge.
bool TForm_3D_GEN::dragSplitter(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return false;
    auto* me = static_cast<QMouseEvent*>(event);
    if (event->type() == QEvent::MouseButtonPress && me->button() == Qt::LeftButton) {
        splitterDrag_ = true;
        splitterX_ = me->globalPosition().x();
        return true;
    }
    if (event->type() == QEvent::MouseMove && splitterDrag_) {
        const double dx =
            (me->globalPosition().x() - splitterX_) / std::max(0.01, layout_->scaleX());
        if (moveSplitter(dx)) splitterX_ = me->globalPosition().x();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        splitterDrag_ = false;
        return true;
    }
    return false;
}

void TForm_3D_GEN::refreshIndicators() {
    const DataView& d = ctx_.dataView;
    for (Indicator& ind : indicators_)
        ind.data->setText(FromUtf8((d.*(ind.value)).text));
    workModeLabel_->setText(FromUtf8(d.HudLabel_Work_Mode.text));
    workModeLabel_->setColour(ColourFromText(d.HudLabel_Work_Mode.colour, entryColour(ctx_, 0)));
}

} // namespace bifuel::ui
