// SPDX-License-Identifier: Apache-2.0
#include "config/config.h"
#include "tests/support/config_text.h"

#include <gtest/gtest.h>

namespace {

// Duplicates on purpose: every lookup must stop at the first match. The
// nameless property comes before the one named "" so that a null name
// wrongly read as "" would be found.
const char lookup_text[] = "[]\n"
                           "[a]\nk=first\nk=second\nempty\nother=\n= nameless\n^=caret\n"
                           "[A]\nk=upper\n"
                           "[a]\nk=later\nlate=only here\n";

class ConfigLookup : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(count_config_properties(upper_a), 1); }

    config_ptr root{parse_config_text(lookup_text)};
    config_section* first_a = root && root->next ? root->next : nullptr;
    config_section* upper_a = first_a ? first_a->next : nullptr;
};

TEST_F(ConfigLookup, FindSectionTakesTheFirstExactMatch)
{
    struct {
        const char* name;
        config_section* found;
    } const cases[] = {{"a", first_a}, {"A", upper_a}, {"", nullptr}, {"a ", nullptr}, {"b", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find_config_section(root.get(), c.name), c.found);
    }
    EXPECT_EQ(find_config_section(nullptr, "a"), nullptr);
}

TEST_F(ConfigLookup, FindValueTakesTheFirstPropertyOfThatName)
{
    struct {
        const char* key;
        const char* value;
    } const cases[] = {{"k", "first"}, {"empty", ""}, {"other", ""},
                       {"", "caret"},  {"late", nullptr}, {"K", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_STREQ(find_config_value(first_a, c.key), c.value);
    }
    EXPECT_EQ(find_config_value(nullptr, "k"), nullptr);
    // Properties without value share one "".
    EXPECT_EQ(find_config_value(first_a, "other"), find_config_value(first_a, "empty"));
    EXPECT_EQ(get_config_value(root.get(), "a", "other", "x"), find_config_value(first_a, "empty"));
}

TEST_F(ConfigLookup, GetValuePointsIntoTheConfigurationOrIsTheDefault)
{
    static const char fallback[] = "fallback";
    EXPECT_EQ(get_config_value(root.get(), "a", "k", fallback), first_a->properties->value);
    EXPECT_EQ(get_config_value(root.get(), "A", "k", nullptr), upper_a->properties->value);
    // "late" exists only in the second [a], which the first one hides.
    EXPECT_EQ(get_config_value(root.get(), "a", "late", fallback), fallback);
    EXPECT_EQ(get_config_value(root.get(), "b", "k", fallback), fallback);
    EXPECT_EQ(get_config_value(nullptr, "a", "k", fallback), fallback);
}

TEST_F(ConfigLookup, CountIncludesPropertiesWithoutName)
{
    EXPECT_EQ(count_config_properties(first_a), 6);
    EXPECT_EQ(count_config_properties(root.get()), 0);
    EXPECT_EQ(count_config_properties(nullptr), 0);
}

} // namespace
