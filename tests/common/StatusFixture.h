// Puts a transaction row into a status as a test's starting point. The store writes a status only
// by an allowed change from the one the row has; a test that needs a row in a given state writes
// it here, past that guard, as another program sharing the database could.
#pragma once

#include "clsDBAccess.h"
#include "clsTransactionStatus.h"

#include <cstdint>
#include <string>

namespace zumvo::test {

inline void PutStatus(std::int32_t transactionID, TTransactionStatus status) {
    const std::string finalised =
        status == TTransactionStatus::Finalised ? ", [Timestamp_Finalised] = GETDATE()" : "";
    NewDBScript()->Execute(
        "UPDATE [ZumvoPaymentTransactions] SET [Status] = " + std::to_string(ToInt(status)) + finalised +
        " WHERE [ID] = " + std::to_string(transactionID));
}

} // namespace zumvo::test
