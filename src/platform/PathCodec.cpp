#include "PathCodec.h"

#include <QStringDecoder>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>

namespace ztv {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not one. Overlong
// forms, encoded surrogates and values beyond U+10FFFF are not valid.
int utf8Length(const unsigned char* s, qsizetype i, qsizetype n, char32_t* out)
{
    const unsigned char b = s[i];
    int len;
    char32_t cp;
    char32_t min;
    if (b < 0x80) {
        *out = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        len = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > n)
        return 0;
    for (int k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *out = cp;
    return len;
}

} // namespace

QString decodePath(const QByteArray& bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        char32_t cp;
        const int len = utf8Length(s, i, n, &cp);
        if (len == 0) {
            out.append(QChar(char16_t(0xDC00 + s[i])));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i += len;
    }
    return out;
}

QByteArray encodePath(const QString& path)
{
    QByteArray out;
    out.reserve(path.size() * 3);
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = path.at(i).unicode();
        char32_t cp = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            cp = QChar::surrogateToUcs4(c, path.at(++i).unicode());
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.append(char(c - 0xDC00)); // an escaped raw byte
            continue;
        } else if (QChar::isSurrogate(c)) {
            cp = 0xFFFD; // a lone surrogate nothing decodes to
        }
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool hasRawBytes(const QString& path)
{
    for (const QChar c : path) {
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            return true;
    }
    return false;
}

namespace {

// An old disc's name: Windows wrote Shift_JIS (its code page 932). Only a reading without
// errors and without control characters counts, so random bytes do not pass for kanji.
QString readAsShiftJis(const QByteArray& bytes)
{
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return {};
    const QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.isEmpty())
        return {};
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() == 0xFFFD)
            return {};
    }
    return text;
}

QString displayPart(const QString& part)
{
    if (!hasRawBytes(part))
        return part;
    const QString sjis = readAsShiftJis(encodePath(part));
    if (!sjis.isEmpty())
        return sjis;
    QString shown = part;
    for (QChar& c : shown) {
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            c = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

} // namespace

QString displayName(const QString& path)
{
    if (!hasRawBytes(path))
        return path;
    QStringList parts = path.split(QLatin1Char('/'));
    for (QString& part : parts)
        part = displayPart(part);
    return parts.join(QLatin1Char('/'));
}

QUrl fileUrl(const QString& path)
{
    return QUrl::fromEncoded("file://" + encodePath(path).toPercentEncoding("/"), QUrl::StrictMode);
}

QString localPathOf(const QUrl& url)
{
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return QString();
    // QUrl::toLocalFile would turn bytes that are not UTF-8 into U+FFFD.
    return decodePath(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

int openPath(const QString& path, int flags, unsigned mode)
{
    return ::open(encodePath(path).constData(), flags, mode_t(mode));
}

bool statPath(const QString& path, struct stat* st)
{
    return ::stat(encodePath(path).constData(), st) == 0;
}

bool lstatPath(const QString& path, struct stat* st)
{
    return ::lstat(encodePath(path).constData(), st) == 0;
}

} // namespace ztv
