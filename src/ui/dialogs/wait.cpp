#include "ui/dialogs/wait.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "core/jobs/request_job.h"
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
    lInfo->setTextFormat(Qt::PlainText);
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
    if (!job_) {
        request_ = &Host<TRequestJob>(RequestFrame{Request, RequestData});
    }
    job_->Start();
}

void TFWait::SendRequest(const RequestFrame& request) {
    LoadOnUi(runner_, request.header, request.data, this,
             [this](int result, const FrameHeader& reply, const FrameData& replyData) {
                 job_->Deliver(result, reply, replyData);
             });
}

void TFWait::PostStep(int step) {
    QTimer::singleShot(0, this, [this, step] { job_->OnStep(step); });
}

void TFWait::ContinueAfterPause(int step) {
    QTimer::singleShot(JobPauseMs, Qt::PreciseTimer, this, [this, step] { job_->OnStep(step); });
}

void TFWait::AddLine(const std::string& line) {
    // The job's log line is "what is done ... "; the label shows what is done.
    QString text = QString::fromStdString(line);
    if (text.endsWith(QStringLiteral(" ... "))) {
        text.chop(5);
    }
    if (!text.isEmpty()) {
        lInfo->setText(text);
    }
}

void TFWait::Ended() {
    CanClose = true;
    tBlink->stop();
    if (request_) {
        ResultValue = request_->Result;
    }
}

void TFWait::Finished(const JobBox& box) {
    Ended();
    if (request_) {
        Reply = request_->Reply;
        ReplyData = request_->ReplyData;
        ReplyReceived();
    }
    if (!box.text.empty()) {
        AppPrompter().Info(this, QString::fromStdString(box.caption),
                           QString::fromStdString(box.text));
    }
    accept();
}

void TFWait::Failed(const JobBox& box) {
    Ended();
    AppPrompter().Error(this, QString::fromStdString(box.caption), box.text);
    QDialog::reject();
}

void TFWait::CloseJob(JobEnd end) {
    Ended();
    done(end == JobEnd::Ok ? QDialog::Accepted : QDialog::Rejected);
}

bool TFWait::AskYesNo(const JobBox& question) {
    return AppPrompter().AskYesNo(this, QString::fromStdString(question.caption),
                                  QString::fromStdString(question.text), PromptIcon::Question);
}

namespace {
class TFJobWait : public TFWait {
  public:
    TFJobWait(QWidget* owner, TRequester& runner, const QString& text)
        : TFWait(owner, runner, text) {}

  protected:
    void ReplyReceived() override {}
};
}  // namespace

std::unique_ptr<TFWait> TFWait::ForJob(QWidget* owner, TRequester& runner, const QString& text) {
    return std::make_unique<TFJobWait>(owner, runner, text);
}

void TFWait::tBlinkTimer() {
    red_ = !red_;
    QPalette p = lInfo->palette();
    p.setColor(QPalette::WindowText,
               red_ ? QColor(Qt::red) : palette().color(QPalette::WindowText));
    lInfo->setPalette(p);
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
