// Feature levels, the Condition table, component conditions.
#include "install/feature_selection.h"

#include <windows.h>

#include <functional>

#include "install/condition.h"

namespace qltmsi::install {

namespace {

// Installed states as the Installer answers them: what is installed now is
// nothing (this is a first install); what is to happen is not settled yet
// when the Condition table and component conditions are evaluated.
constexpr int kStateUnknown = -1;
constexpr int kStateAbsent = 2;

WideString lowered(WideString text) {
    for (auto& c : text)
        if (c >= WCHAR('A') && c <= WCHAR('Z'))
            c = WCHAR(c - WCHAR('A') + WCHAR('a'));
    return text;
}

}  // namespace

Selection selectFeatures(const PackageContents& package,
                         const std::map<WideString, WideString>& properties,
                         const std::map<WideString, WideString>& environment) {
    std::map<WideString, WideString> variables;  // names ignore case, as on Windows
    for (const auto& [name, value] : environment)
        variables[lowered(name)] = value;
    ConditionContext context;
    context.property = [&](const WideString& name) {
        auto it = properties.find(name);
        return it == properties.end() ? WideString() : it->second;
    };
    context.environment = [&](const WideString& name) {
        auto it = variables.find(lowered(name));
        return it == variables.end() ? WideString() : it->second;
    };
    context.componentState = [](const WideString&, bool installed) {
        return installed ? kStateAbsent : kStateUnknown;
    };
    context.featureState = context.componentState;
    auto holds = [&](const WideString& condition, const std::string& owner) {
        std::string error;
        std::optional<bool> result = evaluateCondition(condition, context, error);
        if (!result)
            throw InstallError("cannot evaluate the condition '" + toUtf8(condition) + "' of " +
                               owner + ": " + error);
        return *result;
    };

    WideString levelText = context.property(TEXT("INSTALLLEVEL"));
    int installLevel = 0;
    for (WCHAR c : levelText) {
        if (c < WCHAR('0') || c > WCHAR('9') || installLevel > 32767)
            throw InstallError("INSTALLLEVEL '" + toUtf8(levelText) + "' is not a number");
        installLevel = installLevel * 10 + (c - WCHAR('0'));
    }
    if (levelText.empty())
        installLevel = 1;

    Selection selection;
    std::map<WideString, const FeatureRow*> features;
    std::map<WideString, int> levels;
    for (const auto& feature : package.features) {
        features[feature.key] = &feature;
        levels[feature.key] = feature.level;
    }
    for (const auto& row : package.featureConditions)
        if (levels.count(row.feature) &&
            holds(row.condition, "the Condition row of feature " + toUtf8(row.feature)))
            levels[row.feature] = row.level;

    // A feature is installed when its level is within INSTALLLEVEL and its
    // parent is installed; a parent missing from the table counts as none.
    std::map<WideString, bool> chosen;
    std::function<bool(const WideString&, int)> isChosen = [&](const WideString& key,
                                                               int depth) -> bool {
        if (auto done = chosen.find(key); done != chosen.end())
            return done->second;
        const FeatureRow* row = features.at(key);
        int level = levels[key];
        bool on = level > 0 && level <= installLevel;
        if (on && !row->parent.empty() && row->parent != key && features.count(row->parent)) {
            if (depth > int(features.size()))
                throw InstallError("the Feature table loops at '" + toUtf8(key) + "'");
            on = isChosen(row->parent, depth + 1);
        }
        return chosen[key] = on;
    };
    for (const auto& feature : package.features)
        if (isChosen(feature.key, 0))
            selection.features.insert(feature.key);

    std::set<WideString> wanted;
    if (package.features.empty()) {
        for (const auto& component : package.components)
            wanted.insert(component.key);
    } else {
        for (const auto& link : package.featureComponents)
            if (selection.features.count(link.feature))
                wanted.insert(link.component);
    }
    for (const auto& component : package.components)
        if (wanted.count(component.key) &&
            (component.condition.empty() ||
             holds(component.condition, "component " + toUtf8(component.key))))
            selection.components.insert(component.key);
    return selection;
}

}  // namespace qltmsi::install
