#include "ui/dialogs/jobdialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

#include "ui/seams/prompter.h"

namespace {

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

PromptIcon IconOf(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Information:
            return PromptIcon::Information;
        case BoxIcon::Warning:
            return PromptIcon::Warning;
        case BoxIcon::Question:
            return PromptIcon::Question;
        case BoxIcon::Error:
            return PromptIcon::Error;
    }
    return PromptIcon::Information;
}

}  // namespace

TJobDialog::TJobDialog(QWidget* owner, TRequester& runner, std::function<void()> closeLink)
    // A title and a close box only: a modal job cannot be minimised out of sight.
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      runner_(runner),
      closeLink_(std::move(closeLink)) {
    setModal(true);
    // No "?" button; the close box stays, but the close query decides.
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

TJobDialog::~TJobDialog() = default;

QString TJobDialog::AppTitle() {
    return QStringLiteral("Vardex 2");
}

void TJobDialog::SetJob(std::unique_ptr<TJob> job) {
    job_ = std::move(job);
}

QPlainTextEdit* TJobDialog::MakeLog() {
    mInfo = new QPlainTextEdit(this);
    mInfo->setObjectName(QStringLiteral("mInfo"));
    mInfo->setAccessibleName(QStringLiteral("Ход выполнения"));
    mInfo->setReadOnly(true);
    mInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    mInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return mInfo;
}

QProgressBar* TJobDialog::MakeProgressBar(int maximum) {
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    // A range of 0 to 0 would be Qt's busy indicator.
    ProgressBar->setRange(0, maximum);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    return ProgressBar;
}

QWidget* TJobDialog::MakeButtons(const QString& okCaption) {
    pButtons = new QWidget(this);
    pButtons->setObjectName(QStringLiteral("pButtons"));
    auto* buttons = new QHBoxLayout(pButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    if (!okCaption.isEmpty()) {
        bbOK = new QPushButton(okCaption, pButtons);
        bbOK->setObjectName(QStringLiteral("bbOK"));
        bbOK->setEnabled(false);
        // Enter on the focused button clicks it, not the default Cancel, which would
        // throw away what the job has read.
        bbOK->setAutoDefault(true);
        buttons->addWidget(bbOK);
    }
    bbCancel = new QPushButton(QStringLiteral("Отмена"), pButtons);
    bbCancel->setObjectName(QStringLiteral("bbCancel"));
    bbCancel->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(bbCancel);
    if (okCaption.isEmpty())
        buttons->addStretch(1);
    connect(bbCancel, &QPushButton::clicked, this, &TJobDialog::bbCancelClick);
    return pButtons;
}

void TJobDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TJobDialog::FormShow() {
    if (job_)
        job_->Start();
}

// ---- TJobHost ---------------------------------------------------------------------------

void TJobDialog::SendRequest(const RequestFrame& request) {
    LoadOnUi(runner_, request, this,
             [this](int result, const FrameHeader& reply, const FrameData& replyData) {
                 if (job_)
                     job_->Deliver(result, reply, replyData);
             });
}

void TJobDialog::PostStep(int step) {
    QTimer::singleShot(0, this, [this, step] {
        if (job_)
            job_->OnStep(step);
    });
}

void TJobDialog::ContinueAfterPause(int step) {
    QTimer::singleShot(JobPauseMs, Qt::PreciseTimer, this, [this, step] {
        if (job_)
            job_->OnStep(step);
    });
}

void TJobDialog::AddLine(const std::string& line) {
    if (!mInfo)
        return;
    mInfo->appendPlainText(ScreenText(Q(line)));
}

void TJobDialog::AppendToLastLine(const std::string& text) {
    if (!mInfo)
        return;
    QTextCursor cursor(mInfo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ScreenText(Q(text)));
    mInfo->verticalScrollBar()->setValue(mInfo->verticalScrollBar()->maximum());
}

void TJobDialog::SetProgressMax(int maximum) {
    // A maximum of 0 would turn the bar into a busy indicator; an empty bar is meant.
    if (ProgressBar)
        ProgressBar->setMaximum(maximum > 0 ? maximum : 1);
}

void TJobDialog::SetProgressPosition(int position) {
    if (ProgressBar)
        ProgressBar->setValue(position);
}

void TJobDialog::ClosePort() {
    if (closeLink_)
        closeLink_();
}

void TJobDialog::ShowBox(const JobBox& box) {
    AppPrompter().Message(this, box.caption.empty() ? AppTitle() : Q(box.caption), Q(box.text),
                          IconOf(box.icon), PromptButtons::Ok);
}

void TJobDialog::Finished(const JobBox& box) {
    ShowBox(box);
}

void TJobDialog::Failed(const JobBox& box) {
    ShowBox(box);
}

void TJobDialog::CloseJob(JobEnd end) {
    if (!FormCloseQuery())
        return;
    QDialog::done(end == JobEnd::Ok ? QDialog::Accepted : QDialog::Rejected);
}

bool TJobDialog::AskYesNo(const JobBox& question) {
    return AppPrompter().AskYesNo(this, Q(question.caption), Q(question.text),
                                  IconOf(question.icon));
}

// ---- Closing ------------------------------------------------------------------------------

bool TJobDialog::FormCloseQuery() const {
    return !job_ || job_->CanClose;
}

void TJobDialog::bbCancelClick() {
    if (job_)
        job_->RequestCancel();
    reject();
}

void TJobDialog::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void TJobDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (bbCancel && bbCancel->isEnabled())
            bbCancel->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TJobDialog::reject() {
    if (FormCloseQuery())
        QDialog::reject();
}

void TJobDialog::accept() {
    if (FormCloseQuery())
        QDialog::accept();
}
