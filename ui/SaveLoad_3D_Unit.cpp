#include "SaveLoad_3D_Unit.h"

#include "Context.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Global_Unit.h"

#include <QCloseEvent>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

constexpr QSizeF kListContent(TForm_3D_SaveLoad::kDesignWidth - 26,
                              TForm_3D_SaveLoad::kDesignHeight - 44);
constexpr QSizeF kDiffContent(TForm_3D_SaveLoad::kDiffWidth - 26,
                              TForm_3D_SaveLoad::kDiffHeight - 44);
constexpr int kBelowMain = 22;
constexpr int kFontsAction = 6;
constexpr double kRowHeight = 22;
constexpr double kGap = 6;
constexpr double kInset = 6; // from the panel's rim

// Lists and tables drawn dark and translucent, as the editors of the tool windows.
QString listStyle(QColor text) {
    const QString c = text.name(QColor::HexArgb);
    return QStringLiteral(
               "QListWidget, QTableWidget { color: %1; background: rgba(0, 0, 0, 130);"
               " border: 1px solid rgba(255, 255, 255, 90); border-radius: 3px; gridline-color: "
               "rgba(255, 255, 255, 40);"
               " selection-background-color: #1a6082; selection-color: %1; outline: 0; }"
               "QTableWidget::item { padding: 1px 3px; }"
               "QHeaderView { background: transparent; }"
               "QHeaderView::section { color: %1; background: rgba(0, 0, 0, 170); border: none;"
               " border-bottom: 1px solid rgba(255, 255, 255, 90); padding: 2px 3px; }"
               "QTableWidget::indicator { width: 11px; height: 11px; border: 1px solid rgba(255, "
               "255, 255, 170);"
               " border-radius: 2px; background: rgba(0, 0, 0, 130); }"
               "QTableWidget::indicator:checked { background: #5abeff; border-color: #d8f0ff; }"
               "QScrollBar:vertical { background: rgba(0, 0, 0, 60); width: 8px; margin: 0; }"
               "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 110); border-radius: "
               "3px; min-height: 16px; }"
               "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }")
        .arg(c);
}

HudButton* AddButton(const char* name, DesignLayout* in, QRectF r) {
    auto* b = new HudButton(QString(), in);
    b->setObjectName(QString::fromLatin1(name));
    in->place(b, r);
    return b;
}

} // namespace

TForm_3D_SaveLoad::TForm_3D_SaveLoad(Context& ctx, QWidget* mainWindow)
    : HudToolWindow(ctx, QSize(kDesignWidth, kDesignHeight), QSize(kMinWidth, kMinHeight)),
      main_(mainWindow) {
    setObjectName(QStringLiteral("TForm_3D_SaveLoad"));
    build();
    ApplyTexts();
    ApplyFonts();
}

void TForm_3D_SaveLoad::build() {
    buildListPage();
    buildDiffPage();
    connectControls();
}

// The list, the name and the run button.
void TForm_3D_SaveLoad::buildListPage() {
    listPage_ = new DesignLayout(kListContent, content());
    listPage_->setObjectName(QStringLiteral("HudPanel_3D_SL"));
    listPage_->setPanelLook(true, ctx_.settings.Panels_Opacity);
    content()->place(listPage_, QRectF(QPointF(0, 0), kListContent));
    list_ = new QListWidget(listPage_);
    list_->setObjectName(QStringLiteral("HudStringListBox_3D_SL_List"));
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    addEditor(list_);
    name_ = new QLineEdit(listPage_);
    name_->setObjectName(QStringLiteral("HudTextBox_3D_SL_Name"));
    addEditor(name_);
    message_ = new HudLabel(listPage_);
    message_->setObjectName(QStringLiteral("HudLabel_3D_SL_Message"));
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    run_ = AddButton(
        "HudButton_3D_SL_Run", listPage_,
        QRectF(kInset, kListContent.height() - kInset - 24, kListContent.width() - 2 * kInset, 24));
}

// The difference view.
void TForm_3D_SaveLoad::buildDiffPage() {
    diffPage_ = new DesignLayout(kDiffContent, content());
    diffPage_->setObjectName(QStringLiteral("HudPanel_3D_SL_Diff"));
    diffPage_->setPanelLook(true, ctx_.settings.Panels_Opacity);
    diffPage_->hide();
    prompt_ = new HudLabel(diffPage_);
    prompt_->setObjectName(QStringLiteral("HudLabel_3D_SL_Diff_Prompt"));
    prompt_->setWordWrap(true);
    prompt_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    table_ = new QTableWidget(0, 3, diffPage_);
    table_->setObjectName(QStringLiteral("HudTable_3D_SL_Diff"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setWordWrap(true);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->verticalHeader()->hide();
    table_->setTextElideMode(Qt::ElideNone);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The columns share the table's width whenever it changes: the view may first be laid
    // out after the window already has its size (File > Default opens it directly).
    table_->viewport()->installEventFilter(this);
    addEditor(table_);
    const double third = (kDiffContent.width() - 2 * kInset - 2 * kGap) / 3;
    const double buttonTop = kDiffContent.height() - kInset - 24;
    loadAll_ =
        AddButton("HudButton_3D_SL_Load_All", diffPage_, QRectF(kInset, buttonTop, third, 24));
    loadTicked_ = AddButton("HudButton_3D_SL_Load_Ticked", diffPage_,
                            QRectF(kInset + third + kGap, buttonTop, third, 24));
    cancel_ = AddButton("HudButton_3D_SL_Cancel", diffPage_,
                        QRectF(kInset + 2 * (third + kGap), buttonTop, third, 24));
}

void TForm_3D_SaveLoad::connectControls() {
    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { HudStringListBox_3D_SL_ListClick(list_->row(item)); });
    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { HudTextBox_3D_SL_NameChange(text); });
    connect(name_, &QLineEdit::returnPressed, this, [this] { HudButton_3D_SL_RunClick(); });
    connect(run_, &QAbstractButton::clicked, this, [this] { HudButton_3D_SL_RunClick(); });
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (filling_ || item->column() != 0) return;
        SaveLoadDiffTick(ctx_, static_cast<std::size_t>(item->row()),
                         item->checkState() == Qt::Checked);
    });
    connect(loadAll_, &QAbstractButton::clicked, this, [this] {
        SaveLoadDiffLoad(ctx_, true);
        Refresh();
    });
    connect(loadTicked_, &QAbstractButton::clicked, this, [this] {
        SaveLoadDiffLoad(ctx_, false);
        Refresh();
    });
    connect(cancel_, &QAbstractButton::clicked, this, [this] {
        SaveLoadDiffCancel(ctx_);
        Refresh();
    });
}

void TForm_3D_SaveLoad::ShowSaveLoadWindow() {
    if (main_ != nullptr) move(main_->x(), main_->y() + kBelowMain);
    ApplyPanelsOpacity(ctx_.settings.Panels_Opacity);
    ApplyTexts();
    ApplyFonts();
    Refresh();
    show();
    raise();
    activateWindow();
    name_->setFocus();
    QueueDeferredAction(ctx_, kFontsAction, 100);
}

void TForm_3D_SaveLoad::showPage(bool diff) {
    if (diff == diffShown_) return;
    diffShown_ = diff;
    const QSizeF design = diff ? kDiffContent : kListContent;
    const QSize size = diff ? QSize(kDiffWidth, kDiffHeight) : QSize(kDesignWidth, kDesignHeight);
    content()->setDesignSize(design);
    content()->place(diff ? diffPage_ : listPage_, QRectF(QPointF(0, 0), design));
    listPage_->setVisible(!diff);
    diffPage_->setVisible(diff);
    setMinimumSize(diff ? QSize(kDiffWidth, kMinHeight) : QSize(kMinWidth, kMinHeight));
    resize(size);
}

void TForm_3D_SaveLoad::Refresh() {
    const SaveLoadView& v = ctx_.saveLoad;
    if (!v.shown) {
        if (isVisible()) hide();
        showPage(false);
        return;
    }
    showPage(v.Diff_Shown);
    if (v.Diff_Shown) {
        applyDiffTexts();
        fillDiff();
        return;
    }
    fillList();
}

QString TForm_3D_SaveLoad::message() const {
    const SaveLoadView& v = ctx_.saveLoad;
    if (!v.Name_Refused.empty()) return FromUtf8(v.Name_Refused);
    if (v.Last_Error.empty()) return {};
    const char* heading = v.mode == SaveLoadMode::Save ? "SL_Save_Refused" : "SL_Load_Refused";
    return FromUtf8(ctx_.LangText(heading)) + QLatin1Char('\n') + FromUtf8(v.Last_Error);
}

void TForm_3D_SaveLoad::fillList() {
    const SaveLoadView& v = ctx_.saveLoad;
    filling_ = true;
    QStringList names;
    for (const std::string& n : v.HudStringListBox_3D_SL_List)
        names << FromUtf8(n);
    QStringList shown;
    for (int i = 0; i < list_->count(); ++i)
        shown << list_->item(i)->text();
    if (names != shown) {
        list_->clear();
        list_->addItems(names);
    }
    const QString name = FromUtf8(v.HudTextBox_3D_SL_Name);
    if (name_->text() != name) name_->setText(name);
    run_->setText(FromUtf8(v.HudButton_3D_SL_Run_Text));
    run_->setEnabled(v.HudButton_3D_SL_Run_Enabled);
    // A reason takes room from the list: the lines it needs at the window's width.
    const QString text = message();
    message_->setText(text);
    message_->setVisible(!text.isEmpty());
    const double w = kListContent.width() - 2 * kInset;
    const double nameTop = kListContent.height() - kInset - 24 - kGap - kRowHeight;
    const double reasonHeight = std::min(message_->wrappedHeight(w, text), nameTop - 80);
    const double listBottom = nameTop - kGap - (reasonHeight > 0 ? reasonHeight + kGap : 0);
    listPage_->place(list_, QRectF(kInset, kInset, w, listBottom - kInset));
    if (reasonHeight > 0)
        listPage_->place(message_, QRectF(kInset, listBottom + kGap, w, reasonHeight));
    listPage_->place(name_, QRectF(kInset, nameTop, w, kRowHeight));
    filling_ = false;
}

void TForm_3D_SaveLoad::fillDiff() {
    const SaveLoadView& v = ctx_.saveLoad;
    filling_ = true;
    const QString prompt = FromUtf8(v.Diff_Prompt);
    prompt_->setText(prompt);
    const double w = kDiffContent.width() - 2 * kInset;
    const double promptHeight = prompt_->wrappedHeight(w, prompt);
    diffPage_->place(prompt_, QRectF(kInset, kInset, w, promptHeight));
    const double tableTop = kInset + promptHeight + kGap;
    diffPage_->place(
        table_, QRectF(kInset, tableTop, w, kDiffContent.height() - kInset - 24 - kGap - tableTop));
    fitColumns();
    table_->clearSpans();
    table_->setRowCount(static_cast<int>(v.Diff_Rows.size()));
    for (int i = 0; i < table_->rowCount(); ++i) {
        const SaveLoadDiffRow& r = v.Diff_Rows[static_cast<std::size_t>(i)];
        auto* caption = new QTableWidgetItem(FromUtf8(r.caption));
        caption->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        caption->setCheckState(r.ticked ? Qt::Checked : Qt::Unchecked);
        table_->setItem(i, 0, caption);
        table_->setItem(i, 1, new QTableWidgetItem(FromUtf8(r.ecuText)));
        table_->setItem(i, 2, new QTableWidgetItem(FromUtf8(r.fileText)));
        if (r.kind != SaveLoadDiffRow::Kind::Setting) {
            // The diagram and the maps: one state over both value columns.
            table_->setSpan(i, 1, 1, 2);
            table_->item(i, 1)->setText(FromUtf8(r.fileText));
            table_->item(i, 2)->setText(QString());
            if (!r.changed) table_->item(i, 1)->setForeground(QColor(255, 255, 255, 120));
        }
    }
    table_->resizeRowsToContents();
    filling_ = false;
}

void TForm_3D_SaveLoad::applyDiffTexts() {
    // Default compares with the factory set-up: its own column and buttons.
    const bool factory = ctx_.saveLoad.Diff_Default;
    auto text = [this](std::string_view key) { return FromUtf8(ctx_.LangText(key)); };
    table_->setHorizontalHeaderLabels({text("SL_Diff_Setting"), text("SL_Diff_ECU"),
                                       text(factory ? "SL_Default_Column" : "SL_Diff_File")});
    loadAll_->setText(text(factory ? "Default" : "SL_Load_All"));
    loadTicked_->setText(text(factory ? "SL_Default_Ticked" : "SL_Load_Ticked"));
}

void TForm_3D_SaveLoad::fitColumns() {
    // The caption takes half the width, each value a quarter.
    const int w = table_->viewport()->width();
    table_->setColumnWidth(1, w / 4);
    table_->setColumnWidth(2, w / 4);
    table_->setColumnWidth(0, w - 2 * (w / 4));
    table_->resizeRowsToContents();
}

bool TForm_3D_SaveLoad::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_->viewport() && event->type() == QEvent::Resize) fitColumns();
    return HudToolWindow::eventFilter(watched, event);
}

void TForm_3D_SaveLoad::resizeEvent(QResizeEvent* event) {
    HudToolWindow::resizeEvent(event);
    if (diffShown_) fitColumns();
}

void TForm_3D_SaveLoad::ApplyPanelsOpacity(double opacity) {
    listPage_->setPanelLook(true, opacity);
    diffPage_->setPanelLook(true, opacity);
}

void TForm_3D_SaveLoad::ApplyTexts() {
    Language& lang = ctx_.language;
    lang.OpenLanguage();
    auto text = [this](std::string_view key) { return FromUtf8(ctx_.LangText(key)); };
    setWindowTitle(text("Dialogue"));
    applyDiffTexts();
    cancel_->setText(text("SL_Cancel"));
    lang.CloseLanguage();
    update();
}

void TForm_3D_SaveLoad::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    for (HudButton* b : {run_, loadAll_, loadTicked_, cancel_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudLabel* l : {message_, prompt_}) {
        l->setDesignFont(font);
        l->setColour(general);
    }
    const QString style = listStyle(general);
    list_->setStyleSheet(style);
    table_->setStyleSheet(style);
    applyChromeFonts();
    if (isVisible()) Refresh();
}

void TForm_3D_SaveLoad::HudStringListBox_3D_SL_ListClick(int row) {
    if (row < 0) return;
    SaveLoadListClick(ctx_, static_cast<std::size_t>(row));
    Refresh();
}

void TForm_3D_SaveLoad::HudTextBox_3D_SL_NameChange(const QString& text) {
    if (filling_) return;
    SaveLoadNameChanged(ctx_, ToUtf8(text));
    // The core cuts the name: the box shows what it kept, the cursor at its end.
    Refresh();
}

void TForm_3D_SaveLoad::HudButton_3D_SL_RunClick() {
    if (!run_->isEnabled()) return;
    SaveLoadRun(ctx_);
    Refresh();
}

bool TForm_3D_SaveLoad::event(QEvent* event) {
    // A language picked while the window is open: it follows on its next activation.
    if (event->type() == QEvent::WindowActivate) ApplyTexts();
    return HudToolWindow::event(event);
}

void TForm_3D_SaveLoad::closeEvent(QCloseEvent* event) {
    event->accept();
    CloseSaveLoad(ctx_);
    showPage(false);
}

} // namespace bifuel::ui
