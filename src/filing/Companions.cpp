#include "filing/Companions.h"

#include <initializer_list>

namespace ztv::companions {

namespace {

bool hasExtension(const QString& name, std::initializer_list<const char*> extensions)
{
    for (const char* e : extensions)
        if (name.endsWith(QLatin1Char('.') + QLatin1String(e), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

bool isRaw(const QString& name)
{
    return hasExtension(name, { "CR3", "CR2", "NEF", "ARW", "DNG", "RAF", "ORF", "RW2" });
}

bool isCameraPicture(const QString& name)
{
    return isRaw(name) || hasExtension(name, { "JPG", "JPEG", "HEIC", "HEIF" });
}

bool isSidecar(const QString& name)
{
    return hasExtension(name, { "AAE", "XMP" });
}

bool isMotionClip(const QString& name)
{
    return hasExtension(name, { "MOV" });
}

bool isCompanion(const QString& name)
{
    return isRaw(name) || isSidecar(name) || isMotionClip(name);
}

NameParts splitName(const QString& name)
{
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return { name, QString() };
    if (isSidecar(name)) {
        // Named after its picture's whole name: that picture's stem.
        const QString inner = name.left(dot);
        const qsizetype d2 = inner.lastIndexOf(QLatin1Char('.'));
        if (d2 > 0 && (isCameraPicture(inner) || hasExtension(inner, { "TIF", "TIFF", "PNG" })))
            dot = d2;
    }
    return { name.left(dot), name.mid(dot) };
}

QString groupKey(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return path.left(slash + 1) + splitName(path.mid(slash + 1)).stem.toCaseFolded();
}

} // namespace ztv::companions
