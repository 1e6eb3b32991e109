#include "ui/dialogs/getvardex.h"

#include <QLineEdit>
#include <QPushButton>

#include "ui/dialogs/keysave.h"
#include "ui/seams/prompter.h"

TFGetVardex::TFGetVardex(QWidget* owner, int typeFormat, KeyCode oldVardex,
                         std::function<bool(KeyCode)> inKeyList, TRequester& runner)
    : TFReaderPoll(owner, typeFormat,
                   Look{"TFGetVardex", "Считывание вардекса", "Вардекс",
                        "ПОДНЕСИТЕ ВАРДЕКС К СЧИТЫВАТЕЛЮ", "edGetKey", true, true},
                   runner),
      OldVardex(oldVardex),
      NewVardex(oldVardex),
      inKeyList_(std::move(inKeyList)) {
    edGetKey = edKey;
    // "Сбросить" has the focus while the dialog waits; Enter must not reset the vardex
    // then. Enter belongs to OK, and does nothing while OK is disabled.
    bbClear->setAutoDefault(false);
    connect(bbOK, &QPushButton::clicked, this, &TFGetVardex::bbOKClick);
    connect(bbClear, &QPushButton::clicked, this, &TFGetVardex::bbClearClick);
}

void TFGetVardex::KeyRead(KeyCode code) {
    NewVardex = code;
    ShowCode(QString::fromStdString(Format(TypeFormat, code)));
    bbOK->setEnabled(true);
    bbOK->setFocus();
}

void TFGetVardex::bbClearClick() {
    NewVardex = 0;
    ShowCode(QStringLiteral("Отсутствует"));
    StopWaiting();  // a completion still in flight is ignored from here on
    bbOK->setEnabled(true);
}

void TFGetVardex::bbOKClick() {
    // A vardex that is also in the key list would be two records of one key.
    if (inKeyList_ && inKeyList_(NewVardex)) {
        QString text = QStringLiteral(
                           "Карта(ключ) с номером %1 уже зарегистрирована в базе "
                           "карт(ключей)")
                           .arg(QString::fromStdString(Format(TypeFormat, NewVardex)));
        AppPrompter().Error(this, QStringLiteral("Ошибка"), text);
        return;
    }
    bool stored;
    if (NewVardex != 0) {
        TFKeySave save(this, QStringLiteral("Установка вардекса"), NewVardex, true, true, runner_);
        stored = save.Run();
    } else {
        TFKeySave save(this, QStringLiteral("Сброс вардекса"), OldVardex, false, true, runner_);
        stored = save.Run();
    }
    // A failed write has been reported by the wait dialog; "ОК" can be pressed again.
    if (stored)
        accept();
}
