#include "app/vxutils.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVersionNumber>

#include <cinttypes>
#include <cstdio>

bool ensureDirExists(const QString &path)
{
    QDir dir(path);
    if (dir.exists())
        return true;
    return dir.mkpath(QStringLiteral("."));
}

QString resolveDirectory(const QString &path)
{
    // QDir("") would name the working directory; an empty path names nothing.
    if (path.isEmpty()) {
        qDebug() << "Path does not exist:" << path;
        return QString();
    }

    const QFileInfo info(path);
    if (info.exists() && info.isDir())
        return info.absoluteFilePath();
    if (info.exists() && info.isFile())
        return info.absolutePath();

    const QDir dir(path);
    if (dir.exists())
        return dir.absolutePath();

    // '\\' separates folders only on Windows; elsewhere it is an ordinary
    // character of a file name.
    int sep = path.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    sep = qMax(sep, path.lastIndexOf(QLatin1Char('\\')));
#endif
    if (sep >= 0) {
        // Everything before a leading separator is nothing at all, which QDir
        // would take for the working directory: the folder of "/x" is "/".
        const QString folder = sep == 0 ? path.left(1) : path.left(sep);
        if (QDir(folder).exists())
            return folder;
    }

    qDebug() << "Path does not exist:" << path;
    return QString();
}

namespace {

bool parseVersion(const QString &text, QVersionNumber *version)
{
    static const QRegularExpression re(QStringLiteral("V(\\d+(\\.\\d+){0,2})"));
    const QRegularExpressionMatch match = re.match(text);
    if (!match.hasMatch())
        return false;
    *version = QVersionNumber::fromString(match.captured(1));
    return true;
}

} // namespace

bool isVersionAtLeast(const QString &a, const QString &b)
{
    QVersionNumber va;
    QVersionNumber vb;
    if (!parseVersion(a, &va)) {
        qWarning() << "Cannot parse version from:" << a;
        return false;
    }
    if (!parseVersion(b, &vb)) {
        qWarning() << "Cannot parse version from:" << b;
        return false;
    }
    // QVersionNumber compares numerically part by part and ranks the longer
    // of two otherwise equal versions higher (1.2.0 > 1.2).
    return QVersionNumber::compare(va, vb) >= 0;
}

std::string formatHms(uint64_t seconds)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64,
                  seconds / 3600, (seconds / 60) % 60, seconds % 60);
    return buf;
}

std::string formatTimestampUs(uint64_t us)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02" PRIu64 ":%02" PRIu64 ":%06" PRIu64,
                  us / 60000000, (us / 1000000) % 60, us % 1000000);
    return buf;
}
