// SPDX-License-Identifier: Apache-2.0
// The launcher section's keys: one table, read by the settings step, by the
// expansion of variables and by velta-java-check. A new key is one row here,
// plus the code that gives it its meaning.
#pragma once

#include "config/config.h"

#include <cstdint>

// How a key's value is checked before anything is loaded.
enum setting_form : int32_t {
    form_text,        // any text
    form_section,     // the name of a section of the configuration
    form_yes_no,      // "yes" or "no"
    form_exit_status, // a decimal from 0 to 255, written with at most three digits
    form_ready,       // "main", or "port N" with N a decimal from 1 to 65535 without
                      // leading zeros, after one or more blanks
};

// The keys, in the table's order.
enum setting_key : int32_t {
    setting_jvm,
    setting_mainclass,
    setting_mainargs,
    setting_classpaths,
    setting_options,
    setting_properties,
    setting_failstatus,
    setting_passargs,
    setting_expand,
    setting_classcache,
    setting_mainjar,
    setting_ready,
    setting_count,
};

// What expand = yes does to a key.
enum setting_expansion : int32_t {
    expansion_none,      // nothing
    expansion_value,     // variables are replaced in the value, or, for a
                         // form_section key, in the names and values of the
                         // named section's entries (the section's name itself
                         // stays as written)
    expansion_arguments, // the value stays as written; it is split into
                         // arguments (split_arguments) and then variables are
                         // replaced in each (expand_arguments), so that a
                         // value never adds arguments or quotes
};

struct setting_row {
    setting_key key;
    const char* name;
    const char* default_value;
    setting_form form;
    setting_expansion expansion;
};

inline constexpr setting_row setting_rows[setting_count] = {
    {setting_jvm, "jvm", "jvm.dll", form_text, expansion_value},
    {setting_mainclass, "mainclass", "velta.os.Shell", form_text, expansion_value},
    {setting_mainargs, "mainargs", "", form_text, expansion_arguments},
    {setting_classpaths, "classpaths", "java.classpaths", form_section, expansion_value},
    {setting_options, "options", "java.options", form_section, expansion_value},
    {setting_properties, "properties", "java.properties", form_section, expansion_value},
    {setting_failstatus, "failstatus", "0", form_exit_status, expansion_none},
    {setting_passargs, "passargs", "no", form_yes_no, expansion_none},
    {setting_expand, "expand", "no", form_yes_no, expansion_none},
    {setting_classcache, "classcache", "", form_text, expansion_value},
    {setting_mainjar, "mainjar", "", form_text, expansion_value},
    {setting_ready, "ready", "", form_ready, expansion_none},
};

consteval bool rows_are_in_key_order()
{
    for (int32_t i = 0; i < setting_count; ++i) {
        if (setting_rows[i].key != i)
            return false;
    }
    return true;
}
static_assert(rows_are_in_key_order(), "setting_rows[k] must describe key k");

// The launcher section when the command line names none.
inline constexpr char default_launcher_section[] = "java";

// The launcher section's settings as one launch uses them.
struct launcher_settings {
    // Each key's value: the configured one (after expansion), or the
    // default. Points into the configuration or at the table; never null.
    const char* text[setting_count];
    // The checked value of a form_yes_no key (1 for yes), of a
    // form_exit_status key, or of a form_ready key (the port for "port N",
    // ready_main for "main"); 0 for the others and for a key left out.
    int32_t number[setting_count];
    // Whether the section has the key, with a value or without: a default
    // and the same value written out can mean different things.
    bool given[setting_count];
};

// The number of ready = main.
inline constexpr int32_t ready_main = -1;

// Reads every key of `section_name` in the configuration `root` (which may
// be null) into *settings. Each value given is checked as its row's form
// says (a key left out takes its default, whose number is 0); then, with
// expand = yes, variables are replaced as the rows' `expansion` says (see
// expand_configuration), the configuration being `config_path`. Returns 0,
// or -1 after logging "Invalid value VALUE for KEY" for the first wrong value
// in the table's order, or what expansion logged.
int read_launch_settings(config_section* root, const char* section_name, const char* config_path,
                         launcher_settings* settings);

// Replaces, in the configuration `root`, every "${CONFDIR}", "${NAME}" and
// "$$" by the absolute folder of `config_path`, the environment variable
// NAME and "$", in what the rows marked expansion_value designate in the
// section `section_name`. NAME is a letter or "_" followed by letters, digits
// and "_"; every other "$" stays as written. Each string holding a "$" is
// replaced by a new one and the old one freed; each section is expanded
// once, however many keys name it. The values of rows marked
// expansion_arguments are left as written, even in a launcher section that a
// form_section key names, and only checked for variables without value.
// Returns 0, or -1 after logging "Undefined variable NAME" or memory running
// out, with the strings expanded so far replaced.
int expand_configuration(config_section* root, const char* section_name, const char* config_path);

// Replaces the variables and "$$" in each of the `count` strings of
// `arguments` as expand_configuration does, the configuration being
// `config_path`: each string holding a "$" is replaced by a new one and the
// old one freed. Returns 0, or -1 when a variable has no value or memory
// ran out, with the strings expanded so far replaced. Logs nothing.
int expand_arguments(int32_t count, char** arguments, const char* config_path);
