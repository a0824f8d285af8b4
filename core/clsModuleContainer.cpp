#include "clsModuleContainer.h"

#include "clsSysUtils.h"

#include <stdexcept>

namespace zumvo {

pallux::IntfPtr<pallux::IDIContainer>& ModuleContainer() {
    static pallux::IntfPtr<pallux::IDIContainer> container;
    return container;
}

pallux::IDIContainer& Container() {
    auto& c = ModuleContainer();
    if (!c)
        throw std::runtime_error("The module holds no service container");
    return *c;
}

std::string ModuleSettingsFile() {
    auto path = ModuleFilePath();
    path.replace_extension(".ini");
    return pallux::PathToUtf8(path);
}

} // namespace zumvo
