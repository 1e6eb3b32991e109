#include "ui/main/version.h"

#include <cstring>

QString VersionOrZero(const char* version) {
    if (version == nullptr || std::strlen(version) < 2) {
        return QStringLiteral("0.0.0.0");
    }
    return QString::fromUtf8(version);
}

QString FileVersion() {
#ifdef VX_FILE_VERSION
    return VersionOrZero(VX_FILE_VERSION);
#else
    return VersionOrZero(nullptr);
#endif
}
