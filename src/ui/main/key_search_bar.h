// The search above the key list: the field "Поиск" (Ctrl+F from anywhere in the window,
// Esc clears it) and the count beside it, which always shows how many keys the list
// holds: "Всего: 5000", or "Найдено: 12 из 5000" while a search is typed.
#pragma once

#include <QWidget>

class QAbstractItemView;
class QLabel;
class QLineEdit;
class KeyFilterModel;
class KeyListModel;

class TKeySearchBar : public QWidget {
    Q_OBJECT
  public:
    TKeySearchBar(KeyFilterModel* filter, KeyListModel* keys, QWidget* parent = nullptr);

    QLineEdit* edSearch = nullptr;
    QLabel* lFound = nullptr;
    // The list the search filters: ↓ in the field moves into its rows.
    QAbstractItemView* list = nullptr;

    void Clear();
    // The count's text for `found` of `total` keys.
    static QString CountText(bool filtering, int found, int total);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void UpdateCount();

    KeyFilterModel* filter_;
    KeyListModel* keys_;
};
