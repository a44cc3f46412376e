// The module file read as an ELF shared object, before any of its code runs.
#include "platform/modules/ElfCheck.h"

#include "platform/modules/ModuleNames.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <elf.h>
#include <link.h>

namespace lg::image {

namespace {

bool inside(quint64 offset, quint64 size, quint64 fileSize)
{
    return offset <= fileSize && size <= fileSize - offset;
}

bool readAt(QByteArrayView file, void *into, size_t size, quint64 offset)
{
    if (!inside(offset, size, quint64(file.size())))
        return false;
    std::memcpy(into, file.data() + offset, size);
    return true;
}

constexpr unsigned char hostClass = sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char hostData = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
#if defined(__x86_64__)
constexpr int hostMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int hostMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr int hostMachine = EM_386;
#elif defined(__arm__)
constexpr int hostMachine = EM_ARM;
#elif defined(__riscv)
constexpr int hostMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr int hostMachine = EM_PPC64;
#elif defined(__s390x__)
constexpr int hostMachine = EM_S390;
#else
constexpr int hostMachine = -1;   // not checked
#endif

// Reads the build note from the notes in [offset, offset + size) (inside the
// file): Damaged when a note there runs past the segment (its sizes cut short
// or damaged) or ours holds no identifier ended by a zero byte.
BuildNote buildNoteIn(QByteArrayView file, quint64 offset, quint64 size, quint64 alignment)
{
    const QByteArrayView notes = file.sliced(qsizetype(offset), qsizetype(size));
    const quint64 align = alignment == 8 ? 8 : 4;
    const auto padded = [align](quint64 n) { return (n + align - 1) & ~(align - 1); };
    quint64 at = 0;
    while (size - at >= 12) {
        std::uint32_t header[3];
        std::memcpy(header, notes.data() + at, sizeof header);
        const quint64 nameAt = at + 12;
        const quint64 descriptionAt = nameAt + padded(header[0]);
        const bool ours = header[2] == moduleNoteType && header[0] == sizeof moduleNoteName
            && inside(nameAt, sizeof moduleNoteName, size)
            && std::memcmp(notes.data() + nameAt, moduleNoteName, sizeof moduleNoteName) == 0;
        if (!inside(nameAt, padded(header[0]), size) || !inside(descriptionAt, header[1], size))
            return {BuildNote::State::Damaged, {}};
        if (ours) {
            const QByteArrayView description = notes.sliced(qsizetype(descriptionAt), qsizetype(header[1]));
            const qsizetype end = description.indexOf('\0');
            if (end <= 0)
                return {BuildNote::State::Damaged, {}};
            return {BuildNote::State::Found, description.first(end).toByteArray()};
        }
        if (!inside(descriptionAt, padded(header[1]), size))
            break;
        at = descriptionAt + padded(header[1]);
    }
    return {};
}

} // namespace

// A truncated module would fault inside the loader.
QString elfDamage(QByteArrayView file, BuildNote *note)
{
    const quint64 fileSize = quint64(file.size());
    ElfW(Ehdr) header;
    if (fileSize < sizeof header || !readAt(file, &header, sizeof header, 0))
        return QStringLiteral("it is too short to be a module");
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return QStringLiteral("it is not a module");
    if (header.e_ident[EI_CLASS] != hostClass || header.e_ident[EI_DATA] != hostData || header.e_type != ET_DYN
        || (hostMachine >= 0 && header.e_machine != hostMachine))
        return QStringLiteral("it is not a module for this machine");
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0
        || !inside(header.e_phoff, quint64(header.e_phnum) * sizeof(ElfW(Phdr)), fileSize))
        return QStringLiteral("its program headers lie outside the file, which is cut short or damaged");
    if (header.e_shnum != 0
        && (header.e_shentsize != sizeof(ElfW(Shdr))
            || !inside(header.e_shoff, quint64(header.e_shnum) * sizeof(ElfW(Shdr)), fileSize)))
        return QStringLiteral("its section headers lie outside the file, which is cut short or damaged");

    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!readAt(file, segments.data(), segments.size() * sizeof(ElfW(Phdr)), header.e_phoff))
        return QStringLiteral("its program headers cannot be read");
    bool loads = false;
    for (const ElfW(Phdr) &segment : segments) {
        const bool mapped = segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC || segment.p_type == PT_NOTE;
        if (mapped && !inside(segment.p_offset, segment.p_filesz, fileSize))
            return QStringLiteral("a segment lies outside the file, which is cut short or damaged");
        if (segment.p_type == PT_LOAD) {
            loads = true;
            if (segment.p_filesz > segment.p_memsz)
                return QStringLiteral("a segment is larger in the file than in memory");
        }
        if (segment.p_type == PT_NOTE && note->state == BuildNote::State::Missing)
            *note = buildNoteIn(file, segment.p_offset, segment.p_filesz, segment.p_align);
    }
    if (!loads)
        return QStringLiteral("it maps nothing");
    if (header.e_shnum != 0) {
        std::vector<ElfW(Shdr)> sections(header.e_shnum);
        if (!readAt(file, sections.data(), sections.size() * sizeof(ElfW(Shdr)), header.e_shoff))
            return QStringLiteral("its section headers cannot be read");
        for (const ElfW(Shdr) &section : sections)
            if (section.sh_type != SHT_NOBITS && section.sh_type != SHT_NULL
                && !inside(section.sh_offset, section.sh_size, fileSize))
                return QStringLiteral("a section lies outside the file, which is cut short or damaged");
    }
    return {};
}

bool dynamicSectionWhole(QByteArrayView file)
{
    const quint64 fileSize = quint64(file.size());
    ElfW(Ehdr) header;
    if (!readAt(file, &header, sizeof header, 0) || header.e_phentsize != sizeof(ElfW(Phdr)))
        return false;
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!readAt(file, segments.data(), segments.size() * sizeof(ElfW(Phdr)), header.e_phoff))
        return false;
    // Whether [address, address + size) lies in the file's bytes of a loaded segment.
    const auto loaded = [&segments](quint64 address, quint64 size) {
        for (const ElfW(Phdr) &segment : segments)
            if (segment.p_type == PT_LOAD && address >= segment.p_vaddr
                && inside(address - segment.p_vaddr, size, segment.p_filesz))
                return true;
        return false;
    };
    const auto dynamic = std::find_if(segments.begin(), segments.end(),
                                      [](const ElfW(Phdr) &segment) { return segment.p_type == PT_DYNAMIC; });
    if (dynamic == segments.end() || !inside(dynamic->p_offset, dynamic->p_filesz, fileSize)
        || !loaded(dynamic->p_vaddr, dynamic->p_filesz))
        return false;
    quint64 strings = 0, stringsSize = 0, symbols = 0;
    bool ended = false;
    std::vector<quint64> names;
    for (quint64 at = 0; at + sizeof(ElfW(Dyn)) <= dynamic->p_filesz && !ended; at += sizeof(ElfW(Dyn))) {
        ElfW(Dyn) entry;
        std::memcpy(&entry, file.data() + dynamic->p_offset + at, sizeof entry);
        switch (entry.d_tag) {
        case DT_NULL: ended = true; break;
        case DT_STRTAB: strings = entry.d_un.d_ptr; break;
        case DT_STRSZ: stringsSize = entry.d_un.d_val; break;
        case DT_SYMTAB: symbols = entry.d_un.d_ptr; break;
        case DT_NEEDED:
        case DT_RPATH:
        case DT_RUNPATH:
        case DT_SONAME: names.push_back(entry.d_un.d_val); break;
        default: break;
        }
    }
    if (!ended || stringsSize == 0 || !loaded(strings, stringsSize) || !loaded(symbols, sizeof(ElfW(Sym))))
        return false;
    return std::all_of(names.begin(), names.end(), [stringsSize](quint64 name) { return name < stringsSize; });
}

bool looksLikeBuildId(const QByteArray &id)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9]+(\\.[0-9]+)*\\+[0-9a-f]{16}$"));
    return shape.match(QString::fromLatin1(id)).hasMatch();
}

} // namespace lg::image
