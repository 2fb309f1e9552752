#include "platform/Lamps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// The resources live in a static library, so they must be registered by hand once.
static void initLampResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(lamps);
        return true;
    }();
    (void)done;
}

namespace Lamps {

QIcon load(const QString& workDir, const QString& fileName)
{
    initLampResources();
    const QString path = QDir(workDir).filePath(fileName);
    if (QFileInfo::exists(path)) {
        QIcon icon(path);
        if (!icon.availableSizes().isEmpty() || !icon.pixmap(16, 16).isNull())
            return icon;
    }
    return QIcon(QStringLiteral(":/lamps/") + fileName);
}

bool writeBuiltIn(const QString& dir)
{
    initLampResources();
    bool ok = true;
    for (const QString& name : {On, Off, GivenUp, Wait}) {
        const QString target = QDir(dir).filePath(name);
        QFile::remove(target);
        ok = QFile::copy(QStringLiteral(":/lamps/") + name, target) && ok;
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    return ok;
}

} // namespace Lamps
