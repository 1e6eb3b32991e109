// The key capture dialogs: the operator holds a key (or card) to the controller's
// reader while the dialog polls it. TFReaderPoll is what the three dialogs share (the
// link check that opens every capture, the blinking prompt, the poll and its failure
// box, Cancel at any time); TFGetKey reads a number into the key-edit dialog and waits
// for "ОК".
#pragma once

#include <QDialog>

#include "core/jobs/job_host.h"
#include "core/jobs/reader_poll_job.h"
#include "core/keys/key_code.h"
#include "ui/seams/worker_bridge.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QWidget;

class TFReaderPoll : public QDialog, protected TReaderPollHost {
    Q_OBJECT
  public:
    ~TFReaderPoll() override;

    // Shows the dialog modally; true for the OK result.
    bool Run() { return exec() == QDialog::Accepted; }
    // The dialog's waiting flag: true from creation until a key, "Сбросить", Cancel or
    // close; completions that arrive after it are ignored.
    bool Waiting() const;
    // Polls sent so far (the link check not counted).
    int Polls() const { return job_.Polls; }
    // The link check is on the line: the field says so, and nothing but Cancel works.
    bool Checking() const { return job_.Checking(); }

    int TypeFormat;
    QLabel* Label1 = nullptr;
    QLineEdit* edKey = nullptr;  // edFindKey or edGetKey
    QWidget* pButtons = nullptr;
    QPushButton* bbOK = nullptr;     // absent (null) in TFFindKey
    QPushButton* bbClear = nullptr;  // TFGetVardex only
    QPushButton* bbCancel = nullptr;
    QTimer* tBlink = nullptr;

  public slots:
    void done(int result) override;

  protected:
    struct Look {
        const char* objectName;
        const char* caption;
        const char* label;
        const char* prompt;
        const char* fieldName;
        bool okButton;
        bool clearButton;
    };
    TFReaderPoll(QWidget* owner, int typeFormat, const Look& look, TRequester& runner);

    // A key has been read (the poll and the blinking have stopped).
    virtual void KeyRead(KeyCode code) = 0;
    // Ends the waiting: no further poll, blinking off, the normal colour.
    void StopWaiting();
    void ShowCode(const QString& text);

    void showEvent(QShowEvent* event) override;

    // TReaderPollHost: requests through the worker, the pause on a single-shot timer,
    // the failure box and Cancel.
    void SendRequest(const RequestFrame& request) override;
    void PostStep(int step) override;
    void ContinueAfterPause(int step) override;
    void PollFailed(const JobBox& box) override;

    TRequester& runner_;

  private:
    void tBlinkTimer();
    void SetRed(bool red);

    TReaderPollJob job_;
    QString prompt_;
    bool shown_ = false;
    bool red_ = false;
};

class TFGetKey : public TFReaderPoll {
    Q_OBJECT
  public:
    // startCode: the key-edit dialog's number; never handed back, the OK result needs a read.
    TFGetKey(QWidget* owner, int typeFormat, KeyCode startCode, TRequester& runner = AppRunner());

    KeyCode ReadCode;
    QLineEdit* edGetKey = nullptr;

  protected:
    void KeyRead(KeyCode code) override;
};
