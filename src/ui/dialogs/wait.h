// The small blinking dialog that hosts a short job: one request (TRequestJob, what the
// subclasses set with SetRequest) or a few with their wait texts (the key edit). It starts
// the job when shown, cannot be closed while the job runs, reports a failure itself, and
// closes with Accepted once the job has finished.
#pragma once

#include <QDialog>
#include <memory>

#include "core/jobs/job_host.h"
#include "core/link/frame.h"
#include "ui/seams/worker_bridge.h"

class QFrame;
class QLabel;
class QTimer;

class TFWait : public QDialog, public TJobHost {
    Q_OBJECT
  public:
    ~TFWait() override;

    // Hosts `J`, made on this dialog with `args`, instead of the single request.
    template <class J, class... A>
    J& Host(A&&... args) {
        auto job = std::make_unique<J>(*this, std::forward<A>(args)...);
        J& made = *job;
        job_ = std::move(job);
        return made;
    }

    bool CanClose = false;
    int ResultValue = -1;
    FrameHeader Request{};
    FrameData RequestData{};
    FrameHeader Reply{};
    FrameData ReplyData{};

    QFrame* Panel1 = nullptr;
    QLabel* lInfo = nullptr;
    QTimer* tBlink = nullptr;

    // Runs the dialog modally; true when the controller accepted the request.
    bool Run() { return exec() == QDialog::Accepted; }

    // A wait dialog for a job of its own (see Host); `text` shows until its first step.
    static std::unique_ptr<TFWait> ForJob(QWidget* owner, TRequester& runner, const QString& text);

    static const char* ErrorCaption();  // "Ошибка связи с контроллером"

  protected:
    TFWait(QWidget* owner, TRequester& runner, const QString& text);

    // Runs after a successful reply has been copied into Reply and ReplyData.
    virtual void ReplyReceived() = 0;
    // Fills Request and RequestData from a builder's frame.
    void SetRequest(const FrameHeader& header, const FrameData& data);

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  public slots:
    void reject() override;

    // TJobHost: requests through the worker, the pauses on single-shot timers, the step's
    // text in the label; the dialog keeps no log.
    void SendRequest(const RequestFrame& request) override;
    void PostStep(int step) override;
    void ContinueAfterPause(int step) override;
    void AddLine(const std::string& line) override;
    void AppendToLastLine(const std::string&) override {}
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void ClosePort() override {}
    void Finished(const JobBox& box) override;
    void Failed(const JobBox& box) override;
    void CloseJob(JobEnd end) override;
    bool AskYesNo(const JobBox& question) override;

  private:
    void FormShow();
    void tBlinkTimer();
    void Ended();

    TRequester& runner_;
    std::unique_ptr<TJob> job_;
    class TRequestJob* request_ = nullptr;  // the job when it is the single request
    bool loaded_ = false;
    bool red_ = false;
};
