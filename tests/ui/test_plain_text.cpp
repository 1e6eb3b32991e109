// Texts that come from a file, a CSV, the controller or a person are shown as typed:
// markup in a description, a path or a journal field is never rendered, and an image it
// names is never loaded. Every window that shows such a text is opened with one.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTreeView>
#include <QTreeWidget>
#include <deque>
#include <filesystem>

#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/link/command_set.h"
#include "fakes.h"
#include "ui/dialogs/enrol.h"
#include "ui/main/journal_window.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

// Would render as a bold X and load an endless image.
const char* const Markup = "<b>X</b><img src=\"/dev/zero\">";

QString Typed() {
    return QString::fromUtf8(Markup);
}

// What the operator sees of `text` shown in `format`, as Qt decides it.
QString Shown(const QString& text, Qt::TextFormat format = Qt::AutoText) {
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    // Kept blanks come back as no-break spaces.
    return QTextDocumentFragment::fromHtml(text).toPlainText().replace(QChar::Nbsp, u' ');
}

// Every label of `top` that holds the text shows it as typed.
void CheckLabels(const QWidget& top) {
    for (const QLabel* label : top.findChildren<QLabel*>()) {
        if (label->text().contains(QStringLiteral("X</b>")))
            QVERIFY2(Shown(label->text(), label->textFormat()).contains(Typed()),
                     qPrintable(label->objectName() + QStringLiteral(": ") + label->text()));
    }
}

}  // namespace

class TestPlainText : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString db;  // its path holds the markup too

  private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
        db = dir.path() + QStringLiteral("/") + Typed() + QStringLiteral(".vx2");
        std::filesystem::create_directories(std::filesystem::path(db.toStdString()).parent_path());
        DbModel m;
        m.keys = {{0x12ABCD, Markup}, {0x000001, ""}};
        QVERIFY(WriteDbFile(db.toStdString(), m));
    }

    void theMainWindowShowsDescriptionsAndPathsAsTyped() {
        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        MemorySettingsStore settings;
        settings.recentFiles = {db};
        FixedPortDirectory ports{{QStringLiteral("/dev/ttyS0")}};
        FakeRunner runner;
        FakeLink link;
        MainDeps deps;
        deps.settings = &settings;
        deps.ports = &ports;
        deps.runner = &runner;
        deps.link = &link;
        deps.tracePath = db + QStringLiteral(".trace");
        {
            TFMain w(deps);
            w.show();
            prompter.AnswerFile(db);
            w.actOpenExecute();
            QVERIFY(w.FileOpen);
            QAbstractItemModel* list = w.lvDB->model();
            int row = 0;
            while (row < list->rowCount() && list->index(row, 1).data().toString() != Typed())
                ++row;
            QVERIFY(row < list->rowCount());
            for (int column : {0, 1}) {
                const QString tip = list->index(row, column).data(Qt::ToolTipRole).toString();
                QVERIFY2(Shown(tip).contains(Typed()), qPrintable(tip));
            }
            // The recent files: the name in the menu (with "&" kept), the path in the hint.
            bool found = false;
            for (QAction* a : w.miRecent->actions()) {
                if (a->data().toString() != db)
                    continue;
                found = true;
                QVERIFY2(Shown(a->toolTip()).contains(db), qPrintable(a->toolTip()));
                QCOMPARE(a->statusTip(), db);
            }
            QVERIFY(found);
            QVERIFY(w.windowTitle().contains(Typed()));
            // The status bar's hint, as a hovered control gives it.
            QStatusTipEvent hint(db);
            QApplication::sendEvent(&w, &hint);
            CheckLabels(w);
        }
        SetAppPrompter(nullptr);
    }

    void theJournalWindowShowsEveryFieldAsTyped() {
        const std::string journalPath = journal::JournalPath(db.toStdString());
        {
            // Nine fields, the time among them, as a crafted line would have them.
            QFile f(QString::fromStdString(journalPath));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray line;
            for (int i = 0; i < 9; ++i)
                line += (i ? "\t" : "") + QByteArray(Markup);
            f.write(line + "\n" + QByteArray(Markup) + "\n");  // and a line of one field
        }
        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        TFJournal w(nullptr, db);
        w.show();
        QCOMPARE(w.lvJournal->topLevelItemCount(), 2);
        for (int row = 0; row < 2; ++row) {
            QTreeWidgetItem* item = w.lvJournal->topLevelItem(row);
            for (int c = 0; c < item->columnCount(); ++c) {
                if (!item->text(c).isEmpty() && c != 3)  // 3: the operation's own name
                    QVERIFY2(item->text(c) == Typed() || c == 0, qPrintable(item->text(c)));
                if (!item->toolTip(c).isEmpty())
                    QVERIFY2(Shown(item->toolTip(c)).contains(Typed()),
                             qPrintable(item->toolTip(c)));
            }
        }
        QVERIFY(Shown(w.lvJournal->topLevelItem(1)->toolTip(0)).contains(Typed()));
        CheckLabels(w);
        SetAppPrompter(nullptr);
        std::filesystem::remove(journalPath);
    }

    // The enrolment names a key already in the list with its description.
    void theEnrolmentShowsAKnownKeysDescriptionAsTyped() {
        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        FakeRunner runner;
        std::deque<KeyCode> presented{0x12ABCD};
        runner.makeReply = [&](const FrameHeader& h, FrameHeader& reply, FrameData& data) {
            if (h[1] != ReadPresentedKey || presented.empty())
                return;
            const KeyCode code = presented.front();
            presented.pop_front();
            reply[4] = 4;
            data[0] = 4;
            data[2] = static_cast<std::uint8_t>(code >> 16);
            data[3] = static_cast<std::uint8_t>(code >> 8);
            data[4] = static_cast<std::uint8_t>(code);
        };
        DbModel m;
        QVERIFY(LoadDbFile(db.toStdString(), m));
        auto* d =
            new TFEnrol(nullptr, runner, [] {}, db.toStdString(), TypeFormatIButton, m.keys, {});
        d->show();
        QTRY_VERIFY_WITH_TIMEOUT(d->lLast->text().startsWith(QStringLiteral("Уже в списке")), 5000);
        QVERIFY2(Shown(d->lLast->text(), d->lLast->textFormat()).endsWith(Typed()),
                 qPrintable(d->lLast->text()));
        CheckLabels(*d);
        d->bbCancel->click();
        delete d;
        SetAppPrompter(nullptr);
    }
};

QTEST_MAIN(TestPlainText)
#include "test_plain_text.moc"
