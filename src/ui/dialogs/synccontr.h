// TFSyncContr, "Проверка новых карт(ключей)": lists the keys the controller holds and the
// open database lacks, and adds the ticked ones to the database.
#pragma once

#include <functional>
#include <vector>

#include "core/jobs/check_job.h"
#include "ui/dialogs/jobdialog.h"

class QLabel;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

class TFSyncContr : public TJobDialog, public TCheckKeys {
    Q_OBJECT
  public:
    // Adds one key to the open database file and a row to the main list; false (after
    // showing why) when the file could not be written.
    using AddKey = std::function<bool(KeyCode code, const QString& caption)>;

    TFSyncContr(QWidget* owner, TRequester& runner, int typeFormat,
                const std::vector<KeyCode>& known, AddKey addKey);

    TCheckJob& Check() const { return static_cast<TCheckJob&>(Job()); }

    QTreeWidget* lvList = nullptr;
    QLabel* lInfo = nullptr;
    QTimer* tBlink = nullptr;

    void bbOKClick();
    void lvListChange();
    void tBlinkTimer();

    void OfferMissingKey(KeyCode code, const std::string& text) override;
    bool AddMissingKey(KeyCode code, const std::string& text) override;
    void Finished(const JobBox& box) override;

  private:
    QTreeWidgetItem* ItemOf(KeyCode code) const;

    AddKey addKey_;
    bool red_ = false;
};
