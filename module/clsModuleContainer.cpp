#include "clsModuleContainer.h"

#include <dlfcn.h>
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

std::filesystem::path ModuleFilePath() {
    // The loader's name for the object that holds this function: the module itself.
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ModuleFilePath), &info) != 0 && info.dli_fname)
        return std::filesystem::absolute(info.dli_fname);
    return {};
}

std::string ModuleSettingsFile() {
    auto path = ModuleFilePath();
    path.replace_extension(".ini");
    return path.string();
}

} // namespace zumvo
