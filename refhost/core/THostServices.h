// The reference host's own services: settings, store and till identity, message boxes and
// activity texts, and their registration in the container.
#pragma once

#include "TDIContainer.h"
#include "THostContext.h"
#include "TIniFile.h"
#include "clsInterfacedObject.h"
#include "intfActivityMessage.h"
#include "intfDisplayMessage.h"
#include "intfHostIdentity.h"
#include "intfINISettings.h"
#include "intfServiceFactory.h"

#include <filesystem>
#include <functional>

class QLabel;
#include <memory>
#include <optional>

namespace refhost {

// Settings over an INI file. Open(file, root) reads the file; ReadString(key, profile) looks
// the key up in section [root.profile] first, then in section [root]. A missing key reads as
// the empty text; ReadInteger raises an error for a missing key or a value that is not a whole
// number. Every read sees the file as it is now: it is read again when its modification time
// or size changed (or, within the file system's time-stamp granularity of a write, its text).
class TINISettings : public pallux::TInterfacedObject<pallux::IINISettings> {
public:
    void PALLUX_CALL Open(const std::string& fileName, const std::string& section) override;
    std::string PALLUX_CALL ReadString(const std::string& key, const std::string& profile) override;
    std::int32_t PALLUX_CALL ReadInteger(const std::string& key, const std::string& profile) override;
    void PALLUX_CALL WriteString(const std::string& key, const std::string& profile,
                                 const std::string& value) override;

private:
    // What tells a changed file from the one read last.
    struct TFileStamp {
        bool Exists = false;
        std::filesystem::file_time_type Time{};
        std::uintmax_t Size = 0;
        bool operator==(const TFileStamp&) const = default;
    };

    TIniFile FFile;
    std::string FRoot;
    TFileStamp FStamp;
    std::string FText; // the text FFile was read from
    std::filesystem::file_time_type FReadAt{};

    static TFileStamp StampOf(const std::filesystem::path& file);
    // Reads the file when its stamp or text differs from the one read last.
    void Load();
    // Load, when the stamp changed or the last write is too recent for the stamp to tell.
    void Refresh();
    std::optional<std::string> Lookup(const std::string& key, const std::string& profile);
};

// Store and till numbers from the host configuration's [Host] section (StoreID, TillID).
class THostIdentity : public pallux::TInterfacedObject<pallux::IStoreIdentity, pallux::ITillIdentity> {
public:
    explicit THostIdentity(std::shared_ptr<THostContext> ctx) : FContext(std::move(ctx)) {}
    std::int32_t PALLUX_CALL GetHostStoreID() override;
    std::int32_t PALLUX_CALL GetHostTillID() override;

private:
    std::shared_ptr<THostContext> FContext;
};

// "Yes", "No", "OK", "Cancel" for a button bit; other values in decimal.
std::string ButtonName(std::int32_t button);

// Message boxes: Qt message boxes in GUI mode; in headless mode the answer comes from the
// context's queue and every message goes to the transcript.
class TDisplayMessage : public pallux::TInterfacedObject<pallux::IDisplayMessage> {
public:
    explicit TDisplayMessage(std::shared_ptr<THostContext> ctx) : FContext(std::move(ctx)) {}
    std::int32_t PALLUX_CALL ShowMessage(const std::string& text, std::int32_t msgType,
                                         std::int32_t buttons) override;
    std::int32_t PALLUX_CALL ShowIdentifiedMessage(const std::string& text, const std::string& identifier,
                                                   std::int32_t number, std::int32_t msgType,
                                                   std::int32_t buttons) override;
    std::int32_t PALLUX_CALL ShowKeyedMessage(const std::string& text, const std::string& identifier,
                                              std::int32_t buttons, std::int32_t number) override;

private:
    std::shared_ptr<THostContext> FContext;
    std::int32_t Show(const std::string& text, std::int32_t msgType, std::int32_t buttons);
};

// A passing status text; it goes away when the caller releases the service.
class TActivityMessage : public pallux::TInterfacedObject<pallux::IActivityMessage> {
public:
    explicit TActivityMessage(std::shared_ptr<THostContext> ctx);
    ~TActivityMessage() override;
    void PALLUX_CALL ShowActivity(const std::string& text, std::int32_t number) override;
    void PALLUX_CALL UpdateActivity(const std::string& text, std::int32_t number) override;

private:
    std::shared_ptr<THostContext> FContext;
    std::unique_ptr<QLabel> FLabel;
    void Display(const std::string& kind, const std::string& text);
};

// A factory of host services that builds each object with a function.
template <class I> class THostFactory : public pallux::TInterfacedObject<pallux::IServiceFactory> {
public:
    explicit THostFactory(std::function<pallux::IntfPtr<I>()> make) : FMake(std::move(make)) {}
    void PALLUX_CALL CreateService(pallux::IntfPtr<pallux::IInterface>& instance) override {
        pallux::IntfPtr<I> object = FMake();
        instance = pallux::IntfPtr<pallux::IInterface>(object.get());
    }

private:
    std::function<pallux::IntfPtr<I>()> FMake;
};

template <class I>
void RegisterHostFactory(TDIContainer& container, std::function<pallux::IntfPtr<I>()> make) {
    container.RegisterFactory(I::IID, pallux::MakeIntf<THostFactory<I>>(std::move(make)).get());
}

// Registers the host services above (and the event manager instance) in the container.
void RegisterCoreServices(TDIContainer& container, const std::shared_ptr<THostContext>& ctx);

} // namespace refhost
