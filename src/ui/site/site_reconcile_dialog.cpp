#include "ui/site/site_reconcile_dialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/site/serial_lines.h"
#include "ui/help/help.h"
#include "ui/seams/prompter.h"

namespace {
QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
}  // namespace

TFSiteReconcile::TFSiteReconcile(QWidget* parent, const std::string& sitePath, const Site& site,
                                 const LineOverrides& overrides)
    : QDialog(parent), site_(site) {
    setWindowTitle(QStringLiteral("Сверка всех дверей"));
    help::SetContext(this, help::TopicSite);
    run_.sitePath = sitePath;
    run_.site = &site_;
    run_.stop = [this] { return stop_.load(); };
    run_.overrides = overrides;
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    table_ = new QTableWidget(static_cast<int>(site_.doors.size()), 2, this);
    table_->setObjectName(QStringLiteral("tblPlan"));
    table_->setAccessibleName(QStringLiteral("Сверка по дверям"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Дверь"), QStringLiteral("Сверка")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    for (std::size_t d = 0; d < site_.doors.size(); ++d) {
        table_->setItem(static_cast<int>(d), 0, new QTableWidgetItem(Text(site_.doors[d].name)));
        table_->setItem(static_cast<int>(d), 1, new QTableWidgetItem(QStringLiteral("...")));
    }
    layout->addWidget(status_);
    layout->addWidget(table_);
    auto* buttons = new QDialogButtonBox(this);
    apply_ = buttons->addButton(QStringLiteral("&Записать различия"), QDialogButtonBox::AcceptRole);
    close_ = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    apply_->setEnabled(false);
    layout->addWidget(buttons);
    connect(apply_, &QPushButton::clicked, this, &TFSiteReconcile::Apply);
    connect(close_, &QPushButton::clicked, this, &TFSiteReconcile::reject);
    resize(720, 160 + 32 * table_->rowCount());
}

TFSiteReconcile::~TFSiteReconcile() {
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
    reconcile_.reset();  // before the lines it works on
    lines_.reset();
}

void TFSiteReconcile::Start() {
    lines_ = std::make_unique<TSerialSiteLines>();
    reconcile_ = std::make_unique<TSiteReconcile>(run_, *lines_);
    status_->setText(QStringLiteral("Чтение контроллеров всех дверей ..."));
    close_->setText(QStringLiteral("Стоп"));
    QPointer<TFSiteReconcile> self(this);
    worker_ = std::thread([this, self] {
        reconcile_->Plan();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->Ended(true);
            },
            Qt::QueuedConnection);
    });
}

void TFSiteReconcile::Show(const char* caption) {
    for (const SiteReconcileDoor& d : reconcile_->Doors())
        table_->item(static_cast<int>(d.door), 1)->setText(Text(SiteReconcilePlanText(d)));
    table_->resizeColumnToContents(0);
    status_->setText(QString::fromUtf8(caption));
}

void TFSiteReconcile::Ended(bool plan) {
    if (worker_.joinable())
        worker_.join();
    close_->setText(QStringLiteral("Закрыть"));
    if (plan) {
        Show(reconcile_->AnythingToApply() ? "Различия по дверям:"
             : reconcile_->AllAgree() ? "Все двери совпадают с файлами."
                                      : "Различий нет, но не все двери прочитаны.");
        apply_->setEnabled(reconcile_->AnythingToApply() && !stop_);
        emit planned();
        return;
    }
    Show(reconcile_->AllAgree() ? "Сверка завершена: все двери совпадают с файлами."
                                : "Не все двери совпадают с файлами; повторите сверку, чтобы "
                                  "завершить её.");
    emit applied();
}

void TFSiteReconcile::Apply() {
    if (Busy() || !reconcile_->AnythingToApply())
        return;
    if (!AppPrompter().AskYesNo(this, QStringLiteral("Сверка с контроллером"),
                                QStringLiteral("Записать различия в контроллеры всех дверей?")))
        return;
    apply_->setEnabled(false);
    close_->setText(QStringLiteral("Стоп"));
    status_->setText(QStringLiteral("Запись различий ..."));
    QPointer<TFSiteReconcile> self(this);
    worker_ = std::thread([this, self] {
        reconcile_->Apply();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->Ended(false);
            },
            Qt::QueuedConnection);
    });
}

void TFSiteReconcile::reject() {
    if (Busy()) {
        // The door in hand runs to its end; the others are left for a rerun.
        stop_ = true;
        status_->setText(QStringLiteral("Остановка после текущей двери ..."));
        return;
    }
    QDialog::reject();
}
