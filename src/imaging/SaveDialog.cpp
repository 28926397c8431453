#include "imaging/SaveDialog.h"

#include "imaging/PictureDisplay.h"
#include "imaging/PictureEncoder.h"
#include "imaging/texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QSpinBox>

namespace ztv {

namespace {

namespace t = texts::savedialog;

QStringList extensionsOf(const formats::FormatInfo* info)
{
    if (!info)
        return {};
    QStringList list { QString::fromLatin1(info->extension) };
    if (info->code == formats::Jpeg)
        list << QStringLiteral("jpeg");
    return list;
}

QString nameFilterFor(const formats::FormatInfo* info)
{
    if (!info)
        return QStringLiteral("* (*)");
    QStringList patterns;
    for (const QString& ext : extensionsOf(info))
        patterns << QStringLiteral("*.") + ext;
    return QStringLiteral("%1 (%2)").arg(QString::fromLatin1(info->name), patterns.join(QLatin1Char(' ')));
}

// The option controls added below the file dialog's own; only those that matter for the
// format are made.
struct OptionControls {
    QComboBox* bits = nullptr;
    QSpinBox* quality = nullptr;
    QCheckBox* keepTransparency = nullptr;
    QGroupBox* extended = nullptr;
    QSpinBox* extendedSize = nullptr;
    QCheckBox* interlaced = nullptr;
};

OptionControls addOptionControls(
    QFileDialog& dialog, const formats::FormatInfo* info, bool formatOptions, bool extendedOptions)
{
    OptionControls c;
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!info || !grid)
        return c;
    auto* panel = new QWidget(&dialog);
    auto* form = new QFormLayout(panel);
    form->setContentsMargins(0, 0, 0, 0);
    if (formatOptions && info->bits.size() > 1) {
        c.bits = new QComboBox(panel);
        c.bits->setObjectName(QStringLiteral("bits"));
        for (int b : info->bits)
            c.bits->addItem(QString::fromUtf16(t::BitsEntry).arg(b), b);
        c.bits->setCurrentIndex(c.bits->findData(info->defaultBits));
        form->addRow(QString::fromUtf16(t::Bits), c.bits);
    }
    if (formatOptions && info->hasQuality) {
        c.quality = new QSpinBox(panel);
        c.quality->setObjectName(QStringLiteral("quality"));
        c.quality->setRange(1, 100);
        c.quality->setValue(formats::DefaultJpegQuality);
        form->addRow(QString::fromUtf16(t::Quality), c.quality);
    }
    if (info->canKeepAlpha) {
        c.keepTransparency = new QCheckBox(QString::fromUtf16(t::KeepTransparency), panel);
        c.keepTransparency->setObjectName(QStringLiteral("keepTransparency"));
        // A GIF is flattened onto white unless the user asks otherwise, as GIF saves always were.
        c.keepTransparency->setChecked(info->code != formats::Gif);
        form->addRow(c.keepTransparency);
    }
    if (extendedOptions) {
        c.extended = new QGroupBox(QString::fromUtf16(t::Extended), panel);
        c.extended->setObjectName(QStringLiteral("extended"));
        c.extended->setCheckable(true);
        c.extended->setChecked(false);
        auto* inner = new QFormLayout(c.extended);
        c.extendedSize = new QSpinBox(c.extended);
        c.extendedSize->setObjectName(QStringLiteral("extendedSize"));
        c.extendedSize->setRange(1, kMaxEncodeSide);
        c.extendedSize->setValue(800);
        c.extendedSize->setSuffix(QString::fromUtf16(t::Pixels));
        inner->addRow(QString::fromUtf16(t::LongerSide), c.extendedSize);
        if (info->canInterlace) {
            c.interlaced = new QCheckBox(QString::fromUtf16(t::Interlaced), c.extended);
            c.interlaced->setObjectName(QStringLiteral("interlaced"));
            inner->addRow(c.interlaced);
        }
        form->addRow(c.extended);
    }
    grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
    return c;
}

} // namespace

SaveDialog::SaveDialog()
    : m_title(QString::fromUtf16(t::Title))
{
}

void SaveDialog::setFormatListSize(int size)
{
    size = std::max(0, size);
    while (m_formats.size() < size)
        m_formats << formats::Jpeg;
    m_formats.resize(size);
}

void SaveDialog::setFormatListEntry(int index, int code)
{
    if (index >= 0 && index < m_formats.size())
        m_formats[index] = code;
}

int SaveDialog::offeredFormat() const
{
    return m_formats.isEmpty() ? formats::Jpeg : m_formats.first();
}

QString SaveDialog::withFormatExtension(const QString& path, int format)
{
    const QStringList extensions = extensionsOf(formats::formatInfo(format));
    if (path.isEmpty() || extensions.isEmpty())
        return path;
    const QString suffix = QFileInfo(path).suffix();
    if (extensions.contains(suffix, Qt::CaseInsensitive))
        return path;
    return path + QLatin1Char('.') + extensions.first();
}

SaveRequest SaveDialog::ShowSaveDialog(QWidget* owner)
{
    SaveRequest request = askUser(owner);
    if (request.path.isEmpty()) {
        request = SaveRequest {};
    } else {
        request.format = offeredFormat();
        request.path = withFormatExtension(request.path, request.format);
        if (const formats::FormatInfo* info = formats::formatInfo(request.format)) {
            const int bits = formats::resolveBits(*info, request.bits);
            request.bits = bits ? bits : info->defaultBits;
        }
    }
    m_request = request;
    return request;
}

SaveRequest SaveDialog::askUser(QWidget* owner)
{
    const formats::FormatInfo* info = formats::formatInfo(offeredFormat());
    QFileDialog dialog(owner, m_title.isEmpty() ? QString::fromUtf16(t::Title) : m_title, m_initialFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, m_flags & DontConfirmOverwrite);
    dialog.setNameFilter(nameFilterFor(info));
    if (!m_fileName.isEmpty())
        dialog.selectFile(m_fileName);
    const OptionControls c = addOptionControls(
        dialog, info, m_formatOptions & FormatOptions, m_extendedOptions & ExtendedOptions);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};

    SaveRequest request;
    request.path = dialog.selectedFiles().constFirst();
    request.bits = c.bits ? c.bits->currentData().toInt() : (info ? info->defaultBits : 0);
    request.quality
        = c.quality ? c.quality->value() : (info && info->hasQuality ? formats::DefaultJpegQuality : 0);
    request.saveFlag = c.keepTransparency && c.keepTransparency->isChecked();
    request.extended = c.extended && c.extended->isChecked();
    request.extendedSize = c.extendedSize ? c.extendedSize->value() : 0;
    // The extended save takes its options as bits of this one integer, transparency among them.
    request.extendedInteger = (c.interlaced && c.interlaced->isChecked() ? PictureDisplay::SaveInterlaced : 0)
        | (request.saveFlag ? PictureDisplay::SaveKeepTransparency : 0);
    return request;
}

} // namespace ztv
