// The rows of the key list: one per key, kept sorted by the first column's text.
// A plain model over a vector, so that tens of thousands of keys open and re-render
// quickly.
#pragma once

#include <QAbstractTableModel>
#include <array>
#include <vector>

#include "core/keys/key_code.h"

struct KeyRow {
    KeyCode code = 0;
    QString caption;      // Format(TypeFormat, code)
    QString description;  // Unicode; the file holds it in Windows-1251
};

class KeyListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int KeyCodeRole = Qt::UserRole;

    explicit KeyListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Replaces every row (sorted here).
    void Reset(std::vector<KeyRow> rows);
    // Inserts one row at its sorted place; returns its row number.
    int Add(KeyRow row);
    // Changes a row and moves it to its sorted place; returns its new row number.
    int Update(int row, KeyRow value);
    void Remove(int row);
    // Every caption formatted again from the stored codes, then one re-sort. The rows
    // keep their keys and descriptions: Reordered tells where each went before the reset.
    void Reformat(int typeFormat);

    // The first row (in list order) carrying `code`, or -1.
    int FindRow(KeyCode code) const;
    const KeyRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
    const std::vector<KeyRow>& Rows() const { return rows_; }
    int Count() const { return static_cast<int>(rows_.size()); }

  signals:
    // Row i is now the row order[i] was; sent just before the reset that shows it.
    void Reordered(const std::vector<int>& order);

  private:
    // Sorts the rows; returns where each row came from.
    std::vector<int> Sort();
    // The same by the rows' sort keys, worked out by the caller (a format switch has them
    // from the captions it writes).
    std::vector<int> SortBy(const std::vector<std::array<char, 32>>& keys);
    int SortedPlace(const QString& caption) const;

    std::vector<KeyRow> rows_;
};
