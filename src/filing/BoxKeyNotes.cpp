#include "filing/BoxKeyNotes.h"

#include "filing/BoxKeys.h"
#include "filing/texts.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QPointer>

namespace ztv {

void showBoxKeys(FolderTree& tree, BoxKeys* keys, const StoragePaths& paths)
{
    if (!keys) {
        tree.setNoteSource(nullptr);
        return;
    }
    // The keys may go before the tree: a window's trees are its children, deleted after its members.
    tree.setNoteSource([keys = QPointer<BoxKeys>(keys), &paths](const QString& key) {
        const QString base = paths.AreaBasePath[Area::Vault];
        const QString root = base + QString::fromUtf16(kVaultName);
        if (!keys || base.isEmpty() || (key != root && !key.startsWith(root + u'/')))
            return QString();
        const int k = keys->keyOf(key.mid(root.size() + 1));
        return k ? QString::fromUtf16(filingtexts::KeyNote).arg(k) : QString();
    });
    QObject::connect(keys, &BoxKeys::changed, &tree, &FolderTree::showNotes, Qt::UniqueConnection);
}

} // namespace ztv
