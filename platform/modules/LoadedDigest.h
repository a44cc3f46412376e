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

// The SHA-256 of the file's bytes of its code and constant data: its
// loadable segments that are neither writable nor the first, which holds the
// headers and the dynamic tables, in order. A rewrite of the module's links
// (patchelf's --set-rpath, --add-needed) moves its dynamic section and string
// table and adds a segment, and leaves these as the build made them. Empty
// when the file has no executable segment inside it.
QByteArray codeDigest(QByteArrayView file);

// The file as it is loaded: every byte of the pages the loader maps (each
// loadable segment from the start of its first page to the end of its last)
// that the loaded digest does not cover, past a segment's end or in a gap
// before one, set to zero, so that nothing unchecked is ever mapped.
// pageSize: the system's. A file that gives no digest is returned as it is.
QByteArray clearedOfUncheckedBytes(QByteArrayView file, qint64 pageSize);

} // namespace lg::image
