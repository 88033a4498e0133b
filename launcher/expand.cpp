// SPDX-License-Identifier: Apache-2.0
#include "launcher/settings.h"
#include "launcher/text.h"
#include "platform/platform.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// What ${CONFDIR} stands for: the folder part of `path` (up to its last "/"),
// after the working folder when the path is relative.
struct config_folder {
    const char* path;     // the configuration file in use
    size_t folder_length; // bytes of `path` before its last "/", 0 when none
    char* working_folder; // for a relative path, from getcwd on first use; owned
};

// Writes the folder at out[*at...] (see put_text) and moves *at past it. Returns
// 0, or -1 after logging when the working folder cannot be found.
int put_config_folder(config_folder* folder, char* out, size_t* at)
{
    if (folder->path[0] == '/') {
        *at = folder->folder_length > 0 ? put_text(out, *at, folder->path, folder->folder_length) : put_text(out, *at, "/", 1);
        return 0;
    }
    if (folder->working_folder == nullptr) {
        // Without the working folder (removed, or no memory for its name)
        // the configuration's folder has no name to give.
        folder->working_folder = getcwd(nullptr, 0);
        if (folder->working_folder == nullptr) {
            log_error("Undefined variable %s", "CONFDIR");
            return -1;
        }
    }
    const size_t working_length = std::strlen(folder->working_folder);
    *at = put_text(out, *at, folder->working_folder, working_length);
    if (folder->folder_length > 0) {
        // Only the root folder ends with "/".
        if (folder->working_folder[working_length - 1] != '/')
            *at = put_text(out, *at, "/", 1);
        *at = put_text(out, *at, folder->path, folder->folder_length);
    }
    return 0;
}

bool is_name_start(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Returns the length of the variable name that starts `text` and is closed
// by "}", or 0 when there is none.
size_t variable_name_length(const char* text)
{
    if (!is_name_start(text[0]))
        return 0;
    size_t length = 1;
    while (is_name_start(text[length]) || (text[length] >= '0' && text[length] <= '9'))
        ++length;
    return text[length] == '}' ? length : 0;
}

// Returns the value of the environment variable whose name is the `length`
// bytes at `name`, or null when it is not set.
const char* environment_value(const char* name, size_t length)
{
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, name, length) == 0 && (*variable)[length] == '=')
            return *variable + length + 1;
    }
    return nullptr;
}

// Writes the expansion of `text` and its terminator to `out`, or with a null
// `out` only measures it; stores its length in *length. Returns 0, or -1
// after logging a variable that has no value. A measuring pass that succeeds
// makes the writing pass that follows it succeed as well.
int expand_text(config_folder* folder, const char* text, char* out, size_t* length)
{
    size_t at = 0;
    while (*text != '\0') {
        if (text[0] == '$' && text[1] == '$') {
            at = put_text(out, at, "$", 1);
            text += 2;
            continue;
        }
        const size_t name_length = text[0] == '$' && text[1] == '{' ? variable_name_length(text + 2) : 0;
        if (name_length == 0) {
            at = put_text(out, at, text, 1);
            ++text;
            continue;
        }
        const char* name = text + 2;
        text = name + name_length + 1;
        if (name_length == 7 && std::strncmp(name, "CONFDIR", 7) == 0) {
            if (put_config_folder(folder, out, &at) != 0)
                return -1;
            continue;
        }
        const char* value = environment_value(name, name_length);
        if (value == nullptr) {
            log_error("Undefined variable %.*s", static_cast<int>(std::min<size_t>(name_length, INT_MAX)), name);
            return -1;
        }
        at = put_text(out, at, value, std::strlen(value));
    }
    if (out != nullptr)
        out[at] = '\0';
    *length = at;
    return 0;
}

// Replaces *text, when it holds a "$", by its expansion. Returns 0, or -1
// after logging.
int expand_in_place(config_folder* folder, char** text)
{
    if (*text == nullptr || std::strchr(*text, '$') == nullptr)
        return 0;
    size_t length = 0;
    if (expand_text(folder, *text, nullptr, &length) != 0)
        return -1;
    char* expanded = static_cast<char*>(std::malloc(length + 1));
    if (expanded == nullptr) {
        log_error("Out of memory building the JVM options");
        return -1;
    }
    expand_text(folder, *text, expanded, &length);
    std::free(*text);
    *text = expanded;
    return 0;
}

int expand_section(config_folder* folder, config_section* section)
{
    for (config_property* entry = section->properties; entry != nullptr; entry = entry->next) {
        if (expand_in_place(folder, &entry->name) != 0 || expand_in_place(folder, &entry->value) != 0)
            return -1;
    }
    return 0;
}

// Expands what the rows marked `expanded` designate in the launcher section
// `section_name`: the values of its keys, and the entries of the sections
// that its form_section keys name.
int expand_launch_settings(config_folder* folder, const config_section* root, const char* section_name)
{
    config_section* launcher_section = find_config_section(root, section_name);
    config_section* expanded[setting_count] = {};
    int32_t count = 0;
    for (const setting_row& row : setting_rows) {
        if (!row.expanded || row.form != form_section)
            continue;
        const char* name = find_config_value(launcher_section, row.name);
        config_section* section = find_config_section(root, name != nullptr ? name : row.default_value);
        if (section == nullptr || std::find(expanded, expanded + count, section) != expanded + count)
            continue;
        if (expand_section(folder, section) != 0)
            return -1;
        expanded[count++] = section;
    }

    // A launcher section that also lists entries has been expanded whole.
    if (std::find(expanded, expanded + count, launcher_section) != expanded + count)
        return 0;
    for (const setting_row& row : setting_rows) {
        if (!row.expanded || row.form == form_section)
            continue;
        config_property* setting = find_config_property(launcher_section, row.name);
        if (setting != nullptr && expand_in_place(folder, &setting->value) != 0)
            return -1;
    }
    return 0;
}

} // namespace

int expand_configuration(config_section* root, const char* section_name, const char* config_path)
{
    config_folder folder{config_path, 0, nullptr};
    if (const char* last_slash = std::strrchr(folder.path, '/'))
        folder.folder_length = static_cast<size_t>(last_slash - folder.path);
    // "a//b.conf" is in "a", not "a/".
    while (folder.folder_length > 0 && folder.path[folder.folder_length - 1] == '/')
        --folder.folder_length;
    const int result = expand_launch_settings(&folder, root, section_name);
    std::free(folder.working_folder);
    return result;
}
