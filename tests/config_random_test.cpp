// SPDX-License-Identifier: Apache-2.0
// Ten thousand generated configurations, each built first as a model (the
// sections and properties it must give), then written out as text in one of
// the many ways the format allows: escapes, blanks, separators, line ends,
// comments and lines before the first section. The parsed result must answer
// every lookup as a straightforward reference model of the lookups answers
// it on the model.
#include "config/config.h"
#include "tests/support/config_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using name_t = std::optional<std::string>; // nullopt: the record's pointer is null

struct model_property {
    name_t name;
    name_t value;
};

struct model_section {
    name_t name;
    std::vector<model_property> properties;
};

// The reference lookups, as the interface describes them: the first section
// with exactly that name (a null name matches nothing), the first property
// with that name, "" for a property without value, the default otherwise.
const model_section* reference_section(const std::vector<model_section>& model, const std::string& name)
{
    for (const model_section& section : model) {
        if (section.name == name)
            return &section;
    }
    return nullptr;
}

std::optional<std::string> reference_value(const model_section* section, const std::string& key)
{
    if (section == nullptr)
        return std::nullopt;
    for (const model_property& property : section->properties) {
        if (property.name == key)
            return property.value.value_or("");
    }
    return std::nullopt;
}

// Writes a model out as configuration text, choosing at random among the
// ways the format allows to say the same thing.
class text_writer {
public:
    explicit text_writer(uint32_t seed) : random(seed) {}

    std::vector<model_section> make_model()
    {
        std::vector<model_section> model(pick(6));
        for (model_section& section : model) {
            section.name = maybe_name(5);
            section.properties.resize(pick(6));
            for (model_property& property : section.properties) {
                property.name = maybe_name(5);
                property.value = maybe_name(4);
            }
        }
        return model;
    }

    std::string write(const std::vector<model_section>& model)
    {
        std::string text;
        for (size_t i = pick(3); i > 0; --i)
            text += junk_line();
        for (size_t s = 0; s < model.size(); ++s) {
            const model_section& section = model[s];
            const bool last = s + 1 == model.size();
            text += blanks() + "[";
            if (section.name)
                text += escaped(*section.name, token::section_name);
            else
                text += blanks();
            // The last header may run to the end of the text unclosed.
            if (last && section.properties.empty() && chance(10))
                return text;
            text += blanks() + "]";
            // What follows the "]" on its line is read as a new line.
            text += section.properties.empty() || chance(3) ? line_end() : blanks();
            for (const model_property& property : section.properties) {
                if (chance(5))
                    text += comment_line();
                text += blanks() + property_line(property) + line_end();
            }
        }
        return text;
    }

private:
    enum class token { section_name, property_name, value };

    size_t pick(size_t below) { return std::uniform_int_distribution<size_t>(0, below - 1)(random); }
    bool chance(size_t one_in) { return pick(one_in) == 0; }

    // Few distinct names, so that lookups meet duplicates and near misses.
    std::string raw_name()
    {
        static const std::string common[] = {"a", "b", "ab", "java", "java.options", "k"};
        static const char odd_bytes[] = {' ', '\t', '=', ':', '[', ']', '^', '#', ';', '"', '\'', '\r', '\n',
                                         '\0', '\x01', '\x80', '\xc3', '\xff', 'A', 'F', 'f', '0', '9', '.'};
        if (chance(2))
            return common[pick(std::size(common))];
        std::string name(1 + pick(6), 'a');
        for (char& byte : name)
            byte = chance(3) ? odd_bytes[pick(sizeof odd_bytes)] : "ab"[pick(2)];
        return name;
    }

    // A name that is null, or the text a record holds: what the raw bytes
    // give, cut at the first NUL.
    name_t maybe_name(size_t null_one_in)
    {
        if (chance(null_one_in))
            return std::nullopt;
        return raw_name();
    }

    std::string blanks()
    {
        static const char* const choices[] = {"", "", "", " ", "\t", "  \t "};
        return choices[pick(std::size(choices))];
    }

    std::string line_end()
    {
        static const char* const choices[] = {"\n", "\n", "\r\n", "\r", "\n\n", "\r\n  \t\r\n"};
        return choices[pick(std::size(choices))];
    }

    std::string comment_line()
    {
        return blanks() + (chance(2) ? "#" : ";") + " [not] = a section" + line_end();
    }

    // Lines before the first section are ignored, whatever they say.
    std::string junk_line()
    {
        if (chance(2))
            return comment_line();
        return blanks() + property_line({raw_name(), raw_name()}) + line_end();
    }

    std::string property_line(const model_property& property)
    {
        std::string line = property.name ? escaped(*property.name, token::property_name) : "";
        // Without a value the separator may be left out, unless it is all
        // the line has.
        if (!property.value && property.name && chance(2))
            return line;
        line += blanks() + (chance(2) ? "=" : ":") + blanks();
        if (property.value)
            line += escaped(*property.value, token::value);
        return line + (property.value ? "" : blanks());
    }

    static bool is_hex_digit(char c)
    {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    }

    // Whether `byte`, at `index` of a token of `length` bytes of kind `kind`,
    // cannot stand in the text as itself.
    static bool must_escape(char byte, size_t index, size_t length, token kind)
    {
        const bool blank = byte == ' ' || byte == '\t';
        if (byte == '^' || byte == '\0' || (blank && index + 1 == length))
            return true;
        if (kind == token::section_name)
            return byte == ']';
        const bool line_end = byte == '\r' || byte == '\n';
        if (kind == token::value)
            return line_end || (blank && index == 0);
        return line_end || byte == '=' || byte == ':'
            || (index == 0 && (blank || byte == '[' || byte == '#' || byte == ';'));
    }

    // The token's bytes as text; a token must be written with at least one
    // character, so that its record is not null.
    std::string escaped(const std::string& bytes, token kind)
    {
        std::vector<std::string> pieces;
        std::vector<bool> shortenable;
        for (size_t i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            if (!must_escape(bytes[i], i, bytes.size(), kind) && !chance(8)) {
                pieces.emplace_back(1, bytes[i]);
                shortenable.push_back(false);
                continue;
            }
            char escape[4];
            std::snprintf(escape, sizeof escape, chance(2) ? "^%02X" : "^%02x", static_cast<unsigned>(byte));
            pieces.emplace_back(escape);
            shortenable.push_back(byte < 16);
        }
        // "^" takes up to two hexadecimal digits: a byte below 16 may be
        // written with one, and byte 0 with none, when no digit follows.
        std::string text;
        for (size_t i = 0; i < pieces.size(); ++i) {
            const bool digit_follows = i + 1 < pieces.size() && is_hex_digit(pieces[i + 1][0]);
            if (shortenable[i] && !digit_follows && chance(2))
                pieces[i] = pieces[i] == "^00" && chance(2) ? "^" : "^" + pieces[i].substr(2);
            text += pieces[i];
        }
        return text;
    }

    std::mt19937 random;
};

// The text a record holds for a model name: its bytes up to the first NUL.
name_t as_stored(const name_t& name)
{
    if (!name)
        return name;
    return name->substr(0, name->find('\0'));
}

std::string show(const std::string& text)
{
    return dump_string(text.c_str());
}

TEST(ConfigRandom, ParsedConfigurationsAnswerEveryLookupAsTheModel)
{
    const int configurations = 10000;
    long lookups = 0;
    for (int seed = 1; seed <= configurations; ++seed) {
        text_writer writer(static_cast<uint32_t>(seed));
        std::vector<model_section> model = writer.make_model();
        const std::string text = writer.write(model);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", text: " + show(text));
        for (model_section& section : model) {
            section.name = as_stored(section.name);
            for (model_property& property : section.properties) {
                property.name = as_stored(property.name);
                property.value = as_stored(property.value);
            }
        }

        const config_ptr root(parse_config_text(text.c_str()));
        std::vector<const config_section*> parsed;
        for (const config_section* section = root.get(); section != nullptr; section = section->next)
            parsed.push_back(section);
        ASSERT_EQ(parsed.size(), model.size());

        // Every name in the model, and near misses.
        std::vector<std::string> queries = {"", "a", "b", "ab", "java", "zz", "A"};
        for (const model_section& section : model) {
            for (const name_t& name : {section.name, section.properties.empty() ? name_t{} : section.properties[0].name}) {
                if (name) {
                    queries.push_back(*name);
                    queries.push_back(*name + "a");
                }
            }
        }

        for (size_t s = 0; s < model.size(); ++s) {
            ASSERT_EQ(count_config_properties(parsed[s]), static_cast<int32_t>(model[s].properties.size()));
            ++lookups;
        }
        for (const std::string& section_name : queries) {
            const model_section* expected = reference_section(model, section_name);
            const config_section* found = find_config_section(root.get(), section_name.c_str());
            ASSERT_EQ(found, expected != nullptr ? parsed[static_cast<size_t>(expected - model.data())] : nullptr)
                << "section " << show(section_name);
            ++lookups;
            for (const std::string& key : queries) {
                const std::optional<std::string> value = reference_value(expected, key);
                const char* got = find_config_value(found, key.c_str());
                ASSERT_EQ(got != nullptr ? std::optional<std::string>(got) : std::nullopt, value)
                    << "section " << show(section_name) << ", key " << show(key);
                static const char fallback[] = "fallback";
                const char* with_default = get_config_value(root.get(), section_name.c_str(), key.c_str(), fallback);
                ASSERT_EQ(with_default, value ? got : fallback) << "section " << show(section_name) << ", key " << show(key);
                lookups += 2;
            }
        }
        ASSERT_EQ(find_config_value(nullptr, "a"), nullptr);
    }
    std::printf("%d generated configurations parsed; %ld lookups agreed with the reference model\n",
                configurations, lookups);
    testing::Test::RecordProperty("lookups", std::to_string(lookups));
}

} // namespace
