// A stand-in HEIC module for the loader's tests: its probe answers every file
// as 4321 x 1, so a test sees at once whether it ran, and as soon as it is
// loaded its constructor creates the file named by LG_STUB_MARKER, so a test
// sees whether any of its code ran at all. Built as a module of this build, as
// one naming another build (LG_MODULE_NOTE_BUILD_ID), as one whose probe calls
// a function no library defines (LG_STUB_MISSING_SYMBOL), and as a foreign
// file that carries this build's note but was never made by the build
// (LG_STUB_FOREIGN: it answers 1234 x 5). With LG_STUB_ABORT set, its probe
// ends the process inside the module (lumengallery_stub_stops_here), for the
// tests of what a crash report shows.
#include "platform/image/ModuleInterfaces.h"

#include <cstdio>
#include <cstdlib>

#ifdef LG_STUB_MISSING_SYMBOL
extern "C" int lumengallery_function_nobody_defines();
#endif

namespace {

#ifdef LG_STUB_FOREIGN
constexpr QSize answer(1234, 5);
#else
constexpr QSize answer(4321, 1);
#endif

// Not inlined, so that a backtrace shows it as a frame of its own.
__attribute__((noinline)) int lumengallery_stub_stops_here()
{
    if (std::getenv("LG_STUB_ABORT"))
        std::abort();
    return 0;
}

__attribute__((constructor)) void markLoaded()
{
    if (const char *marker = std::getenv("LG_STUB_MARKER"))
        if (std::FILE *file = std::fopen(marker, "w"))
            std::fclose(file);
}

class StubHeif final : public lg::image::HeifModule
{
public:
    lg::image::HeifInfo probe(const lg::image::ByteSource &) const override
    {
        lg::image::HeifInfo info;
        info.ok = lumengallery_stub_stops_here() == 0;
        info.size = answer;
#ifdef LG_STUB_MISSING_SYMBOL
        info.depth = lumengallery_function_nobody_defines();
#endif
        return info;
    }
    std::optional<QImage> decode(const lg::image::ByteSource &, const lg::image::HeifDecodeOptions &) const override
    {
        return std::nullopt;
    }
    std::optional<QByteArray> encode(const QImage &, int, const QByteArray &, const QByteArray &, const QByteArray &,
                                     QString *) const override
    {
        return std::nullopt;
    }
};

} // namespace

LG_MODULE_EXPORT const void *lumengallery_heif_module(int version)
{
    static const StubHeif module;
    return version == lg::image::moduleInterfaceVersion ? static_cast<const lg::image::HeifModule *>(&module) : nullptr;
}
