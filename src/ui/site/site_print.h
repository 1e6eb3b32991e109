// A site on paper: "who opens what" (a row per key, a column per door) and one door's
// list, printed or written as PDF on A4 with a header naming the site and the date and
// "Страница x из y" on every page. Cyrillic is set in DejaVu Sans, which the package
// depends on, so a PDF reads the same on every computer.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QPagedPaintDevice;
class QWidget;
class PeopleModel;

struct PrintTable {
    QString title;  // "Кто какие двери открывает", "Главный вход: карты(ключи)"
    QString site;   // the site's name, in the header of every page
    QDate date;     // in the header
    bool landscape = false;
    // The number fits its widest text, each further column (a door) its name in at most
    // two lines, and the description (column 1) takes the rest.
    QStringList columns;
    int rows = 0;
    std::function<QString(int row, int column)> cell;
};

// Every key of the site against every door ("+" where the door holds it, "?" where the
// door's file could not be read); the rows as the model holds them (the search's).
PrintTable WhoOpensWhat(const PeopleModel& model, const QString& siteName);
// The keys of one door with their descriptions at that door.
PrintTable DoorKeyList(const PeopleModel& model, const QString& siteName, int door);

// Lays the table out on `device` (its page size and orientation already set); returns the
// number of pages.
int PaintTable(QPagedPaintDevice& device, const PrintTable& table);
// A4 PDF at `path`; the number of pages, 0 when the file could not be written.
int WriteTablePdf(const QString& path, const PrintTable& table);
// The print preview, from which the operator prints.
void PreviewTable(QWidget* parent, const PrintTable& table);
