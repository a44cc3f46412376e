#pragma once
// The checks of a module file as an ELF shared object of this machine that
// loads safely, made on the bytes read through its handle before any of its
// code runs, and its build note (room-internal). Any thread; pure.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace lg::image {

// The module's build note (platform/modules/identity/ModuleNote.cpp).
struct BuildNote
{
    enum class State { Missing, Found, Damaged } state = State::Missing;
    QByteArray id;   // when Found
};

// Why file cannot be a module of this machine that loads safely (empty when
// it can): its header, and every segment and section it maps or names, must
// lie within it. Fills note from its build note.
QString elfDamage(QByteArrayView file, BuildNote *note);

// Whether the dynamic section of file (one elfDamage() accepts) reads as a
// linker writes one: ended by its null entry inside its segment, its string
// and symbol tables inside loaded segments, and every name it gives (needed
// libraries, search paths, its own name) inside its string table. A zeroed or
// overwritten section does not; one a tool such as patchelf rewrote does.
bool dynamicSectionWhole(QByteArrayView file);

// Whether id has the shape of a build identifier ("1.0.0+0123456789abcdef"):
// one that has not is a damaged note, not another build's.
bool looksLikeBuildId(const QByteArray &id);

} // namespace lg::image
