// Key list editing in the main window with a scripted worker and line: the number field's
// masks and OK rule, the description's characters, OK's steps (file only, duplicate,
// new key, number change and its failure), delete, find and the vardex button.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QValidator>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "fakes.h"
#include "ui/dialogs/findkey.h"
#include "ui/dialogs/getkey.h"
#include "ui/dialogs/getvardex.h"
#include "ui/main/editkey.h"
#include "ui/main/key_number_edit.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

std::string Cp(const char* utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

// Replies to 0x43 with `code` at once; every other command gets an empty reply.
std::function<void(const FrameHeader&, FrameHeader&, FrameData&)> Presents(KeyCode code) {
    return [code](const FrameHeader& request, FrameHeader& reply, FrameData& data) {
        if (request[1] != ReadPresentedKey)
            return;
        reply[4] = 4;
        data[0] = 4;
        data[2] = static_cast<std::uint8_t>(code >> 16);
        data[3] = static_cast<std::uint8_t>(code >> 8);
        data[4] = static_cast<std::uint8_t>(code);
    };
}

// Types text as the keyboard would, character by character (any alphabet).
void TypeText(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

// "0A1B2C" of a 0x22 request, and whether it stores (00 00 00) or removes (FF FF FF).
QString Record(const FakeRunner::Sent& s) {
    return QStringLiteral("%1 %2%3%4 %5")
        .arg(s.header[1], 2, 16, QLatin1Char('0'))
        .arg(s.data[1], 2, 16, QLatin1Char('0'))
        .arg(s.data[2], 2, 16, QLatin1Char('0'))
        .arg(s.data[3], 2, 16, QLatin1Char('0'))
        .arg(s.data[4] == 0 ? QStringLiteral("store") : QStringLiteral("remove"))
        .toUpper();
}

}  // namespace

class TestEditKey : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompter* prompter = nullptr;
    MemorySettingsStore settings;
    FixedPortDirectory ports{{QStringLiteral("/dev/ttyS0")}};
    FakeRunner* runner = nullptr;
    FakeLink* link = nullptr;
    TFMain* w = nullptr;
    QString path;

    // A database with 0x12ABCD "Иванов" and 0x000001, open in the window.
    void Open(int typeFormat = 0) {
        DbModel m;
        m.TypeFormat = typeFormat;
        m.Vardex = 0x000007;
        m.keys = {{0x12ABCD, Cp("Иванов")}, {0x000001, ""}};
        path = dir.filePath(QStringLiteral("keys.vx2"));
        QVERIFY(WriteDbFile(path.toStdString(), m).ok);
        prompter->AnswerFile(path);
        w->actOpenExecute();
        QVERIFY(w->FileOpen);
        prompter->records.clear();
    }

    DbModel File() {
        DbModel m;
        LoadDbFile(path.toStdString(), m);
        return m;
    }

    std::vector<KeyCode> Rows() {
        std::vector<KeyCode> codes;
        for (const KeyRow& r : w->Keys()->Rows())
            codes.push_back(r.code);
        return codes;
    }

    // Types a number into the emptied field, key by key.
    static void TypeNumber(TFEditKey* d, const QString& text) {
        d->edKeyNumber->setFocus();
        d->edKeyNumber->clear();
        QTest::keyClicks(d->edKeyNumber, text);
    }

    QString Boxes() const {
        QStringList out;
        for (const auto& r : prompter->records)
            out << r.caption + QStringLiteral(": ") + r.text;
        return out.join(QStringLiteral(" | "));
    }

  private slots:
    void init() {
        prompter = new ScriptedPrompter;
        SetAppPrompter(prompter);
        runner = new FakeRunner;
        link = new FakeLink;
        MainDeps deps;
        deps.settings = &settings;
        deps.ports = &ports;
        deps.runner = runner;
        deps.link = link;
        w = new TFMain(deps);
        w->show();
        Open();
    }
    void cleanup() {
        delete w;
        SetAppPrompter(nullptr);
        delete prompter;
        delete runner;
        delete link;
    }

    void editAndDeleteFollowTheSelection() {
        QVERIFY(w->tbAdd->isEnabled());
        QVERIFY(w->tbFindKey->isEnabled());
        // The open file's list has the focus on its first row, chosen.
        QVERIFY(w->tbEdit->isEnabled());
        w->SelectRow(-1);
        QVERIFY(!w->tbEdit->isEnabled());
        QVERIFY(!w->tbDel->isEnabled());
        w->SelectRow(0);
        QVERIFY(w->tbEdit->isEnabled());
        QVERIFY(w->miDel->isEnabled());
        w->SelectRow(-1);
        QVERIFY(!w->tbDel->isEnabled());
        QVERIFY(!w->miEdit->isEnabled());
    }

    // The field takes what the key-number reader takes, in either format, and nothing
    // is dropped: a refused text says why under the field and keeps OK disabled.
    void theNumberFieldTakesEveryPrintedFormAndSaysWhyNot() {
        {
            TFEditKey d(w, *w, 0, -1);
            QCOMPARE(d.windowTitle(), QStringLiteral("Новая карта(ключ)"));
            QCOMPARE(d.edKeyNumber->text(), QString());
            QCOMPARE(d.edKeyNumber->placeholderText(), QStringLiteral("XX XX XXXXXX 000000"));
            QVERIFY(!d.bbOK->isEnabled());
            QVERIFY(d.lNumberHint->isHidden());         // nothing typed, nothing to say
            TypeNumber(&d, QStringLiteral("8026746"));  // the mask once kept "802674"
            QCOMPARE(d.edKeyNumber->text(), QStringLiteral("8026746"));
            QVERIFY(!d.bbOK->isEnabled());
            QVERIFY(!d.lNumberHint->isHidden());
            QVERIFY(d.lNumberHint->text().startsWith(QStringLiteral("7 цифр")));
            QVERIFY(d.lNumberHint->text().contains(QStringLiteral("Номер читается в формах")));
            TypeNumber(&d, QStringLiteral("0x7B1234"));
            QVERIFY(d.bbOK->isEnabled());
            QVERIFY(d.lNumberHint->isHidden());
            QCOMPARE(d.edKeyNumber->Number().code, KeyCode(0x7B1234));
            TypeNumber(&d, QStringLiteral("122,31354"));  // an EM-Marine text as iButton
            QCOMPARE(d.edKeyNumber->Number().code, KeyCode(0x7A7A7A));
            QVERIFY(d.bbOK->isEnabled());
        }
        {
            TFEditKey d(w, *w, 1, -1);
            QCOMPARE(d.edKeyNumber->placeholderText(), QStringLiteral("000,00000"));
            TypeNumber(&d, QStringLiteral("01843981"));
            QVERIFY(d.bbOK->isEnabled());
            QCOMPARE(d.edKeyNumber->Number().code, KeyCode(0x12ABCD));
            d.edKeyNumber->setText(QStringLiteral("256,00001"));  // beyond the facility's range
            QVERIFY(!d.bbOK->isEnabled());
            QVERIFY(d.lNumberHint->text().startsWith(QStringLiteral("Код объекта 256 больше 255")));
            QVERIFY(!d.lNumberHint->isHidden());
            // A hexadecimal key or the start of a card's number: the hint says how to tell.
            TypeNumber(&d, QStringLiteral("123456"));
            QVERIFY(!d.bbOK->isEnabled());
            QVERIFY(d.lNumberHint->text().contains(QStringLiteral("0x123456")));
            d.edKeyNumber->setText(QStringLiteral("255,65535"));
            QVERIFY(d.lNumberHint->isHidden());
            QVERIFY(d.bbOK->isEnabled());
        }
        w->SelectRow(w->FindRow(0x12ABCD));
        TFEditKey d(w, *w, 0, w->SelectedRow());
        QCOMPARE(d.windowTitle(), QStringLiteral("Редактирование - XX XX XXXXXX 12ABCD"));
        QCOMPARE(d.edKeyNumber->displayText(), QStringLiteral("XX XX XXXXXX 12ABCD"));
        QCOMPARE(d.edDescription->text(), QStringLiteral("Иванов"));
        QVERIFY(d.bbOK->isEnabled());
    }

    // Enter on the focused "Вычитать" reads a key; only from the fields does it mean OK.
    void enterOnTheFocusedButtonClicksIt() {
        w->SelectRow(w->FindRow(0x12ABCD));
        TFEditKey d(w, *w, 0, w->SelectedRow());
        int getKey = 0;
        int ok = 0;
        QObject::disconnect(d.bbGetKey, &QPushButton::clicked, nullptr, nullptr);
        QObject::disconnect(d.bbOK, &QPushButton::clicked, nullptr, nullptr);
        QObject::connect(d.bbGetKey, &QPushButton::clicked, [&getKey] { ++getKey; });
        QObject::connect(d.bbOK, &QPushButton::clicked, [&ok] { ++ok; });
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.bbGetKey->setFocus();
        QTest::keyClick(d.bbGetKey, Qt::Key_Return);
        QCOMPARE(getKey, 1);
        QCOMPARE(ok, 0);
        d.edDescription->setFocus();
        QTest::keyClick(d.edDescription, Qt::Key_Return);
        QCOMPARE(getKey, 1);
        QCOMPARE(ok, 1);
    }

    void leavingARefusedNumberIsRefused() {
        TFEditKey d(w, *w, 0, -1);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.edKeyNumber->setFocus();
        d.edKeyNumber->setText(QStringLiteral("8026746"));
        QTest::keyClick(d.edKeyNumber, Qt::Key_Tab);
        QTRY_VERIFY2(prompter->records.size() == 1, qPrintable(Boxes()));
        QCOMPARE(prompter->records[0].caption, QStringLiteral("Ошибка ввода"));
        QCOMPARE(prompter->records[0].text,
                 QStringLiteral("Проверьте правильность ввода номера карты(ключа)\rДля отмены "
                                "ввода нажмите на кнопку Esc"));
        QCOMPARE(prompter->records[0].icon, PromptIcon::Error);
        QTRY_VERIFY(d.edKeyNumber->hasFocus());
        QTest::keyClick(&d, Qt::Key_Escape);  // Esc still cancels
        QVERIFY(!d.isVisible());
        QCOMPARE(prompter->records.size(), size_t(1));
    }

    void theDescriptionTakesOnlyWhatTheFileCanHold() {
        TFEditKey d(w, *w, 0, -1);
        d.edDescription->setFocus();
        TypeText(d.edDescription, QStringLiteral("Дверь №5 €中!"));
        QCOMPARE(d.edDescription->text(), QStringLiteral("Дверь №5 €!"));
        // Control characters cannot be pasted in either.
        for (const char* pasted : {"a\tb", "\x1b[2J", "x\x7f"}) {
            QString text = QString::fromUtf8(pasted);
            int pos = 0;
            QCOMPARE(d.edDescription->validator()->validate(text, pos), QValidator::Invalid);
        }
        d.edDescription->setText(QString(200, QLatin1Char('a')));
        QCOMPARE(d.edDescription->maxLength(), 128);
    }

    void aDescriptionOnlyEditSendsNothingEvenWithoutAController() {
        link->fail = true;  // unplugged
        w->SelectRow(w->FindRow(0x000001));
        OnModal<TFEditKey>([](TFEditKey* d) {
            d->edDescription->setText(QStringLiteral("Склад"));
            d->bbOK->click();
        });
        w->tbEditClick();
        QVERIFY(runner->sent.empty());
        QCOMPARE(link->opens, 0);
        QCOMPARE(w->Keys()->Row(w->FindRow(0x000001)).description, QStringLiteral("Склад"));
        QCOMPARE(File().keys[1].description, Cp("Склад"));
    }

    void aDuplicateIsRefusedBeforeAnyTraffic() {
        OnModal<TFEditKey>([this](TFEditKey* d) {
            TypeNumber(d, QStringLiteral("000001"));
            d->bbOK->click();
            QVERIFY(d->isVisible());
            QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка"));
            QCOMPARE(prompter->records.back().text,
                     QStringLiteral("Карта(ключ) с номером XX XX XXXXXX 000001 уже "
                                    "зарегистрирована в базе карт(ключей)"));
            d->reject();
        });
        w->tbAddClick();
        // Also when editing another key's number into it.
        w->SelectRow(w->FindRow(0x12ABCD));
        OnModal<TFEditKey>([this](TFEditKey* d) {
            d->edKeyNumber->setText(QStringLiteral("XX XX XXXXXX 000001"));
            d->bbOK->click();
            QVERIFY(d->isVisible());
            QVERIFY2(prompter->records.size() == 2, qPrintable(Boxes()));
            d->reject();
        });
        w->lvDBDblClick();
        QVERIFY(runner->sent.empty());
        QCOMPARE(link->opens, 0);
        QCOMPARE(File().keys.size(), size_t(2));
    }

    void aNewKeyGoesToTheControllerThenTheFileThenTheList() {
        OnModal<TFEditKey>([](TFEditKey* d) {
            TypeNumber(d, QStringLiteral("0A1B2C"));
            d->edDescription->setText(QStringLiteral("Склад"));
            d->bbOK->click();
        });
        w->tbAddClick();
        QCOMPARE(runner->sent.size(), size_t(1));
        QCOMPARE(Record(runner->sent[0]), QStringLiteral("22 0A1B2C STORE"));
        QCOMPARE(link->opens, 1);
        QCOMPARE(link->closes, 1);
        QCOMPARE(File().keys.back().code, KeyCode(0x0A1B2C));
        QCOMPARE(File().keys.back().description, Cp("Склад"));
        QCOMPARE(Rows(), (std::vector<KeyCode>{0x000001, 0x0A1B2C, 0x12ABCD}));
    }

    void aNumberChangeRemovesTheOldThenStoresTheNew() {
        w->SelectRow(w->FindRow(0x12ABCD));
        OnModal<TFEditKey>([](TFEditKey* d) {
            d->edKeyNumber->setText(QStringLiteral("XX XX XXXXXX 0A1B2C"));
            d->bbOK->click();
        });
        w->tbEditClick();
        QCOMPARE(runner->sent.size(), size_t(2));
        QCOMPARE(Record(runner->sent[0]), QStringLiteral("22 12ABCD REMOVE"));
        QCOMPARE(Record(runner->sent[1]), QStringLiteral("22 0A1B2C STORE"));
        const DbModel m = File();
        QCOMPARE(m.keys.size(), size_t(2));
        QCOMPARE(m.keys[0].code, KeyCode(0x000001));
        QCOMPARE(m.keys[1].code, KeyCode(0x0A1B2C));
        QCOMPARE(m.keys[1].description, Cp("Иванов"));
        QCOMPARE(Rows(), (std::vector<KeyCode>{0x000001, 0x0A1B2C}));
    }

    void aFailedStoreAfterTheRemovalLeavesNoPhantomRow() {
        runner->results = {Ok, TimedOut};  // the removal goes through, the store does not
        w->SelectRow(w->FindRow(0x12ABCD));
        OnModal<TFEditKey>([this](TFEditKey* d) {
            d->edKeyNumber->setText(QStringLiteral("XX XX XXXXXX 0A1B2C"));
            d->bbOK->click();
            // The wait dialog has reported the failure; the old key is nowhere now.
            QCOMPARE(prompter->records.size(), size_t(1));
            QCOMPARE(prompter->records[0].caption, QStringLiteral("Ошибка связи с контроллером"));
            QCOMPARE(Rows(), std::vector<KeyCode>{0x000001});
            QCOMPARE(File().keys.size(), size_t(1));
            // What is left in the dialog is a new key; OK again stores it.
            QVERIFY(d->isVisible());
            QCOMPARE(d->windowTitle(), QStringLiteral("Новая карта(ключ)"));
            d->bbOK->click();
        });
        w->tbEditClick();
        QCOMPARE(runner->sent.size(), size_t(3));
        QCOMPARE(Record(runner->sent[2]), QStringLiteral("22 0A1B2C STORE"));
        QCOMPARE(Rows(), (std::vector<KeyCode>{0x000001, 0x0A1B2C}));
        QCOMPARE(File().keys.back().description, Cp("Иванов"));
    }

    // Another writer changes the file while the dialog is open: OK works from the file as
    // it is once locked, not from the list the dialog was opened on.
    void okChecksTheFileAsItIsUnderTheLock() {
        // The key being edited was removed meanwhile: nothing is stored again.
        w->SelectRow(w->FindRow(0x12ABCD));
        OnModal<TFEditKey>([this](TFEditKey* d) {
            QVERIFY(::RemoveKey(path.toStdString(), 0x12ABCD).ok);
            d->edDescription->setText(QStringLiteral("Склад"));
            d->bbOK->click();
        });
        w->tbEditClick();
        QCOMPARE(Boxes(), QStringLiteral("Ошибка: Карта(ключ) с номером XX XX XXXXXX 12ABCD "
                                         "удалена из базы карт(ключей) другой программой или её "
                                         "номер изменён.\rСписок перечитан, изменения не "
                                         "сохранены."));
        QCOMPARE(File().keys.size(), size_t(1));
        QCOMPARE(Rows(), std::vector<KeyCode>{0x000001});

        // The new number was added meanwhile: refused as any duplicate, before any traffic.
        prompter->records.clear();
        w->SelectRow(w->FindRow(0x000001));
        OnModal<TFEditKey>([this](TFEditKey* d) {
            QVERIFY(::SaveKey(path.toStdString(), 0x0A1B2C, Cp("Чужой")).ok);
            d->edKeyNumber->setText(QStringLiteral("XX XX XXXXXX 0A1B2C"));
            d->bbOK->click();
            QVERIFY(d->isVisible());
            d->reject();
        });
        w->tbEditClick();
        QCOMPARE(Boxes(), QStringLiteral("Ошибка: Карта(ключ) с номером XX XX XXXXXX 0A1B2C уже "
                                         "зарегистрирована в базе карт(ключей)"));
        QVERIFY(runner->sent.empty());
        QCOMPARE(File().keys.size(), size_t(2));

        // A key added before the edited one moves its row: the right row is updated.
        prompter->records.clear();
        w->SelectRow(w->FindRow(0x0A1B2C));
        OnModal<TFEditKey>([this](TFEditKey* d) {
            QVERIFY(::SaveKey(path.toStdString(), 0x000002, "").ok);
            d->edDescription->setText(QStringLiteral("Свой"));
            d->bbOK->click();
        });
        w->tbEditClick();
        QVERIFY2(prompter->records.empty(), qPrintable(Boxes()));
        QCOMPARE(Rows(), (std::vector<KeyCode>{0x000001, 0x000002, 0x0A1B2C}));
        QCOMPARE(w->Keys()->Row(w->FindRow(0x0A1B2C)).description, QStringLiteral("Свой"));
        QCOMPARE(w->Keys()->Row(w->FindRow(0x000002)).description, QString());
    }

    // The window's own key edits are not taken for another writer's afterwards.
    void theDialogsOwnWriteIsNoOutsideChange() {
        OnModal<TFEditKey>([](TFEditKey* d) {
            TypeNumber(d, QStringLiteral("0A1B2C"));
            d->bbOK->click();
        });
        w->tbAddClick();
        QCOMPARE(File().keys.size(), size_t(3));
        QVERIFY(!w->ReloadIfChanged());
    }

    void readingTheNumberAtTheReader() {
        runner->makeReply = Presents(0x0A0B0C);
        OnModal<TFEditKey>([](TFEditKey* d) {
            OnModal<TFGetKey>([](TFGetKey* g) {
                QTRY_VERIFY(g->bbOK->isEnabled());
                g->bbOK->click();
            });
            d->bbGetKey->click();
            QCOMPARE(d->edKeyNumber->displayText(), QStringLiteral("XX XX XXXXXX 0A0B0C"));
            QVERIFY(d->bbOK->isEnabled());
            d->reject();
        });
        w->tbAddClick();
        QCOMPARE(runner->sent.size(), size_t(2));
        QCOMPARE(int(runner->sent[0].header[1]), 0x02);  // the link check first
        QCOMPARE(int(runner->sent[1].header[1]), 0x43);
        QVERIFY(runner->sent[1].atMs - runner->sent[0].atMs >= 100);
        QCOMPARE(link->closes, link->opens);
    }

    void deleteAsksOnce() {
        w->SelectRow(w->FindRow(0x12ABCD));
        prompter->AnswerBox(PromptAnswer::No);
        w->tbDelClick();
        QCOMPARE(prompter->records.size(), size_t(1));
        QCOMPARE(prompter->records[0].caption, QStringLiteral("Удаление карты(ключа)"));
        QCOMPARE(
            prompter->records[0].text,
            QStringLiteral("Вы действительно хотите удалить карту(ключ) XX XX XXXXXX 12ABCD?"));
        QCOMPARE(prompter->records[0].icon, PromptIcon::Question);
        QVERIFY(runner->sent.empty());
        QCOMPARE(Rows().size(), size_t(2));

        prompter->AnswerBox(PromptAnswer::Yes);
        w->tbDelClick();
        QCOMPARE(runner->sent.size(), size_t(1));
        QCOMPARE(Record(runner->sent[0]), QStringLiteral("22 12ABCD REMOVE"));
        QCOMPARE(Rows(), std::vector<KeyCode>{0x000001});
        QCOMPARE(File().keys.size(), size_t(1));
    }

    void findOpensTheRowOrWarns() {
        runner->makeReply = Presents(0x12ABCD);
        OnModal<TFEditKey>([](TFEditKey* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Редактирование - XX XX XXXXXX 12ABCD"));
            d->reject();
        });
        w->tbFindKeyClick();
        QCOMPARE(w->SelectedKeyCode(), std::optional<KeyCode>(0x12ABCD));
        QVERIFY(prompter->records.empty());

        runner->makeReply = Presents(0x000009);
        w->tbFindKeyClick();
        QCOMPARE(prompter->records.size(), size_t(1));
        QCOMPARE(prompter->records[0].caption, QStringLiteral("Результат поиска"));
        QCOMPARE(prompter->records[0].text,
                 QStringLiteral("Карта(ключ) с номером XX XX XXXXXX 000009 отсутсвует в базе "
                                "данных!"));
        QCOMPARE(prompter->records[0].icon, PromptIcon::Warning);
        QCOMPARE(link->closes, link->opens);
    }

    // The capture dialog checks the link itself: a controller that does not answer gives
    // the one box of the check, no poll and no key dialog, and the link is let go.
    void aFailedLinkCheckAtFindPollsNothing() {
        runner->makeReply = Presents(0x12ABCD);
        runner->results = {TimedOut};
        bool edited = false;
        auto* watch = new QTimer(this);
        connect(watch, &QTimer::timeout, [&edited] {
            if (auto* d = qobject_cast<TFEditKey*>(QApplication::activeModalWidget())) {
                edited = true;
                d->reject();
            }
        });
        watch->start(5);
        w->tbFindKeyClick();
        QTest::qWait(150);
        delete watch;
        QVERIFY(!edited);
        QCOMPARE(runner->sent.size(), size_t(1));
        QCOMPARE(int(runner->sent[0].header[1]), 0x02);
        QCOMPARE(prompter->records.size(), size_t(1));
        QCOMPARE(prompter->records[0].caption, QStringLiteral("Ошибка связи с контроллером"));
        QCOMPARE(prompter->records[0].text, QString::fromStdString(ResultText(TimedOut)));
        QCOMPARE(link->closes, link->opens);
    }

    void theVardexButton() {
        runner->makeReply = Presents(0x0A0B0C);
        OnModal<TFGetVardex>([](TFGetVardex* d) {
            QCOMPARE(d->OldVardex, KeyCode(0x000007));
            QTRY_VERIFY(d->bbOK->isEnabled());
            d->bbOK->click();
        });
        w->bbVardexClick();
        QCOMPARE(w->Vardex, KeyCode(0x0A0B0C));
        QCOMPARE(w->bbVardex->text(), QStringLiteral("XX XX XXXXXX 0A0B0C"));
        QCOMPARE(File().Vardex, KeyCode(0x0A0B0C));

        // A failed write leaves the window's vardex as it was.
        runner->results = {Ok, Ok, WriteFailed};
        OnModal<TFGetVardex>([](TFGetVardex* d) {
            QTRY_VERIFY(d->bbOK->isEnabled());
            d->bbClear->click();
            d->bbOK->click();
            QVERIFY(d->isVisible());
            d->reject();
        });
        w->bbVardexClick();
        QCOMPARE(w->Vardex, KeyCode(0x0A0B0C));
        QCOMPARE(File().Vardex, KeyCode(0x0A0B0C));
        QCOMPARE(link->closes, link->opens);
    }
};

QTEST_MAIN(TestEditKey)
#include "test_editkey.moc"
