#include "jobs/writecontr.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TFWriteContr::TFWriteContr(QWidget* owner, CommandRunner& runner, std::function<void()> closeLink,
                           ExportSource source)
    : TJobDialog(owner, runner, std::move(closeLink)) {
    setObjectName(QStringLiteral("TFWriteContr"));
    setWindowTitle(QStringLiteral("Экспорт в контроллер"));
    resize(460, 420);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeLog(), 1);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setMinimum(0);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    layout->addWidget(ProgressBar);

    pButtons = new QWidget(this);
    pButtons->setObjectName(QStringLiteral("pButtons"));
    auto* buttons = new QHBoxLayout(pButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    bbCancel = new QPushButton(QStringLiteral("Отмена"), pButtons);
    bbCancel->setObjectName(QStringLiteral("bbCancel"));
    bbCancel->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(bbCancel);
    buttons->addStretch(1);
    layout->addWidget(pButtons);
    connect(bbCancel, &QPushButton::clicked, this, &TJobDialog::bbCancelClick);

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
