// The Qt image-format plugin for HEIF/AVIF, JPEG XL and camera RAW, compiled into the
// program and registered statically, so that everything reading pictures through
// QImageReader (the display, clipboard pastes) reads these too.
#include "imaging/ExtraFormats.h"

#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QImageReader>

namespace {

using ztv::ExtraFormat;

ExtraFormat peekFormat(QIODevice* device)
{
    if (!device || !device->isReadable())
        return ExtraFormat::None;
    const QByteArray head = device->peek(qint64(ztv::ExtraSniffBytes));
    return ztv::sniffExtraFormat(
        reinterpret_cast<const unsigned char*>(head.constData()), size_t(head.size()));
}

class ExtraFormatsHandler : public QImageIOHandler {
public:
    explicit ExtraFormatsHandler(ExtraFormat format)
        : m_format(format)
    {
    }

    bool canRead() const override
    {
        const ExtraFormat found = peekFormat(device());
        if (found == ExtraFormat::None)
            return false;
        setFormat(ztv::extraFormatKey(found));
        return true;
    }

    bool read(QImage* image) override
    {
        if (!load())
            return false;
        ztv::ExtraRequest request;
        // The reader's allocation limit (QImageReader's, in MiB, 4 bytes a pixel).
        const int limitMb = QImageReader::allocationLimit();
        if (limitMb > 0)
            request.maxPixels = std::min(request.maxPixels, qint64(limitMb) * 1024 * 1024 / 4);
        if (m_scaledSize.isValid())
            request.box = m_scaledSize;
        QImage decoded = ztv::decodeExtra(m_format, bytes(), size_t(m_data.size()), request);
        if (decoded.isNull())
            return false;
        if (m_scaledSize.isValid() && decoded.size() != m_scaledSize)
            decoded = decoded.scaled(m_scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        *image = std::move(decoded);
        m_done = true;
        return true;
    }

    bool supportsOption(ImageOption option) const override
    {
        return option == Size || option == ScaledSize || option == ImageFormat;
    }

    QVariant option(ImageOption option) const override
    {
        switch (option) {
        case Size:
            if (const_cast<ExtraFormatsHandler*>(this)->load())
                return ztv::probeExtra(m_format, bytes(), size_t(m_data.size()));
            return {};
        case ScaledSize:
            return m_scaledSize;
        case ImageFormat:
            return int(QImage::Format_RGB32);
        default:
            return {};
        }
    }

    void setOption(ImageOption option, const QVariant& value) override
    {
        if (option == ScaledSize)
            m_scaledSize = value.toSize();
    }

    // One picture per file: the first frame of an animation, the primary HEIF image.
    int imageCount() const override { return 1; }
    bool jumpToNextImage() override { return false; }

private:
    // The whole file, read once; the position of the device is left after it, as a reader
    // leaves it after a picture.
    bool load()
    {
        if (m_loaded)
            return !m_data.isEmpty();
        m_loaded = true;
        QIODevice* dev = device();
        if (!dev || m_done)
            return false;
        // QIODevice::read(n) allocates n bytes up front: a read of the limit would cost 256 MiB
        // for every small file. A file is read at its size, a stream in blocks.
        if (!dev->isSequential()) {
            const qint64 left = dev->size() - dev->pos();
            if (left <= 0 || left > ztv::ExtraFileLimit)
                return false;
            m_data = dev->read(left);
            return !m_data.isEmpty();
        }
        while (m_data.size() <= ztv::ExtraFileLimit) {
            const QByteArray block = dev->read(1024 * 1024);
            if (block.isEmpty())
                break;
            m_data += block;
        }
        if (m_data.size() > ztv::ExtraFileLimit)
            m_data.clear();
        return !m_data.isEmpty();
    }

    const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(m_data.constData()); }

    ExtraFormat m_format;
    QByteArray m_data;
    QSize m_scaledSize;
    bool m_loaded = false;
    bool m_done = false;
};

ExtraFormat formatForKey(const QByteArray& key)
{
    const QByteArray k = key.toLower();
    if (k == "heif" || k == "heic" || k == "avif")
        return ExtraFormat::Heif;
    if (k == "jxl")
        return ExtraFormat::Jxl;
    static const char* const raw[] = { "raw", "dng", "cr2", "cr3", "nef", "arw", "orf", "raf", "rw2" };
    for (const char* r : raw)
        if (k == r)
            return ExtraFormat::Raw;
    return ExtraFormat::None;
}

} // namespace

class ExtraFormatsPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "extraformats.json")
public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override
    {
        // Only by content: a name's extension can lie (a HEIC named .jpg), and a key with no
        // device to look at is only a question whether the format is read at all.
        if (!device)
            return formatForKey(format) != ExtraFormat::None ? CanRead : Capabilities();
        return peekFormat(device) != ExtraFormat::None ? CanRead : Capabilities();
    }

    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override
    {
        ExtraFormat found = peekFormat(device);
        if (found == ExtraFormat::None)
            found = formatForKey(format);
        auto* handler = new ExtraFormatsHandler(found);
        handler->setDevice(device);
        handler->setFormat(ztv::extraFormatKey(found));
        return handler;
    }
};

#include "ExtraFormatsPlugin.moc"
