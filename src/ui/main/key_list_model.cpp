#include "ui/main/key_list_model.h"

#include <algorithm>

namespace {
bool Before(const KeyRow& a, const KeyRow& b) {
    return QString::compare(a.caption, b.caption, Qt::CaseSensitive) < 0;
}
}  // namespace

int KeyListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int KeyListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant KeyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count()) {
        return {};
    }
    const KeyRow& r = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return index.column() == 0 ? r.caption : r.description;
    }
    if (role == KeyCodeRole) {
        return QVariant::fromValue<quint32>(r.code);
    }
    return {};
}

QVariant KeyListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return section == 0 ? QStringLiteral("Карта(ключ)") : QStringLiteral("Описание");
    }
    return {};
}

void KeyListModel::Sort() {
    std::stable_sort(rows_.begin(), rows_.end(), Before);
}

int KeyListModel::SortedPlace(const QString& caption) const {
    KeyRow probe;
    probe.caption = caption;
    return static_cast<int>(std::upper_bound(rows_.begin(), rows_.end(), probe, Before) -
                            rows_.begin());
}

void KeyListModel::Reset(std::vector<KeyRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    Sort();
    endResetModel();
}

int KeyListModel::Add(KeyRow row) {
    const int at = SortedPlace(row.caption);
    beginInsertRows(QModelIndex(), at, at);
    rows_.insert(rows_.begin() + at, std::move(row));
    endInsertRows();
    return at;
}

int KeyListModel::Update(int row, KeyRow value) {
    if (row < 0 || row >= Count()) {
        return -1;
    }
    Remove(row);
    return Add(std::move(value));
}

void KeyListModel::Remove(int row) {
    if (row < 0 || row >= Count()) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void KeyListModel::Reformat(int typeFormat) {
    beginResetModel();
    for (KeyRow& r : rows_) {
        r.caption = QString::fromStdString(Format(typeFormat, r.code));
    }
    Sort();
    endResetModel();
}

int KeyListModel::FindRow(KeyCode code) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].code == code) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
