#include "Port_3D_Unit.h"

#include "Context.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace bifuel::ui {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 236;
constexpr QSizeF kPanel(300, 190);

void showLabel(HudLabel* label, const ViewControl& v, QColor fallback) {
    label->setVisible(v.visible);
    label->setText(FromUtf8(v.text));
    label->setColour(v.colour.empty() ? fallback : ColourFromText(v.colour, fallback));
}

} // namespace

TForm_3D_Port::TForm_3D_Port(Context& ctx, QWidget* mainWindow)
    : QWidget(nullptr), ctx_(ctx), main_(mainWindow) {
    setObjectName(QStringLiteral("TForm_3D_Port"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    MaskRoundedCorners(this, [](QSize) { return 9.0; });
    setFixedSize(kWidth, kHeight);

    panel_ = new DesignLayout(kPanel, this);
    panel_->setObjectName(QStringLiteral("HudPanel_3D_Port"));
    panel_->setPanelLook(true);
    panel_->setGeometry(10, 36, static_cast<int>(kPanel.width()),
                        static_cast<int>(kPanel.height()));

    search_ = new HudLabel(panel_);
    search_->setAlignment(Qt::AlignCenter);
    search_->setWordWrap(true);
    search_->setShrinkToFit(true);
    busy_ = new HudBusy(panel_);
    const SearchingLookGeometry g =
        SearchingLookLayout(static_cast<int>(kPanel.width()), static_cast<int>(kPanel.height()));
    panel_->place(search_,
                  QRectF(g.HudLabel_3D_Port_Search.x, g.HudLabel_3D_Port_Search.y,
                         g.HudLabel_3D_Port_Search.width, g.HudLabel_3D_Port_Search.height));
    panel_->place(busy_, QRectF(g.AniIndicator_3D_Port.x, g.AniIndicator_3D_Port.y,
                                g.AniIndicator_3D_Port.width, g.AniIndicator_3D_Port.height));

    numLabel_ = new HudLabel(panel_);
    numPanel_ = new HudPanel(panel_);
    numPanel_->setFillOpacity(0.6);
    numData_ = new HudLabel(numPanel_);
    numData_->setAlignment(Qt::AlignCenter);
    number_ = new HudLabel(panel_);
    number_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    nameLabel_ = new HudLabel(panel_);
    namePanel_ = new HudPanel(panel_);
    namePanel_->setFillOpacity(0.6);
    nameData_ = new HudLabel(namePanel_);
    nameData_->setAlignment(Qt::AlignCenter);
    progress_ = new HudProgress(panel_);
    memoPanel_ = new HudPanel(panel_);
    memoPanel_->setFillOpacity(0.6);
    memo_ = new HudLabel(memoPanel_);
    memo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    panel_->place(numLabel_, QRectF(10, 8, 100, 22));
    panel_->place(numPanel_, QRectF(112, 8, 50, 22));
    panel_->place(number_, QRectF(200, 8, 90, 22));
    panel_->place(nameLabel_, QRectF(10, 36, 100, 22));
    panel_->place(namePanel_, QRectF(112, 36, 178, 22));
    panel_->place(progress_, QRectF(10, 66, 280, 12));
    panel_->place(memoPanel_, QRectF(10, 86, 280, 96));
    numData_->setGeometry(0, 0, 50, 22);
    nameData_->setGeometry(0, 0, 178, 22);
    memo_->setGeometry(8, 4, 264, 88);

    close_ = new HudButton(QStringLiteral("\u2715"), this);
    close_->setGeometry(kWidth - 30, 8, 20, 18);
    connect(close_, &QAbstractButton::clicked, this, [this] { close(); });
    ApplyFonts();
}

void TForm_3D_Port::placeOverMain() {
    if (main_ == nullptr) return;
    const QRect m = main_->geometry();
    move(m.left() + (m.width() - width()) / 2, m.top() + (m.height() - height()) / 2);
}

void TForm_3D_Port::Refresh() {
    const PortView& v = ctx_.portView;
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    if (ctx_.link.Port_Window_Shown != isVisible()) {
        if (ctx_.link.Port_Window_Shown) {
            placeOverMain();
            show();
            raise();
        } else {
            closingByProgram_ = true;
            close();
            closingByProgram_ = false;
        }
    }
    if (!isVisible()) return;
    setWindowTitle(FromUtf8(v.Title));
    showLabel(search_, v.HudLabel_3D_Port_Search, general);
    busy_->setVisible(v.AniIndicator_3D_Port.visible);
    busy_->setAnimating(v.AniIndicator_3D_Port_Animate && v.AniIndicator_3D_Port.visible);
    showLabel(numLabel_, v.HudLabel_3D_Port_Num, general);
    numPanel_->setVisible(v.HudPanel_3D_Port_Num.visible);
    showLabel(numData_, v.HudLabel_3D_Port_Num_Data, general);
    showLabel(nameLabel_, v.HudLabel_3D_Port_Name, general);
    namePanel_->setVisible(v.HudPanel_3D_Port_Name.visible);
    showLabel(nameData_, v.HudLabel_3D_Port_Name_Data, general);
    showLabel(number_, v.HudLabel_3D_Port_Number, general);
    progress_->setVisible(v.ProgressBar_3D_Port.visible);
    progress_->setRange(v.ProgressBar_3D_Port_Value.max);
    progress_->setValue(v.ProgressBar_3D_Port_Value.value);
    memoPanel_->setVisible(v.HudMemo_3D_Port.visible);
    QStringList lines;
    for (const std::string& l : v.HudMemo_3D_Port_Lines)
        lines << FromUtf8(l);
    memo_->setText(lines.join(QLatin1Char('\n')));
    memo_->setColour(general);
    update();
}

void TForm_3D_Port::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    for (HudLabel* l : {numLabel_, numData_, nameLabel_, nameData_, number_, memo_})
        l->setDesignFont(font);
    search_->setDesignFont(ProgramFont(s.Font_Name, s.Font_Size + 4, 1));
    close_->setDesignFont(ProgramFont(s.Font_Name, 11, 1));
    update();
}

void TForm_3D_Port::closeEvent(QCloseEvent* event) {
    event->accept();
    // Closed by the user: no traffic until the next search or port change.
    if (!closingByProgram_ && ctx_.link.Port_Window_Shown) ClosePortWindow(ctx_);
    busy_->setAnimating(false);
}

void TForm_3D_Port::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor(0, 0, 0, 110), 1));
    p.setBrush(ColourFromText(ctx_.skin.Color, QColor(0xD7, 0xD5, 0xD5)));
    p.drawRoundedRect(r, 9, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(14, 18, 24, 200));
    p.drawRoundedRect(r.adjusted(3, 3, -3, -(r.height() - 31)), 7, 7);
    QFont title = ProgramFont(ctx_.settings.Font_Name, 14, 1);
    title.setPixelSize(14);
    p.setFont(title);
    p.setPen(ColourFromText(ctx_.colours.ColourOf(0)));
    p.drawText(QRectF(14, 3, width() - 60, 28), Qt::AlignLeft | Qt::AlignVCenter, windowTitle());
}

void TForm_3D_Port::mousePressEvent(QMouseEvent* event) {
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TForm_3D_Port::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
}

// ---- PortSetupDialog --------------------------------------------------------------------

PortSetupDialog::PortSetupDialog(const std::vector<std::string>& ports, const std::string& portName,
                                 const PortLineSettings& line, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PortSetupDialog"));
    setWindowTitle(QStringLiteral("Setup"));
    setModal(true);
    auto* group = new QGroupBox(QStringLiteral(" Settings "), this);
    auto* form = new QFormLayout(group);
    port_ = new QComboBox(group);
    port_->setEditable(true);
    for (const std::string& p : ports)
        port_->addItem(FromUtf8(p));
    const QString current = FromUtf8(portName);
    if (!current.isEmpty() && port_->findText(current) < 0) port_->addItem(current);
    port_->setCurrentText(current);
    baud_ = new QComboBox(group);
    for (const qint32 rate : QSerialPortInfo::standardBaudRates())
        baud_->addItem(QString::number(rate), rate);
    if (baud_->findData(line.Baud_Rate) < 0)
        baud_->addItem(QString::number(line.Baud_Rate), line.Baud_Rate);
    baud_->setCurrentIndex(baud_->findData(line.Baud_Rate));
    dataBits_ = new QComboBox(group);
    for (int bits = 5; bits <= 8; ++bits)
        dataBits_->addItem(QString::number(bits), bits);
    dataBits_->setCurrentIndex(dataBits_->findData(line.Data_Bits));
    stopBits_ = new QComboBox(group);
    stopBits_->addItem(QStringLiteral("1"), static_cast<int>(PortStopBits::One));
    stopBits_->addItem(QStringLiteral("1.5"), static_cast<int>(PortStopBits::OneAndHalf));
    stopBits_->addItem(QStringLiteral("2"), static_cast<int>(PortStopBits::Two));
    stopBits_->setCurrentIndex(stopBits_->findData(static_cast<int>(line.Stop_Bits)));
    parity_ = new QComboBox(group);
    const std::pair<const char*, PortParity> parities[] = {{"None", PortParity::None},
                                                           {"Even", PortParity::Even},
                                                           {"Odd", PortParity::Odd},
                                                           {"Space", PortParity::Space},
                                                           {"Mark", PortParity::Mark}};
    for (const auto& [text, value] : parities)
        parity_->addItem(QString::fromLatin1(text), static_cast<int>(value));
    parity_->setCurrentIndex(parity_->findData(static_cast<int>(line.Parity)));
    flow_ = new QComboBox(group);
    const std::pair<const char*, PortFlowControl> flows[] = {
        {"None", PortFlowControl::None},
        {"Hardware (RTS/CTS)", PortFlowControl::Hardware},
        {"Software (XON/XOFF)", PortFlowControl::Software}};
    for (const auto& [text, value] : flows)
        flow_->addItem(QString::fromLatin1(text), static_cast<int>(value));
    flow_->setCurrentIndex(flow_->findData(static_cast<int>(line.Flow_Control)));
    form->addRow(QStringLiteral("Port"), port_);
    form->addRow(QStringLiteral("Baud rate"), baud_);
    form->addRow(QStringLiteral("Data bits"), dataBits_);
    form->addRow(QStringLiteral("Stop bits"), stopBits_);
    form->addRow(QStringLiteral("Parity"), parity_);
    form->addRow(QStringLiteral("Flow control"), flow_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* box = new QVBoxLayout(this);
    box->addWidget(group);
    box->addWidget(buttons);
}

std::string PortSetupDialog::portName() const {
    return port_->currentText().trimmed().toStdString();
}

PortLineSettings PortSetupDialog::lineSettings() const {
    PortLineSettings s;
    s.Baud_Rate = baud_->currentData().toInt();
    s.Data_Bits = dataBits_->currentData().toInt();
    s.Stop_Bits = static_cast<PortStopBits>(stopBits_->currentData().toInt());
    s.Parity = static_cast<PortParity>(parity_->currentData().toInt());
    s.Flow_Control = static_cast<PortFlowControl>(flow_->currentData().toInt());
    return s;
}

std::optional<PortSetupDialog::Choice> PortSetupDialog::Ask(const std::vector<std::string>& ports,
                                                            const std::string& portName,
                                                            const PortLineSettings& line,
                                                            QWidget* parent) {
    PortSetupDialog dialog(ports, portName, line, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.portName().empty()) return std::nullopt;
    return Choice{dialog.portName(), dialog.lineSettings()};
}

} // namespace bifuel::ui
