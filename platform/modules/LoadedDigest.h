#pragma once
// The digest by which a codec module is known: of what the dynamic loader maps
// and runs, not of the file's every byte, so that what packaging rewrites
// (stripping symbols and debug sections, splitting debug information off with
// a debug link, a new build-id) leaves it as it was, while a change to any
// byte the loader maps changes it.
//
// It is the SHA-256 of the ELF header, the program headers and the file's
// bytes of every loadable segment (PT_LOAD), in order, with two things left
// out (taken as zeros): the section-header fields of the ELF header (e_shoff,
// e_shentsize, e_shnum, e_shstrndx), which the loader never reads, and the
// value of the GNU build-id note, which a debug split may rewrite. The build
// records it for every module it makes (identity/ModuleDigestTool.cpp); the
// loader computes it of the bytes it will load.
//
// Any thread; pure, no file access. An ELF file of this machine's class and
// byte order whose headers and loadable segments lie inside it gives a digest;
// anything else none, with the reason.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace lg::image {

struct LoadedDigest
{
    QByteArray sha256;   // 32 bytes; empty when the file cannot be read as a module
    QString error;       // why, when it cannot
};

LoadedDigest loadedDigest(QByteArrayView file);

} // namespace lg::image
