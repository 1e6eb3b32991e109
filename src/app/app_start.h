// Start-up helpers shared by the program and its tests.
#pragma once

#include <QString>

class QCoreApplication;

// Loads Qt's own Russian translations (standard buttons, file dialogs) whatever the
// system's language, since every text of the program is Russian. True when loaded.
bool LoadRussianTranslations(QCoreApplication& app);
QString FileVersionForCli();
