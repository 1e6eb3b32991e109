// TFMain: the "Объект" menu. A site's window is a window of its own beside this one; the
// database opened here is not touched by it.
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>

#include "core/site/site_file.h"
#include "ui/main/main_window.h"
#include "ui/seams/prompter.h"
#include "ui/site/site_window.h"

namespace {
const QString kSiteFilter = QStringLiteral("Файл объекта(*.vx2site)|*.vx2site");
}

void TFMain::CreateSiteMenu() {
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Объект"));
    menu->setObjectName(QStringLiteral("miSite"));
    QAction* open = menu->addAction(QStringLiteral("&Открыть объект..."));
    open->setObjectName(QStringLiteral("actOpenSite"));
    open->setStatusTip(QStringLiteral("Все двери здания: кто какие двери открывает"));
    QAction* create = menu->addAction(QStringLiteral("&Новый объект..."));
    create->setObjectName(QStringLiteral("actNewSite"));
    connect(open, &QAction::triggered, this, [this] {
        FileDialogOptions o;
        o.title = QStringLiteral("Открыть объект");
        o.filter = kSiteFilter;
        o.defaultExt = QStringLiteral("vx2site");
        o.directory = LastFolder();
        o.fileMustExist = true;
        const QString path = Prompt().OpenFile(this, o);
        if (!path.isEmpty())
            OpenSite(path);
    });
    connect(create, &QAction::triggered, this, [this] {
        FileDialogOptions o;
        o.title = QStringLiteral("Новый объект");
        o.filter = kSiteFilter;
        o.defaultExt = QStringLiteral("vx2site");
        o.directory = LastFolder();
        o.overwritePrompt = true;
        const QString path = Prompt().SaveFile(this, o);
        if (path.isEmpty())
            return;
        QString name = QFileInfo(path).completeBaseName();
        if (!Prompt().AskText(this, QStringLiteral("Новый объект"),
                              QStringLiteral("Название объекта:"), name))
            return;
        Site site;
        site.name = name.toStdString();
        site.typeFormat = cboxType ? cboxType->currentIndex() : 0;
        SiteResult r = SaveSite(QFile::encodeName(path).toStdString(), site);
        if (!r) {
            Prompt().Error(this, QStringLiteral("Ошибка"), r.error);
            return;
        }
        OpenSite(path);
    });
}

bool TFMain::OpenSite(const QString& path) {
    auto* window = new TFSite(path);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (!window->Reload()) {
        delete window;
        return false;
    }
    window->show();
    return true;
}
