// The people view of a site as a table: a row per key across all doors (number,
// description), a column per door with a tick where that door's file holds the key.
// The rows shown are those the search leaves; the view itself is derived from the
// doors' files each time they are read.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <unordered_map>
#include <vector>

#include "core/keys/database.h"
#include "core/site/people.h"
#include "core/site/site_file.h"

class PeopleModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { NumberColumn = 0, DescriptionColumn = 1, FirstDoorColumn = 2 };

    explicit PeopleModel(QObject* parent = nullptr);

    // Reads every door's file afresh (relative paths from the site file's folder).
    void Load(const QString& sitePath, const Site& site);
    // Rows whose number or description holds `text` (any case), and the row of the key
    // `text` names in any printed form; every row for an empty text.
    void Filter(const QString& text);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A tick changed by the operator is not taken here: it is asked for (toggleRequested)
    // and shows once the door's controller and file hold it.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    const PeopleView& View() const { return view_; }
    const Site& SiteOf() const { return site_; }
    // The key of a shown row, and its row in the whole view.
    KeyCode CodeAt(int shownRow) const;
    int ViewRow(int shownRow) const { return shown_[shownRow]; }
    int ShownRowOf(KeyCode code) const;
    bool DoorReadable(int door) const { return doors_[door].readable; }
    QString DoorError(int door) const;
    // The description a door's file gives a key (UTF-8); empty when it has not the key.
    QString DescriptionAt(int viewRow, int door) const;
    QString RowDescription(int viewRow) const;

  signals:
    void toggleRequested(KeyCode code, int door, bool grant);

  private:
    Site site_;
    // Each door's readability; its keys are read, folded into the view and let go, so that
    // a site costs little more than its rows. The texts of keys the doors describe
    // differently are kept apart (row * doors + door).
    std::vector<DoorKeys> doors_;
    std::unordered_map<std::size_t, QString> differing_;
    PeopleView view_;
    std::vector<int> shown_;
    std::vector<QString> haystack_;  // lower-case "number\tdescription" per view row
    QStringList numbers_;            // the number as shown, per view row
};
