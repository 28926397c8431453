#include "widgets/Icons.h"

#include <QFile>

#include <array>

namespace ztv {

namespace {

struct IconEntry {
    const char* name;
    const char* theme; // nullptr: no theme icon says the same
};

// Box operations and the vault transfers have no freedesktop counterpart; a generic "delete"
// or "copy" would make them look like the file operations beside them.
constexpr std::array<IconEntry, 21> kIcons { {
    { "vault-copy", nullptr }, { "vault-move", nullptr }, { "clipboard-copy", "edit-copy" },
    { "explorer", "system-file-manager" }, { "file-delete", "edit-delete" }, { "file-rename", nullptr },
    { "box-add", "folder-new" }, { "box-delete", nullptr }, { "box-rename", nullptr },
    { "paste", "edit-paste" }, { "clear", "edit-clear" }, { "save-image", "document-save" },
    { "save-gif", nullptr }, { "exit", "application-exit" }, { "web-page", "internet-web-browser" },
    { "Drive", "drive-optical" }, { "FoldClose", "folder" }, { "FoldOpen", "folder-open" },
    { "Medium", "media-flash" }, { "Phone", "phone" }, // a card or stick; a phone or camera over GVfs
    { "zentovi", "zentovi" }, // the program's own, as installed in the hicolor theme
} };

const IconEntry* find(const QString& name)
{
    for (const IconEntry& e : kIcons) {
        if (name == QLatin1String(e.name))
            return &e;
    }
    return nullptr;
}

} // namespace

QIcon builtinIcon(const QString& name)
{
    if (!find(name))
        return {};
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    if (!QFile::exists(path))
        return {};
    return QIcon(path);
}

QString themeIconName(const QString& name)
{
    const IconEntry* e = find(name);
    return e && e->theme ? QString::fromLatin1(e->theme) : QString();
}

QIcon icon(const QString& name)
{
    const QIcon builtin = builtinIcon(name);
    const QString theme = themeIconName(name);
    if (!theme.isEmpty() && QIcon::hasThemeIcon(theme))
        return QIcon::fromTheme(theme, builtin);
    return builtin;
}

QStringList iconNames()
{
    QStringList names;
    for (const IconEntry& e : kIcons)
        names << QString::fromLatin1(e.name);
    return names;
}

} // namespace ztv
