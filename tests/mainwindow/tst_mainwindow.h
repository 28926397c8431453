#pragma once

#include <QObject>

class TstMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // window, menus, start-up
    void layoutAndCaptions();
    void menusAndItems();
    void formLoadBuildsAreas();
    void formLoadReportsEachFailingTab();
    void spreadsheetCheck_data();
    void spreadsheetCheck();
    void tabsKeepTheirOwnChoice();
    void exitButtonAndCloseBoxEndTheSame();
    void buttonAndMenuItemShareOneCommand();
    // page selector and names
    void pathText();
    void pageSelector_data();
    void pageSelector();
    // folder list and trees (tst_foldertree.cpp)
    void folderList();
    void cdTreeFromDrive();
    void oneLevelAheadAndRepeatedExpansion();
    void nodeExpReachesLastFirstLevelNode();
    void reopenTreePathOpensDownToBox();
    void expansionErrorRebuildsOnlyTheCdTree();
    void nodeClickListsFolder();
    void cdRootClickReloadsDisc();
    void treeMouseButtons();
    // the CD tree following the drive (tst_cddrive.cpp)
    void cdDiscAppearsSwapsAndGoes();
    void cdChangeWaitsUntilTheWindowIsFree();
    void cdDiscRemovedWhileListed();
    void cdRootClickAfterExpandErrorRebuild();
    void cdRootClickAsksToMountADisc();
};
