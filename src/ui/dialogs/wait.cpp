#include "ui/dialogs/wait.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/seams/prompter.h"

TFWait::TFWait(QWidget* owner, TRequester& runner, const QString& text)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), runner_(runner) {
    setObjectName(QStringLiteral("TFWait"));
    setModal(true);
    setFixedSize(266, 99);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setLineWidth(2);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(Panel1);

    lInfo = new QLabel(text.isEmpty() ? QStringLiteral("Подождите") : text, Panel1);
    lInfo->setObjectName(QStringLiteral("lInfo"));
    lInfo->setAlignment(Qt::AlignCenter);
    lInfo->setWordWrap(true);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    f.setBold(true);
    lInfo->setFont(f);
    auto* inner = new QVBoxLayout(Panel1);
    inner->setContentsMargins(8, 8, 8, 8);
    inner->addWidget(lInfo);

    tBlink = new QTimer(this);
    tBlink->setObjectName(QStringLiteral("tBlink"));
    tBlink->setInterval(300);
    connect(tBlink, &QTimer::timeout, this, &TFWait::tBlinkTimer);
    tBlink->start();
}

TFWait::~TFWait() = default;

const char* TFWait::ErrorCaption() {
    return "Ошибка связи с контроллером";
}

void TFWait::SetRequest(const FrameHeader& header, const FrameData& data) {
    Request = header;
    RequestData = data;
}

void TFWait::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_) {
        loaded_ = true;
        FormShow();
    }
}

void TFWait::FormShow() {
    ResultValue = -1;
    LoadOnUi(runner_, Request, RequestData, this,
             [this](int result, const FrameHeader& reply, const FrameData& replyData) {
                 Completed(result, reply, replyData);
             });
}

void TFWait::tBlinkTimer() {
    red_ = !red_;
    QPalette p = lInfo->palette();
    p.setColor(QPalette::WindowText,
               red_ ? QColor(Qt::red) : palette().color(QPalette::WindowText));
    lInfo->setPalette(p);
}

void TFWait::Completed(int result, const FrameHeader& reply, const FrameData& replyData) {
    ResultValue = result;
    CanClose = true;
    tBlink->stop();
    if (result == NotRun || result == Ok) {
        Reply = reply;
        ReplyData = replyData;
        ReplyReceived();
        accept();
        return;
    }
    AppPrompter().Error(this, QString::fromUtf8(ErrorCaption()), ResultText(result));
    QDialog::reject();
}

void TFWait::closeEvent(QCloseEvent* event) {
    if (CanClose) {
        QDialog::closeEvent(event);
    } else {
        event->ignore();
    }
}

void TFWait::keyPressEvent(QKeyEvent* event) {
    if (!CanClose) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFWait::reject() {
    if (CanClose) {
        QDialog::reject();
    }
}
