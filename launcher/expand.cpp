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
// after the working folder when the path is relative; and, once an expansion
// failed, the variable that had no value.
struct config_folder {
    const char* path;     // the configuration file in use
    size_t folder_length; // bytes of `path` before its last "/", 0 when none
    char* working_folder; // for a relative path, from getcwd on first use; owned
    const char* undefined; // the name without value, in the text expanded
    size_t undefined_length;
};

config_folder make_config_folder(const char* config_path)
{
    config_folder folder{config_path, 0, nullptr, nullptr, 0};
    if (const char* last_slash = std::strrchr(folder.path, '/'))
        folder.folder_length = static_cast<size_t>(last_slash - folder.path);
    // "a//b.conf" is in "a", not "a/".
    while (folder.folder_length > 0 && folder.path[folder.folder_length - 1] == '/')
        --folder.folder_length;
    return folder;
}

// Writes the folder at out[*at...] (see put_text) and moves *at past it. Returns
// 0, or -1 when the working folder cannot be found.
int put_config_folder(config_folder* folder, char* out, size_t* at)
{
    if (folder->path[0] == '/') {
        *at = folder->folder_length > 0 ? put_text(out, *at, folder->path, folder->folder_length) : put_text(out, *at, "/", 1);
        return 0;
    }
    if (folder->working_folder == nullptr) {
        folder->working_folder = getcwd(nullptr, 0);
        if (folder->working_folder == nullptr)
            return -1;
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
// when a variable has no value, which folder->undefined then names. A
// measuring pass that succeeds makes the writing pass that follows it
// succeed as well.
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
        // Without the working folder (removed, or no memory for its name)
        // the configuration's folder has no name to give.
        int result = 0;
        if (name_length == 7 && std::strncmp(name, "CONFDIR", 7) == 0)
            result = put_config_folder(folder, out, &at);
        else if (const char* value = environment_value(name, name_length))
            at = put_text(out, at, value, std::strlen(value));
        else
            result = -1;
        if (result != 0) {
            folder->undefined = name;
            folder->undefined_length = name_length;
            return -1;
        }
    }
    if (out != nullptr)
        out[at] = '\0';
    *length = at;
    return 0;
}

// Replaces *text, when it holds a "$", by its expansion. Returns 0, -1 when
// a variable has no value (see expand_text), or -2 when memory ran out.
int expand_in_place(config_folder* folder, char** text)
{
    if (*text == nullptr || std::strchr(*text, '$') == nullptr)
        return 0;
    size_t length = 0;
    if (expand_text(folder, *text, nullptr, &length) != 0)
        return -1;
    char* expanded = static_cast<char*>(std::malloc(length + 1));
    if (expanded == nullptr)
        return -2;
    expand_text(folder, *text, expanded, &length);
    std::free(*text);
    *text = expanded;
    return 0;
}

// Logs why an expansion failed, given its result. Returns -1.
int log_expansion_failure(const config_folder* folder, int result)
{
    if (result == -2)
        log_error("Out of memory building the JVM options");
    else
        log_error("Undefined variable %.*s", static_cast<int>(std::min<size_t>(folder->undefined_length, INT_MAX)),
                  folder->undefined);
    return -1;
}

// The properties of the launcher section whose values are split into
// arguments before their variables are replaced, one per row marked
// expansion_arguments (null when the key is absent).
struct split_first {
    const config_property* properties[setting_count];
    int32_t count;
};

// Expands the names and values of the entries of `section`, but for those
// in `kept`. Returns 0, or -1 after logging.
int expand_section(config_folder* folder, config_section* section, const split_first* kept)
{
    for (config_property* entry = section->properties; entry != nullptr; entry = entry->next) {
        if (std::find(kept->properties, kept->properties + kept->count, entry) != kept->properties + kept->count)
            continue;
        int result = expand_in_place(folder, &entry->name);
        if (result == 0)
            result = expand_in_place(folder, &entry->value);
        if (result != 0)
            return log_expansion_failure(folder, result);
    }
    return 0;
}

// Expands what the rows marked expansion_value designate in the launcher
// section `section_name`: the values of its keys, and the entries of the
// sections that its form_section keys name. The values of rows marked
// expansion_arguments are only checked, here where a variable without value
// ends the launch: they are expanded argument by argument once split
// (expand_arguments). Splitting first changes which variables they name in
// nothing: quotes and the spaces between arguments end no variable's name.
int expand_launch_settings(config_folder* folder, const config_section* root, const char* section_name)
{
    config_section* launcher_section = find_config_section(root, section_name);
    split_first kept{};
    for (const setting_row& row : setting_rows) {
        if (row.expansion == expansion_arguments)
            kept.properties[kept.count++] = find_config_property(launcher_section, row.name);
    }
    config_section* expanded[setting_count] = {};
    int32_t count = 0;
    for (const setting_row& row : setting_rows) {
        if (row.expansion != expansion_value || row.form != form_section)
            continue;
        const char* name = find_config_value(launcher_section, row.name);
        config_section* section = find_config_section(root, name != nullptr ? name : row.default_value);
        if (section == nullptr || std::find(expanded, expanded + count, section) != expanded + count)
            continue;
        if (expand_section(folder, section, &kept) != 0)
            return -1;
        expanded[count++] = section;
    }

    // A launcher section that also lists entries has been expanded whole.
    const bool expanded_whole = std::find(expanded, expanded + count, launcher_section) != expanded + count;
    for (const setting_row& row : setting_rows) {
        if (row.expansion == expansion_none || row.form == form_section)
            continue;
        config_property* setting = find_config_property(launcher_section, row.name);
        if (setting == nullptr || setting->value == nullptr)
            continue;
        int result = 0;
        if (row.expansion == expansion_arguments) {
            size_t length = 0;
            result = expand_text(folder, setting->value, nullptr, &length);
        } else if (!expanded_whole) {
            result = expand_in_place(folder, &setting->value);
        }
        if (result != 0)
            return log_expansion_failure(folder, result);
    }
    return 0;
}

} // namespace

int expand_configuration(config_section* root, const char* section_name, const char* config_path)
{
    config_folder folder = make_config_folder(config_path);
    const int result = expand_launch_settings(&folder, root, section_name);
    std::free(folder.working_folder);
    return result;
}

int expand_arguments(int32_t count, char** arguments, const char* config_path)
{
    config_folder folder = make_config_folder(config_path);
    int result = 0;
    for (int32_t i = 0; i < count && result == 0; ++i)
        result = expand_in_place(&folder, &arguments[i]);
    std::free(folder.working_folder);
    return result == 0 ? 0 : -1;
}
