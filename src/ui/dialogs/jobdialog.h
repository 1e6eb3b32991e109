// What the three controller job dialogs (load, export, check) share: they host a job
// state machine, carry its requests through the command runner, turn its pauses into
// single-shot timers, show its boxes through the Prompter, and refuse to close while it
// runs.
#pragma once

#include <QDialog>
#include <memory>

#include "core/jobs/job_host.h"
#include "ui/seams/worker_bridge.h"

class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;

class TJobDialog : public QDialog, public TJobHost {
    Q_OBJECT
  public:
    ~TJobDialog() override;

    // Runs the dialog modally; true when it closed with the OK result.
    bool Run() { return exec() == QDialog::Accepted; }

    // The title of the program, the caption of its information boxes.
    static QString AppTitle();

    QPlainTextEdit* mInfo = nullptr;  // the job log (not in every dialog)
    QProgressBar* ProgressBar = nullptr;
    QWidget* pButtons = nullptr;
    QPushButton* bbOK = nullptr;  // not in every dialog
    QPushButton* bbCancel = nullptr;

    // TJobHost
    void SendRequest(const RequestFrame& request) override;
    void PostStep(int step) override;
    void ContinueAfterPause(int step) override;
    void AddLine(const std::string& line) override;
    void AppendToLastLine(const std::string& text) override;
    void SetProgressMax(int maximum) override;
    void SetProgressPosition(int position) override;
    void ClosePort() override;
    void Finished(const JobBox& box) override;
    void Failed(const JobBox& box) override;
    void CloseJob(JobEnd end) override;
    bool AskYesNo(const JobBox& question) override;

    void bbCancelClick();

  protected:
    // `closeLink` closes the controller link (the job ends its traffic early).
    TJobDialog(QWidget* owner, TRequester& runner, std::function<void()> closeLink);

    // The job this dialog hosts; set by the subclass's constructor.
    void SetJob(std::unique_ptr<TJob> job);
    TJob& Job() const { return *job_; }

    // The log pane of the load and the export.
    QPlainTextEdit* MakeLog();
    // The empty progress bar, from 0 to `maximum` until the job sets its range.
    QProgressBar* MakeProgressBar(int maximum);
    // The button row: bbOK with `okCaption` (disabled until the job allows it) at the
    // left and Cancel at the right; with no caption, Cancel alone in the middle.
    // Cancel is wired to bbCancelClick; bbOK is the subclass's to wire.
    QWidget* MakeButtons(const QString& okCaption = QString());
    // Shows a box of the job through the Prompter.
    void ShowBox(const JobBox& box);

    // The close query: closing is allowed exactly when the job says so.
    bool FormCloseQuery() const;

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc presses Cancel (it is the cancel button).
    void keyPressEvent(QKeyEvent* event) override;

  public slots:
    void reject() override;
    void accept() override;

  private:
    void FormShow();

    TRequester& runner_;
    std::function<void()> closeLink_;
    std::unique_ptr<TJob> job_;
    bool shown_ = false;
};
