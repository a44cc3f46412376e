// A stand-in HEIC module for the loader's tests: its probe answers every file
// as 4321 x 1, so a test sees at once whether it ran. Built as a module of this
// build, as one naming another build (LG_MODULE_NOTE_BUILD_ID), and as one whose
// probe calls a function no library defines (LG_STUB_MISSING_SYMBOL).
#include "platform/image/ModuleInterfaces.h"

#ifdef LG_STUB_MISSING_SYMBOL
extern "C" int lumengallery_function_nobody_defines();
#endif

namespace {

class StubHeif final : public lg::image::HeifModule
{
public:
    lg::image::HeifInfo probe(const lg::image::ByteSource &) const override
    {
        lg::image::HeifInfo info;
        info.ok = true;
        info.size = QSize(4321, 1);
#ifdef LG_STUB_MISSING_SYMBOL
        info.depth = lumengallery_function_nobody_defines();
#endif
        return info;
    }
    std::optional<QImage> decode(const lg::image::ByteSource &, int) const override { return std::nullopt; }
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
