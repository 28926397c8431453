#pragma once

#include "imaging/PictureFormats.h"

#include <QList>
#include <QString>

class QWidget;

namespace ztv {

// What the user chose in the save dialog; every field goes to the save operations as it is.
struct SaveRequest {
    QString path; // full path; empty when the user cancelled
    int format = 0; // always the offered format
    int bits = 0; // bits per pixel, one the format allows
    int quality = 0; // JPEG quality 1..100; 0 for the other formats
    bool saveFlag = false; // keep transparency (PNG, GIF)
    bool extended = false; // the extended save was asked for
    int extendedSize = 0; // the longer side in pixels, for the extended save
    int extendedInteger = 0; // PictureDisplay::SaveInterlaced | SaveKeepTransparency, or 0
};

// The save dialog control: the caller sets its fields, shows it and reads the request.
// The dialog offers exactly one format (entry 0 of the format list) and shows that format's
// own name and extension whatever the filter field says, since one fixed filter would
// offer a PNG under "*.jpg". A name without that format's extension gets it appended.
class SaveDialog {
public:
    // Flag bit: the dialog does not ask about replacing an existing file; the caller does.
    static constexpr int DontConfirmOverwrite = 4096;
    // Option values: FormatOptions shows the format's depth and quality choices,
    // ExtendedOptions the extended save (size and progressive/interlaced).
    static constexpr int FormatOptions = 2;
    static constexpr int ExtendedOptions = 32;

    SaveDialog();
    virtual ~SaveDialog() = default;

    void setFileName(const QString& name) { m_fileName = name; }
    QString fileName() const { return m_fileName; }
    void setInitialFolder(const QString& folder) { m_initialFolder = folder; }
    QString initialFolder() const { return m_initialFolder; }
    void setFilter(const QString& filter) { m_filter = filter; } // kept; the offered format decides
    QString filter() const { return m_filter; }
    void setFlags(int flags) { m_flags = flags; }
    int flags() const { return m_flags; }
    void setTitle(const QString& title) { m_title = title; }
    QString title() const { return m_title; }
    void setFormatOptions(int value) { m_formatOptions = value; }
    int formatOptions() const { return m_formatOptions; }
    void setExtendedOptions(int value) { m_extendedOptions = value; }
    int extendedOptions() const { return m_extendedOptions; }
    // The offered format list. Entries keep their value until written again.
    void setFormatListSize(int size);
    int formatListSize() const { return int(m_formats.size()); }
    void setFormatListEntry(int index, int code);
    int formatListEntry(int index) const { return m_formats.value(index); }
    int offeredFormat() const; // entry 0, or JPEG when the list is empty

    // Runs the dialog modally over owner and gives the request (also kept in request()).
    virtual SaveRequest ShowSaveDialog(QWidget* owner);
    SaveRequest request() const { return m_request; }

    // The name the file gets: name unchanged when its extension is one of the format's,
    // else with the format's extension appended.
    static QString withFormatExtension(const QString& path, int format);

protected:
    // Asks the user; tests replace it. The result is then made to fit the offered format.
    virtual SaveRequest askUser(QWidget* owner);

private:
    QString m_fileName;
    QString m_initialFolder;
    QString m_filter;
    QString m_title;
    int m_flags = 0;
    int m_formatOptions = 0;
    int m_extendedOptions = 0;
    QList<int> m_formats { formats::Jpeg };
    SaveRequest m_request;
};

} // namespace ztv
