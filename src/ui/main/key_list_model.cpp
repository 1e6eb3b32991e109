#include "ui/main/key_list_model.h"

#include <QTextDocument>
#include <algorithm>
#include <string>
#include <utility>

#include "core/keys/display_list.h"

namespace {
// The list's order is the core's (KeyListBefore); captions are plain ASCII.
bool Before(const KeyRow& a, const KeyRow& b) {
    return KeyListBefore(a.caption.toLatin1().toStdString(), b.caption.toLatin1().toStdString());
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
    if (role == Qt::DisplayRole) {
        return index.column() == 0 ? r.caption : r.description;
    }
    if (role == Qt::ToolTipRole) {
        // A tooltip guesses rich text: a description is shown as typed.
        const QString& text = index.column() == 0 ? r.caption : r.description;
        return text.isEmpty() ? QString() : Qt::convertFromPlainText(text);
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

std::vector<int> KeyListModel::Sort() {
    // Each caption's bytes once, not once per comparison (65,535 rows).
    std::vector<std::pair<std::string, size_t>> order(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i)
        order[i] = {rows_[i].caption.toLatin1().toStdString(), i};
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return KeyListBefore(a.first, b.first); });
    std::vector<KeyRow> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> from;
    from.reserve(rows_.size());
    for (const auto& o : order) {
        sorted.push_back(std::move(rows_[o.second]));
        from.push_back(static_cast<int>(o.second));
    }
    rows_ = std::move(sorted);
    return from;
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
    std::string text;
    for (KeyRow& r : rows_) {
        text.clear();
        AppendFormatted(text, typeFormat, r.code);
        r.caption = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    }
    emit Reordered(Sort());
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
