#include "ui/dialogs/enrol.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/key_code.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// A description in Windows-1251, or why the file cannot hold it. `expandsTo` is its
// length at its longest (a template's {n} grows).
std::optional<std::string> DescriptionCp1251(const QString& text, QString& why,
                                             std::size_t (*expandsTo)(const std::string&)) {
    std::string cp;
    std::string bad;
    if (!Utf8ToCp1251(text.toStdString(), cp, &bad)) {
        why = QStringLiteral("Символ «%1» нельзя записать в описание").arg(Q(bad));
        return std::nullopt;
    }
    if (HasControlCharacters(cp)) {
        why = QStringLiteral("Описание не может содержать управляющие символы");
        return std::nullopt;
    }
    if (static_cast<int>(expandsTo(cp)) > MaxDescriptionLength) {
        why = QStringLiteral("Описание длиннее %1 символов").arg(MaxDescriptionLength);
        return std::nullopt;
    }
    why.clear();
    return cp;
}

// The template in Windows-1251, or why it cannot name a key.
std::optional<std::string> TemplateCp1251(const QString& text, QString& why) {
    // The longest {n} this run can reach must still fit.
    return DescriptionCp1251(
        text, why, [](const std::string& cp) { return TEnrolJob::Expand(cp, 99999).size(); });
}

}  // namespace

TFEnrol::TFEnrol(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                 std::string databasePath, int typeFormat, const std::vector<DbKey>& known,
                 AddedKey added)
    : TJobDialog(owner, runner, std::move(closeLink)),
      typeFormat_(typeFormat),
      added_(std::move(added)) {
    setObjectName(QStringLiteral("TFEnrol"));
    setWindowTitle(QStringLiteral("Регистрация карт(ключей)"));
    SizeWindow(this, 0.35, 0.55);

    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(
        QStringLiteral("Подносите карты(ключи) к считывателю по одной. Описание новых карт "
                       "(ключей), {n} - номер по порядку:"),
        this);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    edTemplate = new QLineEdit(QStringLiteral("Сотрудник {n}"), this);
    edTemplate->setObjectName(QStringLiteral("edTemplate"));
    edTemplate->setAccessibleName(QStringLiteral("Описание новых карт(ключей)"));
    prompt->setBuddy(edTemplate);
    layout->addWidget(edTemplate);
    lTemplateError = new QLabel(this);
    lTemplateError->setObjectName(QStringLiteral("lTemplateError"));
    lTemplateError->setTextFormat(Qt::PlainText);
    layout->addWidget(lTemplateError);
    cbAskEach = new QCheckBox(QStringLiteral("Вводить описание для каждого ключа"), this);
    cbAskEach->setObjectName(QStringLiteral("cbAskEach"));
    layout->addWidget(cbAskEach);
    lvAdded = new QTreeWidget(this);
    lvAdded->setObjectName(QStringLiteral("lvAdded"));
    lvAdded->setAccessibleName(QStringLiteral("Добавленные карты(ключи)"));
    lvAdded->setColumnCount(2);
    lvAdded->setHeaderLabels({QStringLiteral("Карта(ключ)"), QStringLiteral("Описание")});
    lvAdded->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    lvAdded->setRootIsDecorated(false);
    lvAdded->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(lvAdded, 1);
    lLast = new QLabel(this);
    lLast->setObjectName(QStringLiteral("lLast"));
    lLast->setTextFormat(Qt::PlainText);  // a description, shown as typed
    lLast->setWordWrap(true);
    layout->addWidget(lLast);
    layout->addWidget(MakeButtons());
    bbCancel->setText(QStringLiteral("Закрыть"));

    connect(edTemplate, &QLineEdit::textChanged, this, [this](const QString& text) {
        QString why;
        TemplateCp1251(text, why);
        lTemplateError->setText(why);
    });

    auto job = std::make_unique<TEnrolJob>(*this, std::move(databasePath), typeFormat, known);
    // Read at each key, so that a change of the fields applies to the next key.
    job->DescriptionFor = [this](KeyCode code, int n) { return DescriptionFor(code, n); };
    job->Reported = [this](const EnrolEvent& event) { OnEvent(event); };
    job->CheckLinkFirst = true;  // as every capture: the link, the pause, then the reader
    SetJob(std::move(job));
}

std::optional<std::string> TFEnrol::DescriptionFor(KeyCode code, int n) {
    const QString key = Q(Format(typeFormat_, code));
    QString why;
    auto templ = TemplateCp1251(edTemplate->text(), why);
    if (!cbAskEach->isChecked()) {
        if (!templ) {
            lLast->setText(QStringLiteral("Не записана: %1: %2").arg(key, why));
            return std::nullopt;
        }
        return TEnrolJob::Expand(*templ, n);
    }
    // The poll waits while the operator types; the key stays unwritten until then.
    QString text = templ ? Q(Cp1251ToUtf8(TEnrolJob::Expand(*templ, n))) : QString();
    for (;;) {
        if (!AppPrompter().AskText(this, windowTitle(),
                                   QStringLiteral("Описание новой карты(ключа) %1:").arg(key),
                                   text)) {
            lLast->setText(QStringLiteral("Пропущена: %1").arg(key));
            return std::nullopt;
        }
        if (auto cp = DescriptionCp1251(text, why, [](const std::string& s) { return s.size(); }))
            return cp;
        AppPrompter().Error(this, QStringLiteral("Ошибка"), why);
    }
}

void TFEnrol::OnEvent(const EnrolEvent& event) {
    const QString key = Q(Format(typeFormat_, event.code));
    const QString description = Q(event.description);
    switch (event.kind) {
        case EnrolEvent::Added: {
            auto* item = new QTreeWidgetItem({key, description});
            lvAdded->addTopLevelItem(item);
            lvAdded->scrollToItem(item);
            lLast->setText(QStringLiteral("Добавлена: %1").arg(key));
            if (added_)
                added_(event.code, description);
            break;
        }
        case EnrolEvent::Known:
            lLast->setText(QStringLiteral("Уже в списке: %1 - %2").arg(key, description));
            break;
        case EnrolEvent::FileFailed:
            lLast->setText(
                QStringLiteral("В контроллере, но не в файле: %1: %2").arg(key, Q(event.error)));
            break;
    }
}

void TFEnrol::reject() {
    // No further request. A key the controller is storing right now must still reach
    // the file, or the two would disagree: the dialog closes on its reply.
    Enrol().Stop();
    if (Enrol().Storing()) {
        closing_ = true;
        bbCancel->setEnabled(false);
        auto* wait = new QTimer(this);
        connect(wait, &QTimer::timeout, this, [this, wait] {
            if (Enrol().Storing())
                return;
            wait->stop();
            TJobDialog::reject();
        });
        wait->start(20);
        return;
    }
    TJobDialog::reject();
}
