// The program's icons, drawn in code so that they look the same on every desktop
// and need no image plug-in.
#pragma once

#include <QIcon>

enum class AppIcon { New, Open, Export, Sync, Add, Edit, Delete, Find, Help, About, Exit, App };

QIcon MakeIcon(AppIcon kind);
