// The window of a site: its people view (who opens which door), the search over it, and
// one change to many doors: a tick granted or revoked at one door, a key removed from
// every door, a new key for several doors, a key copied to other doors, a description
// changed everywhere. Each door's change is that door's own key job; the changes run on
// a thread of their own, one line after another in parallel, while the window stays live.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/jobs/scan_job.h"
#include "core/site/site_change.h"
#include "core/site/site_file.h"
#include "core/site/site_scan.h"
#include "core/site/site_status.h"

class QAction;
class QLabel;
class QLineEdit;
class QDockWidget;
class QTableView;
class QTableWidget;
class PeopleModel;
class Prompter;

class TFSite : public QMainWindow {
    Q_OBJECT
  public:
    explicit TFSite(const QString& sitePath, QWidget* parent = nullptr);
    ~TFSite() override;

    // Reads the site file and every door's file; false (with the box shown) when the site
    // file cannot be read.
    bool Reload();

    // The changes, as the actions start them (tests call them directly).
    void StartChange(const SiteChange& change);
    bool Running() const { return worker_.joinable(); }
    // The outcomes of the last change that ended.
    const std::vector<SiteDoorOutcome>& LastOutcomes() const { return last_; }

    PeopleModel* Model() const { return model_; }
    QTableView* Table() const { return table_; }
    QLineEdit* SearchField() const { return edSearch_; }
    QAction *actGrant, *actCopy, *actRevokeAll, *actDescribe, *actAddDoor, *actStatus, *actReload;
    QAction* actScanDoors;  // "Двери из поиска на линии..."
    // The addresses the scan of actScanDoors goes through (all by default).
    ScanSettings scanSettings;
    QAction *actPrint, *actPrintDoor, *actSavePdf, *actReconcile, *actDoorLine;

    QTableWidget* StatusTable() const { return statusTable_; }

  signals:
    void changeEnded();
    void statusShown();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnToggle(KeyCode code, int door, bool grant);
    void RevokeEverywhere();
    void GrantNew(bool copySelected);
    void DescribeEverywhere();
    void AddDoor();
    // Scans a line and makes a door of each controller found there that is not one yet,
    // loaded into a new file of its own (on the change thread, the window live).
    void AddDoorsFromScan();
    // Reads a key presented at the reader of `door` for the key dialog; false when none.
    bool ReadAtDoor(QWidget* owner, std::size_t door, KeyCode& code);
    void DoorsAdded(const std::vector<ScannedDoor>& doors, const SiteResult& saved);
    void ShowStatus();
    void StatusRead(const std::vector<SiteDoorStatus>& status);
    void PrintDoor();
    void SetDoorLine();
    // This computer's lines of the doors, where they differ from the site file's.
    LineOverrides Overrides() const;
    void SavePdf();
    void ChangeEnded(const SiteChange& change, std::vector<SiteDoorOutcome> outcomes);
    bool SelectedKey(KeyCode& code, int& viewRow) const;
    void UpdateActions();
    Prompter& Prompt() const;

    QString path_;
    Site site_;
    PeopleModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    QLineEdit* edSearch_ = nullptr;
    QLabel* status_ = nullptr;
    QDockWidget* statusDock_ = nullptr;  // "Состояние дверей", the site's status panel
    QTableWidget* statusTable_ = nullptr;
    bool statusBusy_ = false;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::vector<SiteDoorOutcome> last_;
};
