#include "Edits_3D_Unit.h"

#include "Context.h"
#include "files/Colors_3D_Unit.h"
#include "files/SaveLoad_3D_Unit.h"

#include <QCloseEvent>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace bifuel::ui {
namespace {

constexpr QSizeF kContent(TForm_3D_Edits::kDesignWidth - 26, TForm_3D_Edits::kDesignHeight - 44);

// Rows of the panel, top to bottom: the text, the list of changes (the offer only; it
// takes what the text leaves), the name, the result and the buttons.
constexpr double kTextTop = 6;
constexpr double kListMinHeight = 60;
constexpr double kNameTop = 196;
constexpr double kResultTop = kNameTop + 26;
constexpr double kButtonsTop = kResultTop + 28;

// The list drawn dark and translucent, as the editors of the tool windows.
QString listStyle(QColor text) {
    return QStringLiteral(
               "QListWidget { color: %1; background: rgba(0, 0, 0, 130);"
               " border: 1px solid rgba(255, 255, 255, 90); border-radius: 3px; outline: 0; }"
               "QScrollBar:vertical { background: rgba(0, 0, 0, 60); width: 8px; margin: 0; }"
               "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 110); border-radius: "
               "3px;"
               " min-height: 16px; }"
               "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }")
        .arg(text.name(QColor::HexArgb));
}

} // namespace

TForm_3D_Edits::TForm_3D_Edits(Context& ctx, QWidget* mainWindow)
    : HudToolWindow(ctx, QSize(kDesignWidth, kDesignHeight), QSize(320, 190)), main_(mainWindow) {
    setObjectName(QStringLiteral("TForm_3D_Edits"));
    build();
    ApplyFonts();
    ends_ = ctx_.events.operationEnded.subscribe(
        [this](const OperationEnd& end) { operationEnded(end); });
}

void TForm_3D_Edits::build() {
    panel_ = new DesignLayout(kContent, content());
    panel_->setObjectName(QStringLiteral("HudPanel_Edits"));
    panel_->setPanelLook(true, ctx_.settings.Panels_Opacity);
    content()->place(panel_, QRectF(QPointF(0, 0), kContent));

    text_ = new HudLabel(panel_);
    text_->setObjectName(QStringLiteral("HudLabel_Edits_Text"));
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    changes_ = new QListWidget(panel_);
    changes_->setObjectName(QStringLiteral("HudStringListBox_Edits_Changes"));
    changes_->setSelectionMode(QAbstractItemView::NoSelection);
    changes_->setFocusPolicy(Qt::NoFocus);
    changes_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    changes_->setWordWrap(true);
    addEditor(changes_);

    nameLabel_ = new HudLabel(panel_);
    nameLabel_->setObjectName(QStringLiteral("HudLabel_Edits_Name"));
    panel_->place(nameLabel_, QRectF(10, kNameTop, 120, 22));
    name_ = new QLineEdit(panel_);
    name_->setObjectName(QStringLiteral("HudTextBox_Edits_Name"));
    name_->setMaxLength(static_cast<int>(kConfigNameMax));
    panel_->place(name_, QRectF(134, kNameTop, 120, 22));
    addEditor(name_);

    result_ = new HudLabel(panel_);
    result_->setObjectName(QStringLiteral("HudLabel_Edits_Result"));
    result_->setShrinkToFit(true);
    panel_->place(result_, QRectF(10, kResultTop, kContent.width() - 20, 20));

    auto button = [this](const char* name) {
        auto* b = new HudButton(QString(), panel_);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    write_ = button("HudButton_Edits_Write");
    save_ = button("HudButton_Edits_Save");
    drop_ = button("HudButton_Edits_Drop");
    cancel_ = button("HudButton_Edits_Cancel");
    connect(write_, &QAbstractButton::clicked, this, [this] { writeClick(); });
    connect(save_, &QAbstractButton::clicked, this, [this] { saveClick(); });
    connect(drop_, &QAbstractButton::clicked, this, [this] { dropClick(); });
    connect(cancel_, &QAbstractButton::clicked, this, [this] { cancelClosing(); });
    connect(name_, &QLineEdit::returnPressed, this, [this] { saveClick(); });
}

void TForm_3D_Edits::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    for (HudButton* b : {write_, save_, drop_, cancel_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudLabel* l : {text_, nameLabel_, result_})
        l->setDesignFont(font);
    text_->setColour(general);
    nameLabel_->setColour(general);
    applyChromeFonts();
    changes_->setStyleSheet(listStyle(general));
}

bool TForm_3D_Edits::CloseAllowed() {
    if (closeForced_) return true;
    if (closeWrite_ != 0) return false; // the write goes out first; its end closes again
    const CloseNeed need = PrepareClose(ctx_);
    switch (need.step) {
    case CloseStep::Close:
        return true;
    case CloseStep::WaitForWrite:
        closeWrite_ = need.write;
        closing_ = true;
        return false;
    case CloseStep::AskKept:
        closing_ = true;
        ShowOffer();
        return false;
    case CloseStep::AskSave:
        closing_ = true;
        ShowCloseQuestion();
        return false;
    }
    return true;
}

void TForm_3D_Edits::ShowOffer() {
    mode_ = Mode::Offer;
    auto text = [this](std::string_view key) { return FromUtf8(ctx_.LangText(key)); };
    setWindowTitle(text("Edits_Kept_Title"));
    const bool fits = KeptEditsFitEcu(ctx_);
    // Another ECU takes nothing of them: how it differs is no change made meanwhile.
    const bool changedMeanwhile = fits && !KeptEditsEcuChanges(ctx_).empty();
    QString says = text("Edits_Kept_Text");
    if (changedMeanwhile) says += QStringLiteral(" ") + text("Edits_Kept_Ecu_Changed");
    if (!fits) says += QStringLiteral(" ") + text("Edits_Kept_Other_Ecu");
    text_->setText(says);
    fillChanges(changedMeanwhile);
    changes_->show();
    write_->setText(text("Edits_Write"));
    write_->setEnabled(fits);
    write_->show();
    save_->setText(text("Edits_Save"));
    save_->show();
    drop_->setText(text("Edits_Drop"));
    drop_->show();
    cancel_->setText(text("Edits_Cancel"));
    cancel_->setVisible(closing_);
    const EditTracker& t = ctx_.edits;
    name_->setText(FromUtf8(t.Kept ? t.Kept->edited.config.CFG_Name : ctx_.config.CFG_Name));
    showOver();
}

void TForm_3D_Edits::ShowCloseQuestion() {
    mode_ = Mode::CloseQuestion;
    auto text = [this](std::string_view key) { return FromUtf8(ctx_.LangText(key)); };
    setWindowTitle(text("Edits_Close_Title"));
    text_->setText(text("Edits_Close_Text"));
    changes_->hide();
    write_->hide();
    save_->setText(text("Edits_Close_Save"));
    save_->show();
    drop_->setText(text("Edits_Close_Without"));
    drop_->show();
    cancel_->setText(text("Edits_Cancel"));
    cancel_->show();
    name_->setText(FromUtf8(ctx_.config.CFG_Name));
    showOver();
}

void TForm_3D_Edits::fillChanges(bool changedMeanwhile) {
    changes_->clear();
    auto heading = [this](const char* key) {
        auto* item = new QListWidgetItem(FromUtf8(ctx_.LangText(key)), changes_);
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
    };
    auto lines = [this](const FieldChanges& changes) {
        const auto shown = [](const std::string& v) { return v.empty() ? std::string("\"\"") : v; };
        for (const FieldChange& c : changes) {
            changes_->addItem(FromUtf8(
                FillText(ctx_.LangText("Edits_Change"), {c.key, shown(c.from), shown(c.to)})));
        }
    };
    // What the ECU changed meanwhile comes first: it is what a write would be made over.
    if (changedMeanwhile) {
        heading("Edits_Ecu_Changes");
        lines(KeptEditsEcuChanges(ctx_));
        KeptEditsEcuChangesShown(ctx_);
    }
    heading("Edits_Your_Edits");
    lines(KeptEditsChanges(ctx_));
}

void TForm_3D_Edits::showOver() {
    nameLabel_->setText(FromUtf8(ctx_.LangText("Edits_Name")));
    result_->setText(QString());
    for (HudButton* b : {write_, save_, drop_, cancel_})
        b->setDisabled(false);
    write_->setEnabled(mode_ == Mode::Offer && KeptEditsFitEcu(ctx_));
    name_->setEnabled(true);
    nameLabel_->show();
    name_->show();
    ApplyFonts();
    placeTextAndList();
    // The visible buttons share the row, left to right, each as wide as its text needs
    // of it, so that a long translation keeps its size.
    std::vector<HudButton*> row;
    std::vector<double> needs;
    double total = 0;
    for (HudButton* b : {write_, save_, drop_, cancel_}) {
        if (b->isHidden()) continue;
        row.push_back(b);
        needs.push_back(
            std::max(60.0, QFontMetricsF(b->designFont()).horizontalAdvance(b->text()) + 24));
        total += needs.back();
    }
    const double gap = 8;
    const double room = kContent.width() - 20 - gap * static_cast<double>(row.size() - 1);
    double x = 10;
    for (std::size_t i = 0; i < row.size(); ++i) {
        const double w = needs[i] * room / total;
        panel_->place(row[i], QRectF(x, kButtonsTop, w, 26));
        x += w + gap;
    }
    if (main_ != nullptr) {
        move(main_->x() + (main_->width() - width()) / 2,
             main_->y() + (main_->height() - height()) / 2);
    }
    show();
    raise();
    activateWindow();
}

void TForm_3D_Edits::placeTextAndList() {
    // The text takes the room it needs; the list of changes, when shown, what is left.
    const double textWidth = kContent.width() - 20;
    const double room = kNameTop - 6 - kTextTop;
    const bool listed = mode_ == Mode::Offer;
    const double textHeight =
        listed ? std::min(text_->wrappedHeight(textWidth, text_->text()), room - kListMinHeight - 4)
               : room;
    panel_->place(text_, QRectF(10, kTextTop, textWidth, textHeight));
    if (listed)
        panel_->place(changes_,
                      QRectF(10, kTextTop + textHeight + 4, textWidth, room - textHeight - 4));
}

void TForm_3D_Edits::showResult(const std::string& text, bool error) {
    result_->setColour(
        ColourFromText(ctx_.colours.ColourOf(error ? Colour::Txt_Error : Colour::Txt_Complete)));
    result_->setText(FromUtf8(text));
}

std::string TForm_3D_Edits::typedName() const {
    const QByteArray bytes = name_->text().toLatin1();
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

void TForm_3D_Edits::writeClick() {
    const KeptEditsChoice choice = KeptEditsWrite(ctx_);
    if (choice.result != KeptEditsResult::Started) {
        showResult(choice.reason, true);
        return;
    }
    keptWrite_ = choice.write;
    showResult(OperationName(ctx_, Request::WriteAll) + " ...", false);
    for (HudButton* b : {write_, save_, drop_, cancel_})
        b->setDisabled(true);
    name_->setEnabled(false);
}

void TForm_3D_Edits::saveClick() {
    const std::string name = typedName();
    const KeptEditsChoice choice =
        mode_ == Mode::Offer ? KeptEditsSave(ctx_, name) : SaveEditsAs(ctx_, name);
    if (choice.result != KeptEditsResult::Saved) {
        showResult(choice.reason, true);
        return;
    }
    hide();
    goOnClosing();
}

void TForm_3D_Edits::dropClick() {
    if (mode_ == Mode::Offer) {
        KeptEditsDrop(ctx_);
    } else {
        closeForced_ = true;
    }
    hide();
    goOnClosing();
}

void TForm_3D_Edits::operationEnded(const OperationEnd& end) {
    if (end.id != 0 && end.id == closeWrite_) {
        closeWrite_ = 0;
        goOnClosing();
        return;
    }
    if (end.id == 0 || end.id != keptWrite_) return;
    keptWrite_ = 0;
    if (closing_) {
        hide();
        goOnClosing();
        return;
    }
    const bool done = end.result == OperationResult::Done;
    showResult(done ? ctx_.LangText("Edits_Written") : end.reason, !done);
    // The offer has ended: what is left is to close the window.
    nameLabel_->hide();
    name_->hide();
    write_->hide();
    save_->hide();
    drop_->hide();
    cancel_->setText(QStringLiteral("OK"));
    cancel_->show();
    cancel_->setDisabled(false);
    panel_->place(cancel_, QRectF(kContent.width() - 110, kButtonsTop, 100, 26));
}

void TForm_3D_Edits::goOnClosing() {
    if (!closing_) return;
    // Out of the handler that got here: the main window closes as a fresh event.
    QTimer::singleShot(0, this, [this] {
        if (closeMain) closeMain();
    });
}

void TForm_3D_Edits::cancelClosing() {
    closing_ = false;
    hide();
}

void TForm_3D_Edits::closeEvent(QCloseEvent* event) {
    // The title band's cross: the same as Cancel; an open offer stays for later.
    closing_ = false;
    event->accept();
}

} // namespace bifuel::ui
