// A host for unit tests of module units: the reference host's container and core services,
// handed to the module as its container for the test's duration.
#pragma once

#include "TDIContainer.h"
#include "THostServices.h"
#include "clsModuleContainer.h"
#include "clsSysUtils.h"

#include <filesystem>
#include <fstream>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/locking.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace zumvo::test {

// A factory that counts the objects it builds.
template <class T, class I>
class TCountingFactory : public pallux::TInterfacedObject<pallux::IServiceFactory> {
public:
    explicit TCountingFactory(int* count) : FCount(count) {}
    void PALLUX_CALL CreateService(pallux::IntfPtr<pallux::IInterface>& instance) override {
        ++*FCount;
        auto object = pallux::MakeIntf<T, I>();
        instance = pallux::IntfPtr<pallux::IInterface>(object.get());
    }

private:
    int* FCount;
};

// CTest runs the cases of one program in parallel processes, and they all share the settings
// file next to the program: each case holds it exclusively for its whole run.
class TSettingsFileLock {
public:
#ifdef _WIN32
    // Not windows.h here: its macros (CreateService...) would rename the host SDK's operations.
    TSettingsFileLock() {
        _wsopen_s(&FFd, pallux::Utf8ToPath(ModuleSettingsFile() + ".lock").c_str(),
                  _O_CREAT | _O_RDWR | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
        // _LK_LOCK gives up after some seconds of trying: try again until the lock is ours.
        while (FFd >= 0 && _locking(FFd, _LK_LOCK, 1) != 0) {
        }
    }
    ~TSettingsFileLock() {
        if (FFd >= 0)
            _close(FFd); // releases the lock
    }
#else
    TSettingsFileLock() {
        // Not inherited: a simulator started by a test that then died would hold the lock, and
        // every later test would wait for it.
        FFd = open((ModuleSettingsFile() + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        if (FFd >= 0)
            flock(FFd, LOCK_EX);
    }
    ~TSettingsFileLock() {
        if (FFd >= 0)
            close(FFd); // releases the lock
    }
#endif
    TSettingsFileLock(const TSettingsFileLock&) = delete;
    TSettingsFileLock& operator=(const TSettingsFileLock&) = delete;

private:
    int FFd = -1;
};

class TModuleTestHost : private TSettingsFileLock {
public:
    explicit TModuleTestHost(const std::string& hostIni = "[Host]\nStoreID=12\nTillID=3\n") {
        Folder = std::filesystem::temp_directory_path() /
                 ("zumvo_module_" + std::to_string(getpid()) + "_" + std::to_string(++Counter()));
        std::filesystem::remove_all(Folder);
        std::filesystem::create_directories(Folder);
        std::ofstream(Folder / "host.ini") << hostIni;
        Context = refhost::THostContext::Load(Folder / "host.ini", "Invoicing", true);
        Container = pallux::MakeIntf<refhost::TDIContainer, refhost::TDIContainer>();
        refhost::RegisterCoreServices(*Container, Context);
        ModuleContainer() = pallux::IntfPtr<pallux::IDIContainer>(Container.get());
    }
    ~TModuleTestHost() {
        ModuleContainer().reset();
        Container.reset();
        std::filesystem::remove_all(Folder);
    }

    std::filesystem::path Folder;
    std::shared_ptr<refhost::THostContext> Context;
    pallux::IntfPtr<refhost::TDIContainer> Container;

private:
    static int& Counter() {
        static int n = 0;
        return n;
    }
};

} // namespace zumvo::test
