#include "ui/dialogs/synccontr.h"
#include "ui/seams/ui_platform.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int KeyCodeRole = Qt::UserRole;

}  // namespace

TFSyncContr::TFSyncContr(QWidget* owner, TRequester& runner, int typeFormat,
                         const std::vector<KeyCode>& known, AddKeys addKeys)
    : TJobDialog(owner, runner, nullptr), addKeys_(std::move(addKeys)) {
    setObjectName(QStringLiteral("TFSyncContr"));
    setWindowTitle(QStringLiteral("Проверка новых карт(ключей)"));
    setProperty("helpContext", 15);
    SizeWindow(this, 0.3, 0.55);

    auto* layout = new QVBoxLayout(this);
    lvList = new QTreeWidget(this);
    lvList->setObjectName(QStringLiteral("lvList"));
    lvList->setColumnCount(1);
    lvList->setHeaderLabels({QStringLiteral("Карта (ключ)")});
    lvList->header()->setStretchLastSection(true);
    lvList->setRootIsDecorated(false);
    lvList->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvList->setMouseTracking(true);
    lvList->viewport()->setCursor(Qt::PointingHandCursor);
    lvList->setSortingEnabled(true);
    lvList->sortByColumn(0, Qt::AscendingOrder);
    layout->addWidget(lvList, 1);

    lInfo =
        new QLabel(QStringLiteral("Подождите, идет загрузка карт(ключей) из контроллера"), this);
    lInfo->setObjectName(QStringLiteral("lInfo"));
    lInfo->setAlignment(Qt::AlignCenter);
    lInfo->setWordWrap(true);
    QFont bold = lInfo->font();
    bold.setBold(true);
    lInfo->setFont(bold);
    layout->addWidget(lInfo);

    layout->addWidget(MakeProgressBar(1));
    layout->addWidget(MakeButtons(QStringLiteral("Добавить")));

    tBlink = new QTimer(this);
    tBlink->setObjectName(QStringLiteral("tBlink"));
    tBlink->setInterval(500);
    connect(tBlink, &QTimer::timeout, this, &TFSyncContr::tBlinkTimer);
    tBlink->start();

    connect(bbOK, &QPushButton::clicked, this, &TFSyncContr::bbOKClick);
    connect(lvList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        Check().SetTicked(item->data(0, KeyCodeRole).toUInt(), item->checkState(0) == Qt::Checked);
        lvListChange();
    });

    SetJob(std::make_unique<TCheckJob>(*this, *this, typeFormat, known));
}

void TFSyncContr::tBlinkTimer() {
    red_ = !red_;
    QPalette p = lInfo->palette();
    p.setColor(QPalette::WindowText,
               red_ ? QColor(Qt::red) : palette().color(QPalette::WindowText));
    lInfo->setPalette(p);
}

void TFSyncContr::lvListChange() {
    bbOK->setEnabled(Check().AnyToAdd());
}

QTreeWidgetItem* TFSyncContr::ItemOf(KeyCode code) const {
    for (int i = 0; i < lvList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lvList->topLevelItem(i);
        if (item->data(0, KeyCodeRole).toUInt() == code)
            return item;
    }
    return nullptr;
}

void TFSyncContr::OfferMissingKey(KeyCode code, const std::string& text) {
    auto* item = new QTreeWidgetItem();
    item->setText(0, QString::fromStdString(text));
    item->setData(0, KeyCodeRole, static_cast<uint>(code));
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    item->setCheckState(0, Qt::Checked);
    lvList->addTopLevelItem(item);  // itemChanged is not emitted for a new item
    lvListChange();
}

bool TFSyncContr::AddMissingKeys(const Keys& keys) {
    if (!addKeys_ || !addKeys_(keys))
        return false;
    // Added keys stay listed, unticked and greyed, so they cannot be added again.
    for (const auto& [code, text] : keys) {
        if (QTreeWidgetItem* item = ItemOf(code)) {
            const QSignalBlocker block(lvList);
            item->setCheckState(0, Qt::Unchecked);
            item->setFlags(item->flags() & ~(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled));
        }
    }
    return true;
}

void TFSyncContr::Finished(const JobBox& box) {
    lInfo->hide();
    tBlink->stop();
    bbOK->setEnabled(Check().AnyToAdd());
    TJobDialog::Finished(box);
}

void TFSyncContr::bbOKClick() {
    Check().Add();
    lvListChange();
}
