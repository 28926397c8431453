#pragma once

#include <QByteArray>
#include <QSize>

namespace ztv::test {

// A little DNG as a camera writes one: IFD0 holds a JPEG preview (previewJpeg, of size
// previewSize; none when empty) and the Orientation tag, a sub-directory holds 12-bit
// uncompressed RGGB sensor data of sensorSize.
struct DngSpec {
    QSize sensorSize { 96, 64 };
    QByteArray previewJpeg;
    QSize previewSize;
    int orientation = 1;
    // Hostile variants: the preview's length field, and where the sensor data is said to lie,
    // written as given instead of the true values (0 = true value).
    quint32 previewLengthField = 0;
    quint32 sensorOffsetField = 0;
    // How many bytes of sensor data the file holds (negative: all it claims).
    qint64 sensorBytesWritten = -1;
};
QByteArray dng(const DngSpec& spec);

} // namespace ztv::test
