// The condition grammar qltmsi install evaluates, and the choice of features
// and components it makes from levels, the Condition table and component
// conditions: tables of cases against what the Installer answers.
#include <gtest/gtest.h>

#include "install/condition.h"
#include "install/feature_selection.h"
#include "install/package_contents.h"

namespace qltmsi::install {
namespace {

WideString W(const char* text) {
    return toWide(text);
}

ConditionContext Context(const std::map<WideString, WideString>& properties) {
    ConditionContext context;
    context.property = [properties](const WideString& name) {
        auto it = properties.find(name);
        return it == properties.end() ? WideString() : it->second;
    };
    context.environment = [](const WideString& name) {
        return name == W("PROCESSOR_ARCHITECTURE") ? W("AMD64") : WideString();
    };
    context.componentState = [](const WideString&, bool installed) { return installed ? 2 : -1; };
    context.featureState = context.componentState;
    return context;
}

TEST(Condition, EvaluatesAsTheInstallerDoes) {
    auto context = Context({{W("VersionNT"), W("603")},
                            {W("VersionNT64"), W("603")},
                            {W("Name"), W("Value")},
                            {W("Zero"), W("0")},
                            {W("Ten"), W("10")},
                            {W("Nine"), W("9")},
                            {W("Path"), W("C:\\Program Files\\App")}});
    const std::pair<const char*, bool> cases[] = {
        {"", true},
        {"   ", true},
        {"VersionNT", true},
        {"Missing", false},
        {"NOT Missing", true},
        {"not missing", true},  // keywords ignore case; names do not
        {"Zero", true},         // set, though to "0"
        {"0", false},
        {"1", true},
        {"VersionNT >= 600", true},
        {"VersionNT>=600 AND VersionNT64", true},
        {"VersionNT < 600", false},
        {"VersionNT = \"603\"", true},  // text against text
        {"Ten > Nine", true},           // two integer values compare as numbers
        {"Name = \"Value\"", true},
        {"Name = \"value\"", false},
        {"Name ~= \"value\"", true},
        {"Name <> \"Value\"", false},
        {"Name = 5", false},  // text against an integer
        {"Name <> 5", true},
        {"Name > 5", false},
        {"Path >< \"Program\"", true},
        {"Path << \"C:\\\\\"", false},
        {"Path << \"C:\"", true},
        {"Path >> \"App\"", true},
        {"Path ~>> \"APP\"", true},
        {"Ten >< 2", true},  // bits in common
        {"Ten >< 5", false},
        {"Missing = \"\"", true},
        {"Missing OR Name", true},
        {"Missing AND Name", false},
        {"NOT Missing AND NOT Zero", false},
        {"Name XOR Zero", false},
        {"Name EQV Zero", true},
        {"Missing IMP Anything", true},
        {"Name IMP Missing", false},
        {"NOT (Missing OR Name)", false},
        {"(VersionNT64) AND (%PROCESSOR_ARCHITECTURE = \"AMD64\")", true},
        {"%PROCESSOR_ARCHITECTURE ~= \"amd64\"", true},
        {"%NOT_SET", false},
        {"$Comp = -1", true},
        {"?Comp = 2", true},
        {"&Feature = 3", false},
        {"!Feature = 2", true},
        {"Name.Dotted_1", false},
        {"Missing OR Missing AND Name", false},  // AND binds tighter than OR
        {"Name OR Name AND Missing", true},
        {"NOT Name = \"x\"", true},  // NOT applies to the comparison
    };
    for (const auto& [text, expected] : cases) {
        std::string error;
        auto result = evaluateCondition(W(text), context, error);
        ASSERT_TRUE(result.has_value()) << text << ": " << error;
        EXPECT_EQ(*result, expected) << text;
    }
}

TEST(Condition, RefusesWhatDoesNotParse) {
    auto context = Context({});
    for (const char* text : {"(Name", "Name =", "\"open", "Name = = 1", "AND", "Name Other",
                             "99999999999", "= 1", "Name )"}) {
        std::string error;
        EXPECT_FALSE(evaluateCondition(W(text), context, error).has_value()) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

// Features Main (1), Extras (3, under Main), Docs (1, under Extras), Never
// (0), Later (200, Condition row: 1 when Enabled); components in each, and
// two sharing one ComponentId with conditions for 64- and 32-bit systems.
PackageContents Sample() {
    PackageContents package;
    package.features = {{W("Main"), W(""), 1},  {W("Extras"), W("Main"), 3},
                        {W("Docs"), W("Extras"), 1}, {W("Never"), W(""), 0},
                        {W("Later"), W(""), 200}};
    package.featureConditions = {{W("Later"), 1, W("Enabled")}, {W("Main"), 0, W("Disabled")}};
    for (const char* c : {"Core", "Extra", "Doc", "Hidden", "Late", "Run64", "Run32", "Orphan"}) {
        ComponentRow row;
        row.key = W(c);
        package.components.push_back(row);
    }
    package.components[5].condition = W("VersionNT64");
    package.components[6].condition = W("NOT VersionNT64");
    package.featureComponents = {{W("Main"), W("Core")},   {W("Extras"), W("Extra")},
                                 {W("Docs"), W("Doc")},    {W("Never"), W("Hidden")},
                                 {W("Later"), W("Late")},  {W("Main"), W("Run64")},
                                 {W("Main"), W("Run32")}};
    return package;
}

std::set<WideString> Names(std::initializer_list<const char*> names) {
    std::set<WideString> set;
    for (const char* n : names)
        set.insert(W(n));
    return set;
}

TEST(FeatureSelection, LevelsConditionsAndParents) {
    PackageContents package = Sample();
    auto pick = [&](std::map<WideString, WideString> properties) {
        return selectFeatures(package, properties, {});
    };
    Selection plain = pick({{W("VersionNT64"), W("603")}});
    EXPECT_EQ(plain.features, Names({"Main"}));
    EXPECT_EQ(plain.components, Names({"Core", "Run64"}));

    Selection level3 = pick({{W("INSTALLLEVEL"), W("3")}});
    EXPECT_EQ(level3.features, Names({"Main", "Extras", "Docs"}));
    EXPECT_EQ(level3.components, Names({"Core", "Extra", "Doc", "Run32"}));

    Selection enabled = pick({{W("Enabled"), W("1")}});
    EXPECT_EQ(enabled.features, Names({"Main", "Later"}));

    // A parent not installed takes its children with it.
    Selection disabled = pick({{W("Disabled"), W("1")}, {W("INSTALLLEVEL"), W("3")}});
    EXPECT_EQ(disabled.features, Names({}));
    EXPECT_EQ(disabled.components, Names({}));

    EXPECT_THROW(pick({{W("INSTALLLEVEL"), W("high")}}), InstallError);
    package.components[0].condition = W("(broken");
    try {
        pick({});
        ADD_FAILURE() << "a condition that does not parse was accepted";
    } catch (const InstallError& error) {
        EXPECT_NE(std::string(error.what()).find("component Core"), std::string::npos);
    }
}

// ADDLOCAL then REMOVE replace the levels' choice; a listed child brings its
// parents, a removed parent takes its children; disabled features stay off.
TEST(FeatureSelection, AddLocalAndRemove) {
    PackageContents package = Sample();
    auto pick = [&](std::map<WideString, WideString> properties) {
        return selectFeatures(package, properties, {});
    };
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("Docs")}}).features, Names({"Main", "Extras", "Docs"}));
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("Later")}}).features, Names({"Later"}));
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("ALL")}}).features,
              Names({"Main", "Extras", "Docs", "Later"}));
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("all")}, {W("REMOVE"), W("Extras,Later")}}).features,
              Names({"Main"}));
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("Docs,Never")}, {W("REMOVE"), W("Main")}}).features,
              Names({}));
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("ALL")}, {W("REMOVE"), W("ALL")}}).features, Names({}));
    // REMOVE alone on a first install leaves nothing chosen by level.
    EXPECT_EQ(pick({{W("REMOVE"), W("Later")}}).features, Names({}));
    // A feature disabled by a Condition row, and what lies under it.
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("ALL")}, {W("Disabled"), W("1")}}).features,
              Names({"Later"}));
    Selection docs = pick({{W("ADDLOCAL"), W("Extras")}, {W("VersionNT64"), W("603")}});
    EXPECT_EQ(docs.components, Names({"Core", "Extra", "Run64"}));

    // Conditions see Preselected once the command line chooses.
    package.featureConditions.push_back({W("Extras"), 0, W("Preselected")});
    EXPECT_EQ(pick({{W("ADDLOCAL"), W("Docs")}}).features, Names({}));
    EXPECT_EQ(pick({{W("INSTALLLEVEL"), W("3")}}).features, Names({"Main", "Extras", "Docs"}));

    for (const char* wrong : {"main", "Missing", "Main,Nope"}) {
        try {
            pick({{W("ADDLOCAL"), W(wrong)}});
            ADD_FAILURE() << "ADDLOCAL=" << wrong << " was accepted";
        } catch (const InstallError& error) {
            EXPECT_NE(std::string(error.what()).find("ADDLOCAL names the feature"),
                      std::string::npos)
                << error.what();
        }
    }
    EXPECT_THROW(pick({{W("REMOVE"), W("Gone")}}), InstallError);
}

TEST(FeatureSelection, WithoutFeaturesEveryComponentWhoseConditionHolds) {
    PackageContents package = Sample();
    package.features.clear();
    Selection selection = selectFeatures(package, {}, {});
    EXPECT_EQ(selection.components,
              Names({"Core", "Extra", "Doc", "Hidden", "Late", "Run32", "Orphan"}));
}

}  // namespace
}  // namespace qltmsi::install
