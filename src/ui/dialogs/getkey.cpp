#include "ui/dialogs/getkey.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/seams/prompter.h"

TFReaderPoll::TFReaderPoll(QWidget* owner, int typeFormat, const Look& look, TRequester& runner)
    // A title and a close box only: a modal dialog cannot be minimised out of sight.
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      TypeFormat(typeFormat),
      runner_(runner),
      job_(*this) {
    setObjectName(QString::fromUtf8(look.objectName));
    setWindowTitle(QString::fromUtf8(look.caption));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // sized to its contents

    Label1 = new QLabel(QString::fromUtf8(look.label), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    layout->addWidget(Label1);

    edKey = new QLineEdit(this);
    edKey->setObjectName(QString::fromUtf8(look.fieldName));
    edKey->setReadOnly(true);
    edKey->setFont(bold);
    edKey->setAlignment(Qt::AlignCenter);
    edKey->setFocusPolicy(Qt::NoFocus);
    edKey->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(
                               QStringLiteral("ПОДНЕСИТЕ КАРТУ(КЛЮЧ) К СЧИТЫВАТЕЛЮ")) +
                           24);
    layout->addWidget(edKey);

    pButtons = new QWidget(this);
    pButtons->setObjectName(QStringLiteral("pButtons"));
    auto* buttons = new QHBoxLayout(pButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    if (look.okButton) {
        bbOK = new QPushButton(QStringLiteral("ОК"), pButtons);
        bbOK->setObjectName(QStringLiteral("bbOK"));
        bbOK->setDefault(true);
        bbOK->setEnabled(false);
        buttons->addWidget(bbOK);
    }
    if (look.clearButton) {
        bbClear = new QPushButton(QStringLiteral("Сбросить"), pButtons);
        bbClear->setObjectName(QStringLiteral("bbClear"));
        buttons->addWidget(bbClear);
    }
    buttons->addStretch();
    bbCancel = new QPushButton(QStringLiteral("Отмена"), pButtons);
    bbCancel->setObjectName(QStringLiteral("bbCancel"));
    buttons->addWidget(bbCancel);
    if (!look.okButton)
        buttons->addStretch();  // Cancel alone sits in the middle
    layout->addWidget(pButtons);
    connect(bbCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Enter on a focused button clicks that button (Сбросить, Отмена); it never falls
    // through to OK, which would write the key shown.
    for (QPushButton* b : pButtons->findChildren<QPushButton*>())
        b->setAutoDefault(true);

    tBlink = new QTimer(this);
    tBlink->setObjectName(QStringLiteral("tBlink"));
    tBlink->setInterval(300);
    connect(tBlink, &QTimer::timeout, this, &TFReaderPoll::tBlinkTimer);

    // The capture opens with the link check in this dialog, not in a wait dialog of its
    // own: the operator sees one window, which says what it is doing, and is asked for
    // the key (the blinking prompt) only once the controller has answered. "Сбросить"
    // waits for that answer too, as it always came after the check.
    prompt_ = QString::fromUtf8(look.prompt);
    edKey->setText(QStringLiteral("Проверка связи с контроллером"));
    if (bbClear)
        bbClear->setEnabled(false);
    job_.CheckLinkFirst = true;
    job_.LinkChecked = [this] {
        edKey->setText(prompt_);
        if (bbClear) {
            // The focus waits on Cancel: a stray Enter or Space must not reset the vardex.
            bbClear->setEnabled(true);
            bbCancel->setFocus();
        }
        tBlink->start();
    };
    job_.KeyRead = [this](KeyCode code) {
        StopWaiting();
        KeyRead(code);
    };
}

TFReaderPoll::~TFReaderPoll() {
    job_.Stop();
}

bool TFReaderPoll::Waiting() const {
    return job_.Waiting();
}

void TFReaderPoll::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        job_.Start();  // the first poll
    }
}

void TFReaderPoll::done(int result) {
    // However the dialog closes (Cancel, Esc, the close box, a key, a failure), it stops
    // waiting at once; a request still in flight completes into nothing.
    StopWaiting();
    QDialog::done(result);
}

void TFReaderPoll::StopWaiting() {
    job_.Stop();
    tBlink->stop();
    SetRed(false);
}

void TFReaderPoll::ShowCode(const QString& text) {
    edKey->setText(text);
}

void TFReaderPoll::tBlinkTimer() {
    SetRed(!red_);
}

void TFReaderPoll::SetRed(bool red) {
    red_ = red;
    QPalette p = edKey->palette();
    p.setColor(QPalette::Text, red ? QColor(Qt::red) : palette().color(QPalette::Text));
    edKey->setPalette(p);
}

void TFReaderPoll::SendRequest(const RequestFrame& request) {
    // The receiver guard drops the completion once the dialog is destroyed; while it
    // exists the job drops it once the dialog stopped waiting.
    LoadOnUi(runner_, request.header, request.data, this,
             [this](int result, const FrameHeader& reply, const FrameData& replyData) {
                 job_.Deliver(result, reply, replyData);
             });
}

void TFReaderPoll::PostStep(int step) {
    QTimer::singleShot(0, this, [this, step] { job_.OnStep(step); });
}

void TFReaderPoll::ContinueAfterPause(int step) {
    QTimer::singleShot(JobPauseMs, Qt::PreciseTimer, this, [this, step] { job_.OnStep(step); });
}

void TFReaderPoll::PollFailed(const JobBox& box) {
    StopWaiting();
    AppPrompter().Error(this, QString::fromStdString(box.caption), box.text);
    done(QDialog::Rejected);
}

// ---------------------------------------------------------------------------------------

namespace {
const char* const KeyPrompt = "ПОДНЕСИТЕ КАРТУ(КЛЮЧ) К СЧИТЫВАТЕЛЮ";
}

TFGetKey::TFGetKey(QWidget* owner, int typeFormat, KeyCode startCode, TRequester& runner)
    : TFReaderPoll(owner, typeFormat,
                   Look{"TFGetKey", "Считывание карты(ключа)", "Карта(ключ)", KeyPrompt, "edGetKey",
                        true, false},
                   runner),
      ReadCode(startCode) {
    edGetKey = edKey;
    connect(bbOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TFGetKey::KeyRead(KeyCode code) {
    ReadCode = code;
    ShowCode(QString::fromStdString(Format(TypeFormat, code)));
    bbOK->setEnabled(true);
    bbOK->setFocus();
}
