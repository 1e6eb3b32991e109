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
    // Adds the keys to the open database file in one write and rows to the main list;
    // false (after showing why) when the file could not be written.
    using AddKeys = std::function<bool(const Keys& keys)>;

    TFSyncContr(QWidget* owner, TRequester& runner, int typeFormat,
                const std::vector<KeyCode>& known, AddKeys addKeys);

    TCheckJob& Check() const { return static_cast<TCheckJob&>(Job()); }

    QTreeWidget* lvList = nullptr;
    QLabel* lInfo = nullptr;
    QTimer* tBlink = nullptr;

    void bbOKClick();
    void lvListChange();
    void tBlinkTimer();

    void OfferMissingKey(KeyCode code, const std::string& text) override;
    bool AddMissingKeys(const Keys& keys) override;
    void Finished(const JobBox& box) override;

  private:
    QTreeWidgetItem* ItemOf(KeyCode code) const;

    AddKeys addKeys_;
    bool red_ = false;
};
