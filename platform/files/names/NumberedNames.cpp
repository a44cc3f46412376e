// The numbered-name rule on a name's bytes, shared by the file layer and the cleanup.
#include "platform/files/names/NumberedNames.h"

namespace lg {

QByteArray numberedNameBytes(const QByteArray &name, std::optional<qint64> number, bool isFolder,
                             const QByteArray &separator, int maxBytes)
{
    QByteArray base = name, extension;
    const qsizetype dot = name.lastIndexOf('.');
    if (!isFolder && dot > 0 && dot < name.size() - 1) {
        base = name.left(dot);
        extension = name.mid(dot);
    }
    const QByteArray count = number ? separator + QByteArray::number(*number) : QByteArray();
    if (count.size() + extension.size() >= maxBytes) {   // no room beside the extension
        base = name;
        extension.clear();
    }
    if (base.size() + count.size() + extension.size() > maxBytes) {
        base.truncate(qMax<qsizetype>(0, maxBytes - count.size() - extension.size()));
        while (!base.isEmpty() && (uchar(name.at(base.size())) & 0xC0) == 0x80)
            base.chop(1);   // never cut inside a UTF-8 character
    }
    return base + count + extension;
}

} // namespace lg
