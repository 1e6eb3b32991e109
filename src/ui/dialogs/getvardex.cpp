#include "ui/dialogs/getvardex.h"

#include <QLineEdit>
#include <QPushButton>

#include "core/jobs/setting_change_job.h"
#include "ui/dialogs/wait.h"
#include "ui/seams/prompter.h"

TFGetVardex::TFGetVardex(QWidget* owner, int typeFormat, KeyCode oldVardex,
                         std::function<bool(KeyCode)> inKeyList, std::string path,
                         TRequester& runner)
    : TFReaderPoll(owner, typeFormat,
                   Look{"TFGetVardex", "Считывание вардекса", "Вардекс",
                        "ПОДНЕСИТЕ ВАРДЕКС К СЧИТЫВАТЕЛЮ", "edGetKey", true, true},
                   runner),
      OldVardex(oldVardex),
      NewVardex(oldVardex),
      inKeyList_(std::move(inKeyList)),
      path_(std::move(path)) {
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
    SettingChange change;
    change.kind =
        NewVardex != 0 ? SettingChange::Kind::SetVardex : SettingChange::Kind::ResetVardex;
    change.path = path_;
    change.vardex = NewVardex != 0 ? NewVardex : OldVardex;
    std::unique_ptr<TFWait> wait =
        TFWait::ForJob(this, runner_, QString::fromStdString(SettingChangeText(change)));
    const TSettingChangeJob& job = wait->Host<TSettingChangeJob>(change);
    wait->Run();
    InFile = job.InFile;
    // A failed request has been reported by the wait dialog; "ОК" can be pressed again. A
    // failed file write has been reported too, but the controller holds the vardex now.
    if (job.InController)
        accept();
}
