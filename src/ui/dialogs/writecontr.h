// TFWriteContr, "Экспорт в контроллер": clears the controller and writes the open
// database into it (the settings, the vardex, every key in the list's order), with a log.
#pragma once

#include "core/jobs/export_job.h"
#include "ui/dialogs/jobdialog.h"

class TFWriteContr : public TJobDialog {
    Q_OBJECT
  public:
    // `source`: the main window's times, vardex, vardex caption and key rows in list order.
    TFWriteContr(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
                 ExportSource source);

    TExportJob& Export() const { return static_cast<TExportJob&>(Job()); }

    void Finished(const JobBox& box) override;
    void Failed(const JobBox& box) override;
};
