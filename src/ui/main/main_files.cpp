// TFMain: the file operations the actions and dialogs call; each shows its own error.
#include <sys/stat.h>
#include <QTextDocument>

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QScopedValueRollback>

#include "core/jobs/keys_guard.h"
#include "core/keys/cp1251.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"
#include "ui/main/main_window.h"

#include "core/link/requester.h"
#include "ui/main/updown.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

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

bool TFMain::SaveKeys(const std::vector<DbKey>& keys) {
    return Written(journaled::SaveKeys(Local(CurrentFile), keys));
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

std::optional<DbModel> TFMain::ReadWholeFile() {
    DbModel model;
    const DbResult r = ::LoadDbFile(Local(CurrentFile), model);
    if (const std::optional<JobBox> refusal = RefusePartialRead(r)) {
        Prompt().Error(this, QString::fromStdString(refusal->caption),
                       QString::fromStdString(refusal->text));
        return std::nullopt;
    }
    return model;
}

std::optional<ExportSource> TFMain::ExportSourceOfFile() {
    const std::optional<DbModel> model = ReadWholeFile();
    if (!model) {
        return std::nullopt;
    }
    return ExportSourceOf(*model, TypeFormat);
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
    Address = model.Address;
    udAddress->SetPosition(Address >= 0 ? Address : 0);
    addressed_->SetAddress(static_cast<std::uint8_t>(Address >= 0 ? Address : 0));
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
    FitKeyColumn();
    stamp_ = StampOf(PathOr(path));
    const QString times = QString::fromStdString(TimesOutOfRangeText(model));
    if (!times.isEmpty() && !(reloading_ && times == timesTold_)) {
        Prompt().Warning(this, QStringLiteral("Настройки контроллера"), times);
    }
    timesTold_ = times;
    if (const std::string bad = AddressOutOfRangeText(model); !bad.empty() && !reloading_) {
        Prompt().Warning(this, QStringLiteral("Настройки контроллера"),
                         QString::fromStdString(bad));
    }
    const QString invalid = QString::fromStdString(InvalidEntriesText(model));
    if (!invalid.isEmpty() && !(reloading_ && invalid == invalidTold_)) {
        Prompt().Warning(this, QStringLiteral("Файл базы ключей"), invalid);
    }
    invalidTold_ = invalid;
    if (const std::string cut = journaled::TellInterruptedChanges(Local(PathOr(path)));
        !cut.empty()) {
        Prompt().Warning(this, QString::fromUtf8(journaled::kInterruptedCaption),
                         QString::fromStdString(cut));
    }
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
    bool read = false;
    {
        const QScopedValueRollback<bool> reload(reloading_, true);
        read = LoadDbFile(path);
    }
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
        a->setToolTip(Qt::convertFromPlainText(file));
        a->setData(file);
        connect(a, &QAction::triggered, this, [this, file] { RunAction([&] { OpenFile(file); }); });
    }
    miRecent->setEnabled(n > 0);
}

bool TFMain::OpenFile(const QString& path) {
    FileOpen = false;
    const bool opened = LoadDbFile(path);
    if (opened) {
        SetCurrentFile(path);
        EnableEditing(true);
        AddRecentFile(path);
        FocusList();
    }
    // A failed open leaves the previous file (if any) open; with none there is nothing
    // the controls could write to.
    FileOpen = !CurrentFile.isEmpty();
    return opened;
}
