// TFEnrol, "Регистрация карт(ключей)": hosts the enrolment job, which polls the reader
// without end and stores each new key presented in the controller and then the file,
// named from the template field, or, with "Вводить описание для каждого ключа" ticked,
// by a description asked for as each new key is presented (the template's text offered;
// Cancel skips the key). The list shows what this run added; closing the dialog stops
// the poll.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/jobs/enrol_job.h"
#include "ui/dialogs/jobdialog.h"

class QCheckBox;
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
    QCheckBox* cbAskEach = nullptr;  // "Вводить описание для каждого ключа"
    QLabel* lLast = nullptr;         // what became of the last key presented
    QTreeWidget* lvAdded = nullptr;  // the keys this run added

    void reject() override;

  private:
    void OnEvent(const EnrolEvent& event);
    // The description of the n-th new key: the template's, or the one the operator types
    // (asked again until the file can hold it); nothing when it cannot be had.
    std::optional<std::string> DescriptionFor(KeyCode code, int n);

    int typeFormat_;
    bool closing_ = false;
    AddedKey added_;
};
