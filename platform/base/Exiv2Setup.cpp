// The one-time set-up of exiv2.
#include "platform/base/Exiv2Setup.h"

#include <exiv2/exiv2.hpp>

#include <mutex>

namespace lg::image {

void ensureExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
#ifdef EXV_ENABLE_BMFF
        Exiv2::enableBMFF(true);
#endif
    });
}

} // namespace lg::image
