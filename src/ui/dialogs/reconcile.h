// TFReconcile, "Сверка с контроллером": reads the controller as the load does, keeps a copy
// of what it held, lists what differs from the open database (each row ticked; an extra
// key either removed from the controller or added to the file), and writes only the
// ticked differences after one question.
#pragma once

#include <functional>
#include <vector>

#include "core/jobs/reconcile_job.h"
#include "ui/dialogs/jobdialog.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

class TFReconcile : public TJobDialog {
    Q_OBJECT
  public:
    // Adds the keys the apply wrote into the file to the main window's list.
    using AdoptedKeys = std::function<void(const std::vector<DbKey>& keys)>;

    TFReconcile(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                ReconcileOptions options, AdoptedKeys adopted);

    TReconcileJob& Reconcile() const { return static_cast<TReconcileJob&>(Job()); }

    QTreeWidget* lvList = nullptr;    // the differences: text, what is done with it
    QLabel* lSummary = nullptr;       // "Совпадает: …, записать: …"
    QPushButton* bbRemove = nullptr;  // the selected extra keys: removed from the controller
    QPushButton* bbAdopt = nullptr;   // the selected extra keys: added to the file

    void bbOKClick();
    // The selected extra keys get `adopt` (added to the file) or not (removed).
    void SetChoice(bool adopt);

    void Finished(const JobBox& box) override;
    void Failed(const JobBox& box) override;
    // Cancelled while writing: the dialog stays with what was and was not done.
    void CloseJob(JobEnd end) override;

  private:
    void ShowDifferences(const Differences& diff);
    void ItemChanged(QTreeWidgetItem* item);
    void UpdateControls();
    static QString ActionText(const DiffItem& item);

    AdoptedKeys adopted_;
    bool applied_ = false;  // the writing has begun
};
