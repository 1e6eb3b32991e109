#include "ui/main/main_window.h"

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
#include <QProxyStyle>
#include <QPushButton>
#include <QSaveFile>
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
#include "ui/dialogs/clearbuffer.h"
#include "ui/dialogs/contrsettings.h"
#include "ui/dialogs/findkey.h"
#include "ui/dialogs/getvardex.h"
#include "ui/dialogs/keysave.h"
#include "ui/dialogs/readcontr.h"
#include "ui/dialogs/readvardex.h"
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

TFMain::ReadyFlags TFMain::Ready;

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

// Alt pressed and released alone selects the menu bar, as on the desktop the operator
// knows; the arrows and Enter then work the menus whatever the keyboard layout.
class MenuBarStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) {
            return 1;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

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
        ownRunner_ = std::make_unique<TCommandsRunner>(*worker_);
        runner_ = ownRunner_.get();
    }
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

    CreateActions();
    CreateControls();
    // No menu of toolbars on a right click in the menu or tool bar: the window's bars
    // are fixed.
    setContextMenuPolicy(Qt::NoContextMenu);
    setMinimumSize(565, 349);
    // 563 x 432 below the menu bar: toolbar, panels and status bar.
    resize(563, 432 + menuBar()->sizeHint().height());
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
        make("actReconcile", QStringLiteral("С&верка с контроллером"),
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
        make("actJournal", QStringLiteral("Журнал изменений"),
             QStringLiteral("Кто, когда и что менял в файле и контроллере"), AppIcon::Open);
    actJournal->setIcon(QIcon());
    actSaveCsv = make("actSaveCsv", QStringLiteral("Сохранить список в CSV..."),
                      QStringLiteral("Список карт(ключей) для электронной таблицы"), AppIcon::Open);
    actSaveCsv->setIcon(QIcon());
    actImportCsv = make("actImportCsv", QStringLiteral("Импорт из CSV..."),
                        QStringLiteral("Добавить карты(ключи) из файла CSV в контроллер и файл"),
                        AppIcon::Open);
    actImportCsv->setIcon(QIcon());
    actEnrol = make("actEnrol", QStringLiteral("Регистрация карт(ключей)"),
                    QStringLiteral("Добавлять карты(ключи), поднося их к считывателю по одной"),
                    AppIcon::Sync);
    actEnrol->setIcon(QIcon());
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
    file->addAction(actExit);

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Справка"));
    helpMenu->setObjectName(QStringLiteral("miHelp"));
    helpMenu->addAction(actHelpProgram);
    helpMenu->addSeparator();
    helpMenu->addAction(actAbout);

    // The menus' letters are Cyrillic; F10 opens the first menu from any layout.
    auto* menuStyle = new MenuBarStyle;
    menuStyle->setParent(menuBar());
    menuBar()->setStyle(menuStyle);
    auto* f10 = new QAction(this);
    f10->setObjectName(QStringLiteral("actMenuKey"));
    f10->setShortcut(QKeySequence(Qt::Key_F10));
    addAction(f10);
    connect(f10, &QAction::triggered, this,
            [this, file] { menuBar()->setActiveAction(file->menuAction()); });
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
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
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
    udRetryRead->setAccessibleName(QStringLiteral("Повторное считывание карты (ключа)"));
    udTimeOpen->setAccessibleName(QStringLiteral("Время открывания замка"));
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
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(1, 1);
    gbSettings->setFixedWidth(196);
    row->addWidget(gbSettings);

    // The key database.
    gbKeys = new QGroupBox(QStringLiteral("База карт(ключей)"), central);
    gbKeys->setObjectName(QStringLiteral("gbKeys"));
    auto* keysCol = new QVBoxLayout(gbKeys);
    tbDBKeys = new QToolBar(gbKeys);
    tbDBKeys->setObjectName(QStringLiteral("tbDBKeys"));
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
    lvDB->setColumnWidth(0, 150);
    lvDB->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvDB->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFMain::lvDBSelectItem);
    connect(keys_, &QAbstractItemModel::modelReset, this, &TFMain::lvDBSelectItem);
    connect(lvDB, &QTreeView::doubleClicked, this, &TFMain::lvDBDblClick);
    lvDB->setAccessibleName(QStringLiteral("База карт(ключей)"));
    lvDB->installEventFilter(this);  // Enter, Delete and Insert
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
    lPortCaption->setBuddy(cboxPort);

    // Settings, then the list, then how it is shown, then the port.
    setTabOrder(udRetryRead, udTimeOpen);
    setTabOrder(udTimeOpen, bbVardex);
    setTabOrder(bbVardex, lvDB);
    setTabOrder(lvDB, cboxType);
    setTabOrder(cboxType, cboxPort);
    connect(cboxPort, &QComboBox::activated, this, [this]() { cboxPortChange(); });
    bar->addWidget(cboxPort);
    lHint = new QLabel(bar);
    lHint->setObjectName(QStringLiteral("lHint"));
    lHint->setMinimumWidth(50);
    bar->addWidget(lHint, 1);
    if (trace_) {
        auto* trace = new QLabel(QStringLiteral("Трассировка линии: ") + deps_.tracePath, bar);
        trace->setObjectName(QStringLiteral("lTrace"));
        trace->setTextInteractionFlags(Qt::TextSelectableByMouse);
        bar->addPermanentWidget(trace);
    }
}

// ---- Start-up and the port ---------------------------------------------------------------

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
}

namespace {

// The drop-down shows each port with its adapter; the field itself keeps the bare path,
// which is what can be typed and opened.
class PortItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(TFMain::PortDescriptionRole).toString();
        if (!description.isEmpty()) {
            option->text += QStringLiteral(" — ") + description;
        }
    }
};

QString DescriptionLine(const PortEntry& e) {
    QString line = e.description;
    if (!e.serialNumber.isEmpty()) {
        line += (line.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("S/N ") +
                e.serialNumber;
    }
    return line;
}

const QString kAbsent = QStringLiteral("не подключён");

}  // namespace

void TFMain::FillPortList() {
    if (!cboxPort->itemDelegate() || !dynamic_cast<PortItemDelegate*>(cboxPort->itemDelegate())) {
        cboxPort->setItemDelegate(new PortItemDelegate(cboxPort));
    }
    if (!portWatcher_) {
        // Qt gives no signal when an adapter comes or goes: the device folders change.
        portWatcher_ = new QFileSystemWatcher(this);
        portRefresh_ = new QTimer(this);
        portRefresh_->setSingleShot(true);
        portRefresh_->setInterval(300);  // udev makes the node, then the links
        connect(portWatcher_, &QFileSystemWatcher::directoryChanged, portRefresh_,
                qOverload<>(&QTimer::start));
        connect(portRefresh_, &QTimer::timeout, this, &TFMain::RefreshPorts);
    }
    for (const QString& folder : {QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")}) {
        if (QFileInfo::exists(folder) && !portWatcher_->directories().contains(folder)) {
            portWatcher_->addPath(folder);
        }
    }
    cboxPort->clear();
    QList<PortEntry> entries = deps_.ports->Entries();
    if (!deps_.portArg.isEmpty() &&
        std::none_of(entries.begin(), entries.end(),
                     [this](const PortEntry& e) { return e.path == deps_.portArg; })) {
        entries.append(PortEntry{deps_.portArg, deps_.portArg, QString(), QString()});
    }
    std::sort(entries.begin(), entries.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.path < b.path; });
    for (const PortEntry& e : entries) {
        cboxPort->addItem(e.path);
        const int i = cboxPort->count() - 1;
        const QString line = DescriptionLine(e);
        cboxPort->setItemData(i, e.device, PortDeviceRole);
        cboxPort->setItemData(i, line, PortDescriptionRole);
        cboxPort->setItemData(i, line.isEmpty() ? e.device : line, Qt::ToolTipRole);
    }
    cboxPort->setCurrentIndex(-1);
}

namespace {
// The item of `path`: by its path, or by the device it names (a port remembered as
// /dev/ttyUSB0 before its adapter had a stable name).
int FindPort(QComboBox* box, const QString& path) {
    int i = box->findText(path, Qt::MatchExactly);
    if (i < 0 && !path.isEmpty()) {
        i = box->findData(path, TFMain::PortDeviceRole, Qt::MatchExactly);
    }
    return i;
}

// A port that is chosen but not present stays chosen, marked, in its sorted place.
int AddAbsentPort(QComboBox* box, const QString& path) {
    int i = 0;
    while (i < box->count() && box->itemText(i) < path) {
        ++i;
    }
    box->insertItem(i, path);
    box->setItemData(i, path, TFMain::PortDeviceRole);
    box->setItemData(i, kAbsent, TFMain::PortDescriptionRole);
    box->setItemData(i, kAbsent, Qt::ToolTipRole);
    return i;
}
}  // namespace

void TFMain::SelectRememberedPort() {
    // A port given on the command line wins over the remembered one.
    QString wanted = deps_.portArg;
    if (wanted.isEmpty()) {
        wanted = deps_.settings->ReadComPort().value_or(QString());
    }
    if (wanted.isEmpty()) {
        cboxPort->setCurrentIndex(cboxPort->count() > 0 ? 0 : -1);
        return;
    }
    // An adapter unplugged at start is still the operator's choice: shown as absent,
    // not replaced by whichever port happens to be first.
    int i = FindPort(cboxPort, wanted);
    if (i < 0) {
        i = AddAbsentPort(cboxPort, wanted);
    }
    cboxPort->setCurrentIndex(i);
}

void TFMain::RefreshPorts() {
    const QString chosen = SelectedPortPath();
    const QString typed = cboxPort->currentText();
    const bool typing = cboxPort->lineEdit() && cboxPort->lineEdit()->hasFocus() && typed != chosen;
    FillPortList();
    if (!chosen.isEmpty()) {
        int i = FindPort(cboxPort, chosen);
        if (i < 0) {
            i = AddAbsentPort(cboxPort, chosen);
        }
        cboxPort->setCurrentIndex(i);
    }
    if (typing) {
        cboxPort->setEditText(typed);
    }
}

void TFMain::cboxPortChange() {
    if (cboxPort->currentIndex() < 0) {
        return;  // nothing to remember; SelectedPort keeps its value
    }
    deps_.settings->WriteComPort(cboxPort->currentText());
    SelectedPort = cboxPort->currentIndex() + 1;
}

QString TFMain::SelectedPortPath() const {
    const int i = cboxPort->currentIndex();
    return i < 0 ? QString() : cboxPort->itemText(i);
}

// ---- Window state --------------------------------------------------------------------------

void TFMain::EnableEditing(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{udRetryRead, udTimeOpen, cboxType, lvDB}) {
        w->setEnabled(on);
    }
    bbVardex->setEnabled(on && Ready.vardex);
    actSave->setEnabled(on && Ready.exportToContr);
    actSync->setEnabled(on && Ready.syncContr);
    actReconcile->setEnabled(on && Ready.reconcile);
    actNewFromContr->setEnabled(Ready.loadFromContr);
    tbDBKeys->setEnabled(on);
    tbAdd->setEnabled(on && Ready.keyEditing);
    miAdd->setEnabled(on && Ready.keyEditing);
    tbFindKey->setEnabled(on && Ready.findKey);
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
    const bool row = editingEnabled_ && Ready.keyEditing && SelectedRow() >= 0;
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
                if (!QApplication::activeModalWidget()) {
                    ReloadIfChanged();
                }
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

void TFMain::SetVardex(KeyCode code) {
    Vardex = code;
    bbVardex->setText(code == 0 ? QStringLiteral("Отсутствует")
                                : QString::fromStdString(Format(TypeFormat, code)));
}

// ---- File operations -----------------------------------------------------------------------

QString TFMain::PathOr(const QString& path) const {
    return path.isEmpty() ? CurrentFile : path;
}

namespace {
bool ReportOnly(QWidget* owner, const DbResult& r) {
    if (!r.ok) {
        AppPrompter().Error(owner, QStringLiteral("Ошибка"), r.error);
    }
    return r.ok;
}
}  // namespace

// Every write of the window ends here: the file as written is the one the window
// knows, so its own writes are never taken for someone else's.
bool TFMain::Written(const DbResult& r) {
    const bool ok = ReportOnly(this, r);
    if (ok) {
        StampFile();
    }
    return ok;
}

namespace {
std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
}  // namespace

bool TFMain::LockForChange(DbLock& lock, QWidget* parent) {
    // The controller is not touched before the file is known writable and locked: a change
    // the controller took must be able to reach the file, and no other writer may slip in
    // between the two.
    if (DbResult r = LockDbForWrite(Local(PathOr({})), lock); !r) {
        Prompt().Error(parent ? parent : this, QStringLiteral("Ошибка"),
                       QString::fromStdString(r.error));
        return false;
    }
    return true;
}

bool TFMain::NewDbFile(const QString& path) {
    return Written(journaled::NewDbFile(Local(PathOr(path))));
}

bool TFMain::SaveKey(KeyCode code, const QString& description, const QString& path) {
    std::string cp;
    std::string bad;
    if (!Utf8ToCp1251(description.toStdString(), cp, &bad)) {
        Prompt().Error(this, QStringLiteral("Ошибка"),
                       QStringLiteral("Символ \"%1\" нельзя сохранить в файле базы ключей")
                           .arg(QString::fromStdString(bad)));
        return false;
    }
    return Written(journaled::SaveKey(Local(PathOr(path)), code, cp));
}

bool TFMain::RemoveKey(KeyCode code, const QString& path) {
    return Written(journaled::RemoveKey(Local(PathOr(path)), code));
}

bool TFMain::SaveVardex(KeyCode code, const QString& path) {
    return Written(journaled::SaveVardex(Local(PathOr(path)), code));
}

bool TFMain::SaveSettings(int timeOpen, int retryRead, int typeFormat, const QString& path) {
    return Written(journaled::SaveSettings(Local(PathOr(path)), timeOpen, retryRead, typeFormat));
}

bool TFMain::SaveTypeFormat(int typeFormat, const QString& path) {
    return Written(journaled::SaveTypeFormat(Local(PathOr(path)), typeFormat));
}

bool TFMain::WriteDbFile(const QString& path, const DbModel& model) {
    return Written(journaled::WriteDbFile(Local(path), model, journal::kLoad));
}

bool TFMain::LoadDbFile(const QString& path) {
    DbModel model;
    const DbResult r = ::LoadDbFile(Local(PathOr(path)), model);
    if (!r.ok) {
        return ReportOnly(this, r);
    }
    // The window takes the file only once it has been read; the positions set here are
    // not the operator's changes, so they send nothing and write nothing.
    TimeOpen = model.TimeOpen;
    RetryRead = model.RetryRead;
    TypeFormat = model.TypeFormat;
    udTimeOpen->SetPosition(TimeOpen);
    udRetryRead->SetPosition(RetryRead);
    {
        const QSignalBlocker block(cboxType);
        cboxType->setCurrentIndex(TypeFormat == 0 ? 0 : 1);
    }
    SetVardex(model.Vardex);
    std::vector<KeyRow> rows;
    rows.reserve(model.keys.size());
    for (const DbKey& k : model.keys) {
        rows.push_back(KeyRow{k.code, QString::fromStdString(Format(TypeFormat, k.code)),
                              QString::fromStdString(Cp1251ToUtf8(k.description))});
    }
    keys_->Reset(std::move(rows));
    stamp_ = StampOf(PathOr(path));
    if (!r.error.empty()) {
        Prompt().Error(this, QStringLiteral("Ошибка"), r.error);
    }
    return true;
}

// ---- Someone else changed the file ---------------------------------------------------------

TFMain::FileStamp TFMain::StampOf(const QString& path) {
    FileStamp stamp;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        stamp.valid = true;
        stamp.device = st.st_dev;
        stamp.inode = st.st_ino;
        stamp.size = static_cast<unsigned long long>(st.st_size);
        stamp.mtimeSec = st.st_mtim.tv_sec;
        stamp.mtimeNsec = st.st_mtim.tv_nsec;
    }
    return stamp;
}

void TFMain::StampFile() {
    if (!CurrentFile.isEmpty()) {
        stamp_ = StampOf(CurrentFile);
    }
}

bool TFMain::ReloadIfChanged() {
    // A watcher misses a file replaced by rename and sees nothing on a network share;
    // the file's identity and time, compared before each change, see both.
    if (!FileOpen || CurrentFile.isEmpty()) {
        return false;
    }
    const FileStamp now = StampOf(CurrentFile);
    if (!now.valid || now == stamp_) {
        return false;
    }
    const std::optional<KeyCode> selected = SelectedKeyCode();
    const QString path = CurrentFile;
    FileOpen = false;  // the positions the load sets are not the operator's changes
    const bool read = LoadDbFile(path);
    FileOpen = true;
    if (!read) {
        stamp_ = now;  // told once; the window keeps what it showed
        return false;
    }
    if (selected) {
        SelectRow(keys_->FindRow(*selected));
    }
    lHint->setText(QStringLiteral("Файл изменён другой программой: список перечитан"));
    return true;
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

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
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
            // The buttons' own enabled state says whether the key may act now.
            if (button->isEnabled() && !key->isAutoRepeat()) {
                button->click();
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Remembered places ----------------------------------------------------------------------

QString TFMain::LastFolder() const {
    return deps_.settings->ReadLastFolder();
}

void TFMain::RememberFolderOf(const QString& path) {
    deps_.settings->WriteLastFolder(QFileInfo(path).absolutePath());
}

void TFMain::AddRecentFile(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList files = deps_.settings->ReadRecentFiles();
    files.removeAll(full);
    files.prepend(full);
    while (files.size() > MaxRecentFiles) {
        files.removeLast();
    }
    deps_.settings->WriteRecentFiles(files);
    RememberFolderOf(full);
    FillRecentMenu();
}

void TFMain::FillRecentMenu() {
    miRecent->clear();
    const QStringList files = deps_.settings->ReadRecentFiles();
    int n = 0;
    for (const QString& file : files) {
        if (n == MaxRecentFiles) {
            break;
        }
        ++n;
        // "&1 doors.vx2": a digit to choose it by, the name to recognise it by, the
        // whole path in the hint.
        QAction* a = miRecent->addAction(QStringLiteral("&%1 %2").arg(n).arg(
            QFileInfo(file).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"))));
        a->setStatusTip(file);
        a->setToolTip(file);
        a->setData(file);
        connect(a, &QAction::triggered, this, [this, file] { OpenFile(file); });
    }
    miRecent->setEnabled(n > 0);
}

void TFMain::lvDBSelectItem() {
    UpdateKeyButtons();
}

// ---- The link ----------------------------------------------------------------------------------

namespace {
// A path typed into the port box and not yet confirmed with Enter is the port the
// operator sees and means: it joins the list in its sorted place and is selected.
bool TakeTypedPort(QComboBox* box) {
    const QString typed = box->currentText().trimmed();
    if (typed.isEmpty() ||
        (box->currentIndex() >= 0 && box->itemText(box->currentIndex()) == typed))
        return false;
    int i = box->findText(typed, Qt::MatchExactly);
    if (i < 0) {
        i = 0;
        while (i < box->count() && box->itemText(i) < typed)
            ++i;
        box->insertItem(i, typed);
    }
    box->setCurrentIndex(i);
    return true;
}
}  // namespace

bool TFMain::OpenLink() {
    if (TakeTypedPort(cboxPort)) {
        cboxPortChange();
    }
    std::string error;
    if (!link_->Open(Local(SelectedPortPath()), error)) {
        Prompt().Error(this, QString::fromUtf8(TSerialPort::OpenErrorCaption()),
                       QString::fromStdString(error));
        return false;
    }
    return true;
}

void TFMain::CloseLink() {
    link_->Close();
}

TFMain::LinkHold::LinkHold(TFMain& owner) : owner_(owner), ok_(owner.OpenLink()) {}

TFMain::LinkHold::~LinkHold() {
    owner_.CloseLink();
}

// ---- Actions --------------------------------------------------------------------------------

void TFMain::actNewExecute() {
    const QString caption = QStringLiteral("Создание нового файла");
    if (!Prompt().ConfirmTwice(this, caption,
                               QStringLiteral("Для создания нового файла необходимо очистить "
                                              "контроллер!\rДля продолжения нажмите на кнопку "
                                              "\"Да\"\rДля отмены нажмите на кнопку \"Нет\""),
                               QStringLiteral("Внимание! Все данные в контроллере будут "
                                              "удалены!\rПродолжить?"))) {
        return;
    }
    FileDialogOptions sdNew;
    sdNew.title = QStringLiteral("Укажите имя нового файла");
    sdNew.filter = QStringLiteral("Файл базы ключей(*.vx2)|*.vx2");
    sdNew.defaultExt = QStringLiteral("*.vx2");
    sdNew.fileName = QStringLiteral("new_db2.vx2");
    sdNew.directory = LastFolder();
    sdNew.overwritePrompt = true;
    sdNew.pathMustExist = true;
    const QString path = Prompt().SaveFile(this, sdNew);
    if (path.isEmpty()) {
        EnableEditing(editingEnabled_);
        return;
    }
    // Where the file goes is asked before the controller is cleared, and the file must be
    // writable (and is locked) before any request: a cleared controller never ends up
    // with nowhere to save its file.
    DbLock fileLock;
    if (DbResult r = LockDbForWrite(Local(path), fileLock); !r) {
        Prompt().Error(this, QStringLiteral("Ошибка"), QString::fromStdString(r.error));
        return;
    }
    LinkHold link(*this);
    if (!link) {
        return;
    }
    if (!TFClearBuffer::CheckLink(this, Runner())) {
        return;
    }
    {
        TFClearBuffer clear(this, TFClearBuffer::Mode::Clear);
        if (!clear.Run()) {
            return;
        }
    }
    PauseMs(100);
    KeyCode vardex = 0;
    {
        TFReadVardex read(this);
        if (!read.Run()) {
            return;
        }
        vardex = read.Vardex;
    }
    if (!NewDbFile(path) || !SaveVardex(vardex, path) || !LoadDbFile(path)) {
        return;
    }
    FileOpen = true;
    SetCurrentFile(path);
    EnableEditing(true);
    AddRecentFile(path);
}

void TFMain::actNewFromContrExecute() {
    if (TakeTypedPort(cboxPort)) {
        cboxPortChange();
    }
    if (SelectedPortPath().isEmpty()) {
        Prompt().Error(this, QStringLiteral("Ошибка"),
                       QStringLiteral("Не выбран порт подключения!"));
        return;
    }
    if (!Ready.loadFromContr) {
        return;
    }
    LinkHold link(*this);
    if (!link) {
        return;
    }
    // The new file becomes current only once it is written whole and loaded.
    TFReadContr dialog(
        this, Runner(), [this] { CloseLink(); },
        [this](const QString& path, const DbModel& model) {
            if (!WriteDbFile(path, model) || !LoadDbFile(path)) {
                return false;
            }
            SetCurrentFile(path);
            EnableEditing(true);
            FileOpen = true;
            AddRecentFile(path);
            return true;
        });
    dialog.Run();
}

void TFMain::actOpenExecute() {
    FileDialogOptions odOpen;
    odOpen.title = QStringLiteral("Открыть файл базы ключей");
    odOpen.filter = QStringLiteral("Файл базы ключей (*.vx2)|*.vx2");
    odOpen.defaultExt = QStringLiteral("*.vx2");
    odOpen.fileMustExist = true;
    odOpen.directory = LastFolder();
    const QString path = Prompt().OpenFile(this, odOpen);
    if (path.isEmpty()) {
        EnableEditing(editingEnabled_);
        return;
    }
    RememberFolderOf(path);
    OpenFile(path);
}

bool TFMain::OpenFile(const QString& path) {
    FileOpen = false;
    const bool opened = LoadDbFile(path);
    if (opened) {
        SetCurrentFile(path);
        EnableEditing(true);
        AddRecentFile(path);
    }
    // A failed open leaves the previous file (if any) open; with none there is nothing
    // the controls could write to.
    FileOpen = !CurrentFile.isEmpty();
    return opened;
}

void TFMain::actSaveExecute() {
    if (!Ready.exportToContr) {
        return;
    }
    ReloadIfChanged();  // the export writes what the window shows: the file as it is now
    const QString caption = QStringLiteral("Экспорт в контроллер");
    if (!Prompt().ConfirmTwice(this, caption,
                               QStringLiteral("Вы действительно хотите выполнить экспорт в "
                                              "контроллер?"),
                               QStringLiteral("Внимание! Все данные в контроллере будут "
                                              "перезаписаны!\rПродолжить?"))) {
        return;
    }
    LinkHold link(*this);
    if (!link) {
        return;
    }
    // What the export writes is what the window shows: its times, its vardex button and
    // its rows in list order.
    ExportSource source;
    source.TimeOpen = TimeOpen;
    source.RetryRead = RetryRead;
    source.Vardex = Vardex;
    source.VardexCaption = bbVardex->text().toStdString();
    source.keys.reserve(keys_->Rows().size());
    for (const KeyRow& row : keys_->Rows()) {
        source.keys.push_back({row.code, row.caption.toStdString(), row.description.toStdString()});
    }
    const size_t count = source.keys.size();
    TFWriteContr dialog(
        this, Runner(), [this] { CloseLink(); }, std::move(source));
    dialog.Run();
    // The controller has been cleared at least: whatever the end, the file's journal
    // says what was done to it.
    journal::Record(QFile::encodeName(CurrentFile).toStdString(),
                    {journal::kExport, "", "", "", journaled::KeyCount(count),
                     dialog.Outcome.empty() ? "Прервано" : dialog.Outcome});
}

void TFMain::actSaveCsvExecute() {
    if (CurrentFile.isEmpty())
        return;
    FileDialogOptions options;
    options.title = QStringLiteral("Сохранить список в CSV");
    options.filter = QStringLiteral("Файл CSV (*.csv)|*.csv");
    options.defaultExt = QStringLiteral("csv");
    options.fileName = QFileInfo(CurrentFile).completeBaseName() + QStringLiteral(".csv");
    options.overwritePrompt = true;
    options.pathMustExist = true;
    const QString path = Prompt().SaveFile(this, options);
    if (path.isEmpty())
        return;
    // The whole list, whatever the search shows.
    std::vector<DbKey> keys;
    keys.reserve(keys_->Rows().size());
    for (const KeyRow& row : keys_->Rows()) {
        DbKey key{row.code, {}};
        Utf8ToCp1251(row.description.toStdString(), key.description);
        keys.push_back(std::move(key));
    }
    const std::string csv = KeysToCsv(TypeFormat, keys);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
        !out.commit())
        Prompt().Error(this, QStringLiteral("Ошибка"), out.errorString());
}

void TFMain::actJournalExecute() {
    if (CurrentFile.isEmpty()) {
        return;
    }
    TFJournal dialog(this, CurrentFile);
    dialog.exec();
}

void TFMain::actSyncExecute() {
    if (!Ready.syncContr) {
        return;
    }
    ReloadIfChanged();
    LinkHold link(*this);
    if (!link) {
        return;
    }
    std::vector<KeyCode> known;
    known.reserve(keys_->Rows().size());
    for (const KeyRow& row : keys_->Rows()) {
        known.push_back(row.code);
    }
    TFSyncContr dialog(this, Runner(), TypeFormat, known,
                       [this](KeyCode code, const QString& caption) {
                           if (!SaveKey(code, caption)) {
                               return false;
                           }
                           AddKeyRow(code, caption);
                           return true;
                       });
    dialog.Run();
}

void TFMain::actReconcileExecute() {
    if (!Ready.reconcile || !FileOpen) {
        return;
    }
    const QString caption = QStringLiteral("Сверка с контроллером");
    // The file as it is on disk, read whole: a list that stops at a bad entry would have
    // the keys after it removed from the controller.
    ReconcileOptions options;
    options.databasePath = Local(CurrentFile);
    DbResult read = ::LoadDbFile(options.databasePath, options.file);
    if (!read || !read.error.empty()) {
        Prompt().Error(this, caption,
                       QStringLiteral("Файл прочитан не полностью, сверка не выполняется:\r") +
                           QString::fromStdString(read.error));
        return;
    }
    options.typeFormat = TypeFormat;
    LinkHold link(*this);
    if (!link) {
        return;
    }
    TFReconcile dialog(
        this, Runner(), [this] { CloseLink(); }, std::move(options),
        [this](const std::vector<DbKey>& keys) {
            for (const DbKey& key : keys) {
                if (FindRow(key.code) < 0) {
                    AddKeyRow(key.code, QString::fromStdString(Cp1251ToUtf8(key.description)));
                }
            }
        });
    dialog.Run();
}

void TFMain::bbVardexClick() {
    if (!FileOpen || !Ready.vardex) {
        return;
    }
    DbLock lock;
    if (!LockForChange(lock)) {
        return;
    }
    ReloadIfChanged();
    LinkHold link(*this);
    if (!link) {
        return;
    }
    if (!TFClearBuffer::CheckLink(this, Runner())) {
        return;
    }
    TFGetVardex dialog(
        this, TypeFormat, Vardex, [this](KeyCode code) { return FindRow(code) >= 0; }, Runner());
    if (!dialog.Run()) {
        return;
    }
    // The controller already holds it.
    if (SaveVardex(dialog.NewVardex)) {
        SetVardex(dialog.NewVardex);
    }
}

void TFMain::tbAddClick() {
    if (!FileOpen) {
        return;
    }
    ReloadIfChanged();
    TFEditKey dialog(*this, TypeFormat, -1);
    dialog.Run();
}

void TFMain::tbEditClick() {
    ReloadIfChanged();  // keeps the selected key selected, wherever its row is now
    const int row = SelectedRow();
    if (!FileOpen || row < 0) {
        return;
    }
    TFEditKey dialog(*this, TypeFormat, row);
    dialog.Run();
}

void TFMain::tbDelClick() {
    ReloadIfChanged();
    const int row = SelectedRow();
    if (!FileOpen || row < 0) {
        return;
    }
    const KeyRow key = keys_->Row(row);
    if (!Prompt().AskYesNo(
            this, QStringLiteral("Удаление карты(ключа)"),
            QStringLiteral("Вы действительно хотите удалить карту(ключ) %1?").arg(key.caption),
            PromptIcon::Question)) {
        return;
    }
    DbLock lock;
    if (!LockForChange(lock)) {
        return;
    }
    LinkHold link(*this);
    if (!link) {
        return;
    }
    TFKeySave remove(this, QStringLiteral("Удаление карты(ключа) %1").arg(key.caption), key.code,
                     false, false, Runner());
    if (remove.Run() && RemoveKey(key.code)) {
        RemoveKeyRow(row);
    }
}

void TFMain::tbFindKeyClick() {
    if (!FileOpen) {
        return;
    }
    KeyCode found = 0;
    {
        LinkHold link(*this);
        if (!link) {
            return;
        }
        if (!TFClearBuffer::CheckLink(this, Runner())) {
            return;
        }
        TFFindKey find(this, TypeFormat, Runner());
        if (!find.Run()) {
            return;
        }
        found = find.ReadCode;
    }
    const int row = FindRow(found);
    if (row >= 0) {
        SelectRow(row);
        tbEditClick();
        return;
    }
    Prompt().Warning(this, QStringLiteral("Результат поиска"),
                     QStringLiteral("Карта(ключ) с номером %1 отсутсвует в базе данных!")
                         .arg(QString::fromStdString(Format(TypeFormat, found))));
}

void TFMain::lvDBDblClick() {
    if (tbEdit->isEnabled()) {
        tbEdit->click();
    }
}

void TFMain::cboxTypeChange(int index) {
    if (!FileOpen) {
        return;
    }
    ReloadIfChanged();
    if (index == (TypeFormat == 0 ? 0 : 1)) {
        return;
    }
    if (!SaveTypeFormat(index)) {
        const QSignalBlocker block(cboxType);
        cboxType->setCurrentIndex(TypeFormat == 0 ? 0 : 1);
        return;
    }
    const std::optional<KeyCode> selected = SelectedKeyCode();
    TypeFormat = index;
    SetVardex(Vardex);
    keys_->Reformat(TypeFormat);
    if (selected) {
        SelectRow(keys_->FindRow(*selected));
    }
}

bool TFMain::udTimeOpenChangingEx(int proposed) {
    if (!FileOpen || proposed < udTimeOpen->minimum() || proposed > udTimeOpen->maximum()) {
        return true;
    }
    DbLock lock;
    if (!LockForChange(lock)) {
        return false;
    }
    if (ReloadIfChanged()) {
        return false;  // the step was from a time the file no longer holds
    }
    LinkHold link(*this);
    if (!link) {
        return false;
    }
    TFContrSettings dialog(this, QStringLiteral("Сохранение времени открывания замка"), proposed,
                           udRetryRead->value());
    if (!dialog.Run()) {
        return false;
    }
    TimeOpen = proposed;
    if (SaveSettings(TimeOpen, RetryRead, TypeFormat)) {
        return true;
    }
    TimeOpen = udTimeOpen->value();
    return false;
}

bool TFMain::udRetryReadChangingEx(int proposed) {
    if (!FileOpen || proposed < udRetryRead->minimum() || proposed > udRetryRead->maximum()) {
        return true;
    }
    DbLock lock;
    if (!LockForChange(lock)) {
        return false;
    }
    if (ReloadIfChanged()) {
        return false;
    }
    LinkHold link(*this);
    if (!link) {
        return false;
    }
    TFContrSettings dialog(this,
                           QStringLiteral("Сохранение времени повторного считывания карты(ключа)"),
                           udTimeOpen->value(), proposed);
    if (!dialog.Run()) {
        return false;
    }
    RetryRead = proposed;
    if (SaveSettings(TimeOpen, RetryRead, TypeFormat)) {
        return true;
    }
    RetryRead = udRetryRead->value();
    return false;
}

// ---- Help and about -----------------------------------------------------------------------

void TFMain::actHelpProgramExecute() {
    help::ShowContext(1, this);
}

void TFMain::actAboutExecute() {
    TAboutBox box(this);
    box.exec();
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
