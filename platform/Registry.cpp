#include "Registry.h"

namespace {
Registry* installed = nullptr;
} // namespace

Registry& Registry::instance()
{
    return installed ? *installed : nativeRegistry();
}

void Registry::setInstance(Registry* registry)
{
    installed = registry;
}
