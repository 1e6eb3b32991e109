// The small blinking dialog that carries one request to the controller: it loads the
// request when shown, cannot be closed while the request is in flight, reports a link
// failure itself, and closes with Accepted once the controller has answered.
#pragma once

#include <QDialog>

#include "core/link/frame.h"
#include "ui/seams/worker_bridge.h"

class QFrame;
class QLabel;
class QTimer;

class TFWait : public QDialog {
    Q_OBJECT
  public:
    ~TFWait() override;

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

  private:
    void FormShow();
    void tBlinkTimer();
    void Completed(int result, const FrameHeader& reply, const FrameData& replyData);

    TRequester& runner_;
    bool loaded_ = false;
    bool red_ = false;
};
