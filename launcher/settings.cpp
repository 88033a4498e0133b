// SPDX-License-Identifier: Apache-2.0
#include "launcher/settings.h"
#include "platform/platform.h"

#include <cstring>

namespace {

// Reads a ready value into *number. A port has one way to be written, as
// the kernel and ss show it: "port 080" could be meant as 80 or, read as
// octal, 64, so a leading zero is refused. Between the two words any run of
// spaces and tabs will do, as it leaves no doubt.
int read_ready(const char* text, int32_t* number)
{
    if (std::strcmp(text, "main") == 0) {
        *number = ready_main;
        return 0;
    }
    if (std::strncmp(text, "port", 4) != 0 || (text[4] != ' ' && text[4] != '\t'))
        return -1;
    const char* digit = text + 4;
    while (*digit == ' ' || *digit == '\t')
        ++digit;
    if (*digit < '1' || *digit > '9')
        return -1;
    int32_t port = 0;
    for (; *digit >= '0' && *digit <= '9' && port <= 65535; ++digit)
        port = port * 10 + (*digit - '0');
    if (*digit != '\0' || port > 65535)
        return -1;
    *number = port;
    return 0;
}

// Reads `text` as its form asks into *number. Returns 0, or -1 when the
// text is not of that form.
int check_setting(setting_form form, const char* text, int32_t* number)
{
    switch (form) {
    case form_text:
    case form_section:
        *number = 0;
        return 0;
    case form_yes_no:
        *number = std::strcmp(text, "yes") == 0 ? 1 : 0;
        return *number == 1 || std::strcmp(text, "no") == 0 ? 0 : -1;
    case form_exit_status: {
        int32_t value = 0;
        int digits = 0;
        for (; text[digits] >= '0' && text[digits] <= '9' && digits < 3; ++digits)
            value = value * 10 + (text[digits] - '0');
        if (digits == 0 || text[digits] != '\0' || value > 255)
            return -1;
        *number = value;
        return 0;
    }
    case form_ready:
        return read_ready(text, number);
    }
    return -1;
}

// Values are checked as written, before expansion: a checked key must not
// be one that expansion changes.
consteval bool checked_keys_are_not_expanded()
{
    for (const setting_row& row : setting_rows) {
        if (row.expansion != expansion_none && row.form != form_text && row.form != form_section)
            return false;
    }
    return true;
}
static_assert(checked_keys_are_not_expanded());

void read_texts(const config_section* root, const char* section_name, launcher_settings* settings)
{
    const config_section* section = find_config_section(root, section_name);
    for (const setting_row& row : setting_rows) {
        const char* value = find_config_value(section, row.name);
        settings->text[row.key] = value != nullptr ? value : row.default_value;
        settings->given[row.key] = value != nullptr;
    }
}

} // namespace

int read_launch_settings(config_section* root, const char* section_name, const char* config_path,
                         launcher_settings* settings)
{
    *settings = launcher_settings{};
    read_texts(root, section_name, settings);
    // A key left out takes its default, whose number is 0; only a value
    // written is checked, so that ready's default, the empty text, is
    // refused when written.
    for (const setting_row& row : setting_rows) {
        if (settings->given[row.key] && check_setting(row.form, settings->text[row.key], &settings->number[row.key]) != 0) {
            log_error("Invalid value %s for %s", settings->text[row.key], row.name);
            return -1;
        }
    }
    if (settings->number[setting_expand] != 0) {
        if (expand_configuration(root, section_name, config_path) != 0)
            return -1;
        // Expansion replaced the strings the texts pointed at.
        read_texts(root, section_name, settings);
    }
    return 0;
}
