#include "Message_3D_Unit.h"

#include "Context.h"
#include "Main_Logic.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "link/Global_Unit.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

constexpr int kWidth = 363;
constexpr int kHeight = 213;
constexpr QRect kTextPanel(16, 35, 329, 134);
constexpr QRect kButtonsPanel(16, 169, 329, 27);
constexpr int kButtonsMinHeight = 32;
constexpr int kButtonHeight = 22;
constexpr int kStartDelayMs = 100;
constexpr int kKindOk = 1;
constexpr int kKindYes = 2;
constexpr int kKindNo = 3;

} // namespace

TForm_3D_MSG::TForm_3D_MSG(Context& ctx, QWidget* mainWindow)
    : QWidget(nullptr), ctx_(ctx), main_(mainWindow) {
    setObjectName(QStringLiteral("TForm_3D_MSG"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    MaskRoundedCorners(this, [](QSize) { return 9.0; });
    setFixedSize(kWidth, kHeight);
    textPanel_ = new HudPanel(this);
    textPanel_->setGeometry(kTextPanel);
    buttonsPanel_ = new HudPanel(this);
    buttonsPanel_->setGeometry(kButtonsPanel);
    buttonsPanel_->setFillOpacity(0.0);
    close_ = new HudButton(QStringLiteral("\u2715"), this);
    close_->setGeometry(kWidth - 30, 7, 20, 18);
    connect(close_, &QAbstractButton::clicked, this, [this] { close(); });
    runTimer_ = ctx_.scheduler.createTimer(kStartDelayMs);
    runTimer_->setOnFire([this] {
        runTimer_->stop();
        placeOverMain();
        show();
        raise();
    });
}

TForm_3D_MSG::~TForm_3D_MSG() = default;

void TForm_3D_MSG::TakeRequests() {
    auto& queue = ctx_.view.Messages;
    if (queue.empty()) return;
    std::vector<MessageRequest> taken;
    taken.swap(queue);
    for (MessageRequest& m : taken)
        Request(m.type, std::move(m.text));
}

void TForm_3D_MSG::Request(int type, std::string text) {
    if (!ctx_.link.Main_Shown) return;
    type_ = type;
    text_ = std::move(text);
    if (shown_) {
        // The window keeps its label and buttons; a later button acts by the new type.
        raise();
        return;
    }
    runTimer_->start();
}

QString TForm_3D_MSG::labelText() const {
    return label_ != nullptr ? label_->text() : QString();
}

void TForm_3D_MSG::placeOverMain() {
    if (main_ == nullptr) return;
    const QRect m = main_->geometry();
    move(m.left() + (m.width() - width()) / 2, m.top() + (m.height() - height()) / 2);
}

void TForm_3D_MSG::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shown_ = true;
    ctx_.language.OpenLanguage();
    setWindowTitle(FromUtf8(ctx_.LangText("Message")));
    const QString yes = FromUtf8(ctx_.LangText("Yes"));
    const QString no = FromUtf8(ctx_.LangText("No"));
    ctx_.language.CloseLanguage();

    std::vector<std::pair<int, QString>> kinds;
    switch (type_) {
    case 3:
        kinds = {{kKindYes, yes}, {kKindNo, no}};
        break;
    case 12:
    case 13:
    case 15:
    case kMessageWriteCutOff:
    case kMessageCalibrationRestore:
        kinds = {{kKindOk, QStringLiteral("OK")}};
        break;
    default:
        // Nothing to show for an unknown type: the window goes again at once.
        close();
        QueueDeferredAction(ctx_, 6, 100);
        return;
    }

    placeButtons(kinds);
    const QRect textRect = textPanel_->geometry();
    label_ = new HudLabel(textPanel_);
    label_->setGeometry(8, 4, textRect.width() - 16, textRect.height() - 8);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    label_->setShrinkToFit(true);
    label_->setText(messageText());
    label_->show();
    ApplyFonts();
    QueueDeferredAction(ctx_, 6, 100);
}

void TForm_3D_MSG::placeButtons(const std::vector<std::pair<int, QString>>& kinds) {
    QRect buttonsRect = kButtonsPanel;
    QRect textRect = kTextPanel;
    if (buttonsRect.height() < kButtonsMinHeight) {
        const int grow = kButtonsMinHeight - buttonsRect.height();
        buttonsRect.adjust(0, -grow, 0, 0);
        textRect.adjust(0, 0, 0, -grow);
    }
    buttonsPanel_->setGeometry(buttonsRect);
    textPanel_->setGeometry(textRect);
    const ButtonRow row = MessageButtonRow(static_cast<int>(kinds.size()), buttonsRect.width());
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        auto* b = new HudButton(kinds[i].second, buttonsPanel_);
        b->setProperty("kind", kinds[i].first);
        b->setGeometry(static_cast<int>(std::lround(row.x[i])), 5,
                       static_cast<int>(std::lround(row.width)), kButtonHeight);
        const int kind = kinds[i].first;
        connect(b, &QAbstractButton::clicked, this, [this, kind] { Answer(kind); });
        b->show();
        buttons_.push_back(b);
    }
}

QString TForm_3D_MSG::messageText() {
    QString text;
    switch (type_) {
    case 3:
        text = FromUtf8(ctx_.LangText("Run_ACB_SCR_Innovational"));
        break;
    case 12:
        text = FromUtf8("\"" + ctx_.paths.Dat_Name.filename().string() + "\" " +
                        ctx_.LangText("Error_File_not_found") + ". " +
                        ctx_.LangText("Error_Temperature"));
        break;
    case 13:
    case kMessageWriteCutOff:
    case kMessageCalibrationRestore:
        text = FromUtf8(text_);
        break;
    case 15:
        text = FromUtf8(text_.empty() ? ctx_.LangText("Error_Version") : text_);
        ctx_.view.TForm_3D_GEN_Enabled = false;
        if (main_ != nullptr) main_->setEnabled(false);
        break;
    default:
        break;
    }
    // The script error text carries "\n\r" line breaks; one break each is enough here.
    text.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    return text;
}

void TForm_3D_MSG::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QColor colour = ColourFromText(ctx_.colours.ColourOf(0));
    if (label_ != nullptr) {
        label_->setDesignFont(ProgramFont(s.Font_Name, 16, 0));
        label_->setColour(colour);
    }
    for (HudButton* b : buttons_) {
        b->setDesignFont(ProgramFont(s.Font_Name, s.Font_Size, 0));
        b->setTextColour(colour);
    }
    close_->setDesignFont(ProgramFont(s.Font_Name, 11, 1));
    close_->setTextColour(colour);
    update();
}

void TForm_3D_MSG::Answer(int kind) {
    // The answer to the innovational question starts the run it chose.
    if (type_ == 3) ACB_Innovational_Answer(ctx_, kind == kKindYes);
    close();
}

void TForm_3D_MSG::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!shown_) return;
    shown_ = false;
    runTimer_->stop();
    for (HudButton* b : buttons_)
        b->deleteLater();
    buttons_.clear();
    if (label_ != nullptr) label_->deleteLater();
    label_ = nullptr;
    if (type_ == 15 && onEndProgram) onEndProgram();
}

void TForm_3D_MSG::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const WindowSkin& skin = ctx_.skin;
    p.setPen(QPen(QColor(0, 0, 0, 110), 1));
    p.setBrush(ColourFromText(skin.Color, QColor(0xD7, 0xD5, 0xD5)));
    p.drawRoundedRect(r, 9, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(14, 18, 24, 200));
    p.drawRoundedRect(r.adjusted(3, 3, -3, -(r.height() - 29)), 7, 7);
    QFont title = ProgramFont(ctx_.settings.Font_Name, 11, 1);
    title.setPixelSize(14);
    p.setFont(title);
    p.setPen(ColourFromText(ctx_.colours.ColourOf(0)));
    p.drawText(QRectF(14, 3, width() - 60, 26), Qt::AlignLeft | Qt::AlignVCenter, windowTitle());
}

void TForm_3D_MSG::mousePressEvent(QMouseEvent* event) {
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TForm_3D_MSG::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
}

} // namespace bifuel::ui
