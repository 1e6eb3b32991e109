// TFImportCsv, "Импорт из CSV": shows the fate of every line of a CSV file against the
// open database (the new keys and the description updates can be ticked), asks once,
// then hosts the import job (log, progress, Cancel between keys) and sums it up. The
// refused lines can be saved as CSV to be put right in a spreadsheet.
#pragma once

#include <QElapsedTimer>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/jobs/import_job.h"
#include "core/keys/key_csv.h"
#include "ui/dialogs/jobdialog.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

class TFImportCsv : public TJobDialog {
    Q_OBJECT
  public:
    // The window's list follows each write of the file.
    using WrittenKeys =
        std::function<void(const std::vector<DbKey>& added, const std::vector<DbKey>& updated)>;

    TFImportCsv(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                std::string databasePath, int typeFormat, CsvImport preview, WrittenKeys written);

    QTreeWidget* lvLines = nullptr;  // one row per line: line, number, description, fate
    QLabel* lSummary = nullptr;      // the count of each fate, then the job's summary
    QPushButton* bbSaveRefused = nullptr;
    QLabel* lTimeLeft = nullptr;  // "Осталось примерно: 1:40" while the keys are sent

    // Null until "Импортировать" was answered Yes.
    TImportJob* Import() const { return import_; }

    void bbOKClick();
    void bbSaveRefusedClick();

    void Finished(const JobBox& box) override;
    void Failed(const JobBox& box) override;
    // The time left follows the progress, at the pace the keys have gone so far.
    void SetProgressPosition(int position) override;
    // A cancelled import keeps the dialog open with its summary.
    void CloseJob(JobEnd end) override;

    // The fate column of a row: "Новая", "Повтор строки 3", "Отказ: ..."
    static QString FateText(const CsvRow& row);

  private:
    void ShowRows();
    void ItemChanged(QTreeWidgetItem* item);
    void UpdateControls();
    void Ended();
    // The rows of keys just written say so, instead of what they were to become.
    void ShowWritten(const std::vector<DbKey>& keys, CsvFate fate, const QString& text);

    std::string path_;
    int typeFormat_;
    CsvImport preview_;
    WrittenKeys written_;
    TImportJob* import_ = nullptr;
    QElapsedTimer started_;
    std::unordered_map<KeyCode, int> rowOfKey_;  // the row of each new key and update
};
