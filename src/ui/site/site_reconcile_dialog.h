// "Сверка всех дверей": every door's plan in one table, one question, then each door's
// reconcile, with the table showing what was done door by door. The reads and the writes
// run on a thread of their own; the dialog stays live and Stop ends it between doors.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <thread>

#include "core/site/site_reconcile.h"

class QLabel;
class QPushButton;
class QTableWidget;

class TFSiteReconcile : public QDialog {
    Q_OBJECT
  public:
    TFSiteReconcile(QWidget* parent, const std::string& sitePath, const Site& site,
                    const LineOverrides& overrides = {});
    ~TFSiteReconcile() override;

    // Reads every door (the plan); the table fills when it ends.
    void Start();
    bool Busy() const { return worker_.joinable(); }
    const TSiteReconcile& Work() const { return *reconcile_; }
    QTableWidget* Table() const { return table_; }
    QPushButton* ApplyButton() const { return apply_; }

  signals:
    void planned();
    void applied();

  protected:
    void reject() override;

  private:
    void Apply();
    void Show(const char* caption);
    void Ended(bool plan);

    Site site_;
    SiteRun run_;
    std::unique_ptr<TSiteLines> lines_;
    std::unique_ptr<TSiteReconcile> reconcile_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    QLabel* status_;
    QTableWidget* table_;
    QPushButton* apply_;
    QPushButton* close_;
};
