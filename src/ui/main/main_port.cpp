// TFMain: the port box and the link the actions hold open on the chosen port.
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>

#include "core/link/serial_port.h"
#include "ui/main/main_window.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {
std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The drop-down shows each port with its adapter; the field itself keeps the bare path,
// which is what can be typed and opened.
class PortItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(TFMain::PortDescriptionRole).toString();
        if (!description.isEmpty()) {
            option->text += QStringLiteral(" — ") + description;
        }
    }
};

QString DescriptionLine(const PortEntry& e) {
    QString line = e.description;
    if (!e.serialNumber.isEmpty()) {
        line += (line.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("S/N ") +
                e.serialNumber;
    }
    return line;
}

const QString kAbsent = QStringLiteral("не подключён");

}  // namespace

void TFMain::FillPortList() {
    if (!cboxPort->itemDelegate() || !dynamic_cast<PortItemDelegate*>(cboxPort->itemDelegate())) {
        cboxPort->setItemDelegate(new PortItemDelegate(cboxPort));
    }
    if (!portWatcher_) {
        // Qt gives no signal when an adapter comes or goes: the device folders change.
        portWatcher_ = new QFileSystemWatcher(this);
        portRefresh_ = new QTimer(this);
        portRefresh_->setSingleShot(true);
        portRefresh_->setInterval(300);  // udev makes the node, then the links
        connect(portWatcher_, &QFileSystemWatcher::directoryChanged, portRefresh_,
                qOverload<>(&QTimer::start));
        connect(portRefresh_, &QTimer::timeout, this, &TFMain::RefreshPorts);
    }
    for (const QString& folder : {QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")}) {
        if (QFileInfo::exists(folder) && !portWatcher_->directories().contains(folder)) {
            portWatcher_->addPath(folder);
        }
    }
    cboxPort->clear();
    QList<PortEntry> entries = deps_.ports->Entries();
    if (!deps_.portArg.isEmpty() &&
        std::none_of(entries.begin(), entries.end(),
                     [this](const PortEntry& e) { return e.path == deps_.portArg; })) {
        entries.append(PortEntry{deps_.portArg, deps_.portArg, QString(), QString()});
    }
    std::sort(entries.begin(), entries.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.path < b.path; });
    for (const PortEntry& e : entries) {
        cboxPort->addItem(e.path);
        const int i = cboxPort->count() - 1;
        const QString line = DescriptionLine(e);
        cboxPort->setItemData(i, e.device, PortDeviceRole);
        cboxPort->setItemData(i, line, PortDescriptionRole);
        cboxPort->setItemData(i, Qt::convertFromPlainText(line.isEmpty() ? e.device : line),
                              Qt::ToolTipRole);
        cboxPort->setItemData(i, line.isEmpty() ? e.path : e.path + QStringLiteral(" — ") + line,
                              Qt::AccessibleTextRole);
    }
    cboxPort->setCurrentIndex(-1);
}

namespace {
// The item of `path`: by its path, or by the device it names (a port remembered as
// /dev/ttyUSB0 before its adapter had a stable name).
int FindPort(QComboBox* box, const QString& path) {
    int i = box->findText(path, Qt::MatchExactly);
    if (i < 0 && !path.isEmpty()) {
        i = box->findData(path, TFMain::PortDeviceRole, Qt::MatchExactly);
    }
    return i;
}

// A port that is chosen but not present stays chosen, marked, in its sorted place.
int AddAbsentPort(QComboBox* box, const QString& path) {
    int i = 0;
    while (i < box->count() && box->itemText(i) < path) {
        ++i;
    }
    box->insertItem(i, path);
    box->setItemData(i, path, TFMain::PortDeviceRole);
    box->setItemData(i, kAbsent, TFMain::PortDescriptionRole);
    box->setItemData(i, kAbsent, Qt::ToolTipRole);
    box->setItemData(i, path + QStringLiteral(" — ") + kAbsent, Qt::AccessibleTextRole);
    return i;
}
}  // namespace

void TFMain::SelectRememberedPort() {
    // A port given on the command line wins over the remembered one.
    QString wanted = deps_.portArg;
    if (wanted.isEmpty()) {
        wanted = deps_.settings->ReadComPort().value_or(QString());
    }
    if (wanted.isEmpty()) {
        cboxPort->setCurrentIndex(cboxPort->count() > 0 ? 0 : -1);
        return;
    }
    // An adapter unplugged at start is still the operator's choice: shown as absent,
    // not replaced by whichever port happens to be first.
    int i = FindPort(cboxPort, wanted);
    if (i < 0) {
        i = AddAbsentPort(cboxPort, wanted);
    }
    cboxPort->setCurrentIndex(i);
}

void TFMain::RefreshPorts() {
    const QString chosen = SelectedPortPath();
    const QString typed = cboxPort->currentText();
    const bool typing = cboxPort->lineEdit() && cboxPort->lineEdit()->hasFocus() && typed != chosen;
    FillPortList();
    if (!chosen.isEmpty()) {
        int i = FindPort(cboxPort, chosen);
        if (i < 0) {
            i = AddAbsentPort(cboxPort, chosen);
        }
        cboxPort->setCurrentIndex(i);
    }
    if (typing) {
        cboxPort->setEditText(typed);
    }
}

void TFMain::cboxPortChange() {
    if (cboxPort->currentIndex() < 0) {
        return;  // nothing to remember; SelectedPort keeps its value
    }
    deps_.settings->WriteComPort(cboxPort->currentText());
    SelectedPort = cboxPort->currentIndex() + 1;
}

QString TFMain::SelectedPortPath() const {
    const int i = cboxPort->currentIndex();
    return i < 0 ? QString() : cboxPort->itemText(i);
}

// ---- The link ----------------------------------------------------------------------------------

// A path typed into the port box and not yet confirmed with Enter is the port the
// operator sees and means: it joins the list in its sorted place and is selected.
bool TFMain::TakeTypedPort() {
    QComboBox* box = cboxPort;
    const QString typed = box->currentText().trimmed();
    if (typed.isEmpty() ||
        (box->currentIndex() >= 0 && box->itemText(box->currentIndex()) == typed))
        return false;
    int i = box->findText(typed, Qt::MatchExactly);
    if (i < 0) {
        i = 0;
        while (i < box->count() && box->itemText(i) < typed)
            ++i;
        box->insertItem(i, typed);
    }
    box->setCurrentIndex(i);
    return true;
}

bool TFMain::OpenLink() {
    if (FileOpen && Address < 0) {
        // Which controller of the line the file is for is not known: none is spoken to.
        Prompt().Error(this, QStringLiteral("Ошибка"),
                       QStringLiteral("В файле адрес контроллера на линии вне пределов 0–254: "
                                      "обмен с контроллером невозможен, пока адрес не исправлен"));
        return false;
    }
    // An emptied box is no port: the previous one is not used behind the operator's back.
    if (cboxPort->currentText().trimmed().isEmpty()) {
        Prompt().Error(this, QStringLiteral("Ошибка"),
                       QStringLiteral("Не выбран порт подключения!"));
        return false;
    }
    if (TakeTypedPort()) {
        cboxPortChange();
    }
    std::string error;
    if (!link_->Open(Local(SelectedPortPath()), error)) {
        Prompt().Error(this, QString::fromUtf8(TSerialPort::OpenErrorCaption()),
                       QString::fromStdString(error));
        return false;
    }
    return true;
}

void TFMain::CloseLink() {
    link_->Close();
}

TFMain::LinkHold::LinkHold(TFMain& owner) : owner_(owner), ok_(owner.OpenLink()) {}

TFMain::LinkHold::~LinkHold() {
    owner_.CloseLink();
}
