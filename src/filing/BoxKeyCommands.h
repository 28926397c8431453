#pragma once

#include <QString>

namespace ztv {

class OperationContext;
class VaultTransfer;

// The box keys 1-9: given to the box the vault tree marks from the box menu, and pressed on a
// browsing tab to file the chosen pictures into that box.
class BoxKeyCommands {
public:
    explicit BoxKeyCommands(VaultTransfer& transfer)
        : m_transfer(transfer)
    {
    }

    void assign(OperationContext& context, int key);
    void remove(OperationContext& context);
    // Files the current tab's chosen pictures into the key's box as the chooser would, then
    // chooses the next picture of the page. A key whose box vanished says so and files nothing.
    void press(OperationContext& context, int key);

    // Tells once that the keys file was found broken at start and moved aside.
    static void reportSetAside(OperationContext& context);

    // The caption of the menu item that gives that key: with the box it has now, if any.
    static QString itemText(OperationContext& context, int key);
    // The vault tree path of a key's box ("保管庫", "保管庫/旅行"); "" for a free key.
    static QString treePathOf(OperationContext& context, int key);

private:
    VaultTransfer& m_transfer;
};

} // namespace ztv
