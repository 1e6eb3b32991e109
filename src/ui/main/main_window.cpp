#include "ui/main/main_window.h"

#include "core/link/requester.h"

#include <sys/stat.h>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

#include "core/keys/journaled.h"
#include "ui/main/journal_window.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "core/keys/cp1251.h"
#include "core/keys/journal.h"
#include "core/keys/key_csv.h"
#include "core/link/commands.h"
#include "core/link/line_trace.h"
#include "core/link/serial_port.h"
#include "ui/dialogs/findkey.h"
#include "ui/dialogs/getvardex.h"
#include "ui/dialogs/readcontr.h"
#include "ui/dialogs/reconcile.h"
#include "ui/dialogs/synccontr.h"
#include "ui/dialogs/writecontr.h"
#include "ui/help/help.h"
#include "ui/main/about_box.h"
#include "ui/main/editkey.h"
#include "ui/main/icons.h"
#include "ui/main/key_filter.h"
#include "ui/main/key_search_bar.h"
#include "ui/main/updown.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"
#include "ui/seams/worker_bridge.h"

namespace {

const char* const kTitle = "Vardex 2";

class SerialLink : public LinkControl {
  public:
    explicit SerialLink(TSerialPort& port) : port_(port) {}
    bool Open(const std::string& devicePath, std::string& errorText) override {
        return port_.Open(devicePath, errorText);
    }
    void Close() override { port_.Close(); }

  private:
    TSerialPort& port_;
};

QString Title() {
    return QString::fromUtf8(kTitle);
}

}  // namespace

TFMain::TFMain(MainDeps deps, QWidget* parent) : QMainWindow(parent), deps_(std::move(deps)) {
    setObjectName(QStringLiteral("TFMain"));
    setWindowTitle(Title());
    setWindowIcon(MakeIcon(AppIcon::App));
    help::SetContext(this, 1);

    if (!deps_.settings) {
        ownSettings_ = std::make_unique<QtSettingsStore>();
        deps_.settings = ownSettings_.get();
    }
    if (!deps_.ports) {
        ownPorts_ = std::make_unique<SystemPortDirectory>();
        deps_.ports = ownPorts_.get();
    }
    if (deps_.runner) {
        runner_ = deps_.runner;
    } else {
        port_ = std::make_unique<TSerialPort>();
        if (!deps_.tracePath.isEmpty())
            traceFile_.reset(std::fopen(QFile::encodeName(deps_.tracePath).constData(), "we"));
        if (traceFile_) {
            std::FILE* out = traceFile_.get();
            trace_ = std::make_unique<TLineTrace>(*port_, [out](const std::string& line) {
                std::fputs(line.c_str(), out);
                std::fflush(out);
            });
            worker_ = std::make_unique<TCommands>(*trace_, trace_.get());
        } else {
            worker_ = std::make_unique<TCommands>(*port_);
        }
        runner_ = worker_.get();
    }
    // Every job of the open file goes to its controller's address; the line's worker
    // under it carries the requests of every controller on the line, one at a time.
    line_ = runner_;
    addressed_ = std::make_unique<TAddressedRequester>(*line_);
    runner_ = addressed_.get();
    if (deps_.link) {
        link_ = deps_.link;
    } else {
        if (!port_) {
            port_ = std::make_unique<TSerialPort>();
        }
        ownLink_ = std::make_unique<SerialLink>(*port_);
        link_ = ownLink_.get();
    }
    SetAppRunner(runner_);
    SetAppSettings(deps_.settings);  // the other windows' sizes

    CreateActions();
    CreateControls();
    // No menu of toolbars on a right click in the menu or tool bar: the window's bars
    // are fixed.
    setContextMenuPolicy(Qt::NoContextMenu);
    setMinimumSize(565, 349);
    // The first run: a share of the screen, so the descriptions show whole on a large one
    // and never less than 563 x 432 below the menu bar.
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
        resize(std::max(563, room.width() * 55 / 100),
               std::max(432 + menuBar()->sizeHint().height(), room.height() * 70 / 100));
    }
    // Where the operator left the window last time (the size above for the first run).
    const QByteArray geometry = deps_.settings->ReadGeometry();
    if (!geometry.isEmpty()) {
        restoreGeometry(geometry);
    }
    FillRecentMenu();
    SetVardex(0);
    EnableEditing(false);

    // A journal that cannot be written is told; the change it describes stands.
    journal::SetReporter([](const std::string& journalPath, const std::string& error) {
        AppPrompter().Warning(QApplication::activeWindow(), QStringLiteral("Vardex 2"),
                              QString::fromStdString(journal::FailureText(journalPath, error)));
    });
}

TFMain::~TFMain() {
    journal::SetReporter(nullptr);
    SetAppRunner(nullptr);
    if (AppSettings() == deps_.settings) {
        SetAppSettings(nullptr);
    }
    // The worker stops before the line it runs on goes away.
    worker_.reset();
    port_.reset();
}

Prompter& TFMain::Prompt() const {
    return AppPrompter();
}

void TFMain::CreateActions() {
    auto make = [this](const char* name, const QString& text, const QString& hint, AppIcon icon) {
        auto* a = new QAction(MakeIcon(icon), text, this);
        a->setObjectName(QString::fromUtf8(name));
        a->setStatusTip(hint);
        a->setToolTip(hint);
        return a;
    };
    actNew = make("actNew", QStringLiteral("&Новый файл"), QStringLiteral("Создать новый файл"),
                  AppIcon::New);
    actNewFromContr = make("actNewFromContr", QStringLiteral("&Загрузить из контроллера"),
                           QStringLiteral("Файл с данными из контроллера"), AppIcon::Export);
    actOpen =
        make("actOpen", QStringLiteral("&Открыть"), QStringLiteral("Открыть файл"), AppIcon::Open);
    actSave = make("actSave", QStringLiteral("&Экспорт в контроллер"),
                   QStringLiteral("Экспорт в контроллер"), AppIcon::Export);
    actSync =
        make("actSync", QStringLiteral("&Проверка карт(ключей)"),
             QStringLiteral("Проверить контроллер на наличие новых карт(ключей)"), AppIcon::Sync);
    actReconcile =
        make("actReconcile", QStringLiteral("Св&ерка с контроллером"),
             QStringLiteral("Сравнить файл с контроллером и записать в контроллер только различия"),
             AppIcon::Sync);
    actExit = make("actExit", QStringLiteral("&Выход"), QStringLiteral("Закрыть приложение"),
                   AppIcon::Exit);
    actHelpProgram =
        make("actHelpProgram", QStringLiteral("Справка по программе"), QString(), AppIcon::Help);
    actHelpProgram->setShortcut(QKeySequence(Qt::Key_F1));
    actHelpProgram->setShortcutContext(Qt::WindowShortcut);
    actAbout = make("actAbout", QStringLiteral("&О программе ..."), QString(), AppIcon::About);
    actJournal =
        make("actJournal", QStringLiteral("&Журнал изменений"),
             QStringLiteral("Кто, когда и что менял в файле и контроллере"), AppIcon::Open);
    actJournal->setIcon(QIcon());
    actSaveCsv = make("actSaveCsv", QStringLiteral("&Сохранить список в CSV..."),
                      QStringLiteral("Список карт(ключей) для электронной таблицы"), AppIcon::Open);
    actSaveCsv->setIcon(QIcon());
    actImportCsv = make("actImportCsv", QStringLiteral("&Импорт из CSV..."),
                        QStringLiteral("Добавить карты(ключи) из файла CSV в контроллер и файл"),
                        AppIcon::Open);
    actImportCsv->setIcon(QIcon());
    actEnrol = make("actEnrol", QStringLiteral("&Регистрация карт(ключей)"),
                    QStringLiteral("Добавлять карты(ключи), поднося их к считывателю по одной"),
                    AppIcon::Sync);
    actEnrol->setIcon(QIcon());
    actScanLine = make("actScanLine", QStringLiteral("Поис&к контроллеров на линии..."),
                       QStringLiteral("Какие адреса отвечают на линии; в контроллеры ничего "
                                      "не записывается"),
                       AppIcon::Sync);
    actScanLine->setIcon(QIcon());
    // The keys every desktop gives these actions.
    // (Some platforms' themes give none for Quit; Ctrl+Q is what Linux desktops use.)
    const auto standard = [](QKeySequence::StandardKey key, QKeyCombination fallback) {
        const QList<QKeySequence> keys = QKeySequence::keyBindings(key);
        return keys.isEmpty() ? QList<QKeySequence>{QKeySequence(fallback)} : keys;
    };
    actNew->setShortcuts(standard(QKeySequence::New, Qt::CTRL | Qt::Key_N));
    actOpen->setShortcuts(standard(QKeySequence::Open, Qt::CTRL | Qt::Key_O));
    actExit->setShortcuts(standard(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q));

    connect(actNew, &QAction::triggered, this, &TFMain::actNewExecute);
    connect(actNewFromContr, &QAction::triggered, this, &TFMain::actNewFromContrExecute);
    connect(actOpen, &QAction::triggered, this, &TFMain::actOpenExecute);
    connect(actSave, &QAction::triggered, this, &TFMain::actSaveExecute);
    connect(actSync, &QAction::triggered, this, &TFMain::actSyncExecute);
    connect(actReconcile, &QAction::triggered, this, &TFMain::actReconcileExecute);
    connect(actExit, &QAction::triggered, this, &QWidget::close);
    connect(actHelpProgram, &QAction::triggered, this, &TFMain::actHelpProgramExecute);
    connect(actAbout, &QAction::triggered, this, &TFMain::actAboutExecute);
    connect(actJournal, &QAction::triggered, this, &TFMain::actJournalExecute);
    connect(actSaveCsv, &QAction::triggered, this, &TFMain::actSaveCsvExecute);
    connect(actImportCsv, &QAction::triggered, this, &TFMain::actImportCsvExecute);
    connect(actEnrol, &QAction::triggered, this, &TFMain::actEnrolExecute);
    connect(actScanLine, &QAction::triggered, this, &TFMain::actScanLineExecute);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->setObjectName(QStringLiteral("miFile"));
    QMenu* newMenu = file->addMenu(MakeIcon(AppIcon::New), QStringLiteral("&Новый"));
    newMenu->setObjectName(QStringLiteral("miNew"));
    newMenu->addAction(actNew);
    newMenu->addAction(actNewFromContr);
    newMenu->setDefaultAction(actNew);
    file->addAction(actOpen);
    miRecent = file->addMenu(QStringLiteral("Последние файлы"));
    miRecent->setObjectName(QStringLiteral("miRecent"));
    file->addSeparator();
    file->addAction(actSave);
    file->addSeparator();
    file->addAction(actSync);
    file->addAction(actReconcile);
    file->addAction(actEnrol);
    file->addAction(actJournal);
    file->addAction(actSaveCsv);
    file->addAction(actImportCsv);
    file->addSeparator();
    file->addAction(actScanLine);
    file->addSeparator();
    file->addAction(actExit);

    CreateSiteMenu();

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Справка"));
    helpMenu->setObjectName(QStringLiteral("miHelp"));
    helpMenu->addAction(actHelpProgram);
    helpMenu->addSeparator();
    helpMenu->addAction(actAbout);

    KeyboardMenus(this, file);
}

namespace {
QToolButton* ToolButton(QWidget* parent, const char* name, const QString& hint, AppIcon icon) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setIcon(MakeIcon(icon));
    b->setToolTip(hint);
    b->setStatusTip(hint);
    b->setAccessibleName(hint);  // an icon alone says nothing to a screen reader
    b->setAutoRaise(true);
    return b;
}
}  // namespace

void TFMain::CreateControls() {
    // The main toolbar: "new" with its drop-down, then open, export and check.
    // Its title is what a screen reader says for it.
    ToolBar1 = addToolBar(QStringLiteral("Панель инструментов"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setAccessibleName(QStringLiteral("Панель инструментов"));
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setMovable(false);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);

    tbNew = ToolButton(ToolBar1, "tbNew", QStringLiteral("Создать пустой файл"), AppIcon::New);
    tbNew->setText(QStringLiteral("Создать новый файл или вычитать из контроллера"));
    tbNew->setToolTip(QStringLiteral("Создать пустой файл"));
    auto* newMenu = new QMenu(tbNew);
    newMenu->setObjectName(QStringLiteral("pmNew"));
    newMenu->addAction(actNew);
    newMenu->addAction(actNewFromContr);
    newMenu->setDefaultAction(actNew);
    tbNew->setMenu(newMenu);
    tbNew->setPopupMode(QToolButton::InstantPopup);  // a click on the button opens the menu
    ToolBar1->addWidget(tbNew);
    ToolBar1->addSeparator();

    tbOpen = ToolButton(ToolBar1, "tbOpen", QString(), AppIcon::Open);
    tbOpen->setDefaultAction(actOpen);
    ToolBar1->addWidget(tbOpen);
    ToolBar1->addSeparator();
    tbSave = ToolButton(ToolBar1, "tbSave", QString(), AppIcon::Export);
    tbSave->setDefaultAction(actSave);
    ToolBar1->addWidget(tbSave);
    ToolBar1->addSeparator();
    tbSync = ToolButton(ToolBar1, "tbSync", QString(), AppIcon::Sync);
    tbSync->setDefaultAction(actSync);
    ToolBar1->addWidget(tbSync);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("pMain"));
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(4, 4, 4, 4);

    // The controller's settings.
    gbSettings = new QGroupBox(QStringLiteral("Настройки контроллера"), central);
    gbSettings->setObjectName(QStringLiteral("gbSettings"));
    auto* grid = new QGridLayout(gbSettings);
    udRetryRead = new TUpDown(QStringLiteral("edRetryRead"), gbSettings);
    udRetryRead->setObjectName(QStringLiteral("udRetryRead"));
    udRetryRead->setRange(0, 255);
    udRetryRead->SetPosition(1);
    edRetryRead = udRetryRead->findChild<QLineEdit*>(QStringLiteral("edRetryRead"));
    udTimeOpen = new TUpDown(QStringLiteral("edTimeOpen"), gbSettings);
    udTimeOpen->setObjectName(QStringLiteral("udTimeOpen"));
    udTimeOpen->setRange(1, 255);
    udTimeOpen->SetPosition(1);
    edTimeOpen = udTimeOpen->findChild<QLineEdit*>(QStringLiteral("edTimeOpen"));
    for (TUpDown* ud : {udRetryRead, udTimeOpen}) {
        ud->setFixedWidth(64);
        // Reached with Tab; an arrow key is one step, as a click on an arrow is.
        ud->setFocusPolicy(Qt::StrongFocus);
    }
    // The spin box and the field inside it, which has the focus while a number is typed.
    udRetryRead->setAccessibleName(QStringLiteral("Повторное считывание карты (ключа)"));
    edRetryRead->setAccessibleName(QStringLiteral("Повторное считывание карты (ключа)"));
    udTimeOpen->setAccessibleName(QStringLiteral("Время открывания замка"));
    edTimeOpen->setAccessibleName(QStringLiteral("Время открывания замка"));
    udTimeOpen->OnChanging = [this](int v) { return udTimeOpenChangingEx(v); };
    udRetryRead->OnChanging = [this](int v) { return udRetryReadChangingEx(v); };

    auto* lRetry = new QLabel(QStringLiteral("Повторное считывание карты (ключа)"), gbSettings);
    lRetry->setWordWrap(true);
    lRetry->setBuddy(udRetryRead);
    grid->addWidget(lRetry, 0, 0, 1, 2);
    grid->addWidget(udRetryRead, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("сек."), gbSettings), 1, 1);
    auto* lTimeOpen = new QLabel(QStringLiteral("Время открывания замка"), gbSettings);
    lTimeOpen->setBuddy(udTimeOpen);
    grid->addWidget(lTimeOpen, 2, 0, 1, 2);
    grid->addWidget(udTimeOpen, 3, 0);
    grid->addWidget(new QLabel(QStringLiteral("сек."), gbSettings), 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Вардекс"), gbSettings), 4, 0, 1, 2);
    bbVardex = new QPushButton(gbSettings);
    bbVardex->setObjectName(QStringLiteral("bbVardex"));
    QFont bold = bbVardex->font();
    bold.setBold(true);
    bbVardex->setFont(bold);
    bbVardex->setToolTip(QStringLiteral("Изменить номер вардекса"));
    bbVardex->setAccessibleName(QStringLiteral("Вардекс"));
    bbVardex->setAccessibleDescription(QStringLiteral("Изменить номер вардекса"));
    connect(bbVardex, &QPushButton::clicked, this, &TFMain::bbVardexClick);
    grid->addWidget(bbVardex, 5, 0, 1, 2);
    // Set on the controller itself; here only which controller of the line the file is.
    udAddress = new TUpDown(QStringLiteral("edAddress"), gbSettings);
    udAddress->setObjectName(QStringLiteral("udAddress"));
    udAddress->setRange(0, MaxDbAddress);
    udAddress->SetPosition(0);
    udAddress->setFixedWidth(64);
    udAddress->setFocusPolicy(Qt::StrongFocus);
    udAddress->setAccessibleName(QStringLiteral("Адрес на линии"));
    udAddress->findChild<QLineEdit*>(QStringLiteral("edAddress"))
        ->setAccessibleName(QStringLiteral("Адрес на линии"));
    udAddress->setToolTip(
        QStringLiteral("Адрес контроллера на линии RS-485 (0 — контроллер один на линии). "
                       "Записывается только в файл: адрес задаётся в самом контроллере."));
    udAddress->OnChanging = [this](int v) { return udAddressChangingEx(v); };
    auto* lAddress = new QLabel(QStringLiteral("Адрес на линии"), gbSettings);
    lAddress->setBuddy(udAddress);
    grid->addWidget(lAddress, 6, 0, 1, 2);
    grid->addWidget(udAddress, 7, 0);
    grid->setRowStretch(8, 1);
    grid->setColumnStretch(1, 1);
    gbSettings->setFixedWidth(196);
    row->addWidget(gbSettings);

    // The key database.
    gbKeys = new QGroupBox(QStringLiteral("База карт(ключей)"), central);
    gbKeys->setObjectName(QStringLiteral("gbKeys"));
    auto* keysCol = new QVBoxLayout(gbKeys);
    tbDBKeys = new QToolBar(gbKeys);
    tbDBKeys->setObjectName(QStringLiteral("tbDBKeys"));
    tbDBKeys->setWindowTitle(QStringLiteral("Карты(ключи)"));
    tbDBKeys->setAccessibleName(QStringLiteral("Карты(ключи)"));
    tbDBKeys->setIconSize(QSize(22, 22));
    tbAdd =
        ToolButton(tbDBKeys, "tbAdd", QStringLiteral("Добавить новую карту(ключ)"), AppIcon::Add);
    tbEdit =
        ToolButton(tbDBKeys, "tbEdit", QStringLiteral("Редактировать карту(ключ)"), AppIcon::Edit);
    tbDel = ToolButton(tbDBKeys, "tbDel", QStringLiteral("Удалить карту(ключ)"), AppIcon::Delete);
    tbFindKey = ToolButton(tbDBKeys, "tbFindKey", QStringLiteral("Поиск карты(ключа) в базе"),
                           AppIcon::Find);
    tbDBKeys->addWidget(tbAdd);
    tbDBKeys->addWidget(tbEdit);
    tbDBKeys->addWidget(tbDel);
    tbDBKeys->addSeparator();
    tbDBKeys->addWidget(tbFindKey);
    connect(tbAdd, &QToolButton::clicked, this, &TFMain::tbAddClick);
    connect(tbEdit, &QToolButton::clicked, this, &TFMain::tbEditClick);
    connect(tbDel, &QToolButton::clicked, this, &TFMain::tbDelClick);
    connect(tbFindKey, &QToolButton::clicked, this, &TFMain::tbFindKeyClick);
    keysCol->addWidget(tbDBKeys);

    keys_ = new KeyListModel(this);
    // The view shows what the search leaves; every row operation maps back to the whole
    // list, so editing, deleting and the export never act on the filtered rows only.
    keysFilter_ = new KeyFilterModel(keys_, &TypeFormat, this);
    searchBar = new TKeySearchBar(keysFilter_, keys_, gbKeys);
    keysCol->addWidget(searchBar);
    auto* findShortcut = new QShortcut(QKeySequence::Find, this);
    connect(findShortcut, &QShortcut::activated, this, [this] {
        searchBar->edSearch->setFocus(Qt::ShortcutFocusReason);
        searchBar->edSearch->selectAll();
    });
    lvDB = new QTreeView(gbKeys);
    lvDB->setObjectName(QStringLiteral("lvDB"));
    lvDB->setModel(keysFilter_);
    lvDB->setRootIsDecorated(false);
    lvDB->setItemsExpandable(false);
    lvDB->setUniformRowHeights(true);
    lvDB->setAllColumnsShowFocus(true);
    lvDB->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvDB->setSelectionMode(QAbstractItemView::SingleSelection);
    lvDB->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvDB->header()->setStretchLastSection(true);
    lvDB->header()->setSectionsMovable(false);
    FitKeyColumn();
    lvDB->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvDB->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFMain::lvDBSelectItem);
    connect(keys_, &QAbstractItemModel::modelReset, this, &TFMain::lvDBSelectItem);
    connect(lvDB, &QTreeView::doubleClicked, this, &TFMain::lvDBDblClick);
    lvDB->setAccessibleName(QStringLiteral("База карт(ключей)"));
    lvDB->installEventFilter(this);  // Enter, Delete and Insert; a focused row is chosen
    searchBar->list = lvDB;
    keysCol->addWidget(lvDB, 1);

    pabDBKeys = new QMenu(lvDB);
    pabDBKeys->setObjectName(QStringLiteral("pabDBKeys"));
    miAdd = pabDBKeys->addAction(MakeIcon(AppIcon::Add), QStringLiteral("Добавить"));
    miAdd->setObjectName(QStringLiteral("miAdd"));
    miEdit = pabDBKeys->addAction(MakeIcon(AppIcon::Edit), QStringLiteral("Редактировать"));
    miEdit->setObjectName(QStringLiteral("miEdit"));
    pabDBKeys->addSeparator();
    miDel = pabDBKeys->addAction(MakeIcon(AppIcon::Delete), QStringLiteral("Удалить"));
    miDel->setObjectName(QStringLiteral("miDel"));
    // The context entries act exactly as the buttons.
    connect(miAdd, &QAction::triggered, tbAdd, &QToolButton::click);
    connect(miEdit, &QAction::triggered, tbEdit, &QToolButton::click);
    connect(miDel, &QAction::triggered, tbDel, &QToolButton::click);
    connect(lvDB, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (lvDB->isEnabled()) {
            pabDBKeys->popup(lvDB->viewport()->mapToGlobal(pos));
        }
    });

    // The label sits above its combo box, so the longest format name fits at the
    // window's initial width.
    auto* typeRow = new QVBoxLayout();
    typeRow->setSpacing(2);
    auto* lType = new QLabel(QStringLiteral("Формат отображения"), gbKeys);
    typeRow->addWidget(lType);
    cboxType = new QComboBox(gbKeys);
    cboxType->setObjectName(QStringLiteral("cboxType"));
    cboxType->addItem(QString::fromUtf8(TypeFormatCaption(0)));
    cboxType->addItem(QString::fromUtf8(TypeFormatCaption(1)));
    cboxType->setCurrentIndex(0);
    cboxType->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cboxType->setAccessibleName(QStringLiteral("Формат отображения"));
    lType->setBuddy(cboxType);
    connect(cboxType, &QComboBox::activated, this, &TFMain::cboxTypeChange);
    typeRow->addWidget(cboxType);
    keysCol->addLayout(typeRow);
    row->addWidget(gbKeys, 1);
    setCentralWidget(central);

    // The status bar: the port caption, the port choice, an empty panel.
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    lPortCaption = new QLabel(QStringLiteral("Порт подключения:"), bar);
    lPortCaption->setObjectName(QStringLiteral("lPortCaption"));
    lPortCaption->setMinimumWidth(120);
    bar->addWidget(lPortCaption);
    auto* portBox = new TPortBox(bar);
    portBox->BeforePopup = [this] { RefreshPorts(); };
    cboxPort = portBox;
    cboxPort->setObjectName(QStringLiteral("cboxPort"));
    // Device paths are longer than the old port names; a typed path (a pseudo-terminal,
    // which no directory lists) joins the list in its sorted place.
    cboxPort->setMinimumWidth(220);
    cboxPort->setEditable(true);
    cboxPort->setInsertPolicy(QComboBox::InsertAlphabetically);
    cboxPort->setToolTip(QStringLiteral("Порт подключения"));
    cboxPort->setAccessibleName(QStringLiteral("Порт подключения"));
    cboxPort->lineEdit()->setAccessibleName(QStringLiteral("Порт подключения"));
    lPortCaption->setBuddy(cboxPort);
    // What the drop-down shows beside a port ("не подключён", the adapter) is said too.
    connect(cboxPort, &QComboBox::currentIndexChanged, this, [this](int i) {
        const QString description =
            i < 0 ? QString() : cboxPort->itemData(i, PortDescriptionRole).toString();
        cboxPort->setAccessibleDescription(description);
        cboxPort->lineEdit()->setAccessibleDescription(description);
    });

    // Settings, then the list, then how it is shown, then the port.
    setTabOrder(udRetryRead, udTimeOpen);
    setTabOrder(udTimeOpen, bbVardex);
    setTabOrder(bbVardex, udAddress);
    setTabOrder(udAddress, lvDB);
    setTabOrder(lvDB, cboxType);
    setTabOrder(cboxType, cboxPort);
    connect(cboxPort, &QComboBox::activated, this, [this]() { cboxPortChange(); });
    bar->addWidget(cboxPort);
    lHint = new QLabel(bar);
    lHint->setObjectName(QStringLiteral("lHint"));
    lHint->setTextFormat(Qt::PlainText);
    lHint->setMinimumWidth(50);
    bar->addWidget(lHint, 1);
    if (trace_) {
        auto* trace = new QLabel(QStringLiteral("Трассировка линии: ") + deps_.tracePath, bar);
        trace->setObjectName(QStringLiteral("lTrace"));
        trace->setTextFormat(Qt::PlainText);
        trace->setTextInteractionFlags(Qt::TextSelectableByMouse);
        bar->addPermanentWidget(trace);
    }
}

// ---- Start-up ---------------------------------------------------------------

void TFMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TFMain::FormShow() {
    EnableEditing(false);
    FillPortList();
    SelectRememberedPort();
    cboxPortChange();
    // vardex2 doors.vx2 (and the desktop's "open with"): as "&Открыть" opens it.
    if (!deps_.fileArg.isEmpty())
        OpenFile(deps_.fileArg);
}

// ---- Window state --------------------------------------------------------------------------

void TFMain::EnableEditing(bool on) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{udRetryRead, udTimeOpen, udAddress, cboxType, lvDB}) {
        w->setEnabled(on);
    }
    bbVardex->setEnabled(on);
    actSave->setEnabled(on);
    actSync->setEnabled(on);
    actReconcile->setEnabled(on);
    actNewFromContr->setEnabled(true);
    tbDBKeys->setEnabled(on);
    tbAdd->setEnabled(on);
    miAdd->setEnabled(on);
    tbFindKey->setEnabled(on);
    actJournal->setEnabled(!CurrentFile.isEmpty());
    actSaveCsv->setEnabled(!CurrentFile.isEmpty());
    actImportCsv->setEnabled(on);
    actEnrol->setEnabled(on);
    editingEnabled_ = on;
    UpdateKeyButtons();
    ToolBar1->update();
    tbDBKeys->update();
}

void TFMain::UpdateKeyButtons() {
    const bool row = editingEnabled_ && SelectedRow() >= 0;
    tbEdit->setEnabled(row);
    tbDel->setEnabled(row);
    miEdit->setEnabled(row);
    miDel->setEnabled(row);
}

void TFMain::SetCurrentFile(const QString& path) {
    CurrentFile = path;
    setWindowTitle(QStringLiteral("%1 - %2").arg(Title(), path));
    // While the window is idle a change from outside shows at once; before each change
    // of the window's own the stamp is compared anyway (ReloadIfChanged).
    if (!fileWatcher_) {
        fileWatcher_ = new QFileSystemWatcher(this);
        connect(fileWatcher_, &QFileSystemWatcher::fileChanged, this, [this](const QString&) {
            QTimer::singleShot(200, this, [this] {
                FileChangedOutside();
                // A file replaced by rename is a new file to watch.
                if (!CurrentFile.isEmpty() && !fileWatcher_->files().contains(CurrentFile)) {
                    fileWatcher_->addPath(CurrentFile);
                }
            });
        });
    }
    if (!fileWatcher_->files().isEmpty()) {
        fileWatcher_->removePaths(fileWatcher_->files());
    }
    if (QFileInfo::exists(path)) {
        fileWatcher_->addPath(path);
    }
}

void TFMain::FileChangedOutside() {
    // Not under a running action, modal window or not: it reads and writes the file
    // itself and compares before its own change; the list is read again once it ends.
    if (actionRunning_) {
        reloadPending_ = true;  // ActionEnded comes back here
        return;
    }
    if (QApplication::activeModalWidget()) {
        reloadPending_ = true;
        QTimer::singleShot(500, this, [this] {
            if (reloadPending_)
                FileChangedOutside();
        });
        return;
    }
    reloadPending_ = false;
    ReloadIfChanged();
}

void TFMain::ActionEnded() {
    if (reloadPending_) {
        QTimer::singleShot(0, this, [this] {
            if (reloadPending_)
                FileChangedOutside();
        });
    }
}

void TFMain::FitKeyColumn() {
    // The widest number of the format shown (its digits all at their widest) and the
    // column's caption: never a number cut, whatever the list holds, and no pass over
    // 65,535 rows to find out.
    const QFontMetrics fm(lvDB->font());
    const QString widest = QString::fromStdString(Format(TypeFormat, 0x888888));
    const int text =
        std::max(fm.horizontalAdvance(widest), fm.horizontalAdvance(QStringLiteral("Карта(ключ)")));
    lvDB->setColumnWidth(0, std::max(150, text + 3 * fm.averageCharWidth() + 16));
}

void TFMain::SetVardex(KeyCode code) {
    Vardex = code;
    bbVardex->setText(code == 0 ? QStringLiteral("Отсутствует")
                                : QString::fromStdString(Format(TypeFormat, code)));
    // The caption is what matters: a screen reader says it with the button's name.
    bbVardex->setAccessibleName(QStringLiteral("Вардекс: ") + bbVardex->text());
}

// ---- Rows ------------------------------------------------------------------------------------

int TFMain::AddKeyRow(KeyCode code, const QString& description) {
    return keys_->Add(KeyRow{code, QString::fromStdString(Format(TypeFormat, code)), description});
}

int TFMain::UpdateKeyRow(int row, KeyCode code, const QString& description) {
    const int at = keys_->Update(
        row, KeyRow{code, QString::fromStdString(Format(TypeFormat, code)), description});
    SelectRow(at);
    return at;
}

void TFMain::RemoveKeyRow(int row) {
    keys_->Remove(row);
    UpdateKeyButtons();
}

int TFMain::SelectedRow() const {
    const QModelIndexList rows = lvDB->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : keysFilter_->mapToSource(rows.constFirst()).row();
}

std::optional<KeyCode> TFMain::SelectedKeyCode() const {
    const int row = SelectedRow();
    if (row < 0) {
        return std::nullopt;
    }
    return keys_->Row(row).code;
}

void TFMain::SelectRow(int row) {
    if (row < 0 || row >= keys_->Count()) {
        lvDB->clearSelection();
        return;
    }
    QModelIndex i = keysFilter_->mapFromSource(keys_->index(row, 0));
    if (!i.isValid()) {
        // The search hides the row: it ends, so that the row chosen is the row shown.
        searchBar->Clear();
        i = keysFilter_->mapFromSource(keys_->index(row, 0));
    }
    lvDB->selectionModel()->select(i,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    lvDB->setCurrentIndex(i);
    lvDB->scrollTo(i);
}

void TFMain::SelectFocusedRow() {
    // The row the focus is on is the row chosen, so that Enter and Delete act on what the
    // operator sees marked, never on nothing until Space.
    if (!lvDB->model() || lvDB->model()->rowCount() == 0 ||
        lvDB->selectionModel()->hasSelection()) {
        return;
    }
    QModelIndex current = lvDB->currentIndex();
    if (!current.isValid()) {
        current = lvDB->model()->index(0, 0);
    }
    lvDB->selectionModel()->setCurrentIndex(
        current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TFMain::FocusList() {
    lvDB->setFocus(Qt::OtherFocusReason);
    SelectFocusedRow();
}

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvDB && event->type() == QEvent::FocusIn) {
        SelectFocusedRow();
    }
    if (watched == lvDB && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        QToolButton* button = nullptr;
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            switch (key->key()) {
                case Qt::Key_Return:
                case Qt::Key_Enter:
                    button = tbEdit;
                    break;
                case Qt::Key_Delete:
                    button = tbDel;
                    break;
                case Qt::Key_Insert:
                    button = tbAdd;
                    break;
                default:
                    break;
            }
        }
        if (button) {
            if (button != tbAdd) {
                SelectFocusedRow();
            }
            // The buttons' own enabled state says whether the key may act now.
            if (button->isEnabled() && !key->isAutoRepeat()) {
                button->click();
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFMain::lvDBSelectItem() {
    UpdateKeyButtons();
}

bool TFMain::event(QEvent* event) {
    // Hints go to the last panel, so the port choice never disappears behind them.
    if (event->type() == QEvent::StatusTip) {
        // A long hint is cut with an ellipsis at the window's edge, never mid-letter.
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        lHint->setText(lHint->fontMetrics().elidedText(tip, Qt::ElideRight, lHint->width()));
        return true;
    }
    return QMainWindow::event(event);
}

void TFMain::closeEvent(QCloseEvent* event) {
    deps_.settings->WriteGeometry(saveGeometry());
    if (link_) {
        link_->Close();
    }
    QMainWindow::closeEvent(event);
}
