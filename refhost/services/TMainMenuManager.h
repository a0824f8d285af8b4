// The host's main-menu manager: entries added by modules to the main form's menus.
#pragma once

#include "THostContext.h"
#include "clsInterfacedObject.h"
#include "intfMainMenuManager.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace refhost {

struct TMenuEntry {
    std::string Menu;
    std::string Caption; // "-" for a separator
    pallux::TNotifyHandler OnClick;
};

// Keeps the entries in the order they were added. In GUI mode it also adds them to the main
// window's menu bar (through AddToWindow); in headless mode each entry goes to the transcript
// and a scenario clicks it by menu and caption.
class TMainMenuManager : public pallux::TInterfacedObject<pallux::IMainMenuManager> {
public:
    explicit TMainMenuManager(std::shared_ptr<THostContext> ctx) : FContext(std::move(ctx)) {}

    void PALLUX_CALL AddMenuItem(const std::string& menuName, const std::string& caption,
                                 const pallux::TNotifyHandler& onClick, std::int32_t index) override;

    const std::vector<TMenuEntry>& Entries() const { return FEntries; }
    // Clicks the first entry of that menu and caption; false when there is none or its object
    // is gone.
    bool Click(const std::string& menuName, const std::string& caption) const;
    // Called for every new entry (the GUI adds it to its menu bar).
    std::function<void(const TMenuEntry&)> OnAdded;

private:
    std::shared_ptr<THostContext> FContext;
    std::vector<TMenuEntry> FEntries;
};

// Calls an entry's handler when its object is still alive.
bool ClickEntry(const TMenuEntry& entry);

} // namespace refhost
