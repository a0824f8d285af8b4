// The host's database script service. SQL texts are T-SQL.
#pragma once

#include "clsSysUtils.h"
#include "intfBase.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace pallux {

// One argument of a format text, in placeholder order: %d integer, %s text, %f floating.
using TSqlArg = std::variant<std::int64_t, std::string, double>;
using TSqlArgs = std::vector<TSqlArg>;

// Execute, GetValue and Query raise std::runtime_error when the database refuses the batch;
// ExecuteFmt answers false instead.
class IDBScript : public IInterface {
public:
    static constexpr TGUID IID{"{039CED77-F302-4546-B669-6D45B2E9AE94}"};

    virtual void PALLUX_CALL Execute(const std::string& sql) = 0;
    // Runs a batch and answers the number of rows the last statement changed.
    virtual std::int32_t PALLUX_CALL ExecuteRowCount(const std::string& sql) = 0;
    virtual bool PALLUX_CALL ExecuteFmt(const std::string& format, const TSqlArgs& args) = 0;
    // Substitutes the arguments into the format text (the text the other Fmt operations run).
    virtual std::string PALLUX_CALL Format(const std::string& format, const TSqlArgs& args) = 0;
    // The named column of the batch's first result row as text, empty when there is none.
    virtual void PALLUX_CALL GetValue(const std::string& sql, const std::string& column,
                                      std::string& value) = 0;
    virtual void PALLUX_CALL GetValueFmt(const std::string& format, const TSqlArgs& args,
                                         const std::string& column, std::string& value) = 0;
    // The result rows as a JSON array of objects.
    virtual void PALLUX_CALL Query(const std::string& sql, std::string& json) = 0;
    virtual void PALLUX_CALL QueryFmt(const std::string& format, const TSqlArgs& args, std::string& json) = 0;
};

} // namespace pallux
