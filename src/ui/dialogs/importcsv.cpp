#include "ui/dialogs/importcsv.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/help/help.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

constexpr int RowRole = Qt::UserRole;  // the row's index in the preview
const QString Caption = QStringLiteral("Импорт из CSV");

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

TFImportCsv::TFImportCsv(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                         std::string databasePath, int typeFormat, CsvImport preview,
                         WrittenKeys written)
    : TJobDialog(owner, runner, std::move(closeLink)),
      path_(std::move(databasePath)),
      typeFormat_(typeFormat),
      preview_(std::move(preview)),
      written_(std::move(written)) {
    setObjectName(QStringLiteral("TFImportCsv"));
    setWindowTitle(Caption);
    SizeWindow(this, 0.6, 0.75);

    auto* layout = new QVBoxLayout(this);
    auto* split = new QSplitter(Qt::Vertical, this);

    auto* listPane = new QWidget(split);
    auto* listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(0, 0, 0, 0);
    lvLines = new QTreeWidget(listPane);
    lvLines->setObjectName(QStringLiteral("lvLines"));
    lvLines->setAccessibleName(QStringLiteral("Строки файла CSV"));
    lvLines->setColumnCount(4);
    lvLines->setHeaderLabels({QStringLiteral("Строка"), QStringLiteral("Карта(ключ)"),
                              QStringLiteral("Описание"), QStringLiteral("Итог")});
    lvLines->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lvLines->setRootIsDecorated(false);
    lvLines->setUniformRowHeights(true);  // 65,535 lines lay out at once
    lvLines->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listLayout->addWidget(lvLines, 1);

    auto* below = new QHBoxLayout;
    lSummary = new QLabel(listPane);
    lSummary->setTextFormat(Qt::PlainText);
    lSummary->setObjectName(QStringLiteral("lSummary"));
    lSummary->setWordWrap(true);
    below->addWidget(lSummary, 1);
    bbSaveRefused = new QPushButton(QStringLiteral("Сохранить отказы в CSV..."), listPane);
    bbSaveRefused->setObjectName(QStringLiteral("bbSaveRefused"));
    bbSaveRefused->setAutoDefault(false);
    bbSaveRefused->setEnabled(preview_.Count(CsvFate::Refused) > 0);
    below->addWidget(bbSaveRefused);
    listLayout->addLayout(below);
    split->addWidget(listPane);
    split->addWidget(MakeLog());
    mInfo->setAccessibleName(QStringLiteral("Ход импорта"));
    // The lines and their reasons are what is read before the import; the log, empty
    // until then, gets a quarter.
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    lTimeLeft = new QLabel(this);
    lTimeLeft->setObjectName(QStringLiteral("lTimeLeft"));
    layout->addWidget(lTimeLeft);
    layout->addWidget(MakeProgressBar(1));
    layout->addWidget(MakeButtons(QStringLiteral("Импортировать")));
    connect(bbOK, &QPushButton::clicked, this, &TFImportCsv::bbOKClick);
    connect(bbSaveRefused, &QPushButton::clicked, this, &TFImportCsv::bbSaveRefusedClick);
    connect(lvLines, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* item, int) { ItemChanged(item); });
    ShowRows();
}

QString TFImportCsv::FateText(const CsvRow& row) {
    QString text = Q(CsvFateText(row.fate));
    if (row.fate == CsvFate::Update)
        text += QStringLiteral(" (было «") + Q(row.oldDescription) + QStringLiteral("»)");
    if (!row.reason.empty())
        text += QStringLiteral(": ") + Q(row.reason);
    return text;
}

void TFImportCsv::ShowRows() {
    const QSignalBlocker block(lvLines);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<int>(preview_.rows.size()));
    for (std::size_t i = 0; i < preview_.rows.size(); ++i) {
        const CsvRow& row = preview_.rows[i];
        auto* item = new QTreeWidgetItem();
        item->setText(0, QString::number(row.line));
        item->setText(1, Q(row.numberText));
        item->setText(2, Q(row.description));
        item->setText(3, FateText(row));
        item->setData(0, RowRole, static_cast<qulonglong>(i));
        if (row.fate == CsvFate::New || row.fate == CsvFate::Update) {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(0, row.selected ? Qt::Checked : Qt::Unchecked);
        } else {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
        items.append(item);
    }
    lvLines->addTopLevelItems(items);
    UpdateControls();
}

void TFImportCsv::ItemChanged(QTreeWidgetItem* item) {
    const auto i = item->data(0, RowRole).toULongLong();
    if (import_ || i >= preview_.rows.size())
        return;
    preview_.rows[i].selected = item->checkState(0) == Qt::Checked;
    UpdateControls();
}

void TFImportCsv::UpdateControls() {
    const std::size_t newKeys = CsvNewKeys(preview_).size();
    const std::size_t updates = CsvUpdates(preview_).size();
    bbOK->setEnabled(!import_ && newKeys + updates > 0);
    if (import_)
        return;
    lSummary->setText(QStringLiteral("Новых: %1, уже в файле: %2, новых описаний: %3, повторов: "
                                     "%4, отказов: %5\rОтмечено: в контроллер и файл %6, "
                                     "описаний %7")
                          .arg(preview_.Count(CsvFate::New))
                          .arg(preview_.Count(CsvFate::Same))
                          .arg(preview_.Count(CsvFate::Update))
                          .arg(preview_.Count(CsvFate::Duplicate))
                          .arg(preview_.Count(CsvFate::Refused))
                          .arg(newKeys)
                          .arg(updates)
                          .replace(QLatin1Char('\r'), QLatin1Char('\n')));
}

void TFImportCsv::bbOKClick() {
    if (import_)
        return;
    ImportPlan plan{path_, typeFormat_, CsvNewKeys(preview_), CsvUpdates(preview_)};
    if (plan.newKeys.empty() && plan.updates.empty())
        return;
    if (!AskYesNo({Caption.toStdString(), ImportQuestion(plan), BoxIcon::Question}))
        return;
    auto job = std::make_unique<TImportJob>(*this, std::move(plan));
    import_ = job.get();
    import_->Written = [this](const std::vector<DbKey>& added, const std::vector<DbKey>& updated) {
        ShowWritten(added, CsvFate::New, QStringLiteral("Добавлена"));
        ShowWritten(updated, CsvFate::Update, QStringLiteral("Описание записано"));
        if (written_)
            written_(added, updated);
    };
    SetJob(std::move(job));
    // The ticks hold still once the writing has begun.
    lvLines->setEnabled(false);
    UpdateControls();
    started_.start();
    import_->Start();
}

void TFImportCsv::ShowWritten(const std::vector<DbKey>& keys, CsvFate fate, const QString& text) {
    if (keys.empty())
        return;
    if (rowOfKey_.empty()) {
        for (std::size_t i = 0; i < preview_.rows.size(); ++i) {
            const CsvRow& row = preview_.rows[i];
            if (row.fate == CsvFate::New || row.fate == CsvFate::Update)
                rowOfKey_.emplace(row.code, static_cast<int>(i));
        }
    }
    for (const DbKey& key : keys) {
        const auto it = rowOfKey_.find(key.code);
        if (it == rowOfKey_.end() ||
            preview_.rows[static_cast<std::size_t>(it->second)].fate != fate)
            continue;
        if (QTreeWidgetItem* item = lvLines->topLevelItem(it->second))
            item->setText(3, text);
    }
}

void TFImportCsv::bbSaveRefusedClick() {
    FileDialogOptions options;
    options.title = QStringLiteral("Сохранить отказанные строки");
    options.filter = QStringLiteral("Файл CSV (*.csv)|*.csv");
    options.defaultExt = QStringLiteral("csv");
    options.fileName = QStringLiteral("refused.csv");
    options.helpContext = help::TopicImportCsv;
    options.overwritePrompt = true;
    options.pathMustExist = true;
    const QString path = AppPrompter().SaveFile(this, options);
    if (path.isEmpty())
        return;
    const std::string csv = RefusedRowsToCsv(preview_);
    // Written beside and renamed over, as the list's CSV is: a full disk never leaves a
    // file cut short in place of the one that was there.
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
        !f.commit()) {
        AppPrompter().Error(this, Caption,
                            QStringLiteral("Не удалось записать ") + path + QStringLiteral(":\r") +
                                f.errorString());
    }
}

void TFImportCsv::Ended() {
    lTimeLeft->clear();
    lvLines->setEnabled(true);
    lSummary->setText(Q(import_->Summary()).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    bbCancel->setText(QStringLiteral("Закрыть"));
}

void TFImportCsv::SetProgressPosition(int position) {
    TJobDialog::SetProgressPosition(position);
    if (!import_ || position <= 0 || !started_.isValid())
        return;
    const qint64 left = started_.elapsed() * (ProgressBar->maximum() - position) / position;
    const qint64 seconds = (left + 999) / 1000;
    lTimeLeft->setText(QStringLiteral("Осталось примерно: %1:%2")
                           .arg(seconds / 60)
                           .arg(seconds % 60, 2, 10, QLatin1Char('0')));
}

void TFImportCsv::Finished(const JobBox& box) {
    Ended();
    TJobDialog::Finished(box);
}

void TFImportCsv::Failed(const JobBox& box) {
    Ended();
    TJobDialog::Failed(box);
}

void TFImportCsv::CloseJob(JobEnd end) {
    if (import_ && end == JobEnd::Cancel && bbCancel->text() != QStringLiteral("Закрыть")) {
        Ended();
        ShowBox(
            {Caption.toStdString(), "Импорт прерван\r" + import_->Summary(), BoxIcon::Information});
        return;
    }
    TJobDialog::CloseJob(end);
}
