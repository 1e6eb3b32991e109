// The window's two bulk enrolments: "Импорт из CSV..." and "Регистрация карт(ключей)".
// Each reads the file whole, then hands it to its dialog, which hosts the core job.
#include <QFile>
#include <QFileInfo>

#include "core/keys/cp1251.h"
#include "core/keys/key_csv.h"
#include "ui/dialogs/enrol.h"
#include "ui/dialogs/importcsv.h"
#include "ui/help/help.h"
#include "ui/main/main_window.h"
#include "ui/seams/prompter.h"

namespace {

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

void TFMain::actImportCsvExecute() {
    RunAction([&] { ImportCsv(); });
}

void TFMain::ImportCsv() {
    if (!FileOpen || CurrentFile.isEmpty())
        return;
    const QString caption = QStringLiteral("Импорт из CSV");
    FileDialogOptions options;
    options.title = caption;
    options.filter = QStringLiteral("Файл CSV (*.csv)|*.csv");
    options.defaultExt = QStringLiteral("csv");
    options.directory = LastFolder();
    options.fileMustExist = true;
    options.helpContext = help::TopicImportCsv;
    const QString csvPath = Prompt().OpenFile(this, options);
    if (csvPath.isEmpty())
        return;
    RememberFolderOf(csvPath);
    // The list whole or not at all, and only from a regular file (a FIFO would hang, a
    // device never end).
    std::string bytes;
    if (const int err =
            ::ReadWholeFile(QFile::encodeName(csvPath).toStdString(), bytes, MaxCsvFileSize)) {
        Prompt().Error(this, caption,
                       QStringLiteral("Не удалось открыть ") + csvPath + QStringLiteral(":\r") +
                           Q(ErrorText(err)));
        return;
    }
    ReloadIfChanged();
    const std::optional<DbModel> model = ReadWholeFile();
    if (!model)
        return;
    CsvImport preview = PreviewCsvImport(bytes, TypeFormat, model->keys);
    if (!preview.error.empty()) {
        Prompt().Error(this, caption, csvPath + QStringLiteral(":\r") + Q(preview.error));
        return;
    }
    // "123456" shown as EM-Marine may be a hexadecimal key or the start of a card's
    // number: asked once for the whole file, never guessed line by line.
    if (preview.shortDigits > 0 &&
        Prompt().AskYesNo(this, caption, Q(ShortDigitsQuestion(preview.shortDigits))))
        preview = PreviewCsvImport(bytes, TypeFormat, model->keys, true);
    LinkHold link(*this);
    if (!link)
        return;
    TFImportCsv dialog(
        this, Runner(), [this] { CloseLink(); }, QFile::encodeName(CurrentFile).toStdString(),
        TypeFormat, std::move(preview),
        [this](const std::vector<DbKey>& added, const std::vector<DbKey>& updated) {
            for (const DbKey& key : added) {
                if (FindRow(key.code) < 0)
                    AddKeyRow(key.code, Q(Cp1251ToUtf8(key.description)));
            }
            for (const DbKey& key : updated) {
                if (const int row = FindRow(key.code); row >= 0)
                    UpdateKeyRow(row, key.code, Q(Cp1251ToUtf8(key.description)));
            }
            StampFile();
        });
    dialog.Run();
}

void TFMain::actEnrolExecute() {
    RunAction([&] { Enrol(); });
}

void TFMain::Enrol() {
    if (!FileOpen || CurrentFile.isEmpty())
        return;
    ReloadIfChanged();
    const std::optional<DbModel> model = ReadWholeFile();
    if (!model)
        return;
    LinkHold link(*this);
    if (!link)
        return;
    TFEnrol dialog(
        this, Runner(), [this] { CloseLink(); }, QFile::encodeName(CurrentFile).toStdString(),
        TypeFormat, model->keys,
        [this](KeyCode code, const QString& description) {
            if (FindRow(code) < 0)
                AddKeyRow(code, description);
            StampFile();
        });
    dialog.Run();
}
