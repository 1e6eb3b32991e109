// TFMain, the program's one main window.
//
// The class is written in four files by concern: main_window.cpp (the layout and the
// window's state), main_actions.cpp (the handlers), main_port.cpp (the port box and the
// link), main_files.cpp (the file operations).
//
// Where the other windows hang on (each a small handler in main_actions.cpp):
//   actNewFromContrExecute  "&Загрузить из контроллера"  -> TFReadContr
//   actSaveExecute          "&Экспорт в контроллер"      -> TFWriteContr
//   actSyncExecute          "&Проверка карт(ключей)"     -> TFSyncContr
//   actReconcileExecute     "Св&ерка с контроллером"     -> TFReconcile
//   bbVardexClick           the vardex button             -> TFGetVardex
//   tbAddClick / tbEditClick / tbDelClick / lvDBDblClick  -> TFEditKey
//   tbFindKeyClick          find a presented key          -> TFFindKey
// What they need from the window is in the "For the dialogs" section below: the open
// database, the link (HoldLink), the worker (AppRunner() / Worker()), the file
// operations that show their own errors, and the row operations on lvDB.
#pragma once

#include <QComboBox>
#include <QMainWindow>
#include <QPointer>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/jobs/export_job.h"
#include "core/keys/database.h"
#include "core/keys/key_code.h"
#include "ui/main/editkey.h"
#include "ui/main/key_list_model.h"

class KeyFilterModel;
class TKeySearchBar;

class QAction;
class QFileSystemWatcher;
class QTimer;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolBar;
class QToolButton;
class QTreeView;

class TRequester;
class TAddressedRequester;
class PortDirectory;
class Prompter;
class SettingsStore;
class TCommands;
class TLineTrace;
class TSerialPort;
class TUpDown;

// Opening and closing the line to the controller, as the window holds it around an
// action. The real one is the window's TSerialPort.
class LinkControl {
  public:
    virtual ~LinkControl() = default;
    // False with the text for a box captioned "Ошибка подключения".
    virtual bool Open(const std::string& devicePath, std::string& errorText) = 0;
    virtual void Close() = 0;
};

// The port box: its list is brought up to date just before it drops down, since an
// adapter may have been plugged in a moment ago.
class TPortBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> BeforePopup;
    void showPopup() override {
        if (BeforePopup) {
            BeforePopup();
        }
        QComboBox::showPopup();
    }
};

// What the window is built on; anything left null is the real thing.
struct MainDeps {
    SettingsStore* settings = nullptr;
    PortDirectory* ports = nullptr;
    TRequester* runner = nullptr;  // with it, no TSerialPort/TCommands are made
    LinkControl* link = nullptr;
    QString portArg;  // --port DEVICE
    // With the debug switch: the line trace of every request goes to this file, and the
    // status bar shows where (only with the real worker, not an injected runner).
    QString tracePath;
    QString fileArg;  // a database file named on the command line, opened at the first show
};

class TFMain : public QMainWindow, public TKeyEditSite {
    Q_OBJECT
  public:
    explicit TFMain(MainDeps deps = {}, QWidget* parent = nullptr);
    ~TFMain() override;

    // ---- State of the open database ------------------------------------------------
    QString CurrentFile;
    bool FileOpen = false;
    int TimeOpen = 1;
    int RetryRead = 1;
    int TypeFormat = 0;
    // The controller's address on its line ("Address" in the file; 0 when alone): every
    // request of the open file's jobs goes there. -1 while the file holds one out of range.
    int Address = 0;
    KeyCode Vardex = 0;
    int SelectedPort = -1;  // number of the chosen item in cboxPort (1-based), -1 none

    // ---- Operations of the window ----------------------------------------------------
    void EnableEditing(bool on);
    bool EditingEnabled() const { return editingEnabled_; }
    void SetCurrentFile(const QString& path);
    // When a script or another copy of the program has changed the open file since this
    // window last read or wrote it (its device, inode, size or time differ), reads it
    // again, keeping the selected key, and returns true.
    bool ReloadIfChanged() override;
    // Makes sure the open file can be written and locks it for one change, before any
    // request; says why not (over `parent`, or the window) and returns false otherwise.
    bool LockForChange(DbLock& lock, QWidget* parent = nullptr) override;
    void FileWritten() override { StampFile(); }
    void SetVardex(KeyCode code);
    QString SelectedPortPath() const;

    // ---- For the dialogs ----------------------------------------------------------------
    // File operations on `path` (the current file when empty). On failure they show the
    // error (caption "Ошибка") and return false.
    bool NewDbFile(const QString& path);
    bool LoadDbFile(const QString& path);  // reads the file into the window
    bool SaveKey(KeyCode code, const QString& description, const QString& path = {}) override;
    bool RemoveKey(KeyCode code, const QString& path = {});
    // Many keys into the open file in one write (descriptions as the file keeps them).
    bool SaveKeys(const std::vector<DbKey>& keys);
    bool SaveVardex(KeyCode code, const QString& path = {});
    bool SaveSettings(int timeOpen, int retryRead, int typeFormat, const QString& path = {});
    bool SaveTypeFormat(int typeFormat, const QString& path = {});
    // The open file as the export sends it; nothing (after the box) when it cannot be
    // read or was read only in part.
    // The open file read whole, or nothing after the box that says why a file read only
    // in part is not sent to the controller (export, reconcile, import, enrolment).
    std::optional<DbModel> ReadWholeFile();
    std::optional<ExportSource> ExportSourceOfFile();
    // Writes a whole model in one go and shows its error; does not load it.
    bool WriteDbFile(const QString& path, const DbModel& model);

    // Rows of lvDB. Each keeps the list sorted; the row numbers are list order.
    KeyListModel* Keys() const override { return keys_; }
    int AddKeyRow(KeyCode code, const QString& description) override;
    int UpdateKeyRow(int row, KeyCode code, const QString& description) override;
    void RemoveKeyRow(int row) override;
    int FindRow(KeyCode code) const override { return keys_->FindRow(code); }
    int SelectedRow() const;
    std::optional<KeyCode> SelectedKeyCode() const;
    void SelectRow(int row) override;
    // The focus into the key list, its current (or first) row chosen.
    void FocusList();

    // The link is open while a LinkHold lives (closed also on early returns).
    class LinkHold {
      public:
        explicit LinkHold(TFMain& owner);
        ~LinkHold();
        explicit operator bool() const { return ok_; }

      private:
        TFMain& owner_;
        bool ok_ = false;
    };
    bool OpenLink() override;  // shows the link's own message on failure
    void CloseLink() override;
    QString DatabasePath() const override { return CurrentFile; }
    TRequester& Requester() const override { return *runner_; }
    TSerialPort* Port() const { return port_.get(); }  // null with an injected runner
    TCommands* Worker() const { return worker_.get(); }
    TRequester& Runner() const { return *runner_; }
    // The line's worker itself, shared by every controller on it: for what addresses each
    // request on its own (the scan of the line).
    TRequester& LineRunner() const { return *line_; }
    Prompter& Prompt() const;

    // ---- Controls ---------------------------------------------------------------------
    QAction *actNew, *actNewFromContr, *actOpen, *actSave, *actSync, *actReconcile, *actExit;
    QAction *actHelpProgram, *actAbout;
    QAction* actJournal;  // "Журнал изменений"
    QAction* actSaveCsv;  // "Сохранить список в CSV...": the whole list, for a spreadsheet
    QAction* actImportCsv;  // "Импорт из CSV..."                -> TFImportCsv (main_bulk.cpp)
    QAction* actEnrol;  // "Регистрация карт(ключей)"       -> TFEnrol (main_bulk.cpp)
    QAction* actScanLine;  // "Поиск контроллеров на линии..." -> TFScanLine
    QMenu* miRecent;       // "Последние файлы"
    QToolBar* ToolBar1;
    QToolButton *tbNew, *tbOpen, *tbSave, *tbSync;
    QGroupBox* gbSettings;
    QLineEdit *edRetryRead, *edTimeOpen;
    TUpDown *udRetryRead, *udTimeOpen;
    TUpDown* udAddress;  // "Адрес на линии": written to the file only
    QPushButton* bbVardex;
    QGroupBox* gbKeys;
    QToolBar* tbDBKeys;
    QToolButton *tbAdd, *tbEdit, *tbDel, *tbFindKey;
    QTreeView* lvDB;
    TKeySearchBar* searchBar = nullptr;  // "Поиск" above lvDB, and the count of keys
    QMenu* pabDBKeys;
    QAction *miAdd, *miEdit, *miDel;
    QComboBox* cboxType;
    QLabel* lPortCaption;
    QComboBox* cboxPort;
    QLabel* lHint;  // the status bar's last panel: the hint of the control under the mouse

    // ---- Handlers -------------------------------------------------------------------------
    void actNewExecute();
    void actNewFromContrExecute();
    void actOpenExecute();
    void actSaveExecute();
    void actSyncExecute();
    void actReconcileExecute();
    void actHelpProgramExecute();
    void actAboutExecute();
    void actJournalExecute();
    // The sites: the "Объект" menu (main_site.cpp).
    void CreateSiteMenu();
    // Opens the window of the site file at `path` (a window of its own); false when the
    // file could not be read (its box shown).
    bool OpenSite(const QString& path);
    void actSaveCsvExecute();
    void actImportCsvExecute();
    void actEnrolExecute();
    void actScanLineExecute();
    // Writes a model read from a controller as a new file, loads it and makes it current;
    // false (after showing why) when any of that failed.
    bool AdoptNewFile(const QString& path, const DbModel& model);
    // Takes `address` into the open file ("Адрес на линии"); false when it was not written.
    bool TakeAddress(int address);
    // Opens a file of "Последние файлы" as "&Открыть" opens the chosen one.
    bool OpenFile(const QString& path);
    void bbVardexClick();
    void tbAddClick();
    void tbEditClick();
    void tbDelClick();
    void tbFindKeyClick();
    void lvDBSelectItem();
    void lvDBDblClick();
    void cboxTypeChange(int index);
    void cboxPortChange();
    bool udTimeOpenChangingEx(int proposed);
    bool udRetryReadChangingEx(int proposed);
    bool udAddressChangingEx(int proposed);

    void FillPortList();
    void SelectRememberedPort();
    // The list again from the system, keeping the chosen port (shown as absent when it
    // has gone) and a path being typed.
    void RefreshPorts();
    // Item data of the port box: the device behind a path, and its description line.
    static constexpr int PortDeviceRole = Qt::UserRole + 1;
    static constexpr int PortDescriptionRole = Qt::UserRole + 2;

    // The recent files, newest first, at most MaxRecentFiles.
    static constexpr int MaxRecentFiles = 8;
    void AddRecentFile(const QString& path);
    // The folder a file dialog starts in, and the one it ended in.
    QString LastFolder() const;
    void RememberFolderOf(const QString& path);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  public:
    // Every action of the window runs through here. One at a time: a pause between two
    // steps of an action runs the event loop, and a click then must not start a second
    // action inside the first (it is dropped). An error that escapes an action is shown
    // with its text instead of ending the program. Returns the body's result, or R{}
    // when the action was refused or failed.
    template <class F>
    auto RunAction(F&& body) -> decltype(body()) {
        using R = decltype(body());
        if (actionRunning_) {
            return R();
        }
        ActionScope scope(*this);
        try {
            return body();
        } catch (const std::exception& e) {
            ShowEscapedError(e.what());
        } catch (...) {
            ShowEscapedError(nullptr);
        }
        return R();
    }
    bool ActionRunning() const { return actionRunning_; }
    // The watcher saw the open file change: read it again now, or once the running action
    // (or a modal window) has ended.
    void FileChangedOutside();

  private:
    struct ActionScope {
        explicit ActionScope(TFMain& owner) : owner_(owner) { owner_.actionRunning_ = true; }
        ~ActionScope() {
            owner_.actionRunning_ = false;
            owner_.ActionEnded();
        }
        TFMain& owner_;
    };
    void ActionEnded();
    bool reloadPending_ = false;
    void ShowEscapedError(const char* what);
    void EditSelectedRow();
    void FitKeyColumn();  // the number column as wide as the format's widest number
    void SelectFocusedRow();
    void ImportCsv();  // the bodies of actImportCsvExecute and actEnrolExecute
    void Enrol();
    // One step of a time field: the controller, then the file. False leaves the field.
    bool ChangeTime(bool timeOpen, int proposed);
    bool actionRunning_ = false;
    void FormShow();
    void CreateActions();
    void CreateControls();
    void UpdateKeyButtons();
    void FillRecentMenu();
    QString PathOr(const QString& path) const;
    bool TakeTypedPort();

    MainDeps deps_;
    std::unique_ptr<SettingsStore> ownSettings_;
    std::unique_ptr<PortDirectory> ownPorts_;
    std::unique_ptr<TSerialPort> port_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile_{nullptr, std::fclose};
    std::unique_ptr<TLineTrace> trace_;  // before the worker, which it outlives
    std::unique_ptr<TCommands> worker_;
    std::unique_ptr<LinkControl> ownLink_;
    TRequester* runner_ = nullptr;  // the open file's controller: addressed_
    TRequester* line_ = nullptr;    // the line's worker under it
    std::unique_ptr<TAddressedRequester> addressed_;
    LinkControl* link_ = nullptr;
    KeyListModel* keys_ = nullptr;
    KeyFilterModel* keysFilter_ = nullptr;
    bool editingEnabled_ = false;
    bool shown_ = false;
    void StampFile();                      // after the window's own read or write of the file
    bool Written(const DbResult& result);  // shows a failure; stamps a success
    struct FileStamp {
        bool valid = false;
        unsigned long long device = 0, inode = 0, size = 0;
        long long mtimeSec = 0, mtimeNsec = 0;
        bool operator==(const FileStamp&) const = default;
    };
    static FileStamp StampOf(const QString& path);
    FileStamp stamp_;
    // Times outside their range are told when a file is opened, and on a reload only
    // when what the file holds differs from what was told.
    bool reloading_ = false;
    QString timesTold_;
    QString invalidTold_;  // the entries with no valid key number told for this file
    QFileSystemWatcher* fileWatcher_ = nullptr;
    QFileSystemWatcher* portWatcher_ = nullptr;
    QTimer* portRefresh_ = nullptr;
};
