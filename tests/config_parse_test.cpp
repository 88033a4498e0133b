// SPDX-License-Identifier: Apache-2.0
#include "config/config.h"
#include "tests/support/config_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>

namespace {

struct parse_case {
    const char* name;
    const char* text;
    const char* dump;
};

// Each case is small enough to read the expected records off the text.
const parse_case parse_cases[] = {
    {"EmptyTextHasNoSection", "", ""},
    {"LinesBeforeTheFirstHeaderAreDropped", "a=1\nb\n", ""},
    {"PropertiesBelongToTheLatestHeader", "a=1\n[s]\nb=2\n[t]\nc=3", "[s]\nb=2\n[t]\nc=3\n"},
    {"LoneCarriageReturnEndsALine", "[s]\rk=v\rj=w\r", "[s]\nk=v\nj=w\n"},
    {"CrLfAndLfCrEndLinesWithoutLeftovers", "[s]\r\nk=v\n\rj=w\r\n\r\nz", "[s]\nk=v\nj=w\nz\n"},
    {"BlanksAroundNamesAndValuesAreDropped", " \t[s]\n \tk \t= \tv w \t\n", "[s]\nk=v w\n"},
    {"HashOrSemicolonStartsAComment", "[s]\n#k=v\n \t;j=w\nx=1", "[s]\nx=1\n"},
    {"HashAfterAValueBelongsToIt", "[s]\nk=v # no comment", "[s]\nk=v # no comment\n"},
    {"HeaderWithoutCloseBracketTakesRestOfText", "[s\nk=v \n", "[s\\x0ak=v \\x0a]\n"},
    {"HeaderNameRunsAcrossLineEndsToTheBracket", "[a\r\nb]k=v", "[a\\x0d\\x0ab]\nk=v\n"},
    {"HeaderNameKeepsLeadingBlanksOnly", "[ a \t]", "[ a]\n"},
    {"EmptyOrBlankHeaderHasNullName", "[]\n[ \t]", "[(null)]\n[(null)]\n"},
    {"TextAfterAHeaderIsReadAsANewLine", "[a]x=1\n[b];c\n[c][d]k=v\n[e]]",
     "[a]\nx=1\n[b]\n[c]\n[d]\nk=v\n[e]\n]\n"},
    {"FirstEqualsOrColonSeparatesAndIsKept", "[s]\na=b:c=d\nx:y=z", "[s]\na=b:c=d\nx:y=z\n"},
    {"LineWithoutSeparatorIsANameWithoutValue", "[s]\n  two words  \n", "[s]\ntwo words\n"},
    {"EmptyNameIsNull", "[s]\n= v", "[s]\n(null)=v\n"},
    {"BlankValueIsNullAndKeepsItsSeparator", "[s]\nk =  \t\nj:", "[s]\nk=(null)\nj:(null)\n"},
    {"DriveLetterStaysInValueButSplitsABareLine", "[s]\npath=C:\\x\nC:\\x", "[s]\npath=C:\\x\nC:\\x\n"},
    {"EscapesGiveTheBytesThatWouldOtherwiseSeparate", "[s]\na=^41^3D^3a^5D^5e^5E", "[s]\na=A=:]^^\n"},
    {"EscapeReadsAtMostTwoDigits", "[s]\na=^414\nb=^4g\nc=^4\nd=^fF", "[s]\na=A4\nb=\\x04g\nc=\\x04\nd=\\xff\n"},
    {"EscapeWithoutDigitEndsTheString", "[s]\na=x^zy\nb^=1", "[s]\na=x\nb=1\n"},
    {"EscapedBlankSurvivesTrimming", "[s]\na=^20v^20  \n", "[s]\na= v \n"},
    {"LoneCaretIsAnEmptyNameNotANullOne", "[^]\n^=v", "[]\n=v\n"},
    {"EscapesWorkInHeaderNames", "[x^5Dy]", "[x]y]\n"},
    {"ByteOrderMarkIsSkippedAtTheStartOnly", "\xEF\xBB\xBF[s]\n\xEF\xBB\xBFk=v", "[s]\n\\xef\\xbb\\xbfk=v\n"},
    {"StartOfAByteOrderMarkIsText", "\xEF\xBB[s]\n[t]", "[t]\n"},
    {"ByteOrderMarkAloneIsAnEmptyText", "\xEF\xBB\xBF", ""},
};

class ConfigParseText : public testing::TestWithParam<parse_case> {};

TEST_P(ConfigParseText, GivesTheExpectedRecords)
{
    const config_ptr root(parse_config_text(GetParam().text));
    EXPECT_EQ(dump_config(root.get()), GetParam().dump);
}

// Parses `text` as the file reader does: in pieces of `piece_size` bytes,
// each appended to what the parser left over from the one before.
std::string dump_parsed_in_pieces(const std::string& text, std::size_t piece_size)
{
    bool out_of_memory = false;
    const config_ptr root = parse_in_pieces(text.c_str(), text.size(), piece_size, &out_of_memory);
    return out_of_memory ? "out of memory" : dump_config(root.get());
}

TEST_P(ConfigParseText, GivesTheSameRecordsInPiecesOfAnySize)
{
    const std::string text = GetParam().text;
    for (std::size_t piece_size = 1; piece_size <= text.size(); ++piece_size) {
        SCOPED_TRACE(piece_size);
        EXPECT_EQ(dump_parsed_in_pieces(text, piece_size), GetParam().dump);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigParseText, testing::ValuesIn(parse_cases),
                         [](const testing::TestParamInfo<parse_case>& c) { return c.param.name; });

TEST(ConfigParse, ResultSharesNoMemoryWithTheText)
{
    std::string text = "[s]\nk=v\n";
    const config_ptr root(parse_config_text(text.c_str()));
    text.assign(text.size(), 'x');
    EXPECT_EQ(dump_config(root.get()), "[s]\nk=v\n");
}

TEST(ConfigParse, NulInAPieceEndsTheTextAndLaterPiecesAreNotParsed)
{
    const std::string text("[s]\r\nk=v\0\n[t]\nx=1\n", 17);
    for (std::size_t piece_size = 1; piece_size <= text.size(); ++piece_size) {
        SCOPED_TRACE(piece_size);
        EXPECT_EQ(dump_parsed_in_pieces(text, piece_size), "[s]\nk=v\n");
    }
}

TEST(ConfigParse, LinesAndHeadersCutAtThePieceEndWaitForTheNextPiece)
{
    const struct {
        const char* name;
        const char* piece;
        std::size_t left; // bytes at the end of the piece left for the next one
    } cases[] = {
        {"a line without its line end", "[s]\nk=v", 3},
        {"a header without its bracket", "[s]\n[t", 2},
        {"blanks", "[s]\n  \t", 3},
        {"a comment without its line end", "[s]\n# c", 3},
        {"nothing: every line ended", "[s]\nk=v\n", 0},
        {"nothing: text after a header is a new line", "[s]", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        config_parser parser{};
        const std::string piece = c.piece;
        const char* rest = parse_config_piece(&parser, piece.c_str(), piece.c_str() + piece.size(), false);
        ASSERT_NE(rest, nullptr);
        EXPECT_EQ(piece.c_str() + piece.size() - rest, static_cast<std::ptrdiff_t>(c.left));
        EXPECT_FALSE(parser.ended);
        discard_config_parser(&parser);
    }
}

struct token_case {
    const char* name;
    const char* text;
    std::size_t length; // the token is the first `length` bytes of `text`
    const char* copy;   // null when nothing remains
};

TEST(ConfigToken, TrimsThenDecodesWithinItsOwnBounds)
{
    const token_case cases[] = {
        {"all blanks", " \t ", 3, nullptr},
        {"leading blanks kept", " \ta \t", 5, " \ta"},
        {"digits past the end are not read", "^4142", 2, "\x04"},
        {"one digit inside the bounds", "^4142", 3, "A"},
        {"third digit is ordinary", "^4142", 4, "A4"},
        {"escape at the very end gives byte 0", "ab^41", 3, "ab"},
    };
    for (const token_case& c : cases) {
        SCOPED_TRACE(c.name);
        char* copy = copy_config_token(c.text, c.text + c.length);
        if (c.copy == nullptr)
            EXPECT_EQ(copy, nullptr);
        else
            EXPECT_STREQ(copy, c.copy);
        std::free(copy);
    }
}

} // namespace
