// Feature levels, the Condition table, component conditions.
#include "install/feature_selection.h"

#include <windows.h>

#include <algorithm>
#include <vector>

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

bool isAll(const WideString& list) {
    return list.size() == 3 && (list[0] | 0x20) == WCHAR('a') && (list[1] | 0x20) == WCHAR('l') &&
           (list[2] | 0x20) == WCHAR('l');
}

// The features a comma-separated request (ADDLOCAL, REMOVE) names, or every
// feature for ALL. Feature names are case-sensitive; one the package lacks
// is refused rather than quietly left out.
std::vector<WideString> requestedFeatures(const WideString& list, const char* property,
                                          const std::map<WideString, const FeatureRow*>& features) {
    std::vector<WideString> keys;
    if (isAll(list)) {
        for (const auto& [key, row] : features)
            keys.push_back(key);
        return keys;
    }
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(WCHAR(','), start);
        if (comma == WideString::npos)
            comma = list.size();
        WideString key = list.substr(start, comma - start);
        start = comma + 1;
        if (key.empty())
            continue;
        if (!features.count(key))
            throw InstallError(std::string(property) + " names the feature '" + toUtf8(key) +
                               "', which the package does not have");
        keys.push_back(key);
    }
    return keys;
}

}  // namespace

Selection selectFeatures(const PackageContents& package,
                         const std::map<WideString, WideString>& properties,
                         const std::map<WideString, WideString>& environment) {
    std::map<WideString, WideString> variables;  // names ignore case, as on Windows
    for (const auto& [name, value] : environment)
        variables[lowered(name)] = value;
    ConditionContext context;
    // The Installer sets Preselected when the command line chooses the
    // features itself.
    auto given = [&](LPCWSTR name) {
        auto it = properties.find(name);
        return it != properties.end() && !it->second.empty();
    };
    const bool preselected = given(TEXT("ADDLOCAL")) || given(TEXT("REMOVE"));
    context.property = [&](const WideString& name) {
        auto it = properties.find(name);
        if (it == properties.end())
            return name == TEXT("Preselected") && preselected ? WideString(TEXT("1")) : WideString();
        return it->second;
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

    // A feature of level 0, or under one, is disabled: nothing installs it.
    auto parentOf = [&](const WideString& key) -> const WideString* {
        const FeatureRow* row = features.at(key);
        if (row->parent.empty() || row->parent == key || !features.count(row->parent))
            return nullptr;
        return &row->parent;
    };
    auto ancestry = [&](const WideString& key) {
        std::vector<WideString> chain{key};
        for (const WideString* parent = parentOf(key); parent; parent = parentOf(*parent)) {
            if (chain.size() > features.size())
                throw InstallError("the Feature table loops at '" + toUtf8(key) + "'");
            chain.push_back(*parent);
        }
        return chain;
    };
    auto enabled = [&](const WideString& key) {
        for (const auto& link : ancestry(key))
            if (levels[link] <= 0)
                return false;
        return true;
    };

    const WideString addLocal = context.property(TEXT("ADDLOCAL"));
    const WideString remove = context.property(TEXT("REMOVE"));
    if (addLocal.empty() && remove.empty()) {
        // A feature is installed when its level is within INSTALLLEVEL and
        // its parent is installed.
        for (const auto& feature : package.features) {
            bool on = true;
            for (const auto& link : ancestry(feature.key))
                on = on && levels[link] > 0 && levels[link] <= installLevel;
            if (on)
                selection.features.insert(feature.key);
        }
    } else {
        // Feature requests replace the levels' choice: ADDLOCAL first, each
        // feature with the parents it needs, then REMOVE, each feature with
        // what lies under it.
        for (const WideString& key : requestedFeatures(addLocal, "ADDLOCAL", features)) {
            if (!enabled(key))
                continue;
            for (const auto& link : ancestry(key))
                selection.features.insert(link);
        }
        for (const WideString& key : requestedFeatures(remove, "REMOVE", features)) {
            for (const auto& feature : package.features) {
                const auto chain = ancestry(feature.key);
                if (std::find(chain.begin(), chain.end(), key) != chain.end())
                    selection.features.erase(feature.key);
            }
        }
    }

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
