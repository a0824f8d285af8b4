// A till scenario: a JSON list of steps that the scenario runner carries out in order.
//
//   {"name": "...", "cashier": "Anna", "timeoutMs": 5000, "steps": [
//     {"step": "add", "code": "BREAD", "description": "Bread", "price": 2.50, "quantity": 2},
//     {"step": "voucher"},
//     {"step": "type", "control": "txtVoucherCode", "text": "PAY-100"},
//     {"step": "click", "control": "btnCheck"}, ...]}
//
// A bare array of steps is a scenario too. Parse checks every step's kind and members, so a
// scenario with a misspelt step is refused before anything runs.
#pragma once

#include "JsonDocument.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace refhost {

// A scenario file that cannot be read or a step that is not understood; the message names it.
class EScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TStepKind {
    Add,
    Remove,
    Quantity,
    Voucher,
    Recalculate,
    Discount,
    Pay,
    Complete,
    Cancel,
    Recall,
    Override,
    NewSale,
    Cashup,
    GiveBack,
    Type,
    Click,
    Answer,
    Expect,
    Screenshot
};

// Steps that act on a window (type, click, answer, expect, screenshot) rather than on the sale.
bool IsScreenStep(TStepKind kind);

struct TScenarioStep {
    int Number = 0; // 1-based
    TStepKind Kind = TStepKind::Add;
    zumvo::TJSONDocument Args; // the step's object as written

    // "step 4 (click btnCheck)".
    std::string Title() const;
    // What the step does, for the transcript: "type \"PAY-100\" into txtVoucherCode".
    std::string Describe() const;
    // Steps that act on a window of the module (or on the till window's controls) rather than
    // on the sale: they may run while a module window is open.
    bool OnScreen() const;
    // Members, "" / fallback when absent.
    std::string Text(const char* name) const;
    double Real(const char* name, double fallback) const;
};

struct TScenario {
    std::string Name;
    std::string Cashier;  // empty: the configured user
    int TimeoutMs = 5000; // how long a step may wait for a window or a control
    std::vector<TScenarioStep> Steps;

    static TScenario Parse(const std::string& jsonText);
    static TScenario Load(const std::filesystem::path& file);
};

// The button bit of "Yes", "No", "OK" or "Cancel" (case ignored); EScenarioError otherwise.
std::int32_t ButtonFromName(const std::string& name);

} // namespace refhost
