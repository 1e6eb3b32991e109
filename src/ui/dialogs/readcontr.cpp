#include "ui/dialogs/readcontr.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/help/help.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

TFReadContr::TFReadContr(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                         AdoptNewFile adoptNewFile)
    : TJobDialog(owner, runner, std::move(closeLink)), adoptNewFile_(std::move(adoptNewFile)) {
    setObjectName(QStringLiteral("TFReadContr"));
    setWindowTitle(QStringLiteral("Загрузка из контроллера"));
    SizeWindow(this, 0.35, 0.55);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeLog(), 1);

    layout->addWidget(MakeProgressBar(1));  // empty until the key count is known
    layout->addWidget(MakeButtons(QStringLiteral("Сохранить")));
    connect(bbOK, &QPushButton::clicked, this, &TFReadContr::bbOKClick);

    auto job = std::make_unique<TLoadJob>(*this);
    // The new file names the controller the requests went to.
    if (const auto* addressed = dynamic_cast<const TAddressedRequester*>(&runner))
        job->Address = addressed->Address();
    SetJob(std::move(job));
}

void TFReadContr::Finished(const JobBox& box) {
    bbOK->setEnabled(true);
    // What was read is kept by saving it: Enter saves, it never throws the read away.
    if (Load().ReadComplete()) {
        bbCancel->setDefault(false);
        bbOK->setDefault(true);
        bbOK->setFocus();
    }
    TJobDialog::Finished(box);
}

void TFReadContr::reject() {
    // Cancel, Esc and the close box all end here. A complete read not yet saved is the
    // whole controller's contents: closing asks first, No being the safe answer.
    if (Load().ReadComplete() && !saved_ && FormCloseQuery() &&
        AppPrompter().Message(this, windowTitle(),
                              QStringLiteral("Данные, прочитанные из контроллера, не сохранены. "
                                             "Закрыть окно без сохранения?"),
                              PromptIcon::Question,
                              PromptButtons::YesNoDefaultNo) != PromptAnswer::Yes)
        return;
    TJobDialog::reject();
}

void TFReadContr::bbOKClick() {
    if (!Load().ReadComplete())
        return;
    FileDialogOptions sdNew;
    sdNew.title = QStringLiteral("Укажите имя нового файла");
    sdNew.filter = QStringLiteral("Файл базы ключей(*.vx2)|*.vx2");
    sdNew.defaultExt = QStringLiteral("*.vx2");
    sdNew.fileName = QStringLiteral("new_contr.vx2");
    sdNew.overwritePrompt = true;
    sdNew.pathMustExist = true;
    sdNew.helpContext = help::TopicLoad;
    const QString path = AppPrompter().SaveFile(this, sdNew);
    if (path.isEmpty())
        return;  // the dialog stays open; Save can be pressed again
    // The whole file is written as one replacement and becomes current only once it is
    // complete and loaded; a failure leaves the main window and the chosen name as they were.
    if (!adoptNewFile_ || !adoptNewFile_(path, Load().NewFileModel()))
        return;
    saved_ = true;
    CloseJob(JobEnd::Ok);
}
