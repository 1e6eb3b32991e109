#include "ui/main/editkey.h"

#include <algorithm>

#include <QFocusEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValidator>

#include <QFile>

#include "core/jobs/key_edit_job.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "ui/dialogs/getkey.h"
#include "ui/dialogs/wait.h"
#include "ui/main/key_list_model.h"
#include "ui/main/key_number_edit.h"
#include "ui/seams/prompter.h"
#include "ui/seams/worker_bridge.h"

namespace {

const char* const NumberRefusal =
    "Проверьте правильность ввода номера карты(ключа)\rДля отмены ввода нажмите на кнопку Esc";

// The description is kept in the file as Windows-1251: a character it cannot hold is
// refused where it is typed (or pasted), never replaced later; so is a control character,
// which a terminal listing the file would obey.
class Cp1251Validator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*pos*/) const override {
        std::string bytes;
        return Utf8ToCp1251(input.toStdString(), bytes) && !HasControlCharacters(bytes) ? Acceptable
                                                                                        : Invalid;
    }
};

QString KeyText(int typeFormat, KeyCode code) {
    return QString::fromStdString(Format(typeFormat, code));
}

// The link is open while a LinkHold lives (closed also on early returns).
class LinkHold {
  public:
    explicit LinkHold(TKeyEditSite& site) : site_(site), ok_(site.OpenLink()) {}
    ~LinkHold() { site_.CloseLink(); }
    explicit operator bool() const { return ok_; }

  private:
    TKeyEditSite& site_;
    bool ok_;
};

}  // namespace

TFEditKey::TFEditKey(QWidget* owner, TKeyEditSite& site, int typeFormat, int row)
    // A title and a close box only: a modal dialog minimised out of sight would leave
    // the main window blocked with nothing to click.
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      TypeFormat(typeFormat),
      Row(row),
      OldNumber(0),
      owner_(site) {
    setObjectName(QStringLiteral("TFEditKey"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lKeyNumber = new QLabel(QStringLiteral("Номер карты/ключа:"), this);
    // Takes a number in any printed form, whichever format the list shows.
    edKeyNumber = new TKeyNumberEdit(typeFormat, this);
    edKeyNumber->setObjectName(QStringLiteral("edKeyNumber"));
    edKeyNumber->setFixedWidth(190);
    edKeyNumber->setAccessibleName(QStringLiteral("Номер карты/ключа"));
    // Why the text is no key number and which forms are read, under the field: a
    // disabled OK alone does not tell.
    lNumberHint = new QLabel(this);
    lNumberHint->setTextFormat(Qt::PlainText);
    lNumberHint->setObjectName(QStringLiteral("lNumberHint"));
    lNumberHint->setWordWrap(true);
    lNumberHint->setStyleSheet(QStringLiteral("color: #b00000"));
    lNumberHint->hide();
    bbGetKey = new QPushButton(QStringLiteral("Вычитать"), this);
    bbGetKey->setObjectName(QStringLiteral("bbGetKey"));
    // Enter on the focused button reads the key, as a focused button takes Enter; it
    // does not fall through to OK.
    bbGetKey->setAutoDefault(true);

    lDescription = new QLabel(QStringLiteral("Описание карты(ключа):"), this);
    edDescription = new QLineEdit(this);
    edDescription->setObjectName(QStringLiteral("edDescription"));
    edDescription->setMaxLength(MaxDescriptionLength);
    edDescription->setAccessibleName(QStringLiteral("Описание карты(ключа)"));
    edDescription->setValidator(new Cp1251Validator(edDescription));

    bbOK = new QPushButton(QStringLiteral("ОК"), this);
    bbOK->setObjectName(QStringLiteral("bbOK"));
    bbOK->setDefault(true);
    bbOK->setEnabled(false);
    bbCancel = new QPushButton(QStringLiteral("Отмена"), this);
    bbCancel->setObjectName(QStringLiteral("bbCancel"));
    bbCancel->setAutoDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lKeyNumber);
    auto* numberRow = new QHBoxLayout;
    numberRow->addWidget(edKeyNumber);
    numberRow->addWidget(bbGetKey);
    numberRow->addStretch();
    layout->addLayout(numberRow);
    layout->addWidget(lNumberHint);
    layout->addWidget(lDescription);
    layout->addWidget(edDescription);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bbOK);
    buttons->addWidget(bbCancel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    edDescription->setMinimumWidth(320);

    if (row < 0) {
        setWindowTitle(QStringLiteral("Новая карта(ключ)"));
    } else {
        const KeyRow& r = site.Keys()->Row(row);
        OldNumber = r.code;
        setWindowTitle(QStringLiteral("Редактирование - ") + r.caption);
        edKeyNumber->setText(r.caption);
        edDescription->setText(r.description);
    }
    setProperty("HelpContext", row < 0 ? 19 : 20);
    // "Редактирование - " and a long iButton number make a caption wider than the
    // fields: the dialog grows so that the title bar shows it whole.
    QFont titleFont = font();
    titleFont.setBold(true);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(windowTitle());
    edDescription->setMinimumWidth(std::max(320, titleWidth + 100));

    connect(edKeyNumber, &QLineEdit::textChanged, this, &TFEditKey::edKeyNumberChange);
    connect(edKeyNumber, &TKeyNumberEdit::PasteRefused, this, [this](const QString& reason) {
        if (!reason.isEmpty())
            ShowNumberHint(reason);
    });
    connect(bbGetKey, &QPushButton::clicked, this, &TFEditKey::bbGetKeyClick);
    connect(bbOK, &QPushButton::clicked, this, &TFEditKey::bbOKClick);
    connect(bbCancel, &QPushButton::clicked, this, &QDialog::reject);
    edKeyNumber->installEventFilter(this);
    edKeyNumberChange();
    edKeyNumber->setFocus();
}

void TFEditKey::edKeyNumberChange() {
    bbOK->setEnabled(edKeyNumber->Number().ok);
    ShowNumberHint(edKeyNumber->Problem());
}

void TFEditKey::ShowNumberHint(const QString& text) {
    lNumberHint->setText(text);
    lNumberHint->setVisible(!text.isEmpty());
}

bool TFEditKey::RefuseIncompleteNumber() {
    if (!edKeyNumber->Refused())
        return false;
    AppPrompter().Error(this, QStringLiteral("Ошибка ввода"), QString::fromUtf8(NumberRefusal));
    edKeyNumber->setFocus();
    return true;
}

bool TFEditKey::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edKeyNumber && event->type() == QEvent::FocusOut) {
        // Only the operator moving on within the dialog counts as leaving the field; the
        // dialog closing or a box of its own taking the focus does not.
        auto reason = static_cast<QFocusEvent*>(event)->reason();
        // The box comes once the focus change is over, so that it never interrupts a
        // click half-way; the field then takes the focus back.
        if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
             reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason) &&
            isVisible() && edKeyNumber->Refused())
            QTimer::singleShot(0, this, [this] {
                // Cancel stays reachable, by Tab or click, while the number is incomplete.
                if (isVisible() && focusWidget() != bbCancel)
                    RefuseIncompleteNumber();
            });
    }
    return QDialog::eventFilter(watched, event);
}

void TFEditKey::bbGetKeyClick() {
    if (edKeyNumber->Refused())
        return;  // the field has refused to be left
    LinkHold link(owner_);
    if (!link)
        return;
    TFGetKey getKey(this, TypeFormat, OldNumber, owner_.Requester());
    getKey.setProperty("HelpContext", property("HelpContext"));
    if (getKey.Run())
        edKeyNumber->setText(KeyText(TypeFormat, getKey.ReadCode));  // re-evaluates OK
}

void TFEditKey::BecomeNewKey() {
    Row = -1;
    OldNumber = 0;
    setWindowTitle(QStringLiteral("Новая карта(ключ)"));
}

void TFEditKey::bbOKClick() {
    const KeyNumber number = edKeyNumber->Number();
    if (!number)
        return;
    const KeyCode newCode = number.code;
    const QString description = edDescription->text();
    DbLock lock;
    if (!owner_.LockForChange(lock, this))
        return;
    // The list the dialog was opened from may be older than the file: another writer may
    // have changed it before the lock was taken. What OK does is checked on the file as
    // it is now; the duplicate check below then sees it too.
    owner_.ReloadIfChanged();
    if (Row >= 0) {
        Row = owner_.FindRow(OldNumber);
        if (Row < 0) {
            // Storing it again would undo a removal made on purpose: nothing is done.
            AppPrompter().Error(
                this, QStringLiteral("Ошибка"),
                QStringLiteral("Карта(ключ) с номером %1 удалена из базы карт(ключей) другой "
                               "программой или её номер изменён.\rСписок перечитан, изменения "
                               "не сохранены.")
                    .arg(KeyText(TypeFormat, OldNumber)));
            reject();
            return;
        }
    }

    // The description alone lives only in the file: nothing goes to the controller.
    if (Row >= 0 && newCode == OldNumber) {
        if (owner_.SaveKey(newCode, description)) {
            owner_.UpdateKeyRow(Row, newCode, description);
            accept();
        }
        return;
    }

    if (owner_.FindRow(newCode) >= 0) {
        AppPrompter().Error(
            this, QStringLiteral("Ошибка"),
            QStringLiteral("Карта(ключ) с номером %1 уже зарегистрирована в базе карт(ключей)")
                .arg(KeyText(TypeFormat, newCode)));
        return;
    }
    std::string stored;
    Utf8ToCp1251(description.toStdString(), stored);  // the field's validator let only these in

    LinkHold link(owner_);
    if (!link)
        return;
    KeyEdit edit;
    edit.kind = Row < 0 ? KeyEdit::Kind::Add : KeyEdit::Kind::Change;
    edit.path = QFile::encodeName(owner_.DatabasePath()).toStdString();
    edit.typeFormat = TypeFormat;
    edit.oldCode = OldNumber;
    edit.newCode = newCode;
    edit.description = stored;
    std::unique_ptr<TFWait> wait = TFWait::ForJob(this, owner_.Requester(), {});
    const TKeyEditJob& job = wait->Host<TKeyEditJob>(edit);
    wait->Run();
    owner_.FileWritten();

    if (Row < 0) {
        // Closes also when the file refused the key (its box has told why): the key is
        // then in the controller only.
        if (!job.NewInController)
            return;
        if (job.NewInFile)
            owner_.SelectRow(owner_.AddKeyRow(newCode, description));
        accept();
        return;
    }
    if (!job.OldGoneFromFile)
        return;
    // From here the old number is in neither the controller nor the file. Should the new
    // one not have been stored, its row must go too, or the list would show a key that is
    // nowhere; the dialog then holds what is left to add: a new key.
    if (!job.Complete()) {
        owner_.RemoveKeyRow(Row);
        BecomeNewKey();
        return;
    }
    owner_.UpdateKeyRow(Row, newCode, description);
    accept();
}
