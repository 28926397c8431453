#pragma once

#include <QDate>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace ztv {

class OperationContext;

// "写真台帳を作成…": the chosen pictures of the tab shown (with none chosen, every picture of
// the listed folder) become a photo ledger workbook (LedgerWorkbook), three to an A4 page,
// in the page's order or by date taken; written under a temporary name and renamed when
// whole, optionally also as PDF through the spreadsheet application, and opened in it where it
// can show windows. The pictures are decoded on a pool of their own while the window shows a
// progress line; Esc stops the run and leaves nothing under the chosen name.
class PhotoLedger {
public:
    enum class Order { Page, DateTaken };
    // Where the user chose to save, and whether a PDF is wanted too.
    struct Target {
        QString path;
        bool pdf = false;
    };
    // Asks where to save: proposed is the full path offered; pdfOffered whether the PDF choice
    // is available. None when the user cancelled. The default is a file dialog that asks before
    // replacing a file.
    using AskTarget
        = std::function<std::optional<Target>(QWidget* owner, const QString& proposed, bool pdfOffered)>;

    PhotoLedger();

    void make(OperationContext& context, Order order);

    // Tests: the save question, and a hook called after each picture's step (i counts from 0).
    void setTargetAsker(AskTarget ask) { m_ask = std::move(ask); }
    void setStepHook(std::function<void(int)> hook) { m_stepHook = std::move(hook); }

    // The name offered in the save dialog: 写真台帳_<folder>_<yyyyMMdd>.xlsx.
    static QString proposedName(const QString& folderName, const QDate& date);

private:
    AskTarget m_ask;
    std::function<void(int)> m_stepHook;
};

} // namespace ztv
