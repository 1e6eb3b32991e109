// The key dialog's number field: only hexadecimal digits go into an iButton number, a
// paste reads any form people have in hand, and a number out of range says why.
#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>

#include "ui/main/key_number_edit.h"

class TestKeyNumberEdit : public QObject {
    Q_OBJECT
  private slots:
    void lettersBeyondFNeverEnterAnIButtonNumber() {
        TKeyNumberEdit e(0);
        e.setText(QStringLiteral("XX XX XXXXXX 000000"));
        e.setFocus();
        e.setCursorPosition(13);
        QTest::keyClicks(&e, QStringLiteral("12o4z56abc"));
        // "o" and "z" are refused where typed; the digits show upper case.
        QCOMPARE(e.displayText(), QStringLiteral("XX XX XXXXXX 12456A"));
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
        em.setText(QStringLiteral("000,00000"));
        QCOMPARE(em.Problem(), QString());  // a new entry: nothing to say yet
        em.setText(QStringLiteral("256,00001"));
        QCOMPARE(em.Problem(), QStringLiteral("Код объекта 256 больше 255"));
        em.setText(QStringLiteral("255,65536"));
        QCOMPARE(em.Problem(), QStringLiteral("Номер карты 65536 больше 65535"));
        em.setText(QStringLiteral("255,6553_"));
        QCOMPARE(em.Problem(), QString());  // still being typed
        em.setText(QStringLiteral("255,65535"));
        QCOMPARE(em.Problem(), QString());
    }
};

QTEST_MAIN(TestKeyNumberEdit)
#include "test_key_number_edit.moc"
