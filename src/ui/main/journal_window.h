// The window "Журнал изменений": the journal of the open database, newest first, with
// a filter, so that the first question after an incident at a door (who added or
// removed this key, and when) is answered without a terminal.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "core/keys/journal.h"

class QLineEdit;
class QTreeWidget;
class QPushButton;
class QLabel;

class TFJournal : public QDialog {
    Q_OBJECT
  public:
    // Reads the journal beside `databasePath` (a local path). A journal that cannot be
    // read is told through the Prompter, and the window shows what it has. The filter
    // reads a key number as the list does in `typeFormat`.
    TFJournal(QWidget* owner, const QString& databasePath, int typeFormat = 0);

    // The operator's name of an operation of the file ("key-add" -> "Добавление
    // карты(ключа)"); an unknown one (a newer program's) is shown as written.
    static QString OperationText(const std::string& operation);
    // A line's time, as the file keeps it in UTC, in the operator's local time.
    static QString LocalTime(const std::string& utc);

    QLineEdit* edFilter;
    QTreeWidget* lvJournal;
    QLabel* lCount;
    QPushButton* bbClose;

  private:
    void ApplyFilter();
    std::vector<journal::Line> lines_;
    const int typeFormat_;
    // The keys each row names (its key, and a renumbered key's or the vardex's old and
    // new number), whatever format they were shown in; 0 where none.
    std::vector<std::array<std::uint32_t, 3>> keysOfRow_;
};
