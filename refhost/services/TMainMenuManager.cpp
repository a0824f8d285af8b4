#include "TMainMenuManager.h"

namespace refhost {

bool ClickEntry(const TMenuEntry& entry) {
    if (!entry.OnClick.Proc || !entry.OnClick.Owner.Alive())
        return false;
    entry.OnClick.Proc(entry.OnClick.Self);
    return true;
}

void TMainMenuManager::AddMenuItem(const std::string& menuName, const std::string& caption,
                                   const pallux::TNotifyHandler& onClick, std::int32_t index) {
    TMenuEntry entry{menuName, caption, onClick};
    auto pos = FEntries.end();
    if (index >= 0) {
        // index counts the entries of that menu
        std::int32_t n = 0;
        for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
            if (it->Menu == menuName && n++ == index) {
                pos = it;
                break;
            }
    }
    FEntries.insert(pos, entry);
    FContext->Transcript.Write("MENU", menuName + " / " + caption);
    if (OnAdded)
        OnAdded(entry);
}

bool TMainMenuManager::Click(const std::string& menuName, const std::string& caption) const {
    for (const auto& e : FEntries)
        if (e.Menu == menuName && e.Caption == caption)
            return ClickEntry(e);
    return false;
}

} // namespace refhost
