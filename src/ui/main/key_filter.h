// The key list as the search leaves it: a filter over the list's rows that the view
// shows, while editing, deleting and the export keep working on the whole list
// (KeyListModel). Each row's tooltip shows the key in every form.
//
//     auto* filter = new KeyFilterModel(keys, &typeFormat, this);
//     view->setModel(filter);
//     filter->SetText(QStringLiteral("иванов"));   // "Найдено: filter->Found() из keys->Count()"
//     int listRow = filter->mapToSource(view->currentIndex()).row();
#pragma once

#include <QSortFilterProxyModel>
#include <cstdint>
#include <vector>

#include "core/keys/key_search.h"

class KeyListModel;

class KeyFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    // `typeFormat` is read at each search: a number is read the way the list shows it.
    KeyFilterModel(KeyListModel* keys, const int* typeFormat, QObject* parent = nullptr);

    void SetText(const QString& text);
    const QString& Text() const { return text_; }
    bool Filtering() const { return !query_.empty; }
    // Rows the search leaves (all of them without a search).
    int Found() const;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  signals:
    // The rows shown changed: a new search, or the list changed under it.
    void FoundChanged();

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    // The index follows the list: rows added, changed or removed one at a time change
    // only their own entries; a new list is indexed whole, once the event loop is idle,
    // so that the first keystroke after opening a file does not pay for it.
    void ListReplaced();
    // The same rows in another order (a format switch): the index stays, only the rows'
    // entries move with them.
    void RowsReordered(const std::vector<int>& order);
    void RowsInserted(int first, int last);
    void RowsRemoved(int first, int last);
    void RowsChanged(int first, int last);
    void ListChanged();
    void BuildIndex();
    std::uint32_t IndexRow(int row);
    void Apply();

    KeyListModel* keys_;
    const int* typeFormat_;
    QString text_;
    KeyQuery query_;
    KeySearchIndex index_;
    bool indexStale_ = true;
    bool buildPosted_ = false;
    bool reordered_ = false;  // the reset that follows shows the same rows
    // The index's entry of each row of the list; entries of removed or changed rows stay
    // behind (dead) until the next whole build.
    std::vector<std::uint32_t> entryOf_;
    std::size_t dead_ = 0;
    std::vector<std::uint8_t> flags_;  // by entry
    std::string cp1251_;
};
