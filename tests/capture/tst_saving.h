#pragma once

#include <QObject>

class TstSaving : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // the format chooser and the dialog set-up (tst_saving.cpp)
    void chooserOpensAndEveryWayOutEnablesTheWindow_data();
    void chooserOpensAndEveryWayOutEnablesTheWindow();
    void chooserRemembersItsOptionUntilCancelled();
    void dialogSetUpForChooserAndGif();
    void noOptionChosenKeepsTheOfferedFormat();
    void dialogCancelledWritesNothing();
    // saving and the views (tst_saving.cpp)
    void pngIntoTheStockYard();
    void jpegIntoAVaultBox();
    void outsideTheStorageRoot();
    void typedNameGetsTheFormatsExtension();
    void overwriteRefusedOrAccepted();
    void nameDifferingOnlyInCaseAsksNothing();
    void extendedChooserSaveWritesOnceAndRefreshesNothing();
    void earlierStoppedRunDoesNotCutTheRefreshShort();
    void escStopsTheRefreshAfterASave();
    // GIF, failures and the path rules (tst_savetargets.cpp)
    void gifSave_data();
    void gifSave();
    void gifKeepsTheWindowEnabled();
    void transparencyKeptWhenAsked_data();
    void transparencyKeptWhenAsked();
    void nothingPastedReportsTheFailedSave();
    void failedSaveIsReported_data();
    void failedSaveIsReported();
    void refreshListingFailure();
    void fileCheck();
    void locateSavedFile_data();
    void locateSavedFile();
};
