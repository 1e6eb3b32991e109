// A site at scale: 10 doors of 6,500 keys each (65,000 ticks). The people view's opening
// until its rows are shown, every search keystroke, resident memory against one door
// opened alone in the main window (each measured in a child process of its own), and the
// PDF of who opens what.
//
//     bench_site
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <random>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/site/site_file.h"
#include "ui/main/main_window.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"
#include "ui/site/people_model.h"
#include "ui/site/site_print.h"
#include "ui/site/site_window.h"

namespace {

constexpr int kDoors = 10;
constexpr int kKeysPerDoor = 6500;
constexpr int kPeople = 8000;

long RssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void Settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// The building: 8,000 people, each door admitting 6,500 of them.
QString MakeSite(const QString& dir) {
    std::mt19937 rng(11);
    std::vector<KeyCode> people;
    for (int i = 0; i < kPeople; ++i)
        people.push_back(static_cast<KeyCode>(0x100000 + i * 37));
    std::string desc;
    Utf8ToCp1251("Сотрудник отдела, кабинет ", desc);
    Site site;
    site.name = "Бенчмарк";
    for (int d = 0; d < kDoors; ++d) {
        std::shuffle(people.begin(), people.end(), rng);
        DbModel m;
        for (int i = 0; i < kKeysPerDoor; ++i)
            m.keys.push_back({people[i], desc + std::to_string(people[i] % 100000)});
        const std::string name = "door" + std::to_string(d) + ".vx2";
        WriteDbFile((dir + QLatin1Char('/')).toStdString() + name, m);
        site.doors.push_back({"Дверь " + std::to_string(d + 1), name, ""});
    }
    const QString path = dir + QStringLiteral("/bench.vx2site");
    SaveSite(path.toStdString(), site, [](const std::string&) { return std::nullopt; });
    return path;
}

// Child: the largest door alone in the main window; prints the memory it took.
int AloneChild(int argc, char* argv[], const QString& file) {
    QApplication app(argc, argv);
    ScriptedPrompter prompter;
    SetAppPrompter(&prompter);
    MemorySettingsStore settings;
    FixedPortDirectory ports({});
    MainDeps deps;
    deps.settings = &settings;
    deps.ports = &ports;
    TFMain w(deps);
    w.show();
    Settle();
    const long before = RssKb();
    prompter.AnswerFile(file);
    w.actOpenExecute();
    w.lvDB->viewport()->repaint();
    Settle();
    std::printf("%ld\n", RssKb() - before);
    return 0;
}

// Child: the site's window; prints the memory it took.
int SiteChild(int argc, char* argv[], const QString& site) {
    QApplication app(argc, argv);
    TFSite w(site);
    w.show();
    Settle();
    const long before = RssKb();
    w.Reload();
    w.Table()->viewport()->repaint();
    Settle();
    std::printf("%ld\n", RssKb() - before);
    return 0;
}

long ChildKb(const QString& self, const QStringList& args) {
    QProcess p;
    p.start(self, args);
    p.waitForFinished(120000);
    return p.readAllStandardOutput().trimmed().toLong();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::string(argv[1]) == "--alone")
        return AloneChild(1, argv, argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--site")
        return SiteChild(1, argv, argv[2]);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString site = MakeSite(dir.path());

    TFSite w(site);
    w.show();
    Settle();
    QElapsedTimer t;
    t.start();
    w.Reload();
    w.Table()->viewport()->repaint();
    Settle();
    const double openMs = t.nsecsElapsed() / 1e6;
    const int rows = w.Model()->rowCount();
    std::size_t ticks = 0;
    for (std::size_t n : w.Model()->View().keysPerDoor)
        ticks += n;

    double worst = 0, sum = 0;
    const QString typed = QStringLiteral("кабинет 485");
    for (const QChar c : typed) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        t.restart();
        QApplication::sendEvent(w.SearchField(), &press);
        w.Table()->viewport()->repaint();
        const double ms = t.nsecsElapsed() / 1e6;
        worst = std::max(worst, ms);
        sum += ms;
    }
    const int found = w.Model()->rowCount();
    w.SearchField()->clear();
    Settle();

    t.restart();
    PrintTable table = WhoOpensWhat(*w.Model(), QStringLiteral("Бенчмарк"));
    const int pages = WriteTablePdf(dir.filePath(QStringLiteral("who.pdf")), table);
    const double pdfMs = t.nsecsElapsed() / 1e6;

    const QString self = QCoreApplication::applicationFilePath();
    const long aloneKb =
        ChildKb(self, {QStringLiteral("--alone"), dir.filePath(QStringLiteral("door0.vx2"))});
    const long siteKb = ChildKb(self, {QStringLiteral("--site"), site});

    std::printf(
        "people view of %d doors x %d keys (%zu ticks, %d people) until shown: %.1f ms "
        "(limit 1000)\n",
        kDoors, kKeysPerDoor, ticks, rows, openMs);
    std::printf(
        "search keystroke, typing \"кабинет 485\": worst %.1f ms, mean %.1f ms (limit 30; "
        "%d found)\n",
        worst, sum / typed.size(), found);
    std::printf(
        "memory: site %.1f MB, one door alone in the main window %.1f MB, ratio %.2f "
        "(limit 3)\n",
        siteKb / 1024.0, aloneKb / 1024.0,
        aloneKb > 0 ? static_cast<double>(siteKb) / aloneKb : 0.0);
    std::printf("PDF of who opens what: %.1f ms, %d A4 pages (limit 5000)\n", pdfMs, pages);
    return 0;
}
