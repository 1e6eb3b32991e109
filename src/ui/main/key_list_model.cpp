#include "ui/main/key_list_model.h"

#include <QTextDocument>
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "core/keys/display_list.h"

namespace {
// The list's order is the core's (KeyListBefore); captions are plain ASCII.
bool Before(const KeyRow& a, const KeyRow& b) {
    return KeyListBefore(a.caption.toLatin1().toStdString(), b.caption.toLatin1().toStdString());
}

// A caption as the sort compares it: its bytes, zero after them. Every printed form is
// ASCII and far shorter, so one memcmp gives the byte order of KeyListBefore.
using SortKey = std::array<char, 32>;

SortKey KeyOf(std::string_view text) {
    SortKey key{};
    std::memcpy(key.data(), text.data(), std::min(text.size(), key.size()));
    return key;
}

// `caption` holds `text` (ASCII) afterwards, in its own buffer where it has one: a format
// switch rewrites 65,535 captions without allocating each anew.
void SetCaption(QString& caption, std::string_view text) {
    caption.resize(static_cast<qsizetype>(text.size()));
    QChar* out = caption.data();
    for (char c : text)
        *out++ = QLatin1Char(c);
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
    std::vector<SortKey> keys(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i)
        keys[i] = KeyOf(rows_[i].caption.toLatin1().toStdString());
    return SortBy(keys);
}

std::vector<int> KeyListModel::SortBy(const std::vector<SortKey>& keys) {
    std::vector<int> from(rows_.size());
    for (size_t i = 0; i < from.size(); ++i)
        from[i] = static_cast<int>(i);
    // Rows of equal text keep their order.
    std::sort(from.begin(), from.end(), [&keys](int a, int b) {
        const int c = std::memcmp(keys[static_cast<size_t>(a)].data(),
                                  keys[static_cast<size_t>(b)].data(), sizeof(SortKey));
        return c < 0 || (c == 0 && a < b);
    });
    std::vector<KeyRow> sorted;
    sorted.reserve(rows_.size());
    for (int i : from)
        sorted.push_back(std::move(rows_[static_cast<size_t>(i)]));
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
    std::vector<SortKey> keys(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        text.clear();
        AppendFormatted(text, typeFormat, rows_[i].code);
        SetCaption(rows_[i].caption, text);
        keys[i] = KeyOf(text);
    }
    emit Reordered(SortBy(keys));
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
