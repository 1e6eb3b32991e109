// TFReadContr, "Загрузка из контроллера": reads the controller's whole contents into a
// log, then saves them as a new database file that the main window opens.
#pragma once

#include <functional>

#include "core/jobs/load_job.h"
#include "ui/dialogs/jobdialog.h"

class TFReadContr : public TJobDialog {
    Q_OBJECT
  public:
    // `adoptNewFile` writes the model under the path as one new file, loads it into the
    // main window and makes it the current file; false (after showing why) when any of
    // that failed, and then the main window is as it was.
    using AdoptNewFile = std::function<bool(const QString& path, const DbModel& model)>;

    TFReadContr(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                AdoptNewFile adoptNewFile);

    TLoadJob& Load() const { return static_cast<TLoadJob&>(Job()); }

    void bbOKClick();
    void Finished(const JobBox& box) override;

  public slots:
    // Closing with a complete read that has not been saved asks first.
    void reject() override;

  private:
    AdoptNewFile adoptNewFile_;
    bool saved_ = false;
};
