// TFScanLine, "Поиск контроллеров на линии": the scan of the line (TScanJob) with its
// progress, the time left, Stop, and the list of what answered as it grows. A found
// controller can then be loaded into a new file, or its address taken into the open file.
#pragma once

#include "core/jobs/scan_job.h"
#include "ui/dialogs/jobdialog.h"

class QLabel;
class QTreeWidget;

class TFScanLine : public TJobDialog, public TScanSink {
    Q_OBJECT
  public:
    // What the operator chose for the selected controller when the dialog closed with OK.
    enum class Choice { None, Load, TakeAddress };

    // `line` is the line's worker itself: the scan addresses every request on its own.
    // `fileOpen` enables taking an address into the open file.
    TFScanLine(QWidget* owner, TRequester& line, std::function<void()> closeLink, bool fileOpen,
               const ScanSettings& settings = {});

    TScanJob& Scan() const { return static_cast<TScanJob&>(Job()); }
    // The list alone, without loading one controller or taking its address: for a host
    // that takes every controller found (a site's doors from a scan).
    void ListOnly();

    QTreeWidget* lvFound = nullptr;
    QLabel* lInfo = nullptr;
    QPushButton* bbLoad = nullptr;  // "Загрузить в новый файл"
    QPushButton* bbTake = nullptr;  // "Адрес в открытый файл"

    Choice choice = Choice::None;
    int chosenAddress = -1;

    void ScanAnswered(const ScanEntry& entry) override;
    void SetProgressPosition(int position) override;
    void Finished(const JobBox& box) override;
    void bbStopClick();

  private:
    void UpdateButtons();
    void Choose(Choice choice);
    bool fileOpen_;
    bool over_ = false;
};
