#include "launcher/launch.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace {

char* append(char* out, const char* text)
{
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

// Returns `prefix` and `name`, followed by `separator` and `value` when the
// property has a value, as one new string; null when memory runs out.
char* make_option(const char* prefix, const config_property* property, char separator)
{
    size_t length = std::strlen(prefix) + std::strlen(property->name);
    if (property->value != nullptr)
        length += 1 + std::strlen(property->value);
    char* option = static_cast<char*>(std::malloc(length + 1));
    if (option == nullptr)
        return nullptr;
    char* out = append(append(option, prefix), property->name);
    if (property->value != nullptr) {
        *out++ = separator;
        out = append(out, property->value);
    }
    *out = '\0';
    return option;
}

// Returns "-Djava.class.path=" followed by the section's entries joined with
// the platform's separator. An entry is its name and, when it has a value,
// ":" and the value: the parser split a drive-letter or URL-like entry at its
// first ":" and this puts it back.
char* make_class_path_option(const config_section* section)
{
    static const char prefix[] = "-Djava.class.path=";
    size_t length = sizeof prefix - 1;
    for (const config_property* entry = section->properties; entry != nullptr; entry = entry->next) {
        if (entry != section->properties)
            ++length;
        if (entry->name != nullptr)
            length += std::strlen(entry->name);
        if (entry->value != nullptr)
            length += 1 + std::strlen(entry->value);
    }
    char* option = static_cast<char*>(std::malloc(length + 1));
    if (option == nullptr)
        return nullptr;
    char* out = append(option, prefix);
    for (const config_property* entry = section->properties; entry != nullptr; entry = entry->next) {
        if (entry != section->properties)
            *out++ = class_path_separator;
        if (entry->name != nullptr)
            out = append(out, entry->name);
        if (entry->value != nullptr) {
            *out++ = ':';
            out = append(out, entry->value);
        }
    }
    *out = '\0';
    return option;
}

// A VM option or system property needs a name: a line that began with its
// separator gives none and is left out rather than handed to the VM as a
// bare ":value" or "-D=value".
int32_t count_named_properties(const config_section* section)
{
    int32_t count = 0;
    if (section != nullptr) {
        for (const config_property* property = section->properties; property != nullptr;
             property = property->next)
            count += property->name != nullptr ? 1 : 0;
    }
    return count;
}

const config_section* find_named_section(const char* key, const char* default_name)
{
    return find_config_section(launcher.config_root, launcher_setting(key, default_name));
}

// Stores one option per named property of `section`, in list order, from
// options[*made] on, counting them in *made. Returns false when memory runs
// out, leaving what it stored counted for the caller to free.
bool add_property_options(const config_section* section, const char* prefix, char separator,
                          JavaVMOption* options, int32_t* made)
{
    for (const config_property* property = section != nullptr ? section->properties : nullptr;
         property != nullptr; property = property->next) {
        if (property->name == nullptr)
            continue;
        if ((options[*made].optionString = make_option(prefix, property, separator)) == nullptr)
            return false;
        ++*made;
    }
    return true;
}

} // namespace

int build_vm_init_args()
{
    const config_section* class_path = find_named_section("classpaths", default_class_path_section);
    const config_section* vm_options = find_named_section("options", default_options_section);
    const config_section* properties = find_named_section("properties", default_properties_section);

    const int32_t count = (class_path != nullptr ? 1 : 0) + count_named_properties(vm_options)
        + count_named_properties(properties);
    JavaVMOption* options = nullptr;
    int32_t made = 0;
    if (count > 0) {
        options = static_cast<JavaVMOption*>(std::calloc(static_cast<size_t>(count), sizeof(JavaVMOption)));
        if (options == nullptr)
            return -1;
    }

    // The order is fixed: class path, VM options, system properties.
    if (class_path != nullptr) {
        if ((options[made].optionString = make_class_path_option(class_path)) == nullptr)
            goto out_of_memory;
        ++made;
    }
    if (!add_property_options(vm_options, "", ':', options, &made)
        || !add_property_options(properties, "-D", '=', options, &made))
        goto out_of_memory;

    launcher.init_args = JavaVMInitArgs{};
    launcher.init_args.version = JNI_VERSION_1_2;
    launcher.init_args.nOptions = made;
    launcher.init_args.options = options;
    launcher.init_args.ignoreUnrecognized = JNI_FALSE;
    return 0;

out_of_memory:
    free_vm_options(made, options);
    return -1;
}

void free_vm_options(int32_t count, JavaVMOption* options)
{
    for (int32_t i = 0; i < count; ++i)
        std::free(options[i].optionString);
    std::free(options);
}
