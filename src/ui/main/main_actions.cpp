// TFMain: the handlers of the menu, the tool bars and the window's controls.
#include "ui/main/main_window.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSaveFile>
#include <QToolButton>

#include "core/jobs/key_edit_job.h"
#include "core/jobs/keys_guard.h"
#include "core/jobs/new_file_job.h"
#include "core/jobs/setting_change_job.h"
#include "core/keys/cp1251.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"
#include "core/keys/key_csv.h"
#include "core/link/commands.h"
#include "ui/dialogs/findkey.h"
#include "ui/dialogs/getvardex.h"
#include "ui/dialogs/readcontr.h"
#include "ui/dialogs/reconcile.h"
#include "ui/dialogs/scanline.h"
#include "ui/dialogs/synccontr.h"
#include "ui/dialogs/wait.h"
#include "ui/dialogs/writecontr.h"
#include "ui/help/help.h"
#include "ui/main/about_box.h"
#include "ui/main/editkey.h"
#include "ui/main/journal_window.h"
#include "ui/main/updown.h"
#include "ui/seams/prompter.h"
#include "ui/seams/worker_bridge.h"

namespace {
std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
}  // namespace

// ---- Actions --------------------------------------------------------------------------------

void TFMain::actNewExecute() {
    RunAction([&] {
        const QString caption = QStringLiteral("Создание нового файла");
        // The program does not ask the controller before the questions; what it knows is the
        // open file, which a controller kept in line with it holds.
        const QString lost =
            FileOpen && !CurrentFile.isEmpty()
                ? QStringLiteral(
                      "Если контроллер соответствует открытому файлу, из него будет "
                      "удалено карт(ключей): %1.")
                      .arg(keys_->Count())
                : QString();
        if (!Prompt().ConfirmTwice(this, caption,
                                   QStringLiteral("Для создания нового файла необходимо очистить "
                                                  "контроллер!\rДля продолжения нажмите на кнопку "
                                                  "\"Да\"\rДля отмены нажмите на кнопку \"Нет\""),
                                   QStringLiteral("Внимание! Все данные в контроллере будут "
                                                  "удалены!\rПродолжить?"),
                                   lost)) {
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
        sdNew.helpContext = help::TopicNewFile;
        const QString path = Prompt().SaveFile(this, sdNew);
        if (path.isEmpty()) {
            EnableEditing(editingEnabled_);
            return;
        }
        // Where the file goes is asked before the controller is cleared, and the file must
        // be writable (and is locked) before any request: a cleared controller never ends
        // up with nowhere to save its file.
        DbLock fileLock;
        if (DbResult r = LockDbForWrite(Local(path), fileLock); !r) {
            Prompt().Error(this, QStringLiteral("Ошибка"), QString::fromStdString(r.error));
            return;
        }
        LinkHold link(*this);
        if (!link) {
            return;
        }
        std::unique_ptr<TFWait> wait =
            TFWait::ForJob(this, Runner(), QStringLiteral("Проверка связи с контроллером"));
        help::SetContext(wait.get(), help::TopicNewFile);
        TNewFileJob& job = wait->Host<TNewFileJob>();
        job.JournalBeside(Local(path));
        wait->Run();
        if (!job.Complete()) {
            return;
        }
        if (!Written(job.WriteFile(Local(path), addressed_->Address())) || !LoadDbFile(path)) {
            return;
        }
        FileOpen = true;
        SetCurrentFile(path);
        EnableEditing(true);
        AddRecentFile(path);
        FocusList();
    });
}

void TFMain::actNewFromContrExecute() {
    RunAction([&] {
        if (TakeTypedPort()) {
            cboxPortChange();
        }
        if (SelectedPortPath().isEmpty()) {
            Prompt().Error(this, QStringLiteral("Ошибка"),
                           QStringLiteral("Не выбран порт подключения!"));
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
                return AdoptNewFile(path, model);
            });
        dialog.Run();
    });
}

bool TFMain::AdoptNewFile(const QString& path, const DbModel& model) {
    if (!WriteDbFile(path, model) || !LoadDbFile(path)) {
        return false;
    }
    SetCurrentFile(path);
    EnableEditing(true);
    FileOpen = true;
    AddRecentFile(path);
    FocusList();
    return true;
}

void TFMain::actScanLineExecute() {
    RunAction([&] {
        TFScanLine::Choice choice = TFScanLine::Choice::None;
        int address = -1;
        {
            LinkHold link(*this);
            if (!link) {
                return;
            }
            // The scan addresses each request itself, on the line's own worker.
            TFScanLine scan(
                this, LineRunner(), [this] { CloseLink(); }, FileOpen);
            if (!scan.Run()) {
                return;
            }
            choice = scan.choice;
            address = scan.chosenAddress;
        }
        if (choice == TFScanLine::Choice::TakeAddress) {
            TakeAddress(address);
            return;
        }
        if (choice != TFScanLine::Choice::Load) {
            return;
        }
        LinkHold link(*this);
        if (!link) {
            return;
        }
        TAddressedRequester door(LineRunner(), static_cast<std::uint8_t>(address));
        TFReadContr dialog(
            this, door, [this] { CloseLink(); },
            [this](const QString& path, const DbModel& model) {
                return AdoptNewFile(path, model);
            });
        dialog.Run();
    });
}

bool TFMain::TakeAddress(int address) {
    if (!FileOpen || address < 0 || address > MaxDbAddress) {
        return false;
    }
    DbLock lock;
    if (!LockForChange(lock)) {
        return false;
    }
    if (ReloadIfChanged()) {
        return false;
    }
    if (!Written(journaled::SaveAddress(Local(CurrentFile), address))) {
        return false;
    }
    Address = address;
    udAddress->SetPosition(address);
    addressed_->SetAddress(static_cast<std::uint8_t>(address));
    return true;
}

void TFMain::actOpenExecute() {
    RunAction([&] {
        FileDialogOptions odOpen;
        odOpen.title = QStringLiteral("Открыть файл базы ключей");
        odOpen.filter = QStringLiteral("Файл базы ключей (*.vx2)|*.vx2");
        odOpen.defaultExt = QStringLiteral("*.vx2");
        odOpen.fileMustExist = true;
        odOpen.directory = LastFolder();
        odOpen.helpContext = help::TopicOpen;
        const QString path = Prompt().OpenFile(this, odOpen);
        if (path.isEmpty()) {
            EnableEditing(editingEnabled_);
            return;
        }
        RememberFolderOf(path);
        OpenFile(path);
    });
}

void TFMain::actSaveExecute() {
    RunAction([&] {
        ReloadIfChanged();  // the window shows what the export will write: the file as it is now
        // What the export writes is the open file as the command line would send it; a file
        // read only in part is refused before anything is asked.
        std::optional<ExportSource> source = ExportSourceOfFile();
        if (!source) {
            return;
        }
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
        source->databasePath = Local(CurrentFile);  // the job journals its end
        TFWriteContr dialog(
            this, Runner(), [this] { CloseLink(); }, std::move(*source));
        // What goes to the controller is the file as it is once the questions are answered.
        dialog.Export().RereadBeforeWriting(Local(CurrentFile), TypeFormat);
        dialog.Run();
    });
}

void TFMain::actSaveCsvExecute() {
    RunAction([&] {
        if (CurrentFile.isEmpty())
            return;
        FileDialogOptions options;
        options.title = QStringLiteral("Сохранить список в CSV");
        options.filter = QStringLiteral("Файл CSV (*.csv)|*.csv");
        options.defaultExt = QStringLiteral("csv");
        options.fileName = QFileInfo(CurrentFile).completeBaseName() + QStringLiteral(".csv");
        options.overwritePrompt = true;
        options.pathMustExist = true;
        options.helpContext = help::TopicSaveCsv;
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
            out.write(csv.data(), static_cast<qint64>(csv.size())) !=
                static_cast<qint64>(csv.size()) ||
            !out.commit())
            Prompt().Error(this, QStringLiteral("Ошибка"), out.errorString());
    });
}

void TFMain::actJournalExecute() {
    RunAction([&] {
        if (CurrentFile.isEmpty()) {
            return;
        }
        TFJournal dialog(this, CurrentFile, TypeFormat);
        dialog.exec();
    });
}

void TFMain::actSyncExecute() {
    RunAction([&] {
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
        TFSyncContr dialog(this, Runner(), TypeFormat, known, [this](const TCheckKeys::Keys& keys) {
            std::vector<DbKey> rows;
            rows.reserve(keys.size());
            for (const auto& [code, text] : keys) {
                rows.push_back({code, text});  // the description is plain ASCII
            }
            if (!SaveKeys(rows)) {
                return false;
            }
            for (const auto& [code, text] : keys) {
                AddKeyRow(code, QString::fromStdString(text));
            }
            return true;
        });
        dialog.Check().AddUnderLockOf(Local(CurrentFile));
        dialog.Run();
    });
}

void TFMain::actReconcileExecute() {
    RunAction([&] {
        if (!FileOpen) {
            return;
        }
        // The file as it is on disk, read whole: a list that stops at a bad entry would
        // have the keys after it removed from the controller.
        std::optional<DbModel> whole = ReadWholeFile();
        if (!whole) {
            return;
        }
        ReconcileOptions options;
        options.databasePath = Local(CurrentFile);
        options.file = std::move(*whole);
        options.typeFormat = TypeFormat;
        LinkHold link(*this);
        if (!link) {
            return;
        }
        TFReconcile dialog(
            this, Runner(), [this] { CloseLink(); }, std::move(options),
            [this](const std::vector<DbKey>& keys) {
                // The job has just written them into the file: the window's own write.
                StampFile();
                for (const DbKey& key : keys) {
                    if (FindRow(key.code) < 0) {
                        AddKeyRow(key.code, QString::fromStdString(Cp1251ToUtf8(key.description)));
                    }
                }
            });
        dialog.Run();
    });
}

void TFMain::bbVardexClick() {
    RunAction([&] {
        if (!FileOpen) {
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
        TFGetVardex dialog(
            this, TypeFormat, Vardex, [this](KeyCode code) { return FindRow(code) >= 0; },
            Local(CurrentFile), Runner());
        const bool done = dialog.Run();
        StampFile();  // the dialog's change wrote the file, not someone else
        if (done && dialog.InFile) {
            SetVardex(dialog.NewVardex);
        }
    });
}

void TFMain::tbAddClick() {
    RunAction([&] {
        if (!FileOpen) {
            return;
        }
        ReloadIfChanged();
        TFEditKey dialog(this, *this, TypeFormat, -1);
        dialog.Run();
    });
}

void TFMain::tbEditClick() {
    RunAction([&] { EditSelectedRow(); });
}

void TFMain::EditSelectedRow() {
    ReloadIfChanged();  // keeps the selected key selected, wherever its row is now
    const int row = SelectedRow();
    if (!FileOpen || row < 0) {
        return;
    }
    TFEditKey dialog(this, *this, TypeFormat, row);
    dialog.Run();
}

void TFMain::tbDelClick() {
    RunAction([&] {
        ReloadIfChanged();
        const int row = SelectedRow();
        if (!FileOpen || row < 0) {
            return;
        }
        const KeyRow key = keys_->Row(row);
        // Whose key it is says more than its number: the description goes under the question.
        if (!Prompt().AskYesNo(
                this, QStringLiteral("Удаление карты(ключа)"),
                QStringLiteral("Вы действительно хотите удалить карту(ключ) %1?").arg(key.caption),
                key.description.isEmpty() ? QStringLiteral("Без описания")
                                          : QStringLiteral("Описание: %1").arg(key.description),
                PromptIcon::Question)) {
            return;
        }
        DbLock lock;
        if (!LockForChange(lock)) {
            return;
        }
        // Under the lock, the file as it is now: the key may have gone meanwhile (then
        // there is nothing to delete), or moved to another row.
        ReloadIfChanged();
        const int now = FindRow(key.code);
        if (now < 0) {
            Prompt().Error(
                this, QStringLiteral("Удаление карты(ключа)"),
                QStringLiteral("Карта(ключ) с номером %1 удалена из базы карт(ключей) другой "
                               "программой.\rСписок перечитан.")
                    .arg(key.caption));
            return;
        }
        LinkHold link(*this);
        if (!link) {
            return;
        }
        KeyEdit edit;
        edit.kind = KeyEdit::Kind::Remove;
        edit.path = Local(CurrentFile);
        edit.typeFormat = TypeFormat;
        edit.oldCode = key.code;
        std::unique_ptr<TFWait> wait = TFWait::ForJob(this, Runner(), {});
        const TKeyEditJob& job = wait->Host<TKeyEditJob>(edit);
        wait->Run();
        StampFile();  // the job's write is the window's own
        if (job.OldGoneFromFile) {
            RemoveKeyRow(now);
        }
    });
}

void TFMain::tbFindKeyClick() {
    RunAction([&] {
        if (!FileOpen) {
            return;
        }
        KeyCode found = 0;
        {
            LinkHold link(*this);
            if (!link) {
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
            EditSelectedRow();
            return;
        }
        Prompt().Warning(this, QStringLiteral("Результат поиска"),
                         QStringLiteral("Карта(ключ) с номером %1 отсутсвует в базе данных!")
                             .arg(QString::fromStdString(Format(TypeFormat, found))));
    });
}

void TFMain::lvDBDblClick() {
    if (tbEdit->isEnabled()) {
        tbEdit->click();
    }
}

void TFMain::cboxTypeChange(int index) {
    RunAction([&] {
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
        FitKeyColumn();
        if (selected) {
            SelectRow(keys_->FindRow(*selected));
        }
    });
}

bool TFMain::udTimeOpenChangingEx(int proposed) {
    return ChangeTime(true, proposed);
}

bool TFMain::udRetryReadChangingEx(int proposed) {
    return ChangeTime(false, proposed);
}

bool TFMain::udAddressChangingEx(int proposed) {
    // The address is set on the controller itself: the file only learns which one it is.
    return RunAction([&]() -> bool {
        if (!FileOpen) {
            return true;
        }
        return TakeAddress(proposed);
    });
}

bool TFMain::ChangeTime(bool timeOpen, int proposed) {
    return RunAction([&]() -> bool {
        TUpDown* field = timeOpen ? udTimeOpen : udRetryRead;
        if (!FileOpen || proposed < field->minimum() || proposed > field->maximum()) {
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
        SettingChange change;
        change.kind = SettingChange::Kind::Times;
        change.path = Local(CurrentFile);
        change.timeOpen = timeOpen ? proposed : udTimeOpen->value();
        change.retryRead = timeOpen ? udRetryRead->value() : proposed;
        change.typeFormat = TypeFormat;
        change.timeOpenChanged = timeOpen;
        std::unique_ptr<TFWait> wait =
            TFWait::ForJob(this, Runner(), QString::fromStdString(SettingChangeText(change)));
        help::SetContext(wait.get(), help::TopicTimes);
        const TSettingChangeJob& job = wait->Host<TSettingChangeJob>(change);
        wait->Run();
        StampFile();
        if (!job.Complete()) {
            return false;
        }
        TimeOpen = change.timeOpen;
        RetryRead = change.retryRead;
        return true;
    });
}

void TFMain::ShowEscapedError(const char* what) {
    Prompt().Error(this, QStringLiteral("Ошибка"),
                   what ? QString::fromLocal8Bit(what) : QStringLiteral("Неизвестная ошибка"));
}

// ---- Help and about -----------------------------------------------------------------------

void TFMain::actHelpProgramExecute() {
    RunAction([&] { help::ShowContext(1, this); });
}

void TFMain::actAboutExecute() {
    RunAction([&] {
        TAboutBox box(this);
        box.exec();
    });
}
