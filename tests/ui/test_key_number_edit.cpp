// The key dialog's number field: what is typed stays as typed, a paste reads any form
// people have in hand, and a text that is no key number says why.
#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>

#include "ui/main/key_number_edit.h"

class TestKeyNumberEdit : public QObject {
    Q_OBJECT
  private slots:
    // Every key typed stays in the field: nothing is dropped to fit a mask.
    void whatIsTypedStaysAsTyped() {
        TKeyNumberEdit e(0);
        e.setFocus();
        QTest::keyClicks(&e, QStringLiteral("0100 7a7a 7a7e"));
        QCOMPARE(e.text(), QStringLiteral("0100 7a7a 7a7e"));
        QCOMPARE(e.Number().code, KeyCode(0x7A7A7E));
        e.clear();
        QTest::keyClicks(&e, QStringLiteral("12o456"));
        QCOMPARE(e.text(), QStringLiteral("12o456"));  // kept, and refused with its reason
        QVERIFY(e.Refused());
        QVERIFY(e.Problem().startsWith(QStringLiteral("Символ «o»")));
    }

    void pasteReadsEveryFormOrSaysWhyNot() {
        TKeyNumberEdit ib(0);
        QSignalSpy refused(&ib, &TKeyNumberEdit::PasteRefused);
        QApplication::clipboard()->setText(QStringLiteral("00 00 00 FB C5 2B"));
        ib.setFocus();
        QTest::keySequence(&ib, QKeySequence::Paste);
        QCOMPARE(ib.displayText(), QStringLiteral("XX XX XXXXXX FBC52B"));
        QVERIFY(ib.PasteText(QStringLiteral("12abcd")));
        QCOMPARE(ib.displayText(), QStringLiteral("XX XX XXXXXX 12ABCD"));
        QVERIFY(!ib.PasteText(QStringLiteral("12O456")));
        QCOMPARE(ib.displayText(), QStringLiteral("XX XX XXXXXX 12ABCD"));  // kept
        QVERIFY(refused.last().at(0).toString().contains(QStringLiteral("«O»")));
        // A card's printed number reads as itself while iButton is shown too.
        QVERIFY(ib.PasteText(QStringLiteral("0008026746")));
        QCOMPARE(ib.displayText(), QStringLiteral("XX XX XXXXXX 7A7A7A"));

        TKeyNumberEdit em(1);
        QVERIFY(em.PasteText(QStringLiteral("0004329479")));
        QCOMPARE(em.displayText(), QStringLiteral("066,04103"));
        QVERIFY(em.PasteText(QStringLiteral("0A004D7603")));
        QCOMPARE(em.displayText(), QStringLiteral("077,30211"));
        QVERIFY(!em.PasteText(QStringLiteral("66,041")));
        QCOMPARE(em.displayText(), QStringLiteral("077,30211"));
    }

    void anEmMarineNumberOutOfRangeSaysWhy() {
        TKeyNumberEdit em(1);
        QCOMPARE(em.Problem(), QString());  // nothing typed: nothing to say yet
        em.setText(QStringLiteral("256,00001"));
        QVERIFY(em.Problem().startsWith(QStringLiteral("Код объекта 256 больше 255\n")));
        em.setText(QStringLiteral("255,65536"));
        QVERIFY(em.Problem().startsWith(QStringLiteral("Номер карты 65536 больше 65535\n")));
        em.setText(QStringLiteral("255,65535"));
        QCOMPARE(em.Problem(), QString());
    }
};

QTEST_MAIN(TestKeyNumberEdit)
#include "test_key_number_edit.moc"
