// SPDX-License-Identifier: Apache-2.0
#include "config/config.h"

#include <cstring>

namespace {

// A property without value reads as this one string, never a new allocation.
const char empty_value[] = "";

bool name_is(const char* name, const char* wanted)
{
    return name != nullptr && std::strcmp(name, wanted) == 0;
}

} // namespace

config_section* find_config_section(const config_section* root, const char* name)
{
    for (const config_section* section = root; section != nullptr; section = section->next) {
        if (name_is(section->name, name))
            return const_cast<config_section*>(section);
    }
    return nullptr;
}

config_property* find_config_property(const config_section* section, const char* key)
{
    for (const config_property* property = section != nullptr ? section->properties : nullptr;
         property != nullptr; property = property->next) {
        if (name_is(property->name, key))
            return const_cast<config_property*>(property);
    }
    return nullptr;
}

const char* find_config_value(const config_section* section, const char* key)
{
    const config_property* property = find_config_property(section, key);
    if (property == nullptr)
        return nullptr;
    return property->value != nullptr ? property->value : empty_value;
}

const char* get_config_value(const config_section* root, const char* section_name,
                             const char* key, const char* default_value)
{
    const char* value = find_config_value(find_config_section(root, section_name), key);
    return value != nullptr ? value : default_value;
}

int32_t count_config_properties(const config_section* section)
{
    int32_t count = 0;
    if (section != nullptr) {
        for (const config_property* property = section->properties; property != nullptr;
             property = property->next)
            ++count;
    }
    return count;
}
