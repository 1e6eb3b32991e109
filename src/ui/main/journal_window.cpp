#include "ui/main/journal_window.h"

#include <algorithm>

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/keys/key_number.h"
#include "ui/help/help.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

QString U(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString TFJournal::OperationText(const std::string& operation) {
    static const struct {
        const char* operation;
        const char* text;
    } kTexts[] = {
        {journal::kKeyAdd, "Добавление карты(ключа)"},
        {journal::kKeyRemove, "Удаление карты(ключа)"},
        {journal::kKeyRenumber, "Изменение номера карты(ключа)"},
        {journal::kKeyDescription, "Изменение описания карты(ключа)"},
        {journal::kTimes, "Настройки контроллера"},
        {journal::kVardex, "Установка вардекса"},
        {journal::kFormat, "Формат отображения"},
        {journal::kNewFile, "Создание нового файла"},
        {journal::kLoad, "Загрузка из контроллера"},
        {journal::kExport, "Экспорт в контроллер"},
        {journal::kCheck, "Проверка новых карт(ключей)"},
        {journal::kReconcile, "Сверка с контроллером"},
        {journal::kImport, "Импорт карт(ключей)"},
        {journal::kEnrol, "Регистрация карт(ключей)"},
    };
    for (const auto& t : kTexts) {
        if (operation == t.operation) {
            return QString::fromUtf8(t.text);
        }
    }
    return U(operation);
}

QString TFJournal::LocalTime(const std::string& utc) {
    QDateTime time = QDateTime::fromString(U(utc), Qt::ISODate);
    if (!time.isValid()) {
        return U(utc);
    }
    return time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

TFJournal::TFJournal(QWidget* owner, const QString& databasePath, int typeFormat)
    : QDialog(owner), typeFormat_(typeFormat) {
    setObjectName(QStringLiteral("FJournal"));
    setWindowTitle(QStringLiteral("Журнал изменений"));
    help::SetContext(this, 30);
    SizeWindow(this, 0.85, 0.7);

    auto* column = new QVBoxLayout(this);
    auto* filterRow = new QHBoxLayout();
    auto* lFilter = new QLabel(QStringLiteral("&Фильтр:"), this);
    edFilter = new QLineEdit(this);
    edFilter->setObjectName(QStringLiteral("edFilter"));
    edFilter->setClearButtonEnabled(true);
    edFilter->setAccessibleName(QStringLiteral("Фильтр"));
    lFilter->setBuddy(edFilter);
    filterRow->addWidget(lFilter);
    filterRow->addWidget(edFilter, 1);
    column->addLayout(filterRow);

    lvJournal = new QTreeWidget(this);
    lvJournal->setObjectName(QStringLiteral("lvJournal"));
    lvJournal->setAccessibleName(QStringLiteral("Журнал изменений"));
    lvJournal->setRootIsDecorated(false);
    lvJournal->setUniformRowHeights(true);
    lvJournal->setAllColumnsShowFocus(true);
    lvJournal->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvJournal->setHeaderLabels(
        {QStringLiteral("Время"), QStringLiteral("Пользователь"), QStringLiteral("Компьютер"),
         QStringLiteral("Действие"), QStringLiteral("Карта(ключ)"), QStringLiteral("Описание"),
         QStringLiteral("Было"), QStringLiteral("Стало"), QStringLiteral("Результат")});
    lvJournal->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lvJournal->header()->setStretchLastSection(true);
    column->addWidget(lvJournal, 1);

    auto* bottom = new QHBoxLayout();
    lCount = new QLabel(this);
    lCount->setObjectName(QStringLiteral("lCount"));
    bottom->addWidget(lCount, 1);
    bbClose = new QPushButton(QStringLiteral("Закрыть"), this);
    bbClose->setObjectName(QStringLiteral("bbClose"));
    bbClose->setAutoDefault(false);
    connect(bbClose, &QPushButton::clicked, this, &QDialog::reject);
    bottom->addWidget(bbClose);
    column->addLayout(bottom);

    setTabOrder(edFilter, lvJournal);
    setTabOrder(lvJournal, bbClose);

    const std::string error =
        journal::ReadJournal(QFile::encodeName(databasePath).toStdString(), lines_);
    if (!error.empty()) {
        AppPrompter().Message(
            this, QStringLiteral("Ошибка"),
            QStringLiteral("Не удалось прочитать журнал изменений %1:\r%2")
                .arg(QFile::decodeName(QByteArray::fromStdString(
                         journal::JournalPath(QFile::encodeName(databasePath).toStdString()))),
                     U(error)),
            PromptIcon::Error, PromptButtons::Ok);
    }
    // Newest first: the question is nearly always about the last days.
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
        const journal::Line& line = *it;
        QStringList cells;
        if (line.wellFormed) {
            cells = {LocalTime(line.time),   U(line.login),
                     U(line.host),           OperationText(line.entry.operation),
                     U(line.entry.key),      U(line.entry.description),
                     U(line.entry.oldValue), U(line.entry.newValue),
                     U(line.entry.outcome)};
        } else {
            cells = {QString(), QString(), QString(),
                     QString(), QString(), U(line.entry.description)};
        }
        for (QString& cell : cells) {
            // One row per line, whatever a description holds.
            cell.replace(QLatin1Char('\n'), QLatin1Char(' '))
                .replace(QLatin1Char('\r'), QLatin1Char(' '));
        }
        auto* item = new QTreeWidgetItem(lvJournal, cells);
        if (!line.time.empty())
            item->setToolTip(0, Qt::convertFromPlainText(U(line.time)));
        std::array<std::uint32_t, 3> keys{};
        if (line.wellFormed) {
            keys[0] = journal::KeyCodeOf(line.entry.key);
            const std::string& op = line.entry.operation;
            if (op == journal::kKeyRenumber || op == journal::kVardex) {
                keys[1] = journal::KeyCodeOf(line.entry.oldValue);
                keys[2] = journal::KeyCodeOf(line.entry.newValue);
            }
        }
        keysOfRow_.push_back(keys);
    }
    connect(edFilter, &QLineEdit::textChanged, this, &TFJournal::ApplyFilter);
    ApplyFilter();
    edFilter->setFocus();
}

void TFJournal::ApplyFilter() {
    const QString filter = edFilter->text().trimmed();
    // A key number in any printed form finds the key's lines, whichever format they
    // were written in; any text also finds itself.
    const KeyNumber number = ParseKeyNumber(typeFormat_, filter.toStdString());
    int shown = 0;
    for (int i = 0; i < lvJournal->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lvJournal->topLevelItem(i);
        bool match = filter.isEmpty();
        if (!match && number) {
            const auto& keys = keysOfRow_[static_cast<size_t>(i)];
            match = std::find(keys.begin(), keys.end(), number.code) != keys.end();
        }
        for (int c = 0; !match && c < item->columnCount(); ++c) {
            match = item->text(c).contains(filter, Qt::CaseInsensitive);
        }
        item->setHidden(!match);
        shown += match ? 1 : 0;
    }
    lCount->setText(
        QStringLiteral("Записей: %1 из %2").arg(shown).arg(lvJournal->topLevelItemCount()));
}
