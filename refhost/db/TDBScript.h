// The host's database script service, as the module obtains it from the container.
#pragma once

#include "TDatabase.h"
#include "TFaultPoints.h"

#include <clsInterfacedObject.h>
#include <intfDBScript.h>
#include <intfServiceFactory.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace refhost {

// A format text and its arguments do not fit together.
class ESqlFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Substitutes the arguments into a format text: %d an integer in decimal, %s a text unchanged,
// %f a floating value in fixed-point with "." and 6 decimals, %% a percent sign. A placeholder
// whose argument has another type, a missing or a surplus argument, and any other placeholder
// are errors.
std::string FormatSql(const std::string& format, const pallux::TSqlArgs& args);

// The statement trace: every batch the service receives, appended to a file.
class TSqlTrace {
public:
    explicit TSqlTrace(std::filesystem::path file) : FFile(std::move(file)) {}
    // Appends "-- <local time>\n<batch>\n\n".
    void Append(const std::string& batch);
    const std::filesystem::path& File() const { return FFile; }

private:
    std::filesystem::path FFile;
    std::mutex FLock;
    bool FReported = false;
};

class TDBScript : public pallux::TInterfacedObject<pallux::IDBScript> {
public:
    // faults: the process's fault points (statements numbered, refused, the process killed);
    // none: every statement runs.
    explicit TDBScript(std::shared_ptr<TDatabase> database, std::shared_ptr<TSqlTrace> trace = nullptr,
                       std::shared_ptr<TFaultPoints> faults = nullptr);

    void PALLUX_CALL Execute(const std::string& sql) override;
    std::int32_t PALLUX_CALL ExecuteRowCount(const std::string& sql) override;
    bool PALLUX_CALL ExecuteFmt(const std::string& format, const pallux::TSqlArgs& args) override;
    std::string PALLUX_CALL Format(const std::string& format, const pallux::TSqlArgs& args) override;
    void PALLUX_CALL GetValue(const std::string& sql, const std::string& column, std::string& value) override;
    void PALLUX_CALL GetValueFmt(const std::string& format, const pallux::TSqlArgs& args,
                                 const std::string& column, std::string& value) override;
    // The rows of the batch's first result set ("[]" when the batch answers none).
    void PALLUX_CALL Query(const std::string& sql, std::string& json) override;
    void PALLUX_CALL QueryFmt(const std::string& format, const pallux::TSqlArgs& args,
                              std::string& json) override;

    // The message of the last failed operation (for the host's log); empty after a success.
    const std::string& LastError() const { return FLastError; }

private:
    TDbBatchResult Run(const std::string& sql);
    std::string Formatted(const std::string& format, const pallux::TSqlArgs& args);

    std::shared_ptr<TDatabase> FDatabase;
    std::shared_ptr<TSqlTrace> FTrace;
    std::shared_ptr<TFaultPoints> FFaults;
    std::string FLastError;
};

// Builds a new script object per request; all of them share the host's connection and trace.
class TDBScriptFactory : public pallux::TInterfacedObject<pallux::IServiceFactory> {
public:
    // traceFile empty: no statement trace.
    // faults: shared by every script object it builds, so statements are numbered per process.
    explicit TDBScriptFactory(std::shared_ptr<TDatabase> database,
                              const std::filesystem::path& traceFile = {},
                              std::shared_ptr<TFaultPoints> faults = nullptr);

    void PALLUX_CALL CreateService(pallux::IntfPtr<pallux::IInterface>& instance) override;

private:
    std::shared_ptr<TDatabase> FDatabase;
    std::shared_ptr<TSqlTrace> FTrace;
    std::shared_ptr<TFaultPoints> FFaults;
};

// The rows of a result set as JSON text: an array of objects, one member per column.
std::string ResultSetToJson(const TDbResultSet& rs);

} // namespace refhost
