// The digest of what the dynamic loader maps of a module file.
#include "platform/modules/LoadedDigest.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include <elf.h>
#include <link.h>

namespace lg::image {

namespace {

bool inside(quint64 offset, quint64 size, quint64 fileSize)
{
    return offset <= fileSize && size <= fileSize - offset;
}

constexpr quint64 noteHeaderSize = 12;

// The file ranges (offset, size) of the GNU build-id values in the notes of
// the segment at [offset, offset + size); notes that run out of the segment
// end the walk (the ELF check says so).
void buildIdValues(QByteArrayView file, quint64 offset, quint64 size, quint64 alignment,
                   std::vector<std::pair<quint64, quint64>> *into)
{
    const quint64 align = alignment == 8 ? 8 : 4;
    const auto padded = [align](quint64 n) { return (n + align - 1) & ~(align - 1); };
    quint64 at = 0;
    while (size - at >= noteHeaderSize) {
        std::uint32_t header[3];
        std::memcpy(header, file.data() + offset + at, sizeof header);
        const quint64 nameAt = at + noteHeaderSize;
        const quint64 valueAt = nameAt + padded(header[0]);
        if (!inside(nameAt, padded(header[0]), size) || !inside(valueAt, header[1], size))
            return;
        if (header[2] == NT_GNU_BUILD_ID && header[0] == 4 && std::memcmp(file.data() + offset + nameAt, "GNU", 4) == 0)
            into->emplace_back(offset + valueAt, header[1]);
        if (!inside(valueAt, padded(header[1]), size))
            return;
        at = valueAt + padded(header[1]);
    }
}

// Adds file[offset, offset + size) to hash with the ranges in blank taken as zeros.
void addBlanked(QCryptographicHash &hash, QByteArrayView file, quint64 offset, quint64 size,
                const std::vector<std::pair<quint64, quint64>> &blank)
{
    static const char zeros[256] = {};
    quint64 at = offset;
    const quint64 end = offset + size;
    while (at < end) {
        // The first blank range that reaches past at.
        quint64 next = end;
        quint64 blankEnd = end;
        for (const auto &[from, length] : blank)
            if (from + length > at && from < next) {
                next = std::max(from, at);
                blankEnd = std::min(from + length, end);
            }
        if (next > at)
            hash.addData(file.sliced(qsizetype(at), qsizetype(next - at)));
        if (next >= end)
            break;
        for (quint64 left = blankEnd - next; left > 0;) {
            const quint64 piece = std::min<quint64>(left, sizeof zeros);
            hash.addData(QByteArrayView(zeros, qsizetype(piece)));
            left -= piece;
        }
        at = blankEnd;
    }
}

// The ELF header and program headers of file; empty with why set when they
// cannot be read as a module's.
std::vector<ElfW(Phdr)> programHeaders(QByteArrayView file, ElfW(Ehdr) *header, QString *why)
{
    const quint64 fileSize = quint64(file.size());
    if (fileSize < sizeof *header) {
        *why = QStringLiteral("it is too short to be a module");
        return {};
    }
    std::memcpy(header, file.data(), sizeof *header);
    if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0
        || header->e_ident[EI_CLASS] != (sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32)) {
        *why = QStringLiteral("it is not a module");
        return {};
    }
    if (header->e_phentsize != sizeof(ElfW(Phdr)) || header->e_phnum == 0
        || !inside(header->e_phoff, quint64(header->e_phnum) * sizeof(ElfW(Phdr)), fileSize)) {
        *why = QStringLiteral("its program headers lie outside the file, which is cut short or damaged");
        return {};
    }
    std::vector<ElfW(Phdr)> segments(header->e_phnum);
    std::memcpy(segments.data(), file.data() + header->e_phoff, segments.size() * sizeof(ElfW(Phdr)));
    return segments;
}

} // namespace

LoadedDigest loadedDigest(QByteArrayView file)
{
    const quint64 fileSize = quint64(file.size());
    ElfW(Ehdr) header;
    QString why;
    const std::vector<ElfW(Phdr)> segments = programHeaders(file, &header, &why);
    if (segments.empty())
        return {{}, why};

    // Left out: the section-header fields of the ELF header, and the build-id's value.
    std::vector<std::pair<quint64, quint64>> blank = {
        {offsetof(ElfW(Ehdr), e_shoff), sizeof header.e_shoff},
        {offsetof(ElfW(Ehdr), e_shentsize), sizeof header.e_shentsize + sizeof header.e_shnum + sizeof header.e_shstrndx},
    };
    for (const ElfW(Phdr) &segment : segments) {
        if (!inside(segment.p_offset, segment.p_filesz, fileSize)
            && (segment.p_type == PT_LOAD || segment.p_type == PT_NOTE))
            return {{}, QStringLiteral("a segment lies outside the file, which is cut short or damaged")};
        if (segment.p_type == PT_NOTE)
            buildIdValues(file, segment.p_offset, segment.p_filesz, segment.p_align, &blank);
    }

    QCryptographicHash hash(QCryptographicHash::Sha256);
    addBlanked(hash, file, 0, sizeof header, blank);
    hash.addData(file.sliced(qsizetype(header.e_phoff), qsizetype(segments.size() * sizeof(ElfW(Phdr)))));
    bool loads = false;
    for (const ElfW(Phdr) &segment : segments)
        if (segment.p_type == PT_LOAD) {
            addBlanked(hash, file, segment.p_offset, segment.p_filesz, blank);
            loads = true;
        }
    if (!loads)
        return {{}, QStringLiteral("it maps nothing")};
    return {hash.result(), {}};
}

QByteArray codeDigest(QByteArrayView file)
{
    ElfW(Ehdr) header;
    QString why;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    bool code = false;
    for (const ElfW(Phdr) &segment : programHeaders(file, &header, &why)) {
        if (segment.p_type != PT_LOAD)
            continue;
        const bool executable = (segment.p_flags & PF_X) != 0;
        const bool tables = segment.p_offset == 0 && !executable;   // the headers and the dynamic tables
        if (tables || (segment.p_flags & PF_W) != 0)
            continue;
        if (!inside(segment.p_offset, segment.p_filesz, quint64(file.size())))
            return {};
        hash.addData(file.sliced(qsizetype(segment.p_offset), qsizetype(segment.p_filesz)));
        code = code || executable;
    }
    return code ? hash.result() : QByteArray();
}

QByteArray clearedOfUncheckedBytes(QByteArrayView file, qint64 pageSize)
{
    QByteArray cleared = file.toByteArray();
    ElfW(Ehdr) header;
    QString why;
    const std::vector<ElfW(Phdr)> segments = programHeaders(file, &header, &why);
    const quint64 fileSize = quint64(file.size());
    if (segments.empty() || pageSize <= 0)
        return cleared;
    for (const ElfW(Phdr) &segment : segments)
        if (segment.p_type == PT_LOAD && !inside(segment.p_offset, segment.p_filesz, fileSize))
            return cleared;
    const quint64 page = quint64(pageSize);
    // What the digest covers: the headers and every loadable segment's bytes.
    std::vector<std::pair<quint64, quint64>> covered = {
        {0, sizeof header}, {header.e_phoff, header.e_phoff + segments.size() * sizeof(ElfW(Phdr))}};
    for (const ElfW(Phdr) &segment : segments)
        if (segment.p_type == PT_LOAD)
            covered.emplace_back(segment.p_offset, segment.p_offset + segment.p_filesz);
    std::sort(covered.begin(), covered.end());
    for (const ElfW(Phdr) &segment : segments) {
        if (segment.p_type != PT_LOAD)
            continue;
        const quint64 mappedEnd = std::min(fileSize, (segment.p_offset + segment.p_filesz + page - 1) / page * page);
        quint64 at = segment.p_offset / page * page;
        for (const auto &[from, to] : covered) {
            if (at >= mappedEnd)
                break;
            if (to <= at)
                continue;
            const quint64 clearTo = std::min(from, mappedEnd);
            if (clearTo > at)
                std::memset(cleared.data() + at, 0, size_t(clearTo - at));
            at = std::max(at, to);
        }
        if (at < mappedEnd)
            std::memset(cleared.data() + at, 0, size_t(mappedEnd - at));
    }
    return cleared;
}

} // namespace lg::image
