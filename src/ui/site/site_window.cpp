#include "ui/site/site_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <functional>
#include <map>
#include <mutex>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/key_number.h"
#include "core/link/commands.h"
#include "core/link/requester.h"
#include "core/link/serial_port.h"
#include "core/site/serial_lines.h"
#include "core/site/site_scan.h"
#include "core/site/site_status.h"
#include "ui/dialogs/getkey.h"
#include "ui/dialogs/scanline.h"
#include "ui/help/help.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"
#include "ui/site/people_model.h"
#include "ui/site/site_print.h"
#include "ui/site/site_reconcile_dialog.h"

namespace {

std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// The change thread's way of telling the window: `call` runs on the window's thread,
// later, if the window is still there.
void Later(const QPointer<TFSite>& self, std::function<void(TFSite&)> call) {
    QMetaObject::invokeMethod(
        qApp,
        [self, call = std::move(call)] {
            if (self)
                call(*self);
        },
        Qt::QueuedConnection);
}

// The key for several doors: its number in any printed form (or the selected key's,
// fixed), its description, and a tick per door.
class TFSiteGrant : public QDialog {
  public:
    // Reads the key presented at a door's reader (for that door's index); false when none.
    using ReadAtDoor = std::function<bool(QWidget* owner, std::size_t door, KeyCode& code)>;

    TFSiteGrant(QWidget* parent, const Site& site, int typeFormat, const QString& number,
                const QString& description, const std::vector<bool>& holds,
                const std::vector<bool>& readable, ReadAtDoor readAtDoor = {})
        : QDialog(parent), typeFormat_(typeFormat) {
        setWindowTitle(number.isEmpty() ? QStringLiteral("Новая карта(ключ) на двери")
                                        : QStringLiteral("Копировать карту(ключ) на двери"));
        auto* layout = new QVBoxLayout(this);
        auto* lNumber = new QLabel(QStringLiteral("&Номер карты(ключа):"), this);
        edNumber = new QLineEdit(number, this);
        edNumber->setObjectName(QStringLiteral("edNumber"));
        edNumber->setAccessibleName(QStringLiteral("Номер карты(ключа)"));
        edNumber->setReadOnly(!number.isEmpty());
        lNumber->setBuddy(edNumber);
        // A new key may also be presented at the reader of one door.
        auto* reader = new QHBoxLayout;
        auto* lReader = new QLabel(QStringLiteral("Считыватель &двери:"), this);
        cbReader = new QComboBox(this);
        cbReader->setObjectName(QStringLiteral("cbReader"));
        cbReader->setAccessibleName(QStringLiteral("Считыватель двери"));
        for (const SiteDoor& door : site.doors)
            cbReader->addItem(Text(door.name));
        lReader->setBuddy(cbReader);
        bbRead = new QPushButton(QStringLiteral("&Считать"), this);
        bbRead->setObjectName(QStringLiteral("bbRead"));
        bbRead->setAccessibleName(QStringLiteral("Считать карту(ключ) со считывателя двери"));
        reader->addWidget(lReader);
        reader->addWidget(cbReader, 1);
        reader->addWidget(bbRead);
        const bool canRead = number.isEmpty() && readAtDoor && !site.doors.empty();
        cbReader->setEnabled(canRead);
        bbRead->setEnabled(canRead);
        connect(bbRead, &QPushButton::clicked, this, [this, readAtDoor] {
            KeyCode code = 0;
            if (cbReader->currentIndex() >= 0 &&
                readAtDoor(this, static_cast<std::size_t>(cbReader->currentIndex()), code))
                edNumber->setText(Text(Format(typeFormat_, code)));  // re-evaluates OK
        });
        lProblem = new QLabel(this);
        lProblem->setTextFormat(Qt::PlainText);
        lProblem->setWordWrap(true);
        auto* lDescription = new QLabel(QStringLiteral("&Описание карты(ключа):"), this);
        edDescription = new QLineEdit(description, this);
        edDescription->setObjectName(QStringLiteral("edDescription"));
        edDescription->setAccessibleName(QStringLiteral("Описание карты(ключа)"));
        edDescription->setMaxLength(MaxDescriptionLength);
        lDescription->setBuddy(edDescription);
        layout->addWidget(lNumber);
        layout->addWidget(edNumber);
        layout->addLayout(reader);
        layout->addWidget(lProblem);
        layout->addWidget(lDescription);
        layout->addWidget(edDescription);
        layout->addWidget(new QLabel(QStringLiteral("Двери:"), this));
        for (std::size_t d = 0; d < site.doors.size(); ++d) {
            auto* box = new QCheckBox(Text(site.doors[d].name), this);
            box->setChecked(holds[d]);
            box->setEnabled(readable[d] && !holds[d]);
            doors.push_back(box);
            layout->addWidget(box);
            connect(box, &QCheckBox::toggled, this, [this] { Check(); });
        }
        buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(edNumber, &QLineEdit::textChanged, this, [this] { Check(); });
        connect(edDescription, &QLineEdit::textChanged, this, [this] { Check(); });
        holds_ = holds;
        Check();
    }

    // What the operator asked for, once accepted.
    SiteChange Change() const {
        SiteChange change;
        change.kind = SiteChange::Kind::Grant;
        change.code = code_;
        change.description = description_;
        for (std::size_t d = 0; d < doors.size(); ++d)
            if (doors[d]->isChecked() && !holds_[d])
                change.doors.push_back(d);
        return change;
    }

    QLineEdit* edNumber;
    QComboBox* cbReader;
    QPushButton* bbRead;
    QLineEdit* edDescription;
    QLabel* lProblem;
    std::vector<QCheckBox*> doors;
    QDialogButtonBox* buttons;

  private:
    void Check() {
        QString problem;
        KeyNumber number = ParseKeyNumber(typeFormat_, edNumber->text().toStdString());
        if (!edNumber->text().trimmed().isEmpty() && !number)
            problem = Text(KeyNumberRefusal(typeFormat_, number))
                          .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        code_ = number ? number.code : 0;
        std::string bad;
        description_.clear();
        if (!Utf8ToCp1251(edDescription->text().toStdString(), description_, &bad))
            problem = QStringLiteral("Символ \"%1\" нельзя сохранить в описании карты(ключа)")
                          .arg(Text(bad));
        else if (HasControlCharacters(description_))
            problem = Text(DescriptionControlError);
        bool anyDoor = false;
        for (std::size_t d = 0; d < doors.size(); ++d)
            anyDoor = anyDoor || (doors[d]->isChecked() && !holds_[d]);
        lProblem->setText(problem);
        buttons->button(QDialogButtonBox::Ok)
            ->setEnabled(problem.isEmpty() && code_ != 0 && anyDoor);
    }

    int typeFormat_;
    KeyCode code_ = 0;
    std::string description_;
    std::vector<bool> holds_;
};

}  // namespace

TFSite::TFSite(const QString& sitePath, QWidget* parent) : QMainWindow(parent), path_(sitePath) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setObjectName(QStringLiteral("FSite"));
    help::SetContext(this, help::TopicSite);
    model_ = new PeopleModel(this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("tblPeople"));
    table_->setAccessibleName(QStringLiteral("Карты(ключи) по дверям"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(false);
    edSearch_ = new QLineEdit(this);
    edSearch_->setObjectName(QStringLiteral("edSearch"));
    edSearch_->setAccessibleName(QStringLiteral("Поиск карты(ключа) по номеру или описанию"));
    edSearch_->setPlaceholderText(QStringLiteral("Поиск по номеру или описанию"));
    edSearch_->setClearButtonEnabled(true);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(edSearch_);
    layout->addWidget(table_);
    setCentralWidget(central);
    statusDock_ = new QDockWidget(QStringLiteral("Состояние дверей"), this);
    statusDock_->setObjectName(QStringLiteral("dockStatus"));
    statusTable_ = new QTableWidget(0, 5, statusDock_);
    statusTable_->setObjectName(QStringLiteral("tblStatus"));
    statusTable_->setAccessibleName(QStringLiteral("Состояние дверей"));
    statusTable_->setHorizontalHeaderLabels(
        {QStringLiteral("Дверь"), QStringLiteral("Связь"), QStringLiteral("В контроллере"),
         QStringLiteral("В файле"), QStringLiteral("Последняя сверка")});
    statusTable_->verticalHeader()->hide();
    statusTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    statusDock_->setWidget(statusTable_);
    addDockWidget(Qt::BottomDockWidgetArea, statusDock_);
    statusDock_->hide();
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(status_, 1);

    auto make = [this](const QString& text, const QKeySequence& key = {}) {
        auto* a = new QAction(text, this);
        if (!key.isEmpty())
            a->setShortcut(key);
        return a;
    };
    actGrant = make(QStringLiteral("&Новая карта(ключ) на двери..."), Qt::Key_Insert);
    actCopy = make(QStringLiteral("&Копировать на двери..."));
    actRevokeAll = make(QStringLiteral("&Удалить со всех дверей"), Qt::Key_Delete);
    actDescribe = make(QStringLiteral("&Изменить описание на всех дверях..."), Qt::Key_F2);
    actAddDoor = make(QStringLiteral("&Добавить дверь..."));
    actScanDoors = make(QStringLiteral("Двери и&з поиска на линии..."));
    actStatus = make(QStringLiteral("&Состояние дверей"));
    actReconcile = make(QStringLiteral("С&верка всех дверей..."));
    actDoorLine = make(QStringLiteral("&Линия двери на этом компьютере..."));
    actReload = make(QStringLiteral("&Обновить"), QKeySequence::Refresh);
    actPrint = make(QStringLiteral("&Печать: кто какие двери открывает..."), QKeySequence::Print);
    actPrintDoor = make(QStringLiteral("Печать списка &двери..."));
    actSavePdf = make(QStringLiteral("Сохранить в P&DF..."));
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Объект"));
    KeyboardMenus(this, menu);
    for (QAction* a : {actGrant, actCopy, actRevokeAll, actDescribe})
        menu->addAction(a);
    menu->addSeparator();
    for (QAction* a : {actAddDoor, actScanDoors, actDoorLine, actStatus, actReconcile, actReload})
        menu->addAction(a);
    menu->addSeparator();
    for (QAction* a : {actPrint, actPrintDoor, actSavePdf})
        menu->addAction(a);
    QToolBar* bar = addToolBar(QStringLiteral("Объект"));
    bar->setObjectName(QStringLiteral("tbSite"));
    bar->setAccessibleName(QStringLiteral("Панель объекта"));
    for (QAction* a : {actGrant, actCopy, actRevokeAll, actStatus, actReconcile, actPrint})
        bar->addAction(a);

    connect(edSearch_, &QLineEdit::textChanged, model_, &PeopleModel::Filter);
    connect(model_, &PeopleModel::toggleRequested, this, &TFSite::OnToggle);
    connect(actGrant, &QAction::triggered, this, [this] { GrantNew(false); });
    connect(actCopy, &QAction::triggered, this, [this] { GrantNew(true); });
    connect(actRevokeAll, &QAction::triggered, this, &TFSite::RevokeEverywhere);
    connect(actDescribe, &QAction::triggered, this, &TFSite::DescribeEverywhere);
    connect(actAddDoor, &QAction::triggered, this, &TFSite::AddDoor);
    connect(actScanDoors, &QAction::triggered, this, &TFSite::AddDoorsFromScan);
    connect(actStatus, &QAction::triggered, this, &TFSite::ShowStatus);
    connect(actReload, &QAction::triggered, this, &TFSite::Reload);
    connect(actPrint, &QAction::triggered, this,
            [this] { PreviewTable(this, WhoOpensWhat(*model_, Text(site_.name))); });
    connect(actPrintDoor, &QAction::triggered, this, &TFSite::PrintDoor);
    connect(actDoorLine, &QAction::triggered, this, &TFSite::SetDoorLine);
    connect(actReconcile, &QAction::triggered, this, [this] {
        if (Running())
            return;
        TFSiteReconcile dialog(this, Local(path_), site_, Overrides());
        dialog.Start();
        dialog.exec();
        Reload();
    });
    connect(actSavePdf, &QAction::triggered, this, &TFSite::SavePdf);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFSite::UpdateActions);
    connect(model_, &QAbstractItemModel::modelReset, this, &TFSite::UpdateActions);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        resize(area.width() * 2 / 3, area.height() * 2 / 3);
    }
}

TFSite::~TFSite() {
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
}

Prompter& TFSite::Prompt() const {
    return AppPrompter();
}

bool TFSite::Reload() {
    Site site;
    SiteResult r = LoadSite(Local(path_), site);
    if (!r) {
        Prompt().Error(this, QStringLiteral("Ошибка"), r.error);
        return false;
    }
    site_ = site;
    KeyCode selected = 0;
    int viewRow = -1;
    const bool had = SelectedKey(selected, viewRow);
    model_->Load(path_, site_);
    model_->Filter(edSearch_->text());
    table_->resizeColumnsToContents();
    const int row = had ? model_->ShownRowOf(selected) : -1;
    // The keyboard's row is always the chosen one, so the actions on a key work at once.
    if (row >= 0)
        table_->selectRow(row);
    else if (model_->rowCount() > 0)
        table_->setCurrentIndex(model_->index(0, PeopleModel::NumberColumn));
    setWindowTitle(
        QStringLiteral("%1 — %2 — Vardex 2").arg(Text(site_.name), QFileInfo(path_).fileName()));
    const PeopleView& v = model_->View();
    QString counts = QStringLiteral("Карт(ключей): %1").arg(v.rows.size());
    for (std::size_t d = 0; d < site_.doors.size(); ++d) {
        counts += QStringLiteral("; ") + Text(site_.doors[d].name) + QStringLiteral(": ") +
                  (model_->DoorReadable(static_cast<int>(d)) ? QString::number(v.keysPerDoor[d])
                                                             : QStringLiteral("файл не читается"));
    }
    status_->setText(counts);
    UpdateActions();
    return true;
}

bool TFSite::SelectedKey(KeyCode& code, int& viewRow) const {
    const QModelIndexList rows =
        table_->selectionModel() ? table_->selectionModel()->selectedRows() : QModelIndexList();
    if (rows.isEmpty() || rows.first().row() >= model_->rowCount())
        return false;
    code = model_->CodeAt(rows.first().row());
    viewRow = model_->ViewRow(rows.first().row());
    return true;
}

void TFSite::UpdateActions() {
    KeyCode code = 0;
    int viewRow = -1;
    const bool selected = SelectedKey(code, viewRow);
    const bool idle = !Running();
    actGrant->setEnabled(idle && !site_.doors.empty());
    actCopy->setEnabled(idle && selected);
    actRevokeAll->setEnabled(idle && selected);
    actDescribe->setEnabled(idle && selected);
    actAddDoor->setEnabled(idle);
    actScanDoors->setEnabled(idle);
    actStatus->setEnabled(idle && !site_.doors.empty());
    actReload->setEnabled(idle);
    actReconcile->setEnabled(idle && !site_.doors.empty());
    actDoorLine->setEnabled(idle && !site_.doors.empty());
    actPrint->setEnabled(idle);
    actPrintDoor->setEnabled(idle && !site_.doors.empty());
    actSavePdf->setEnabled(idle);
    table_->setEnabled(idle);
}

void TFSite::OnToggle(KeyCode code, int door, bool grant) {
    if (Running())
        return;
    const QString number = Text(Format(site_.typeFormat, code));
    SiteChange change;
    change.code = code;
    change.doors = {static_cast<std::size_t>(door)};
    if (grant) {
        const int row =
            model_->View().RowOf(code) >= 0 ? static_cast<int>(model_->View().RowOf(code)) : -1;
        change.kind = SiteChange::Kind::Grant;
        if (row >= 0)
            Utf8ToCp1251(model_->RowDescription(row).toStdString(), change.description);
    } else {
        change.kind = SiteChange::Kind::Revoke;
        if (!Prompt().AskYesNo(
                this, QStringLiteral("Удаление карты(ключа)"),
                QStringLiteral("Вы действительно хотите удалить карту(ключ) %1?").arg(number) +
                    QStringLiteral("\rДверь: ") + Text(site_.doors[door].name)))
            return;
    }
    StartChange(change);
}

void TFSite::RevokeEverywhere() {
    KeyCode code = 0;
    int viewRow = -1;
    if (Running() || !SelectedKey(code, viewRow))
        return;
    QString who = model_->RowDescription(viewRow);
    if (!Prompt().AskYesNo(
            this, QStringLiteral("Удаление карты(ключа)"),
            QStringLiteral("Вы действительно хотите удалить карту(ключ) %1 со всех дверей?")
                    .arg(Text(Format(site_.typeFormat, code))) +
                (who.isEmpty() ? QString() : QStringLiteral("\r") + who)))
        return;
    SiteChange change;
    change.kind = SiteChange::Kind::Revoke;
    change.code = code;
    StartChange(change);
}

void TFSite::GrantNew(bool copySelected) {
    if (Running())
        return;
    KeyCode code = 0;
    int viewRow = -1;
    QString number, description;
    std::vector<bool> holds(site_.doors.size(), false), readable(site_.doors.size(), true);
    if (copySelected) {
        if (!SelectedKey(code, viewRow))
            return;
        number = Text(Format(site_.typeFormat, code));
        description = model_->RowDescription(viewRow);
    }
    for (std::size_t d = 0; d < site_.doors.size(); ++d) {
        readable[d] = model_->DoorReadable(static_cast<int>(d));
        holds[d] = copySelected && model_->View().Holds(viewRow, d);
    }
    TFSiteGrant dialog(this, site_, site_.typeFormat, number, description, holds, readable,
                       [this](QWidget* owner, std::size_t door, KeyCode& code) {
                           return ReadAtDoor(owner, door, code);
                       });
    if (dialog.exec() != QDialog::Accepted)
        return;
    SiteChange change = dialog.Change();
    // A key already held by a door keeps that door's description: the change is a grant.
    StartChange(change);
}

bool TFSite::ReadAtDoor(QWidget* owner, std::size_t door, KeyCode& code) {
    if (door >= site_.doors.size())
        return false;
    const std::string sitePath = Local(path_);
    const SiteDoor& d = site_.doors[door];
    const std::optional<int> address = DoorAddress(DoorFilePath(sitePath, d));
    if (!address) {
        Prompt().Error(owner, QStringLiteral("Ошибка"),
                       QStringLiteral("Файл двери «%1» не читается: адрес её контроллера "
                                      "неизвестен.")
                           .arg(Text(d.name)));
        return false;
    }
    TSerialSiteLines lines;  // the door's line, open while the key is read
    std::string error;
    TRequester* requester = lines.Door(DoorLine(sitePath, d, Overrides()), *address, error);
    if (!requester) {
        Prompt().Error(owner, QStringLiteral("Ошибка"), Text(error));
        return false;
    }
    TFGetKey getKey(owner, site_.typeFormat, 0, *requester);
    if (!getKey.Run())
        return false;
    code = getKey.ReadCode;
    return true;
}

void TFSite::DescribeEverywhere() {
    KeyCode code = 0;
    int viewRow = -1;
    if (Running() || !SelectedKey(code, viewRow))
        return;
    QString text = model_->RowDescription(viewRow);
    if (!Prompt().AskText(this, QStringLiteral("Описание карты(ключа)"),
                          QStringLiteral("Описание карты(ключа) %1 на всех дверях:")
                              .arg(Text(Format(site_.typeFormat, code))),
                          text))
        return;
    SiteChange change;
    change.kind = SiteChange::Kind::Describe;
    change.code = code;
    std::string bad;
    if (!Utf8ToCp1251(text.toStdString(), change.description, &bad) ||
        HasControlCharacters(change.description) ||
        static_cast<int>(change.description.size()) > MaxDescriptionLength) {
        Prompt().Error(this, QStringLiteral("Ошибка"),
                       QStringLiteral("Такое описание нельзя сохранить в файле базы."));
        return;
    }
    StartChange(change);
}

void TFSite::AddDoor() {
    if (Running())
        return;
    FileDialogOptions o;
    o.title = QStringLiteral("Файл базы двери");
    o.filter = QStringLiteral("Файл базы ключей(*.vx2)|*.vx2");
    o.defaultExt = QStringLiteral("vx2");
    o.directory = QFileInfo(path_).absolutePath();
    o.fileMustExist = true;
    const QString file = Prompt().OpenFile(this, o);
    if (file.isEmpty())
        return;
    if (!DoorAddress(Local(file))) {
        Prompt().Error(
            this, QStringLiteral("Ошибка"),
            QStringLiteral("Файл %1 не является базой данных (.vx2) или не читается.").arg(file));
        return;
    }
    QString name = QFileInfo(file).completeBaseName();
    if (!Prompt().AskText(this, QStringLiteral("Добавить дверь"), QStringLiteral("Название двери:"),
                          name) ||
        name.trimmed().isEmpty())
        return;
    QString line = site_.doors.empty() ? QString() : Text(site_.doors.back().line);
    if (!Prompt().AskText(this, QStringLiteral("Добавить дверь"),
                          QStringLiteral("Линия (порт) контроллера двери:"), line))
        return;
    Site site = site_;
    site.doors.push_back({name.trimmed().toStdString(), DoorFileForSite(Local(path_), Local(file)),
                          line.toStdString()});
    SiteResult r = SaveSite(Local(path_), site);
    if (!r) {
        Prompt().Error(this, QStringLiteral("Ошибка"), r.error);
        return;
    }
    Reload();
}

void TFSite::AddDoorsFromScan() {
    if (Running())
        return;
    const QString caption = QStringLiteral("Двери из поиска на линии");
    // The last door's line, or for a site without doors the main window's port.
    QString line = site_.doors.empty()
                       ? QString()
                       : Text(DoorLine(Local(path_), site_.doors.back(), Overrides()));
    if (line.isEmpty())
        if (SettingsStore* settings = AppSettings())
            line = settings->ReadComPort().value_or(QString());
    if (!Prompt().AskText(this, caption,
                          QStringLiteral("Линия (порт), на которой искать контроллеры:"), line) ||
        line.trimmed().isEmpty())
        return;
    const std::string device = line.trimmed().toStdString();
    // The line stays open from the scan to the last load.
    auto lines = std::make_shared<TSerialSiteLines>();
    std::string error;
    TRequester* worker = lines->Worker(device, error);
    if (!worker) {
        Prompt().Error(this, QStringLiteral("Ошибка"), Text(error));
        return;
    }
    std::vector<ScanEntry> found;
    {
        TFScanLine scan(
            this, *worker, [] {}, false, scanSettings);
        scan.ListOnly();
        scan.Run();
        found = scan.Scan().Entries();
    }
    std::vector<ScannedDoor> plan =
        PlanScannedDoors(Local(path_), site_, device, found, Overrides());
    if (plan.empty()) {
        Prompt().Info(this, caption,
                      QStringLiteral("На линии %1 не найдено контроллеров, которых ещё нет "
                                     "среди дверей объекта.")
                          .arg(Text(device)));
        return;
    }
    QString list;
    for (const ScannedDoor& door : plan)
        list += QStringLiteral("\r%1 (адрес %2): %3")
                    .arg(Text(door.name))
                    .arg(door.address)
                    .arg(QFileInfo(Text(door.file)).fileName());
    if (!Prompt().AskYesNo(this, caption,
                           QStringLiteral("Добавить в объект дверей: %1?").arg(plan.size()) + list +
                               QStringLiteral("\rКаждый контроллер будет загружен в новый файл "
                                              "рядом с файлом объекта.")))
        return;

    stop_ = false;
    status_->setText(QStringLiteral("Загрузка дверей из контроллеров..."));
    QPointer<TFSite> self(this);
    const std::string sitePath = Local(path_);
    Site site = site_;
    worker_ = std::thread([self, lines, worker, site, sitePath, device, plan, this]() mutable {
        const SiteResult saved = AddScannedDoors(
            sitePath, site, device, *worker, plan, [this] { return stop_.load(); },
            [self](const ScannedDoor& door) {
                const QString text =
                    Text(door.name) + QStringLiteral(": ") +
                    (door.error.empty() ? QStringLiteral("загружена") : QStringLiteral("ошибка"));
                Later(self, [text](TFSite& w) { w.status_->setText(text); });
            });
        Later(self, [plan, saved](TFSite& w) { w.DoorsAdded(plan, saved); });
    });
    UpdateActions();
}

void TFSite::DoorsAdded(const std::vector<ScannedDoor>& doors, const SiteResult& saved) {
    if (worker_.joinable())
        worker_.join();
    Reload();
    QString text;
    bool all = saved.ok;
    for (const ScannedDoor& door : doors) {
        if (!text.isEmpty())
            text += QLatin1Char('\r');
        text += QStringLiteral("%1 (адрес %2): ").arg(Text(door.name)).arg(door.address);
        if (!door.done)
            text += QStringLiteral("прервано");
        else if (door.error.empty())
            text += QStringLiteral("загружена, карт(ключей): %1, файл %2")
                        .arg(door.keys)
                        .arg(QFileInfo(Text(door.file)).fileName());
        else
            text += QStringLiteral("не добавлена: ") + Text(door.error);
        all = all && door.done && door.error.empty();
    }
    if (!saved)
        text += QStringLiteral("\r\rФайл объекта не сохранён: ") + Text(saved.error);
    if (all)
        Prompt().Info(this, QStringLiteral("Двери из поиска на линии"), text);
    else
        Prompt().Warning(this, QStringLiteral("Двери из поиска на линии"), text);
    emit changeEnded();
}

void TFSite::ShowStatus() {
    if (Running() || statusBusy_)
        return;
    statusDock_->show();
    statusDock_->raise();
    statusTable_->setRowCount(static_cast<int>(site_.doors.size()));
    for (std::size_t d = 0; d < site_.doors.size(); ++d) {
        statusTable_->setItem(static_cast<int>(d), 0,
                              new QTableWidgetItem(Text(site_.doors[d].name)));
        for (int c = 1; c < 5; ++c)
            statusTable_->setItem(static_cast<int>(d), c,
                                  new QTableWidgetItem(QStringLiteral("...")));
    }
    statusBusy_ = true;
    // The link checks run on threads of their own, one per line; the window stays live.
    QPointer<TFSite> self(this);
    std::thread([self, site = site_, sitePath = Local(path_), overrides = Overrides()] {
        TSerialSiteLines lines;
        SiteRun run;
        run.sitePath = sitePath;
        run.site = &site;
        run.overrides = overrides;
        std::vector<SiteDoorStatus> status = ReadSiteStatus(run, lines);
        Later(self, [status](TFSite& w) { w.StatusRead(status); });
    }).detach();
}

void TFSite::StatusRead(const std::vector<SiteDoorStatus>& status) {
    statusBusy_ = false;
    for (const SiteDoorStatus& s : status) {
        const int row = static_cast<int>(s.door);
        if (row >= statusTable_->rowCount())
            continue;
        auto put = [&](int column, const QString& text) {
            statusTable_->setItem(row, column, new QTableWidgetItem(text));
        };
        put(1, s.reachable ? QStringLiteral("на связи")
                           : QStringLiteral("нет связи: ") + Text(s.linkError));
        put(2, s.controllerKeys ? QString::number(*s.controllerKeys) : QStringLiteral("?"));
        put(3, s.fileKeys ? QString::number(*s.fileKeys)
                          : QStringLiteral("не читается: ") + Text(s.fileError));
        put(4, s.lastReconcile.empty()
                   ? QStringLiteral("не проводилась")
                   : Text(s.lastReconcile) + QStringLiteral(" ") + Text(s.lastReconcileOutcome));
    }
    statusTable_->resizeColumnsToContents();
    emit statusShown();
}

LineOverrides TFSite::Overrides() const {
    LineOverrides overrides;
    SettingsStore* settings = AppSettings();
    if (!settings)
        return overrides;
    const std::string path = Local(path_);
    for (const SiteDoor& d : site_.doors) {
        const std::string key = path + "\n" + d.name;
        const QString line = settings->ReadSiteLine(QString::fromStdString(key));
        if (!line.isEmpty())
            overrides[key] = line.toStdString();
    }
    return overrides;
}

void TFSite::SetDoorLine() {
    const int door = table_->currentIndex().column() - PeopleModel::FirstDoorColumn;
    SettingsStore* settings = AppSettings();
    if (door < 0 || !settings) {
        Prompt().Info(this, QStringLiteral("Линия двери"),
                      QStringLiteral("Выберите столбец двери, линию которой нужно указать."));
        return;
    }
    const SiteDoor& d = site_.doors[door];
    const QString key = QString::fromStdString(Local(path_) + "\n" + d.name);
    QString line = Text(DoorLine(Local(path_), d, Overrides()));
    if (!Prompt().AskText(this, QStringLiteral("Линия двери"),
                          QStringLiteral("Линия (порт) двери «%1» на этом компьютере "
                                         "(в файле объекта: %2):")
                              .arg(Text(d.name), Text(d.line)),
                          line))
        return;
    line = line.trimmed();
    settings->WriteSiteLine(key, line == Text(d.line) ? QString() : line);
    Reload();
}

void TFSite::PrintDoor() {
    const int door = table_->currentIndex().column() - PeopleModel::FirstDoorColumn;
    if (door < 0) {
        Prompt().Info(this, QStringLiteral("Печать списка двери"),
                      QStringLiteral("Выберите столбец двери, список которой нужно напечатать."));
        return;
    }
    PreviewTable(this, DoorKeyList(*model_, Text(site_.name), door));
}

void TFSite::SavePdf() {
    FileDialogOptions o;
    o.title = QStringLiteral("Сохранить в PDF");
    o.filter = QStringLiteral("Документ PDF(*.pdf)|*.pdf");
    o.defaultExt = QStringLiteral("pdf");
    o.fileName = QFileInfo(path_).completeBaseName() + QStringLiteral(".pdf");
    o.directory = QFileInfo(path_).absolutePath();
    o.overwritePrompt = true;
    const QString file = Prompt().SaveFile(this, o);
    if (file.isEmpty())
        return;
    if (WriteTablePdf(file, WhoOpensWhat(*model_, Text(site_.name))) == 0)
        Prompt().Error(this, QStringLiteral("Ошибка"),
                       QStringLiteral("Не удалось записать файл %1").arg(file));
}

void TFSite::StartChange(const SiteChange& change) {
    if (Running())
        return;
    stop_ = false;
    status_->setText(QStringLiteral("Выполняется изменение на дверях..."));
    QPointer<TFSite> self(this);
    const Site site = site_;
    const std::string sitePath = Local(path_);
    const LineOverrides overrides = Overrides();
    worker_ = std::thread([self, site, sitePath, change, overrides, this] {
        TSerialSiteLines lines;
        SiteRun run;
        run.sitePath = sitePath;
        run.site = &site;
        run.stop = [this] { return stop_.load(); };
        run.overrides = overrides;
        std::vector<SiteDoorOutcome> outcomes =
            RunSiteChange(run, change, lines, [self, site](const SiteDoorOutcome& o) {
                const QString line =
                    Text(site.doors[o.door].name) + QStringLiteral(": ") +
                    (o.state == SiteDoorOutcome::State::Failed ? QStringLiteral("ошибка")
                                                               : QStringLiteral("готово"));
                Later(self, [line](TFSite& w) { w.status_->setText(line); });
            });
        Later(self, [change, outcomes](TFSite& w) { w.ChangeEnded(change, outcomes); });
    });
    UpdateActions();
}

void TFSite::ChangeEnded(const SiteChange& change, std::vector<SiteDoorOutcome> outcomes) {
    if (worker_.joinable())
        worker_.join();
    last_ = std::move(outcomes);
    Reload();
    QString text;
    for (const SiteDoorOutcome& o : last_) {
        if (!text.isEmpty())
            text += QLatin1Char('\r');
        text += Text(site_.doors[o.door].name) + QStringLiteral(": ") +
                Text(SiteOutcomeText(change, o));
    }
    const QString number = Text(Format(site_.typeFormat, change.code));
    if (SiteChangeComplete(last_)) {
        Prompt().Info(this, QStringLiteral("Карта(ключ) ") + number, text);
    } else {
        Prompt().Warning(this, QStringLiteral("Карта(ключ) ") + number,
                         text + QStringLiteral("\r\rИзменение выполнено не на всех дверях; "
                                               "повторите его, чтобы завершить."));
    }
    emit changeEnded();
}

void TFSite::closeEvent(QCloseEvent* event) {
    if (Running()) {
        // A door's change always runs to its end; the rest stop and the window closes
        // once the change ends.
        stop_ = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
