// Paths that carry the bytes of names that are not valid UTF-8.
#include "platform/files/names/FileNames.h"

#include <QFile>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace lg::FileNames {

namespace {

constexpr char16_t firstCarried = 0xDC80;
constexpr char16_t lastCarried = 0xDCFF;

bool isCarried(const QChar *at, const QChar *begin)
{
    const char16_t u = at->unicode();
    if (u < firstCarried || u > lastCarried)
        return false;
    // The low half of a pair is a character of its own.
    return at == begin || !at[-1].isHighSurrogate();
}

// The length of the valid UTF-8 sequence at p (of n bytes), or 0.
int validSequence(const uchar *p, qsizetype n)
{
    const uchar b = p[0];
    auto continuation = [&](int i) { return i < n && (p[i] & 0xC0) == 0x80; };
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        if (n < 3 || !continuation(1) || !continuation(2))
            return 0;
        if ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] > 0x9F))
            return 0;  // too long a form, or a surrogate
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (n < 4 || !continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        if ((b == 0xF0 && p[1] < 0x90) || (b == 0xF4 && p[1] > 0x8F))
            return 0;  // too long a form, or past U+10FFFF
        return 4;
    }
    return 0;
}

} // namespace

QString fromNative(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n && p[i] < 0x80)
        ++i;
    if (i == n)
        return QString::fromLatin1(bytes);
    QString path = QString::fromLatin1(bytes.constData(), i);
    qsizetype run = i;  // start of the valid bytes not yet decoded
    while (i < n) {
        const int length = validSequence(p + i, n - i);
        if (length > 0) {
            i += length;
            continue;
        }
        path += QString::fromUtf8(bytes.constData() + run, i - run);
        path += QChar(char16_t(firstCarried + (p[i] - 0x80)));
        run = ++i;
    }
    path += QString::fromUtf8(bytes.constData() + run, n - run);
    return path;
}

bool hasRawBytes(const QString &path)
{
    const QChar *begin = path.constData();
    for (const QChar *c = begin, *end = begin + path.size(); c != end; ++c) {
        if (isCarried(c, begin))
            return true;
    }
    return false;
}

QByteArray toNative(const QString &path)
{
    if (!hasRawBytes(path))
        return QFile::encodeName(path);
    QByteArray bytes;
    const QChar *begin = path.constData();
    const QChar *run = begin;
    const QChar *end = begin + path.size();
    for (const QChar *c = begin; c != end; ++c) {
        if (!isCarried(c, begin))
            continue;
        bytes += QStringView(run, c).toUtf8();
        bytes += char(0x80 + (c->unicode() - firstCarried));
        run = c + 1;
    }
    bytes += QStringView(run, end).toUtf8();
    return bytes;
}

QString shown(const QString &text)
{
    if (!hasRawBytes(text))
        return text;
    QString result = text;
    const QChar *begin = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isCarried(begin + i, begin))
            result[i] = QChar::ReplacementCharacter;
    }
    return result;
}

QString notTextMessage(const QString &path)
{
    return QStringLiteral("The name of \u201C%1\u201D cannot be read: it is not valid UTF-8 text. Rename it in a "
                          "file manager, then try again.")
        .arg(shown(path));
}

QUrl urlOf(const QString &path)
{
    if (!hasRawBytes(path))
        return QUrl::fromLocalFile(path);
    return QUrl::fromEncoded("file://" + toNative(path).toPercentEncoding("/"), QUrl::StrictMode);
}

QString pathOf(const QUrl &url)
{
    if (!url.isLocalFile())
        return QString();
    const QString plain = url.toLocalFile();
    // Only a name that was not valid UTF-8 reads with a replacement character.
    if (!plain.contains(QChar::ReplacementCharacter) || !url.host().isEmpty())
        return plain;
    return fromNative(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

bool exists(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(toNative(path).constData(), &st) == 0;
}

bool isFolder(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(toNative(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString canonical(const QString &path)
{
    if (path.isEmpty())
        return QString();
    char resolved[PATH_MAX];
    if (!::realpath(toNative(path).constData(), resolved))
        return QString();
    return fromNative(QByteArray(resolved));
}

} // namespace lg::FileNames
