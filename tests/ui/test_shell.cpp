// What the operator meets around the main window: real message boxes and file dialogs
// in Russian, the about box, and help at each window's topic.
#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <csignal>

#include "app/app_start.h"
#include "fakes.h"
#include "ui/help/help.h"
#include "ui/main/about_box.h"
#include "ui/main/main_window.h"
#include "ui/main/updown.h"
#include "ui/main/version.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {
QStringList ButtonTexts(QWidget* box) {
    QStringList out;
    for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) {
        if (b->isVisible()) {
            out << b->text().remove(QLatin1Char('&'));
        }
    }
    out.sort();
    return out;
}
}  // namespace

class TestShell : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

  private slots:
    void initTestCase() { QVERIFY(LoadRussianTranslations(*QCoreApplication::instance())); }

    void questionBoxShowsCaptionTextIconAndRussianButtons() {
        QtPrompter prompter;
        QString title, text;
        QStringList buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = ButtonTexts(box);
            // The text as the operator reads it: the label on screen.
            bool found = false;
            for (QLabel* l : box->findChildren<QLabel*>()) {
                found = found || l->text() == text;
            }
            QVERIFY(found);
            box->button(QMessageBox::No)->click();
        });
        const PromptAnswer a = prompter.Message(
            nullptr, QStringLiteral("Создание нового файла"),
            QStringLiteral("Внимание! Все данные в контроллере будут удалены!\rПродолжить?"),
            PromptIcon::Warning, PromptButtons::YesNo);
        QCOMPARE(a, PromptAnswer::No);
        QCOMPARE(title, QStringLiteral("Создание нового файла"));
        QCOMPARE(text,
                 QStringLiteral("Внимание! Все данные в контроллере будут удалены!\nПродолжить?"));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(buttons, (QStringList{QStringLiteral("Да"), QStringLiteral("Нет")}));

        QTimer::singleShot(0, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            icon = box->icon();
            buttons = ButtonTexts(box);
            box->button(QMessageBox::Ok)->click();
        });
        prompter.Error(nullptr, QStringLiteral("Ошибка"), QStringLiteral("x"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons.size(), 1);
        QVERIFY(buttons[0] == QStringLiteral("ОК") || buttons[0] == QStringLiteral("OK"));
    }

    // The warning that follows the question before the controller is cleared: Enter on
    // it answers No, so that two Enters never clear the controller.
    void enterOnTheWarningAnswersNo() {
        QtPrompter prompter;
        QTimer::singleShot(0, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QCOMPARE(prompter.Message(nullptr, QStringLiteral("Экспорт в контроллер"),
                                  QStringLiteral("Внимание! Все данные в контроллере будут "
                                                 "перезаписаны!\rПродолжить?"),
                                  PromptIcon::Warning, PromptButtons::YesNoDefaultNo),
                 PromptAnswer::No);
        QTimer::singleShot(0, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QCOMPARE(prompter.Message(nullptr, QStringLiteral("Удаление карты(ключа)"),
                                  QStringLiteral("Вы действительно хотите удалить карту(ключ)?"),
                                  PromptIcon::Question, PromptButtons::YesNo),
                 PromptAnswer::Yes);
    }

    void saveDialogIsRussianWithTheGivenNameAndFilter() {
        QtPrompter prompter;
        FileDialogOptions dialogOptions;
        dialogOptions.title = QStringLiteral("Укажите имя нового файла");
        dialogOptions.filter = QStringLiteral("Файл базы ключей(*.vx2)|*.vx2");
        dialogOptions.defaultExt = QStringLiteral("*.vx2");
        dialogOptions.fileName = QStringLiteral("new_db2.vx2");
        dialogOptions.directory = dir.path();
        dialogOptions.overwritePrompt = true;
        QString title, suffix, accept;
        QStringList filters, selected;
        QTimer::singleShot(100, [&]() {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(d);
            title = d->windowTitle();
            suffix = d->defaultSuffix();
            filters = d->nameFilters();
            selected = d->selectedFiles();
            if (auto* box = d->findChild<QDialogButtonBox*>()) {
                accept = box->button(QDialogButtonBox::Save)
                             ? box->button(QDialogButtonBox::Save)->text().remove('&')
                             : QString();
            }
            d->reject();
        });
        QVERIFY(prompter.SaveFile(nullptr, dialogOptions).isEmpty());
        QCOMPARE(title, dialogOptions.title);
        QCOMPARE(suffix, QStringLiteral("vx2"));
        QCOMPARE(filters, QStringList{QStringLiteral("Файл базы ключей(*.vx2)")});
        QVERIFY(!selected.isEmpty() && selected[0].endsWith(QStringLiteral("/new_db2.vx2")));
        QCOMPARE(accept, QStringLiteral("Сохранить"));
    }

    void screenTextTurnsCarriageReturnsIntoLineBreaks() {
        QCOMPARE(ScreenText(QStringLiteral("a\rb\r\nc")), QStringLiteral("a\nb\nc"));
        QCOMPARE(QtNameFilter(QStringLiteral("Файл базы ключей (*.vx2)|*.vx2")),
                 QStringLiteral("Файл базы ключей (*.vx2)"));
        QCOMPARE(QtNameFilter(QStringLiteral("Keys|*.vx2")), QStringLiteral("Keys (*.vx2)"));
    }

    void aboutBox() {
        TAboutBox box(nullptr);
        QCOMPARE(box.windowTitle(), QStringLiteral("О программе ..."));
        QCOMPARE(box.ProductName->text(), QStringLiteral("Vardex 2"));
        QCOMPARE(box.Version->text(), QStringLiteral("Версия 2.0.0.0"));
        QCOMPARE(box.Comments->text(), QStringLiteral("Программа управления ключами"));
        QCOMPARE(box.bbClose->text(), QStringLiteral("Закрыть"));
        box.show();
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(!box.isVisible());
        QCOMPARE(VersionOrZero(nullptr), QStringLiteral("0.0.0.0"));
        QCOMPARE(VersionOrZero("2"), QStringLiteral("0.0.0.0"));
    }

    void helpOpensTheWindowsTopic() {
        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        QStringList launched;
        help::SetFinder([](const QString& p) {
            return p == QStringLiteral("xchm") ? QStringLiteral("/usr/bin/xchm") : QString();
        });
        help::SetLauncher([&](const QString& program, const QStringList& args) {
            launched = QStringList{program} + args;
            return true;
        });
        help::Init(dir.filePath(QStringLiteral("vardex2")), {QStringLiteral("-debug")});
        QCOMPARE(help::HelpFile(), dir.filePath(QStringLiteral("vardex2.chm")));
        QVERIFY(help::DebugLog());

        // No help file: said so, nothing started.
        QVERIFY(!help::ShowContext(1, nullptr));
        QCOMPARE(prompter.records.size(), size_t(1));
        QVERIFY(prompter.records[0].text.startsWith(QStringLiteral("Файл справки не найден")));
        QVERIFY(launched.isEmpty());

        QFile chm(help::HelpFile());
        QVERIFY(chm.open(QIODevice::WriteOnly));
        chm.close();

        // "Справка по программе" and F1 in the main window: topic 1.
        MemorySettingsStore settings;
        FixedPortDirectory ports({});
        FakeRunner runner;
        FakeLink link;
        TFMain w(MainDeps{&settings, &ports, &runner, &link, {}, {}, {}});
        w.show();
        w.activateWindow();  // no window manager under a bare X server
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F1);
        QCOMPARE(launched, (QStringList{QStringLiteral("/usr/bin/xchm"),
                                        QStringLiteral("file:") + help::HelpFile() +
                                            QStringLiteral("#xchm:/main.html")}));
        launched.clear();

        // F1 in another window asks for that window's topic.
        help::InstallF1(*qApp);
        QDialog other(&w);
        help::SetContext(&other, 19);
        other.setModal(true);  // as every window opened from the main one
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTest::keyClick(&other, Qt::Key_F1);
        QVERIFY(launched.value(1).endsWith(QStringLiteral("#xchm:/newkey.html")));
        other.close();

        // A dialog that borrows its caller's topic by the property its caller sets.
        QDialog borrowed(&w);
        borrowed.setProperty("HelpContext", 20);
        QDialog inner(&borrowed);
        QCOMPARE(help::ContextOf(&inner), 20);
        QCOMPARE(help::ContextOf(&w), 1);

        // No viewer: said so.
        help::SetFinder([](const QString&) { return QString(); });
        QVERIFY(!help::ShowContext(1, nullptr));
        QVERIFY(prompter.records.back().text.startsWith(
            QStringLiteral("Не найдена программа для просмотра справки")));

        help::SetFinder(nullptr);
        help::SetLauncher(nullptr);
        SetAppPrompter(nullptr);
    }

    // The help the build made, copied out of the build tree as an installation would
    // have it: every topic's page is inside the file and beside it, and F1 without a
    // CHM viewer shows the page in the browser.
    void helpFromTheBuildOpensOutsideIt() {
        const QString built = QStringLiteral(VX_HELP_BUILD_DIR);
        if (!QFileInfo::exists(built + QStringLiteral("/vardex2.chm"))) {
            QSKIP("vardex2.chm was not built (chmcmd missing)");
        }
        QTemporaryDir root;
        const QString share = root.filePath(QStringLiteral("share/vardex2"));
        QVERIFY(QDir().mkpath(share + QStringLiteral("/help")));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("bin"))));
        QVERIFY(QFile::copy(built + QStringLiteral("/vardex2.chm"),
                            share + QStringLiteral("/vardex2.chm")));
        for (const QString& page : QDir(built + QStringLiteral("/help")).entryList(QDir::Files)) {
            QVERIFY(QFile::copy(built + QStringLiteral("/help/") + page,
                                share + QStringLiteral("/help/") + page));
        }
        help::Init(root.filePath(QStringLiteral("bin/vardex2")), {});
        QCOMPARE(help::HelpFile(), share + QStringLiteral("/vardex2.chm"));
        QCOMPARE(help::PagesFolder(), share + QStringLiteral("/help"));

        const QString extractor = QStandardPaths::findExecutable(QStringLiteral("extract_chmLib"));
        const QString unpacked = root.filePath(QStringLiteral("unpacked"));
        if (!extractor.isEmpty()) {
            QProcess unpack;
            unpack.setStandardOutputFile(QProcess::nullDevice());
            unpack.start(extractor, {help::HelpFile(), unpacked});
            QVERIFY(unpack.waitForFinished());
        }
        for (int context : {1, 15, 19, 20, 22, 23, 30, 31}) {
            const QString page = help::TopicPage(context);
            QFile html(help::PagesFolder() + QLatin1Char('/') + page);
            QVERIFY2(html.open(QIODevice::ReadOnly), qPrintable(page));
            QVERIFY2(html.readAll().contains("<title>"), qPrintable(page));
            if (!extractor.isEmpty()) {
                QVERIFY2(QFileInfo::exists(unpacked + QLatin1Char('/') + page), qPrintable(page));
            }
        }
        QCOMPARE(help::TopicPage(1), QStringLiteral("main.html"));
        QCOMPARE(help::TopicPage(15), QStringLiteral("check.html"));
        QCOMPARE(help::TopicPage(19), QStringLiteral("newkey.html"));
        QCOMPARE(help::TopicPage(20), QStringLiteral("editkey.html"));
        QCOMPARE(help::TopicPage(22), QStringLiteral("findkey.html"));
        QCOMPARE(help::TopicPage(23), QStringLiteral("vardex.html"));
        QCOMPARE(help::TopicPage(30), QStringLiteral("journal.html"));
        QCOMPARE(help::TopicPage(31), QStringLiteral("reconcile.html"));

        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        QList<QUrl> opened;
        help::SetFinder([](const QString&) { return QString(); });
        help::SetUrlOpener([&](const QUrl& url) {
            opened << url;
            return true;
        });
        QVERIFY(help::ShowContext(20, nullptr));
        QCOMPARE(opened,
                 QList<QUrl>{QUrl::fromLocalFile(share + QStringLiteral("/help/editkey.html"))});
        QVERIFY(prompter.records.empty());

        // Pages without the file (no compiler on the build machine) still open.
        QVERIFY(QFile::remove(help::HelpFile()));
        help::Init(root.filePath(QStringLiteral("bin/vardex2")), {});
        QVERIFY(help::ShowContext(1, nullptr));
        QCOMPARE(opened.back(), QUrl::fromLocalFile(share + QStringLiteral("/help/main.html")));
        QVERIFY(prompter.records.empty());

        help::SetFinder(nullptr);
        help::SetUrlOpener(nullptr);
        SetAppPrompter(nullptr);
    }

    // The help as a CHM viewer reads it: every page says it is UTF-8 in the form the
    // viewers honour, and the contents and index built in are in the code page the
    // project's language (Russian) names, so that the viewer shows Russian, not mojibake.
    void builtHelpReadsInRussian() {
        const QString built = QStringLiteral(VX_HELP_BUILD_DIR);
        const QString extractor = QStandardPaths::findExecutable(QStringLiteral("extract_chmLib"));
        if (!QFileInfo::exists(built + QStringLiteral("/vardex2.chm")) || extractor.isEmpty()) {
            QSKIP("vardex2.chm was not built, or extract_chmLib (libchm-bin) is missing");
        }
        QTemporaryDir out;
        QProcess unpack;
        unpack.setStandardOutputFile(QProcess::nullDevice());
        unpack.start(extractor, {built + QStringLiteral("/vardex2.chm"), out.path()});
        QVERIFY(unpack.waitForFinished());
        const auto read = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };

        // Every page of the help folder is inside the file, and each declares its encoding.
        const QStringList pages = QDir(built + QStringLiteral("/help"))
                                      .entryList({QStringLiteral("*.html")}, QDir::Files);
        QVERIFY(pages.size() >= 22);
        QCOMPARE(QDir(out.path()).entryList({QStringLiteral("*.html")}, QDir::Files), pages);
        for (const QString& page : pages) {
            const QByteArray html = read(out.filePath(page));
            QVERIFY2(html.contains("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                                   "charset=utf-8\">"),
                     qPrintable(page));
            QVERIFY2(!html.contains("<meta charset"), qPrintable(page));
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString text = utf8(html);
            QVERIFY2(!utf8.hasError(), qPrintable(page));
            QVERIFY2(text.contains(QStringLiteral("<title>")), qPrintable(page));
        }

        // The contents: one entry per page, named as the page's title, read as Windows-1251.
        const QByteArray hhc = read(out.filePath(QStringLiteral("vardex2.hhc")));
        QVERIFY(!hhc.isEmpty());
        QStringDecoder cp1251("windows-1251");
        const QString contents = cp1251(hhc);
        QVERIFY(!cp1251.hasError());
        const struct {
            const char* name;
            const char* page;
        } entries[] = {{"Главное окно", "main.html"},
                       {"Новая карта(ключ)", "newkey.html"},
                       {"Редактирование и удаление карты(ключа)", "editkey.html"},
                       {"Поиск карты(ключа)", "findkey.html"},
                       {"Вардекс", "vardex.html"},
                       {"Проверка карт(ключей)", "check.html"},
                       {"Сверка с контроллером", "reconcile.html"},
                       {"Журнал изменений", "journal.html"},
                       {"Регистрация карт(ключей)", "enrol.html"},
                       {"Списки CSV: сохранение и импорт", "csv.html"},
                       {"Загрузить из контроллера", "load.html"},
                       {"Экспорт в контроллер", "export.html"}};
        for (const auto& e : entries) {
            const QRegularExpression entry(
                QStringLiteral("<param name=\"Name\" value=\"%1\">\\s*"
                               "<param name=\"Local\" value=\"%2\">")
                    .arg(QRegularExpression::escape(QString::fromUtf8(e.name)),
                         QRegularExpression::escape(QString::fromUtf8(e.page))));
            QVERIFY2(contents.contains(entry), e.name);
        }
        for (const QString& page : pages) {
            QVERIFY2(contents.contains(QStringLiteral("value=\"%1\"").arg(page)),
                     qPrintable(page + QStringLiteral(" is not in the contents")));
        }
        const QByteArray hhk = read(out.filePath(QStringLiteral("vardex2.hhk")));
        const QString index = QStringDecoder("windows-1251")(hhk);
        QVERIFY(index.contains(QStringLiteral("value=\"регистрация карт(ключей)\"")));
        QVERIFY(index.contains(QStringLiteral("value=\"импорт из CSV\"")));
        // No binary index beside it: the compiler writes its names as "?" there, and a
        // viewer prefers it to the index file.
        QVERIFY(!QFileInfo::exists(out.filePath(QStringLiteral("$WWKeywordLinks/BTree"))));

        // Every window's topic has its own page (the main window's only for itself).
        for (int context : {15, 19, 20, 22, 23, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39}) {
            const QString page = help::TopicPage(context);
            QVERIFY2(page != QStringLiteral("main.html"), qPrintable(QString::number(context)));
            QVERIFY2(pages.contains(page), qPrintable(page));
        }
    }

    // F1 a second time closes the viewer the first one opened, rather than leaving two.
    void helpReplacesTheViewerItStarted() {
        QTemporaryDir bin;
        const QString viewer = bin.filePath(QStringLiteral("xchm"));
        {
            QFile f(viewer);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\nwhile :; do sleep 1; done\n");
        }
        QVERIFY(QFile::setPermissions(viewer, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QFile chm(dir.filePath(QStringLiteral("vardex2.chm")));
        QVERIFY(chm.open(QIODevice::WriteOnly));
        chm.close();
        help::Init(dir.filePath(QStringLiteral("vardex2")), {});
        help::SetFinder(
            [&](const QString& p) { return p == QStringLiteral("xchm") ? viewer : QString(); });
        QVERIFY(help::ShowContext(1, nullptr));
        const qint64 first = help::ViewerPid();
        QVERIFY(first > 0);
        QVERIFY(help::ShowContext(19, nullptr));
        const qint64 second = help::ViewerPid();
        QVERIFY(second > 0 && second != first);
        // The first has been told to end (it may linger a moment as a zombie).
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(first));
                if (!stat.open(QIODevice::ReadOnly))
                    return true;
                const QByteArray line = stat.readAll();
                return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
            }(),
            5000);
        ::kill(static_cast<pid_t>(second), SIGTERM);
        help::SetFinder(nullptr);
    }

    // A held arrow is one step: each step of a time goes to the controller behind a
    // modal wait dialog, which takes the mouse, so the release never comes back to the
    // arrow and its auto-repeat would run the time up to its limit.
    void heldTimeArrowMakesOneStep() {
        TUpDown ud(QStringLiteral("edTimeOpen"));
        ud.setRange(1, 255);
        ud.SetPosition(5);
        ud.resize(64, 24);
        int offered = 0;
        ud.OnChanging = [&offered](int) {
            ++offered;
            return true;
        };
        ud.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ud));
        const QPoint upArrow(ud.width() - 6, ud.height() / 4);
        QTest::mousePress(&ud, Qt::LeftButton, {}, upArrow);
        QTest::qWait(1200);  // well past the auto-repeat threshold
        QTest::mouseRelease(&ud, Qt::LeftButton, {}, upArrow);
        QCOMPARE(offered, 1);
        QCOMPARE(ud.value(), 6);
    }

    // The wheel turned over a time field offers nothing: each offer is a controller
    // command and a file write.
    void theWheelOverATimeFieldChangesNothing() {
        TUpDown ud(QStringLiteral("edRetryRead"));
        ud.setRange(0, 255);
        ud.SetPosition(5);
        int offered = 0;
        ud.OnChanging = [&offered](int) {
            ++offered;
            return true;
        };
        ud.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ud));
        const QPointF at(ud.width() / 2.0, ud.height() / 2.0);
        QWheelEvent up(at, ud.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&ud, &up);
        QApplication::sendEvent(ud.findChild<QLineEdit*>(), &up);
        QCoreApplication::processEvents();
        QCOMPARE(offered, 0);
        QCOMPARE(ud.value(), 5);
    }
};

QTEST_MAIN(TestShell)
#include "test_shell.moc"
