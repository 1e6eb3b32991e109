#include "ui/dialogs/writecontr.h"
#include "ui/seams/ui_platform.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TFWriteContr::TFWriteContr(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                           ExportSource source)
    : TJobDialog(owner, runner, std::move(closeLink)) {
    setObjectName(QStringLiteral("TFWriteContr"));
    setWindowTitle(QStringLiteral("Экспорт в контроллер"));
    SizeWindow(this, 0.35, 0.55);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeLog(), 1);

    layout->addWidget(MakeProgressBar(100));
    layout->addWidget(MakeButtons());

    // The job sets the progress maximum to the number of keys + 3.
    SetJob(std::make_unique<TExportJob>(*this, std::move(source)));
}

void TFWriteContr::Finished(const JobBox& box) {
    bbCancel->setText(QStringLiteral("Закрыть"));
    TJobDialog::Finished(box);
}

void TFWriteContr::Failed(const JobBox& box) {
    bbCancel->setText(QStringLiteral("Закрыть"));
    TJobDialog::Failed(box);
}
