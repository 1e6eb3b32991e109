#include "ui/dialogs/reconcile.h"
#include "ui/seams/ui_platform.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTextOption>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int ItemRole = Qt::UserRole;  // the row's index in the job's differences

}  // namespace

TFReconcile::TFReconcile(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                         ReconcileOptions options, AdoptedKeys adopted)
    : TJobDialog(owner, runner, std::move(closeLink)), adopted_(std::move(adopted)) {
    setObjectName(QStringLiteral("TFReconcile"));
    setWindowTitle(QStringLiteral("Сверка с контроллером"));
    SizeWindow(this, 0.5, 0.75);

    auto* layout = new QVBoxLayout(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(MakeLog());
    mInfo->setAccessibleName(QStringLiteral("Ход сверки"));
    // The times and the copy's path are read whole, wrapped rather than cut at the edge.
    mInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mInfo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

    auto* listPane = new QWidget(split);
    auto* listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(0, 0, 0, 0);
    lvList = new QTreeWidget(listPane);
    lvList->setObjectName(QStringLiteral("lvList"));
    lvList->setAccessibleName(QStringLiteral("Различия"));
    lvList->setColumnCount(2);
    lvList->setHeaderLabels({QStringLiteral("Различие"), QStringLiteral("Действие")});
    lvList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    lvList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    lvList->header()->setStretchLastSection(false);
    lvList->setRootIsDecorated(false);
    lvList->setUniformRowHeights(true);  // 65,535 rows lay out at once
    lvList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvList->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listLayout->addWidget(lvList, 1);

    auto* choice = new QHBoxLayout;
    lSummary = new QLabel(listPane);
    lSummary->setTextFormat(Qt::PlainText);
    lSummary->setObjectName(QStringLiteral("lSummary"));
    lSummary->setWordWrap(true);
    choice->addWidget(lSummary, 1);
    bbRemove = new QPushButton(QStringLiteral("Удалить из контроллера"), listPane);
    bbRemove->setObjectName(QStringLiteral("bbRemove"));
    bbRemove->setToolTip(QStringLiteral("Выбранные лишние карты(ключи) удалить из контроллера"));
    bbAdopt = new QPushButton(QStringLiteral("Добавить в файл"), listPane);
    bbAdopt->setObjectName(QStringLiteral("bbAdopt"));
    bbAdopt->setToolTip(QStringLiteral("Выбранные лишние карты(ключи) добавить в файл"));
    for (QPushButton* b : {bbRemove, bbAdopt}) {
        b->setAutoDefault(false);
        b->setEnabled(false);
        choice->addWidget(b);
    }
    listLayout->addLayout(choice);
    split->addWidget(listPane);
    layout->addWidget(split, 1);

    layout->addWidget(MakeProgressBar(1));
    layout->addWidget(MakeButtons(QStringLiteral("Записать")));
    connect(bbOK, &QPushButton::clicked, this, &TFReconcile::bbOKClick);
    connect(bbRemove, &QPushButton::clicked, this, [this] { SetChoice(false); });
    connect(bbAdopt, &QPushButton::clicked, this, [this] { SetChoice(true); });
    connect(lvList, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* item, int) { ItemChanged(item); });
    connect(lvList, &QTreeWidget::itemSelectionChanged, this, &TFReconcile::UpdateControls);
    // A double click on an extra key switches its choice.
    connect(lvList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        auto& items = Reconcile().Diff().items;
        const auto i = item->data(0, ItemRole).toULongLong();
        if (i < items.size() && items[i].kind == DiffKind::Extra &&
            Reconcile().Phase() == ReconcilePhase::Review) {
            items[i].adopt = !items[i].adopt;
            item->setText(1, ActionText(items[i]));
            UpdateControls();
        }
    });

    options.differencesReady = [this](const Differences& diff) { ShowDifferences(diff); };
    SetJob(std::make_unique<TReconcileJob>(*this, std::move(options)));
}

QString TFReconcile::ActionText(const DiffItem& item) {
    switch (item.kind) {
        case DiffKind::Write:
        case DiffKind::Times:
        case DiffKind::Vardex:
            return QStringLiteral("записать в контроллер");
        case DiffKind::Extra:
            return item.adopt ? QStringLiteral("добавить в файл")
                              : QStringLiteral("удалить из контроллера");
        case DiffKind::Duplicate:
            return QStringLiteral("в %1 ячейках, не исправляется").arg(item.slotCount);
        case DiffKind::Invalid:
            return QStringLiteral("запись файла «%1» с недопустимым номером, не удаляется")
                .arg(QString::fromStdString(item.description));
    }
    return {};
}

void TFReconcile::ShowDifferences(const Differences& diff) {
    const QSignalBlocker block(lvList);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<int>(diff.items.size()));
    for (size_t i = 0; i < diff.items.size(); ++i) {
        const DiffItem& d = diff.items[i];
        auto* item = new QTreeWidgetItem();
        QString text = QString::fromStdString(d.text);
        if (d.kind == DiffKind::Write && !d.description.empty())
            text += QStringLiteral(" - ") + QString::fromStdString(d.description);
        item->setText(0, text);
        item->setText(1, ActionText(d));
        item->setData(0, ItemRole, static_cast<qulonglong>(i));
        if (ShownOnly(d.kind)) {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        } else {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(0, d.ticked ? Qt::Checked : Qt::Unchecked);
        }
        rows.append(item);
    }
    lvList->addTopLevelItems(rows);
    UpdateControls();
    // The keyboard continues where the reading leaves the operator: in the differences,
    // the first one current (Space ticks it, Tab goes on to "Записать").
    if (lvList->topLevelItemCount() > 0) {
        lvList->setCurrentItem(lvList->topLevelItem(0));
        lvList->setFocus(Qt::OtherFocusReason);
    }
}

void TFReconcile::ItemChanged(QTreeWidgetItem* item) {
    auto& items = Reconcile().Diff().items;
    const auto i = item->data(0, ItemRole).toULongLong();
    if (i >= items.size() || ShownOnly(items[i].kind))
        return;
    items[i].ticked = item->checkState(0) == Qt::Checked;
    UpdateControls();
}

void TFReconcile::SetChoice(bool adopt) {
    if (Reconcile().Phase() != ReconcilePhase::Review)
        return;
    auto& items = Reconcile().Diff().items;
    for (QTreeWidgetItem* item : lvList->selectedItems()) {
        const auto i = item->data(0, ItemRole).toULongLong();
        if (i < items.size() && items[i].kind == DiffKind::Extra) {
            items[i].adopt = adopt;
            item->setText(1, ActionText(items[i]));
        }
    }
    UpdateControls();
}

void TFReconcile::UpdateControls() {
    const bool review = Reconcile().Phase() == ReconcilePhase::Review;
    const auto& items = Reconcile().Diff().items;
    bool any = false;
    for (const DiffItem& d : items)
        any = any || (d.ticked && !ShownOnly(d.kind));
    bbOK->setEnabled(review && any);
    bool extraSelected = false;
    for (QTreeWidgetItem* item : lvList->selectedItems()) {
        const auto i = item->data(0, ItemRole).toULongLong();
        extraSelected = extraSelected || (i < items.size() && items[i].kind == DiffKind::Extra);
    }
    bbRemove->setEnabled(review && extraSelected);
    bbAdopt->setEnabled(review && extraSelected);
    // The ticks and choices hold still once the writing has begun.
    lvList->setEnabled(review || Reconcile().Phase() == ReconcilePhase::Done);
    if (!items.empty() || Reconcile().Phase() != ReconcilePhase::Reading)
        lSummary->setText(QString::fromStdString(SummaryLine(Reconcile().Diff())));
}

void TFReconcile::bbOKClick() {
    if (Reconcile().Apply()) {
        applied_ = true;
        if (adopted_ && !Reconcile().Adopted().empty())
            adopted_(Reconcile().Adopted());
        bbCancel->setText(QStringLiteral("Отмена"));
    }
    UpdateControls();
}

void TFReconcile::Finished(const JobBox& box) {
    UpdateControls();
    bbCancel->setText(QStringLiteral("Закрыть"));
    TJobDialog::Finished(box);
}

void TFReconcile::CloseJob(JobEnd end) {
    if (end == JobEnd::Cancel && Reconcile().Phase() == ReconcilePhase::Cancelled && applied_ &&
        bbCancel->text() != QStringLiteral("Закрыть")) {
        UpdateControls();
        bbCancel->setText(QStringLiteral("Закрыть"));
        ShowBox({"Сверка с контроллером", "Сверка прервана.\r" + Reconcile().DoneSummary(),
                 BoxIcon::Warning});
        return;
    }
    TJobDialog::CloseJob(end);
}

void TFReconcile::Failed(const JobBox& box) {
    UpdateControls();
    bbCancel->setText(QStringLiteral("Закрыть"));
    TJobDialog::Failed(box);
}
