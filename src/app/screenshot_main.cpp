// vardex2-screenshot OUT.png [DB.vx2]: draws the main window with a database open and
// saves it as a picture, with the about box and a wait dialog as OUT-about.png and
// OUT-wait.png (for the README; runs on the offscreen platform or under Xvfb).
#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QTimer>

#include <QTemporaryDir>

#include "app_start.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "ui/dialogs/clearbuffer.h"
#include "ui/main/about_box.h"
#include "ui/main/main_window.h"
#include "ui/seams/ui_platform.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vardex 2"));
    LoadRussianTranslations(app);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        qCritical("usage: vardex2-screenshot OUT.png [DB.vx2]");
        return 2;
    }
    MemorySettingsStore settings;
    FixedPortDirectory ports({QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0")});
    settings.value = QStringLiteral("/dev/ttyUSB0");
    MainDeps deps;
    deps.settings = &settings;
    deps.ports = &ports;
    TFMain window(deps);
    window.show();
    // Without a database of its own it draws a small sample one.
    QTemporaryDir dir;
    QString db = args.size() > 2 ? args.at(2) : dir.filePath(QStringLiteral("office.vx2"));
    if (args.size() <= 2) {
        DbModel model;
        model.TimeOpen = 3;
        model.RetryRead = 2;
        model.Vardex = 0x7A1C05;
        const std::pair<KeyCode, const char*> keys[] = {
            {0x12ABCD, "Иванов И. И., бухгалтерия"}, {0x0456F0, "Петрова А. С., приёмная"},
            {0x3C0D11, "Сидоров П. П., склад"},      {0x00A7E2, "Охрана, пост 1"},
            {0x5B2290, "Гостевая карта 1"},          {0x5B2291, "Гостевая карта 2"},
            {0x19FE04, "Кузнецова М. В., директор"},
        };
        for (const auto& [code, text] : keys) {
            std::string cp;
            Utf8ToCp1251(text, cp);
            model.keys.push_back(DbKey{code, cp});
        }
        WriteDbFile(QFile::encodeName(db).toStdString(), model);
        db = QStringLiteral("/home/operator/office.vx2");
    }
    {
        window.LoadDbFile(args.size() > 2 ? args.at(2)
                                          : dir.filePath(QStringLiteral("office.vx2")));
        window.FileOpen = true;
        window.SetCurrentFile(db);
        window.EnableEditing(true);
        window.SelectRow(1);
    }
    int rc = 1;
    QTimer::singleShot(300, &app, [&]() {
        rc = window.grab().save(args.at(1)) ? 0 : 1;
        // The about box and a wait dialog beside it, for a look at the smaller windows.
        const QString base = args.at(1).chopped(4);
        {
            TAboutBox about(&window);
            about.show();
            about.grab().save(base + QStringLiteral("-about.png"));
            struct Silent : TRequester {
                void Load(const FrameHeader&, const FrameData&, Completion) override {}
            } silent;
            TFClearBuffer wait(&window, TFClearBuffer::Mode::Clear, silent);
            wait.show();
            wait.grab().save(base + QStringLiteral("-wait.png"));
        }
        // A wait dialog refuses to close while its request is out, and quit() asks every
        // window first: the dialogs above are gone by now.
        app.quit();
    });
    app.exec();
    return rc;
}
