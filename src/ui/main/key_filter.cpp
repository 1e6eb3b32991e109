#include "ui/main/key_filter.h"

#include <QTextDocument>
#include <QTimer>

#include "core/keys/cp1251.h"
#include "core/keys/key_number.h"
#include "ui/main/key_list_model.h"

namespace {

// A description in Windows-1251, straight from its UTF-16: the list's descriptions are
// almost all ASCII and Russian letters, and 65,535 of them are converted at each new
// list. Anything else goes the long way.
void ToCp1251(const QString& text, std::string& out) {
    out.clear();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u >= 0x0410 && u <= 0x044F) {
            out.push_back(static_cast<char>(u - 0x0410 + 0xC0));
        } else if (u == 0x0401 || u == 0x0451) {
            out.push_back(static_cast<char>(u == 0x0401 ? 0xA8 : 0xB8));
        } else {
            // A description the file could not hold never gets into the list.
            Utf8ToCp1251(text.toStdString(), out);
            return;
        }
    }
}

}  // namespace

KeyFilterModel::KeyFilterModel(KeyListModel* keys, const int* typeFormat, QObject* parent)
    : QSortFilterProxyModel(parent), keys_(keys), typeFormat_(typeFormat) {
    setSourceModel(keys);
    connect(keys, &KeyListModel::Reordered, this, &KeyFilterModel::RowsReordered);
    connect(keys, &QAbstractItemModel::modelReset, this, &KeyFilterModel::ListReplaced);
    connect(keys, &QAbstractItemModel::layoutChanged, this, &KeyFilterModel::ListReplaced);
    connect(keys, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { RowsInserted(first, last); });
    connect(keys, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { RowsRemoved(first, last); });
    connect(keys, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                RowsChanged(from.row(), to.row());
            });
}

void KeyFilterModel::SetText(const QString& text) {
    text_ = text;
    Apply();
}

void KeyFilterModel::RowsReordered(const std::vector<int>& order) {
    if (indexStale_ || order.size() != entryOf_.size())
        return;
    std::vector<std::uint32_t> moved(order.size());
    for (std::size_t row = 0; row < order.size(); ++row)
        moved[row] = entryOf_[static_cast<std::size_t>(order[row])];
    entryOf_.swap(moved);
    reordered_ = true;
}

void KeyFilterModel::ListReplaced() {
    if (reordered_) {
        // Nothing in the index depends on the format: what a number reads as is worked
        // out from the query at each search.
        reordered_ = false;
        ListChanged();
        return;
    }
    indexStale_ = true;
    if (!buildPosted_ && keys_->Count() > 0) {
        buildPosted_ = true;
        QTimer::singleShot(0, this, [this] {
            buildPosted_ = false;
            if (indexStale_)
                BuildIndex();
        });
    }
    ListChanged();
}

void KeyFilterModel::RowsInserted(int first, int last) {
    if (!indexStale_) {
        std::vector<std::uint32_t> entries;
        for (int row = first; row <= last; ++row)
            entries.push_back(IndexRow(row));
        entryOf_.insert(entryOf_.begin() + first, entries.begin(), entries.end());
    }
    ListChanged();
}

void KeyFilterModel::RowsRemoved(int first, int last) {
    if (!indexStale_) {
        entryOf_.erase(entryOf_.begin() + first, entryOf_.begin() + last + 1);
        dead_ += static_cast<std::size_t>(last - first + 1);
    }
    ListChanged();
}

void KeyFilterModel::RowsChanged(int first, int last) {
    if (!indexStale_) {
        for (int row = first; row <= last; ++row) {
            entryOf_[static_cast<std::size_t>(row)] = IndexRow(row);
            ++dead_;
        }
    }
    ListChanged();
}

void KeyFilterModel::ListChanged() {
    // Dead entries only cost scanning time: the index is built anew once they outnumber
    // the live ones.
    if (!indexStale_ && dead_ > entryOf_.size())
        indexStale_ = true;
    if (Filtering())
        Apply();
    else
        emit FoundChanged();
}

std::uint32_t KeyFilterModel::IndexRow(int row) {
    const KeyRow& r = keys_->Row(row);
    ToCp1251(r.description, cp1251_);
    const auto entry = static_cast<std::uint32_t>(index_.Size());
    index_.Append(r.code, cp1251_);
    return entry;
}

void KeyFilterModel::BuildIndex() {
    const int rows = keys_->Count();
    index_.Clear();
    index_.Reserve(static_cast<std::size_t>(rows));
    entryOf_.resize(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row)
        entryOf_[static_cast<std::size_t>(row)] = IndexRow(row);
    dead_ = 0;
    indexStale_ = false;
}

void KeyFilterModel::Apply() {
    // Read at each search: after a format switch a number is read the new way.
    query_ = MakeKeyQuery(*typeFormat_, text_.toStdString());
    if (Filtering()) {
        if (indexStale_)
            BuildIndex();
        index_.Match(query_, flags_);
    }
    // The rows shown are worked out again in one pass. Removing the hidden rows one
    // range at a time would be answered by the view range by range, and a search that
    // leaves every other row of 65,535 would take a second.
    invalidate();
    emit FoundChanged();
}

int KeyFilterModel::Found() const {
    return rowCount();
}

bool KeyFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (!Filtering())
        return true;
    // A row inserted a moment ago is looked at before its entry exists; the search runs
    // again right after it.
    if (indexStale_ || sourceRow < 0 || static_cast<std::size_t>(sourceRow) >= entryOf_.size())
        return false;
    const std::uint32_t entry = entryOf_[static_cast<std::size_t>(sourceRow)];
    return entry < flags_.size() && flags_[entry] != 0;
}

QVariant KeyFilterModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::ToolTipRole && index.isValid()) {
        const int row = mapToSource(index).row();
        if (row >= 0 && row < keys_->Count()) {
            const KeyRow& r = keys_->Row(row);
            QString tip = QString::fromStdString(KeyFormsText(r.code));
            if (!r.description.isEmpty())
                tip = r.description + QStringLiteral("\n") + tip;
            return Qt::convertFromPlainText(tip);  // as typed, never guessed as rich text
        }
    }
    return QSortFilterProxyModel::data(index, role);
}
