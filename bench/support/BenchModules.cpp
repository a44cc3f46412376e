// Points every benchmark program at the codec modules of its build tree.
#include "platform/modules/Modules.h"

namespace {
const bool modulesFound = [] {
    lg::image::addModuleFolder(QStringLiteral(LG_MODULE_BUILD_DIR));
    return true;
}();
}
