#include "ui/main/key_filter.h"

#include "core/keys/cp1251.h"
#include "core/keys/key_number.h"
#include "ui/main/key_list_model.h"

KeyFilterModel::KeyFilterModel(KeyListModel* keys, const int* typeFormat, QObject* parent)
    : QSortFilterProxyModel(parent), keys_(keys), typeFormat_(typeFormat) {
    setSourceModel(keys);
    // The list changes one row at a time (add, edit, delete) or all at once (open, format
    // switch): the search's index is rebuilt lazily, at the next search over it.
    connect(keys, &QAbstractItemModel::modelReset, this, &KeyFilterModel::ListChanged);
    connect(keys, &QAbstractItemModel::layoutChanged, this, &KeyFilterModel::ListChanged);
    connect(keys, &QAbstractItemModel::rowsInserted, this, &KeyFilterModel::ListChanged);
    connect(keys, &QAbstractItemModel::rowsRemoved, this, &KeyFilterModel::ListChanged);
    connect(keys, &QAbstractItemModel::dataChanged, this, &KeyFilterModel::ListChanged);
}

void KeyFilterModel::SetText(const QString& text) {
    text_ = text;
    query_ = MakeKeyQuery(*typeFormat_, text.toStdString());
    Apply();
}

void KeyFilterModel::ListChanged() {
    indexStale_ = true;
    if (Filtering())
        Apply();
    else
        emit FoundChanged();
}

void KeyFilterModel::Apply() {
    if (Filtering()) {
        if (indexStale_) {
            index_.Clear();
            index_.Reserve(keys_->Rows().size());
            std::string cp1251;
            for (const KeyRow& row : keys_->Rows()) {
                // A description the file could not hold never gets into the list.
                Utf8ToCp1251(row.description.toStdString(), cp1251);
                index_.Append(row.code, cp1251);
            }
            indexStale_ = false;
        }
        index_.Match(query_, flags_);
    }
    invalidateRowsFilter();
    emit FoundChanged();
}

int KeyFilterModel::Found() const {
    return rowCount();
}

bool KeyFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (!Filtering())
        return true;
    return sourceRow >= 0 && static_cast<std::size_t>(sourceRow) < flags_.size() &&
           flags_[static_cast<std::size_t>(sourceRow)] != 0;
}

QVariant KeyFilterModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::ToolTipRole && index.isValid()) {
        const int row = mapToSource(index).row();
        if (row >= 0 && row < keys_->Count()) {
            const KeyRow& r = keys_->Row(row);
            QString tip = QString::fromStdString(KeyFormsText(r.code));
            if (!r.description.isEmpty())
                tip = r.description + QStringLiteral("\n") + tip;
            return tip;
        }
    }
    return QSortFilterProxyModel::data(index, role);
}
