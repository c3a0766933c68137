// Conditions in the Installer's grammar (Component.Condition, the Condition
// table's rows): properties, environment variables, component and feature
// states, literals; comparison, substring and logical operators.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli_text.h"

namespace qltmsi::install {

// What a condition can ask about. Unset properties and variables are empty.
struct ConditionContext {
    std::function<WideString(const WideString&)> property;
    std::function<WideString(const WideString&)> environment;
    // $ and & (what is to happen), ? and ! (what is installed now).
    std::function<int(const WideString&, bool installed)> componentState;
    std::function<int(const WideString&, bool installed)> featureState;
};

// An empty condition is true. A condition that does not parse gives
// nullopt, with `error` saying where.
std::optional<bool> evaluateCondition(WideView condition, const ConditionContext& context,
                                      std::string& error);

}  // namespace qltmsi::install
