#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

namespace ztv {

// The program's icons by name: the buttons' ("vault-copy", "vault-move", "clipboard-copy",
// "explorer", "file-delete", "file-rename", "box-add", "box-delete", "box-rename", "paste",
// "clear", "save-image", "save-gif", "exit", "web-page"), the folder tree's ("Drive",
// "FoldClose", "FoldOpen", "Medium", "Phone") and the program's own ("zentovi"). The desktop's icon theme
// wins where it has a fitting icon; every name also has a built-in SVG, so the result is never null for a
// known name.
QIcon icon(const QString& name);

// The built-in picture alone, whatever the theme holds (null for an unknown name).
QIcon builtinIcon(const QString& name);

// The freedesktop theme name tried first for a program icon name; empty when the theme's
// icons would not say the same thing.
QString themeIconName(const QString& name);

QStringList iconNames();

} // namespace ztv
