#include "ui/site/people_model.h"

#include <malloc.h>
#include <QFile>
#include <QTextDocument>

#include "core/keys/cp1251.h"
#include "core/keys/key_number.h"

namespace {
QString FromCp1251(const std::string& bytes) {
    return QString::fromStdString(Cp1251ToUtf8(bytes));
}
}  // namespace

PeopleModel::PeopleModel(QObject* parent) : QAbstractTableModel(parent) {}

void PeopleModel::Load(const QString& sitePath, const Site& site) {
    beginResetModel();
    site_ = site;
    const std::string path = QFile::encodeName(sitePath).toStdString();
    std::vector<DbModel> models(site.doors.size());
    doors_.assign(site.doors.size(), DoorKeys{});
    for (std::size_t i = 0; i < site.doors.size(); ++i) {
        DbResult r = LoadDbFile(DoorFilePath(path, site.doors[i]), models[i]);
        doors_[i].readable = r.ok && r.error.empty();
        doors_[i].error = r.error;
        if (doors_[i].readable)
            doors_[i].keys = &models[i].keys;
    }
    view_ = BuildPeopleView(doors_);
    differing_.clear();
    for (std::size_t row = 0; row < view_.rows.size(); ++row) {
        if (!view_.rows[row].descriptionsDiffer)
            continue;
        for (std::size_t d = 0; d < doors_.size(); ++d) {
            const std::int32_t at = view_.At(row, d);
            if (at >= 0)
                differing_[row * doors_.size() + d] = FromCp1251((*doors_[d].keys)[at].description);
        }
    }
    for (DoorKeys& d : doors_)
        d.keys = nullptr;
    models.clear();
    models.shrink_to_fit();
    // The doors' key lists were the bulk of a site's memory and are gone: give it back.
    malloc_trim(0);
    numbers_.clear();
    haystack_.clear();
    numbers_.reserve(static_cast<int>(view_.rows.size()));
    haystack_.reserve(view_.rows.size());
    for (const PeopleView::Row& row : view_.rows) {
        const QString number = QString::fromStdString(Format(site_.typeFormat, row.code));
        numbers_.push_back(number);
        haystack_.push_back((number + QLatin1Char('\t') + FromCp1251(row.description)).toLower());
    }
    shown_.resize(view_.rows.size());
    for (std::size_t i = 0; i < shown_.size(); ++i)
        shown_[i] = static_cast<int>(i);
    endResetModel();
}

void PeopleModel::Filter(const QString& text) {
    beginResetModel();
    shown_.clear();
    const QString needle = text.trimmed().toLower();
    KeyCode named = 0;
    if (!needle.isEmpty()) {
        KeyNumber number = ParseKeyNumber(site_.typeFormat, needle.toStdString());
        if (number)
            named = number.code;
    }
    for (std::size_t i = 0; i < view_.rows.size(); ++i) {
        if (needle.isEmpty() || view_.rows[i].code == named || haystack_[i].contains(needle))
            shown_.push_back(static_cast<int>(i));
    }
    endResetModel();
}

int PeopleModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int PeopleModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FirstDoorColumn + static_cast<int>(site_.doors.size());
}

KeyCode PeopleModel::CodeAt(int shownRow) const {
    return view_.rows[shown_[shownRow]].code;
}

int PeopleModel::ShownRowOf(KeyCode code) const {
    for (std::size_t i = 0; i < shown_.size(); ++i)
        if (view_.rows[shown_[i]].code == code)
            return static_cast<int>(i);
    return -1;
}

QString PeopleModel::DoorError(int door) const {
    return QString::fromStdString(doors_[door].error);
}

QString PeopleModel::DescriptionAt(int viewRow, int door) const {
    if (!view_.Holds(viewRow, door))
        return QString();
    if (!view_.rows[viewRow].descriptionsDiffer)
        return FromCp1251(view_.rows[viewRow].description);
    auto it = differing_.find(static_cast<std::size_t>(viewRow) * doors_.size() + door);
    return it == differing_.end() ? QString() : it->second;
}

QString PeopleModel::RowDescription(int viewRow) const {
    return FromCp1251(view_.rows[viewRow].description);
}

QVariant PeopleModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int viewRow = shown_[index.row()];
    const PeopleView::Row& row = view_.rows[viewRow];
    const int column = index.column();
    if (column == NumberColumn) {
        if (role == Qt::DisplayRole)
            return numbers_[viewRow];
        return {};
    }
    if (column == DescriptionColumn) {
        if (role == Qt::DisplayRole) {
            QString text = FromCp1251(row.description);
            // The mark of a key that the doors describe differently.
            return row.descriptionsDiffer ? QStringLiteral("≠ ") + text : text;
        }
        if (role == Qt::ToolTipRole && row.descriptionsDiffer) {
            QString tip = QStringLiteral("Описание различается по дверям:");
            for (std::size_t d = 0; d < site_.doors.size(); ++d) {
                if (!view_.Holds(viewRow, d))
                    continue;
                tip += QLatin1Char('\n') + QString::fromStdString(site_.doors[d].name) +
                       QStringLiteral(": ") + DescriptionAt(viewRow, static_cast<int>(d));
            }
            return Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal);
        }
        return {};
    }
    const int door = column - FirstDoorColumn;
    if (!doors_[door].readable) {
        if (role == Qt::DisplayRole)
            return QStringLiteral("?");
        if (role == Qt::ToolTipRole)
            return Qt::convertFromPlainText(QStringLiteral("Файл двери не читается: ") +
                                            DoorError(door));
        return {};
    }
    if (role == Qt::CheckStateRole)
        return view_.Holds(viewRow, door) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::AccessibleTextRole)
        return view_.Holds(viewRow, door) ? QStringLiteral("есть") : QStringLiteral("нет");
    return {};
}

QVariant PeopleModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    if (section == NumberColumn)
        return QStringLiteral("Карта(ключ)");
    if (section == DescriptionColumn)
        return QStringLiteral("Описание");
    const int door = section - FirstDoorColumn;
    const QString name = QString::fromStdString(site_.doors[door].name);
    if (role == Qt::ToolTipRole) {
        QString tip = name + QLatin1Char('\n') + QString::fromStdString(site_.doors[door].file) +
                      QLatin1Char('\n') + QString::fromStdString(site_.doors[door].line);
        if (!doors_[door].readable)
            tip += QStringLiteral("\nФайл не читается: ") + DoorError(door);
        return Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal);
    }
    if (!doors_[door].readable)
        return name + QStringLiteral(" (файл не читается)");
    return name + QStringLiteral(" (") + QString::number(view_.keysPerDoor[door]) +
           QLatin1Char(')');
}

Qt::ItemFlags PeopleModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() >= FirstDoorColumn && doors_[index.column() - FirstDoorColumn].readable)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool PeopleModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() < FirstDoorColumn)
        return false;
    const int door = index.column() - FirstDoorColumn;
    if (!doors_[door].readable)
        return false;
    const bool grant = value.toInt() == Qt::Checked;
    const int viewRow = shown_[index.row()];
    if (grant == view_.Holds(viewRow, door))
        return false;
    emit toggleRequested(view_.rows[viewRow].code, door, grant);
    return false;
}
