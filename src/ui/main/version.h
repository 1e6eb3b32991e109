// The program's file version, compiled in from the build.
#pragma once

#include <QString>

// The build's version ("2.0.0.0"), or "0.0.0.0" when the build gave none.
QString FileVersion();
// The rule behind it: a missing string or one shorter than 2 characters is "0.0.0.0".
QString VersionOrZero(const char* version);
