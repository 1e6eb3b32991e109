// One reading of a key number everywhere: each text of the table goes, in both display
// formats, through the key dialog's number field (typed key by key), the CSV import, the
// command line's key argument (vardex2-cli edit KEY) and the search, and every one of them
// reads the same key or refuses it saying which forms are read.
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/key_csv.h"
#include "core/keys/key_number.h"
#include "core/keys/key_search.h"
#include "support/key_number_table.h"
#include "support/sim_process.h"
#include "ui/main/editkey.h"
#include "ui/main/key_list_model.h"
#include "ui/main/key_number_edit.h"

namespace {

// The dialog only reads what is typed here: nothing is sent or written.
class NoSite : public TKeyEditSite {
  public:
    QString DatabasePath() const override { return {}; }
    TRequester& Requester() const override { std::abort(); }
    bool OpenLink() override { return false; }
    void CloseLink() override {}
    KeyListModel* Keys() const override { return nullptr; }
    int FindRow(KeyCode) const override { return -1; }
    bool LockForChange(DbLock&, QWidget*) override { return false; }
    bool ReloadIfChanged() override { return false; }
    void FileWritten() override {}
    bool SaveKey(KeyCode, const QString&, const QString&) override { return false; }
    int AddKeyRow(KeyCode, const QString&) override { return -1; }
    int UpdateKeyRow(int, KeyCode, const QString&) override { return -1; }
    void RemoveKeyRow(int) override {}
    void SelectRow(int) override {}
};

const std::vector<DbKey> kKeys = {{0x000001, "Склад"}, {0x12ABCD, ""}, {0x7B1234, ""},
                                  {0x7A7A7E, ""},      {0x7A7A7A, ""}, {0x4D7603, ""},
                                  {0x123456, ""}};

const char* FormatName(int typeFormat) {
    return typeFormat == TypeFormatIButton ? "ibutton" : "em";
}

const std::string kForms = "Номер читается в формах";

}  // namespace

class TestKeyNumberTable : public QObject {
    Q_OBJECT

    // `code` 0: refused; `ambiguous`: refused with the hint to type 0x.
    void Check(int typeFormat, const char* text, KeyCode code, bool ambiguous) {
        const QString where = QStringLiteral("\"%1\" as %2").arg(text, FormatName(typeFormat));
        const std::string why = ambiguous ? "0x" : kForms;

        // The key dialog: typed key by key, OK only for a key, the reason under the field.
        NoSite site;
        TFEditKey dialog(nullptr, site, typeFormat, -1);
        QTest::keyClicks(dialog.edKeyNumber, QString::fromUtf8(text));
        QVERIFY2(dialog.bbOK->isEnabled() == (code != 0), qPrintable(where));
        QVERIFY2(dialog.lNumberHint->isHidden() == (code != 0), qPrintable(where));
        QCOMPARE(dialog.edKeyNumber->Number().code, code);
        if (code == 0)
            QVERIFY2(dialog.lNumberHint->text().toStdString().find(why) != std::string::npos,
                     qPrintable(where + QStringLiteral(": ") + dialog.lNumberHint->text()));

        // The CSV import.
        const std::string csv = std::string("Карта(ключ);Описание\r\n\"") + text + "\";x\r\n";
        const CsvImport preview = PreviewCsvImport(csv, typeFormat, {});
        QVERIFY2(preview.rows.size() == 1, qPrintable(where));
        const CsvRow& row = preview.rows[0];
        QVERIFY2(row.fate == (code ? CsvFate::New : CsvFate::Refused),
                 qPrintable(where + QStringLiteral(": ") + QString::fromStdString(row.reason)));
        QCOMPARE(row.code, code);
        QCOMPARE(preview.shortDigits, std::size_t(ambiguous ? 1 : 0));

        // The command line: a description-only edit of the key the argument names.
        const std::string path = dir_.filePath(QStringLiteral("keys.vx2")).toStdString();
        DbModel model;
        model.keys = kKeys;
        QVERIFY(WriteDbFile(path, model).ok);
        const ProcessResult r = RunProgram({CliPath(), "edit", path, text, "--description",
                                            "найден", "--format", FormatName(typeFormat)},
                                           "", 20000);
        QVERIFY2((r.status == 0) == (code != 0), qPrintable(where + QString::fromStdString(r.err)));
        if (code == 0)
            QVERIFY2(r.err.find(why) != std::string::npos, qPrintable(where));
        QVERIFY(LoadDbFile(path, model).ok);
        for (const DbKey& key : model.keys) {
            const bool edited = key.description == Cp("найден");
            QVERIFY2(edited == (key.code == code), qPrintable(where));
        }

        // The search finds that key among its results.
        if (code != 0) {
            bool found = false;
            for (std::size_t i : SearchKeys(typeFormat, kKeys, text))
                found = found || kKeys[i].code == code;
            QVERIFY2(found, qPrintable(where));
        }
    }

    static std::string Cp(const char* utf8) {
        std::string out;
        Utf8ToCp1251(utf8, out);
        return out;
    }

    QTemporaryDir dir_;

  private slots:
    void everyFormReadsAlikeEverywhereInBothFormats() {
        for (int typeFormat : {TypeFormatIButton, TypeFormatEmMarine}) {
            for (const KeyNumberCase& c : kKeyNumberTable) {
                Check(typeFormat, c.text, c.code, false);
                if (QTest::currentTestFailed())
                    return;
            }
        }
    }

    void shortBareDigitsAreAKeyOnlyWhileIButtonIsShown() {
        Check(TypeFormatIButton, kShortDigits.text, kShortDigits.code, false);
        Check(TypeFormatEmMarine, kShortDigits.text, 0, true);
        // The CSV import asks once for the whole file; told "hexadecimal", it reads them so.
        const std::string csv = "123456;a\r\n1234;b\r\n122,31354;c\r\n";
        CsvImport preview = PreviewCsvImport(csv, TypeFormatEmMarine, {});
        QCOMPARE(preview.shortDigits, std::size_t(2));
        QCOMPARE(preview.Count(CsvFate::Refused), std::size_t(2));
        preview = PreviewCsvImport(csv, TypeFormatEmMarine, {}, true);
        QCOMPARE(preview.Count(CsvFate::New), std::size_t(3));
        QCOMPARE(preview.rows[0].code, KeyCode(0x123456));
        QCOMPARE(preview.rows[1].code, KeyCode(0x1234));
    }
};

QTEST_MAIN(TestKeyNumberTable)
#include "test_key_number_table.moc"
