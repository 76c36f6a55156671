#include "Skin_3D_Unit.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "files/Colors_3D_Unit.h"
#include "files/Skin_3D_Unit.h"
#include "link/Global_Unit.h"

#include <QComboBox>
#include <QEvent>

#include <algorithm>

namespace bifuel::ui {
namespace {

constexpr QSizeF kContent(TForm_3D_Skin::kDesignWidth - 26, TForm_3D_Skin::kDesignHeight - 44);
constexpr int kBelowMain = 22;
constexpr int kSkinAction = 5;
constexpr int kFontsAction = 6;

std::string textOf(QColor colour) {
    return ColorToText(colour.rgba());
}

} // namespace

TForm_3D_Skin::TForm_3D_Skin(Context& ctx, QWidget* mainWindow)
    : HudToolWindow(ctx, QSize(kDesignWidth, kDesignHeight), QSize(kMinWidth, kMinHeight)),
      main_(mainWindow) {
    setObjectName(QStringLiteral("TForm_3D_Skin"));
    pickColour = SystemColourPicker(this);
    pickFont = SystemFontPicker(this);
    build();
    ApplyTexts();
    ApplyFonts();
}

void TForm_3D_Skin::build() {
    panel_ = new DesignLayout(kContent, content());
    panel_->setObjectName(QStringLiteral("HudPanel_Skin"));
    panel_->setPanelLook(true, ctx_.settings.Panels_Opacity);
    content()->place(panel_, QRectF(QPointF(0, 0), kContent));

    auto button = [this](const char* name, QRectF r) {
        auto* b = new HudButton(QString(), panel_);
        b->setObjectName(QString::fromLatin1(name));
        panel_->place(b, r);
        return b;
    };
    auto swatch = [this](const char* name, QRectF r) {
        auto* s = new HudSwatch(panel_);
        s->setObjectName(QString::fromLatin1(name));
        panel_->place(s, r);
        return s;
    };
    programColour_ = button("HudButton_Skin_Color", QRectF(10, 12, 200, 22));
    programSwatch_ = swatch("Circle_Skin_Color", QRectF(216, 9, 28, 28));
    fontColour_ = button("HudButton_Skin_Font_Color", QRectF(10, 48, 200, 22));
    fontSwatch_ = swatch("Circle_Skin_Font_Color", QRectF(216, 45, 28, 28));
    fontStyle_ = button("HudButton_Skin_Font_Type", QRectF(256, 48, 144, 22));
    elements_ = new QComboBox(panel_);
    elements_->setObjectName(QStringLiteral("HudComboTextBox_Skin_Detals"));
    panel_->place(elements_, QRectF(10, 90, 390, 22));
    addEditor(elements_);
    elementButton_ = button("HudButton_Skin_Detals", QRectF(10, 122, 354, 22));
    elementSwatch_ = swatch("Circle_Skin_Detals", QRectF(372, 119, 28, 28));
    default_ = button("HudButton_Skin_Default", QRectF(290, 168, 110, 24));

    connect(programColour_, &QAbstractButton::clicked, this,
            [this] { HudButton_Skin_ColorClick(); });
    connect(fontColour_, &QAbstractButton::clicked, this,
            [this] { HudButton_Skin_Font_ColorClick(); });
    connect(fontStyle_, &QAbstractButton::clicked, this,
            [this] { HudButton_Skin_Font_TypeClick(); });
    connect(elements_, &QComboBox::activated, this,
            [this](int index) { selectElement(index + 1); });
    connect(elementButton_, &QAbstractButton::clicked, this,
            [this] { HudButton_Skin_DetalsClick(); });
    connect(default_, &QAbstractButton::clicked, this, [this] { HudButton_Skin_DefaultClick(); });
}

void TForm_3D_Skin::ShowSkinWindow() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    if (main_ != nullptr) move(main_->x(), main_->y() + kBelowMain);
    ApplyPanelsOpacity(ctx_.settings.Panels_Opacity);
    ApplyTexts();
    ApplyFonts();
    selectElement(1);
    RefreshSwatches();
    show();
    raise();
}

void TForm_3D_Skin::ApplyTexts() {
    Language& lang = ctx_.language;
    lang.OpenLanguage();
    auto text = [this](std::string_view key) { return FromUtf8(ctx_.LangText(key)); };
    setWindowTitle(text("SKIN_Window"));
    programColour_->setText(text("SKIN_Program_Color"));
    fontColour_->setText(text("SKIN_Font_Color"));
    fontStyle_->setText(text("SKIN_Font_Style"));
    default_->setText(text("Default"));
    const auto& entries = ColourEntries();
    const int current = elements_->currentIndex();
    elements_->clear();
    for (int i = 1; i < kColourCount; ++i)
        elements_->addItem(text(entries[static_cast<std::size_t>(i)].key));
    elements_->setCurrentIndex(current >= 0 ? current : element_ - 1);
    elementButton_->setText(text(entries[static_cast<std::size_t>(element_)].key));
    lang.CloseLanguage();
    fitEditors();
    update();
}

void TForm_3D_Skin::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    for (HudButton* b : {programColour_, fontColour_, fontStyle_, default_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    elementButton_->setDesignFont(font);
    applyChromeFonts();
    RefreshSwatches();
}

void TForm_3D_Skin::RefreshSwatches() {
    programSwatch_->setColour(ColourFromText(ctx_.skin.Color));
    fontSwatch_->setColour(ColourFromText(ctx_.settings.Font_Color));
    const QColor element = ColourFromText(ctx_.colours.ColourOf(element_));
    elementSwatch_->setColour(element);
    elementButton_->setTextColour(element);
    update();
}

void TForm_3D_Skin::ApplyPanelsOpacity(double opacity) {
    panel_->setPanelLook(true, opacity);
}

void TForm_3D_Skin::selectElement(int entry) {
    element_ = std::clamp(entry, 1, kColourCount - 1);
    elements_->setCurrentIndex(element_ - 1);
    elementButton_->setText(
        FromUtf8(ctx_.LangText(ColourEntries()[static_cast<std::size_t>(element_)].key)));
    RefreshSwatches();
}

void TForm_3D_Skin::HudButton_Skin_ColorClick() {
    const auto c = pickColour(ColourFromText(ctx_.skin.Color), programColour_->text());
    if (!c) return;
    // The editor gives one colour: the fill becomes solid in it.
    ctx_.skin.Color = textOf(*c);
    ctx_.skin.Style = BrushStyle::Solid;
    RefreshSwatches();
    QueueDeferredAction(ctx_, kSkinAction, 100);
}

void TForm_3D_Skin::HudButton_Skin_Font_ColorClick() {
    const auto c = pickColour(ColourFromText(ctx_.settings.Font_Color), fontColour_->text());
    if (!c) return;
    SetFontColour(ctx_.settings, ctx_.colours, textOf(*c));
    RefreshSwatches();
    QueueDeferredAction(ctx_, kFontsAction, 100);
}

void TForm_3D_Skin::HudButton_Skin_Font_TypeClick() {
    if (ChooseProgramFont(ctx_, pickFont, fontStyle_->text())) RefreshSwatches();
}

void TForm_3D_Skin::HudButton_Skin_DetalsClick() {
    const auto c =
        pickColour(ColourFromText(ctx_.colours.ColourOf(element_)), elementButton_->text());
    if (!c) return;
    ctx_.colours.set(static_cast<Colour>(element_), textOf(*c));
    RefreshSwatches();
    QueueDeferredAction(ctx_, kFontsAction, 100);
}

void TForm_3D_Skin::HudButton_Skin_DefaultClick() {
    Skin_Default(ctx_.settings, ctx_.colours, ctx_.skin);
    selectElement(1);
    QueueDeferredAction(ctx_, kSkinAction, 300);
    QueueDeferredAction(ctx_, kFontsAction, 300);
}

bool TForm_3D_Skin::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) ApplyTexts();
    return HudToolWindow::event(event);
}

} // namespace bifuel::ui
