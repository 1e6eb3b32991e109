// TFEnrol, "Регистрация карт(ключей)": hosts the enrolment job, which polls the reader
// without end and stores each new key presented in the controller and then the file,
// named from the template field. The list shows what this run added; closing the dialog
// stops the poll.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/jobs/enrol_job.h"
#include "ui/dialogs/jobdialog.h"

class QLabel;
class QLineEdit;
class QTreeWidget;

class TFEnrol : public TJobDialog {
    Q_OBJECT
  public:
    // A key the job wrote into the file: the window adds its row.
    using AddedKey = std::function<void(KeyCode code, const QString& description)>;

    TFEnrol(QWidget* owner, TRequester& runner, std::function<void()> closeLink,
            std::string databasePath, int typeFormat, const std::vector<DbKey>& known,
            AddedKey added);

    TEnrolJob& Enrol() const { return static_cast<TEnrolJob&>(Job()); }

    QLineEdit* edTemplate = nullptr;  // "Сотрудник {n}"; {n} counts this run's keys from 1
    QLabel* lTemplateError = nullptr;
    QLabel* lLast = nullptr;         // what became of the last key presented
    QTreeWidget* lvAdded = nullptr;  // the keys this run added

    void reject() override;

  private:
    void OnEvent(const EnrolEvent& event);

    int typeFormat_;
    bool closing_ = false;
    AddedKey added_;
};
