// SPDX-License-Identifier: Apache-2.0
#include "args/args.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct split_case {
    const char* name;
    const char* text;
    std::vector<std::string> arguments;
};

const split_case split_cases[] = {
    {"EmptyTextHasNoArgument", "", {}},
    {"OnlySpacesHaveNoArgument", "   ", {}},
    {"RunsOfSpacesSeparate", "  a  bc d ", {"a", "bc", "d"}},
    {"TabIsAnOrdinaryCharacter", "\ta\tb c\n", {"\ta\tb", "c\n"}},
    {"QuotesGroupSpaces", "alpha \"beta gamma\" 'delta'", {"alpha", "beta gamma", "delta"}},
    {"EmptyQuotesGiveAnEmptyArgument", "\"\" '' x", {"", "", "x"}},
    {"UnclosedQuoteRunsToTheEnd", "a \"b  c ", {"a", "b  c "}},
    {"TextAfterClosingQuoteStartsTheNextArgument", "'a'b \"x\"\"y\"", {"a", "b", "x", "y"}},
    {"QuoteInsideAWordIsOrdinary", "a\"b c'd e\"", {"a\"b", "c'd", "e\""}},
    {"OtherQuoteInsideQuotesIsOrdinary", "\"it's\" 'say \"hi\"'", {"it's", "say \"hi\""}},
};

class SplitArguments : public testing::TestWithParam<split_case> {};

TEST_P(SplitArguments, CountingAndFillingAgree)
{
    const split_case& c = GetParam();
    const int32_t count = split_arguments(c.text, nullptr);
    ASSERT_EQ(count, static_cast<int32_t>(c.arguments.size()));

    char** vector = count > 0 ? static_cast<char**>(std::calloc(static_cast<size_t>(count), sizeof(char*))) : nullptr;
    EXPECT_EQ(split_arguments(c.text, vector), count);
    for (int32_t i = 0; i < count; ++i)
        EXPECT_EQ(vector[i], c.arguments[static_cast<size_t>(i)]) << "argument " << i;
    free_arguments(count, vector);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitArguments, testing::ValuesIn(split_cases),
                         [](const testing::TestParamInfo<split_case>& c) { return c.param.name; });

} // namespace
