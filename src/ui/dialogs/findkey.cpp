#include "ui/dialogs/findkey.h"

#include <QLineEdit>

TFFindKey::TFFindKey(QWidget* owner, int typeFormat, TRequester& runner)
    : TFReaderPoll(owner, typeFormat,
                   Look{"TFFindKey", "Поиск карты(ключа)", "Карта(ключ)",
                        "ПОДНЕСИТЕ КАРТУ(КЛЮЧ) К СЧИТЫВАТЕЛЮ", "edFindKey", false, false},
                   runner) {
    edFindKey = edKey;
}

void TFFindKey::KeyRead(KeyCode code) {
    ReadCode = code;
    ShowCode(QString::fromStdString(Format(TypeFormat, code)));
    accept();
}
