#include "ui/site/site_print.h"

#include <QFont>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "core/keys/key_code.h"
#include "ui/site/people_model.h"

namespace {

const QString kFont = QStringLiteral("DejaVu Sans");

void SetA4(QPagedPaintDevice& device, bool landscape) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4),
                                     landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(15, 12, 12, 12), QPageLayout::Millimeter));
}

}  // namespace

PrintTable WhoOpensWhat(const PeopleModel& model, const QString& siteName) {
    PrintTable t;
    t.title = QStringLiteral("Кто какие двери открывает");
    t.site = siteName;
    t.date = QDate::currentDate();
    const int doors = model.columnCount() - PeopleModel::FirstDoorColumn;
    t.landscape = doors > 3;
    t.columns = {QStringLiteral("Карта(ключ)"), QStringLiteral("Описание")};
    for (int d = 0; d < doors; ++d) {
        QString name =
            model.headerData(PeopleModel::FirstDoorColumn + d, Qt::Horizontal, Qt::DisplayRole)
                .toString();
        t.columns << name;
    }
    t.rows = model.rowCount();
    const PeopleModel* m = &model;
    t.cell = [m](int row, int column) -> QString {
        if (column < PeopleModel::FirstDoorColumn)
            return m->index(row, column).data().toString();
        const int door = column - PeopleModel::FirstDoorColumn;
        if (!m->DoorReadable(door))
            return QStringLiteral("?");
        return m->View().Holds(m->ViewRow(row), door) ? QStringLiteral("+") : QString();
    };
    return t;
}

PrintTable DoorKeyList(const PeopleModel& model, const QString& siteName, int door) {
    PrintTable t;
    const QString name = QString::fromStdString(model.SiteOf().doors[door].name);
    t.title = name + QStringLiteral(": карты(ключи)");
    t.site = siteName;
    t.date = QDate::currentDate();
    t.columns = {QStringLiteral("Карта(ключ)"), QStringLiteral("Описание")};
    std::vector<int> rows;
    for (int r = 0; r < model.rowCount(); ++r)
        if (model.View().Holds(model.ViewRow(r), door))
            rows.push_back(r);
    t.rows = static_cast<int>(rows.size());
    const PeopleModel* m = &model;
    t.cell = [m, rows, door](int row, int column) -> QString {
        const int r = rows[row];
        if (column == 0)
            return m->index(r, PeopleModel::NumberColumn).data().toString();
        return m->DescriptionAt(m->ViewRow(r), door);
    };
    return t;
}

int PaintTable(QPagedPaintDevice& device, const PrintTable& table) {
    QPainter p;
    if (!p.begin(&device))
        return 0;
    const QRect page = p.viewport();  // device pixels inside the margins
    const int dpi = device.logicalDpiY();
    QFont body(kFont);
    body.setPointSizeF(9);
    QFont bold(body);
    bold.setBold(true);
    QFont head(kFont);
    head.setPointSizeF(12);
    head.setBold(true);
    p.setFont(body);
    const int line = QFontMetrics(body, &device).height() + dpi / 40;
    const int headHeight = line * 2 + line + line / 2 + line * 2;
    const int footHeight = line * 2;
    const int perPage = std::max(1, (page.height() - headHeight - footHeight) / line);
    const int pages = std::max(1, (table.rows + perPage - 1) / perPage);

    // The description takes what the other columns leave: the number fits its widest text,
    // a door its name in at most two lines.
    const QFontMetrics fmBody(body, &device), fmBold(bold, &device);
    const int pad = dpi / 12;
    const int columns = static_cast<int>(table.columns.size());
    std::vector<int> width(columns, 0);
    int used = 0;
    for (int c = 0; c < columns; ++c) {
        if (c == 1)
            continue;
        int w = 0;
        if (c == 0) {
            w = fmBold.horizontalAdvance(table.columns[c]);
            for (int row = 0; row < std::min(table.rows, 500); ++row)
                w = std::max(w, fmBody.horizontalAdvance(table.cell(row, c)));
        } else {
            int longest = 0;
            for (const QString& word : table.columns[c].split(QLatin1Char(' ')))
                longest = std::max(longest, fmBold.horizontalAdvance(word));
            w = std::max(longest, fmBold.horizontalAdvance(table.columns[c]) / 2 + pad);
        }
        width[c] = w + pad;
        used += width[c];
    }
    if (columns > 1)
        width[1] = std::max(page.width() / 5, page.width() - used);
    std::vector<int> x{0};
    for (int c = 0; c < columns; ++c)
        x.push_back(x.back() + width[c]);

    const QString date =
        QLocale(QLocale::Russian).toString(table.date, QStringLiteral("dd.MM.yyyy"));
    for (int n = 0; n < pages; ++n) {
        if (n > 0)
            device.newPage();
        int y = 0;
        p.setFont(head);
        p.drawText(QRect(0, y, page.width(), line * 2), Qt::AlignLeft | Qt::AlignVCenter,
                   table.site);
        p.setFont(body);
        p.drawText(QRect(0, y, page.width(), line * 2), Qt::AlignRight | Qt::AlignVCenter, date);
        y += line * 2;
        p.setFont(bold);
        p.drawText(QRect(0, y, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter, table.title);
        y += line + line / 2;
        for (int c = 0; c < columns; ++c) {
            const QRect r(x[c] + 2, y, x[c + 1] - x[c] - 4, line * 2);
            p.drawText(
                r, (c >= 2 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignBottom | Qt::TextWordWrap,
                table.columns[c]);
        }
        y += line * 2;
        p.drawLine(0, y, page.width(), y);
        p.setFont(body);
        const int first = n * perPage;
        const int last = std::min(table.rows, first + perPage);
        for (int row = first; row < last; ++row) {
            for (int c = 0; c < columns; ++c) {
                const QRect r(x[c] + 2, y, x[c + 1] - x[c] - 4, line);
                const QString text = table.cell(row, c);
                if (text.isEmpty())
                    continue;
                p.drawText(r, (c >= 2 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter,
                           fmBody.elidedText(text, Qt::ElideRight, r.width()));
            }
            y += line;
        }
        p.drawText(QRect(0, page.height() - line, page.width(), line),
                   Qt::AlignHCenter | Qt::AlignVCenter,
                   QStringLiteral("Страница %1 из %2").arg(n + 1).arg(pages));
    }
    p.end();
    return pages;
}

int WriteTablePdf(const QString& path, const PrintTable& table) {
    QPdfWriter writer(path);
    writer.setCreator(QStringLiteral("Vardex 2"));
    writer.setTitle(table.site + QStringLiteral(" — ") + table.title);
    writer.setResolution(300);
    SetA4(writer, table.landscape);
    return PaintTable(writer, table);
}

void PreviewTable(QWidget* parent, const PrintTable& table) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(table.site + QStringLiteral(" — ") + table.title);
    SetA4(printer, table.landscape);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setWindowTitle(QStringLiteral("Предварительный просмотр"));
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [&table](QPrinter* target) { PaintTable(*target, table); });
    preview.resize(1000, 800);
    preview.exec();
}
