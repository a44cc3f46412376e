#pragma once
// Where a named section lies in an ELF file of this machine, for tests that
// damage, strip or rewrite a codec module and look at the result.
#include <QByteArray>

#include <cstring>
#include <optional>
#include <utility>

#include <elf.h>
#include <link.h>

namespace lg::test {

// The offset and size of the section called name in elf; none when the file
// has no section headers or no such section.
inline std::optional<std::pair<qint64, qint64>> sectionOf(const QByteArray &elf, const char *name)
{
    ElfW(Ehdr) header;
    if (elf.size() < qsizetype(sizeof header))
        return std::nullopt;
    std::memcpy(&header, elf.constData(), sizeof header);
    const auto sectionAt = [&](int index) {
        ElfW(Shdr) section;
        std::memcpy(&section, elf.constData() + header.e_shoff + quint64(index) * sizeof section, sizeof section);
        return section;
    };
    if (header.e_shnum == 0)
        return std::nullopt;
    const ElfW(Shdr) names = sectionAt(header.e_shstrndx);
    for (int i = 0; i < header.e_shnum; ++i) {
        const ElfW(Shdr) section = sectionAt(i);
        if (std::strcmp(elf.constData() + names.sh_offset + section.sh_name, name) == 0)
            return std::make_pair(qint64(section.sh_offset), qint64(section.sh_size));
    }
    return std::nullopt;
}

} // namespace lg::test
