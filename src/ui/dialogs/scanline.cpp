#include "ui/dialogs/scanline.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int AddressRole = Qt::UserRole;
constexpr int FoundRole = Qt::UserRole + 1;

QString TimeLeftText(int ms) {
    return QStringLiteral("Осталось не более %1 с").arg((ms + 999) / 1000);
}

}  // namespace

TFScanLine::TFScanLine(QWidget* owner, TRequester& line, std::function<void()> closeLink,
                       bool fileOpen, const ScanSettings& settings)
    : TJobDialog(owner, line, std::move(closeLink)), fileOpen_(fileOpen) {
    setObjectName(QStringLiteral("TFScanLine"));
    setWindowTitle(QStringLiteral("Поиск контроллеров на линии"));
    resize(520, 420);

    auto* layout = new QVBoxLayout(this);
    lvFound = new QTreeWidget(this);
    lvFound->setObjectName(QStringLiteral("lvFound"));
    lvFound->setColumnCount(2);
    lvFound->setHeaderLabels({QStringLiteral("Адрес"), QStringLiteral("Ответ")});
    lvFound->header()->setStretchLastSection(true);
    lvFound->setRootIsDecorated(false);
    lvFound->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFound->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFound->setAccessibleName(QStringLiteral("Найденные контроллеры"));
    layout->addWidget(lvFound, 1);

    lInfo = new QLabel(this);
    lInfo->setObjectName(QStringLiteral("lInfo"));
    lInfo->setWordWrap(true);
    layout->addWidget(lInfo);
    layout->addWidget(MakeProgressBar(1));

    auto* choices = new QHBoxLayout;
    bbLoad = new QPushButton(QStringLiteral("Загрузить в новый файл"), this);
    bbLoad->setObjectName(QStringLiteral("bbLoad"));
    bbTake = new QPushButton(QStringLiteral("Адрес в открытый файл"), this);
    bbTake->setObjectName(QStringLiteral("bbTake"));
    choices->addWidget(bbLoad);
    choices->addWidget(bbTake);
    choices->addStretch(1);
    layout->addLayout(choices);
    layout->addWidget(MakeButtons());
    bbCancel->setText(QStringLiteral("Стоп"));
    // Stop ends the scan and keeps the list; once it is over the button closes.
    disconnect(bbCancel, nullptr, this, nullptr);
    connect(bbCancel, &QPushButton::clicked, this, &TFScanLine::bbStopClick);
    connect(bbLoad, &QPushButton::clicked, this, [this] { Choose(Choice::Load); });
    connect(bbTake, &QPushButton::clicked, this, [this] { Choose(Choice::TakeAddress); });
    connect(lvFound, &QTreeWidget::itemSelectionChanged, this, &TFScanLine::UpdateButtons);

    auto job = std::make_unique<TScanJob>(*this, this, settings);
    lInfo->setText(TimeLeftText(job->MsLeft()));
    SetJob(std::move(job));
    UpdateButtons();
}

void TFScanLine::ListOnly() {
    bbLoad->hide();
    bbTake->hide();
}

void TFScanLine::ScanAnswered(const ScanEntry& entry) {
    auto* item = new QTreeWidgetItem(lvFound);
    item->setText(0, QString::number(entry.address));
    const std::string text = entry.Text();
    const std::string prefix = "Адрес " + std::to_string(entry.address) + ": ";
    item->setText(1, QString::fromStdString(text.substr(prefix.size())));
    item->setData(0, AddressRole, entry.address);
    item->setData(0, FoundRole, !entry.doubtful);
    if (entry.doubtful)
        item->setForeground(1, QBrush(Qt::darkRed));
    UpdateButtons();
}

void TFScanLine::SetProgressPosition(int position) {
    TJobDialog::SetProgressPosition(position);
    if (!over_)
        lInfo->setText(TimeLeftText(Scan().MsLeft()));
}

void TFScanLine::Finished(const JobBox& box) {
    // The list says it all: no box over it.
    over_ = true;
    lInfo->setText(QString::fromStdString(box.text));
    bbCancel->setText(QStringLiteral("Закрыть"));
    UpdateButtons();
}

void TFScanLine::bbStopClick() {
    if (Job().CanClose) {
        reject();
        return;
    }
    Job().RequestCancel();
    bbCancel->setEnabled(false);  // until the request in flight has ended
}

void TFScanLine::UpdateButtons() {
    QTreeWidgetItem* item = lvFound->currentItem();
    const bool found = over_ && item && item->isSelected() && item->data(0, FoundRole).toBool();
    bbLoad->setEnabled(found);
    bbTake->setEnabled(found && fileOpen_);
    if (over_)
        bbCancel->setEnabled(true);
}

void TFScanLine::Choose(Choice what) {
    QTreeWidgetItem* item = lvFound->currentItem();
    if (!over_ || !item || !item->data(0, FoundRole).toBool())
        return;
    choice = what;
    chosenAddress = item->data(0, AddressRole).toInt();
    accept();
}
