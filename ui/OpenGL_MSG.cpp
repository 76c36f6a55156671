#include "OpenGL_MSG.h"

#include <QLabel>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPushButton>

namespace bifuel::ui {
namespace {

bool tryOnce() {
    QOffscreenSurface surface;
    surface.create();
    if (!surface.isValid()) return false;
    QOpenGLContext context;
    if (!context.create()) return false;
    const bool ok = context.makeCurrent(&surface);
    if (ok) context.doneCurrent();
    return ok;
}

QString eightBit(const std::string& text) {
    // The file's bytes as they stand: UTF-8 when they are, else one character per byte.
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}

} // namespace

bool RealOpenGLCheck::run() {
    bool ok = false;
    for (int i = 0; i < 3; ++i)
        ok = tryOnce();
    return ok;
}

TForm_No_OpenGL::TForm_No_OpenGL(const NoOpenGLTexts& texts) : QWidget(nullptr) {
    setObjectName(QStringLiteral("TForm_No_OpenGL"));
    setWindowTitle(QStringLiteral("OpenGL"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);
    setFixedSize(393, 217);
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel_No_OpenGL_Message"));
    panel->setGeometry(4, 4, 385, 153);
    panel->setAutoFillBackground(true);
    QPalette red = panel->palette();
    red.setColor(QPalette::Window, QColor(200, 0, 0));
    panel->setPalette(red);
    const QString family = eightBit(texts.font);
    label_ = new QLabel(eightBit(texts.message), panel);
    label_->setGeometry(4, 4, 377, 145);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    QFont labelFont(family);
    labelFont.setPixelSize(24);
    labelFont.setBold(true);
    label_->setFont(labelFont);
    label_->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    button_ = new QPushButton(QStringLiteral("OK"), this);
    button_->setGeometry(4, 160, 385, 53);
    button_->setFlat(true);
    button_->setCursor(Qt::PointingHandCursor);
    QFont buttonFont(family);
    buttonFont.setPixelSize(32);
    buttonFont.setBold(true);
    button_->setFont(buttonFont);
    button_->setStyleSheet(QStringLiteral("color: rgb(200,0,0);"));
    connect(button_, &QPushButton::clicked, this, &QWidget::close);
}

} // namespace bifuel::ui
