// SPDX-License-Identifier: Apache-2.0
#include "launcher/launch_steps.h"
#include "launcher/text.h"
#include "platform/platform.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Puts the property as it was written, less the blanks around its separator:
// its name, then, when it has a value, its separator (or `separator`, unless
// that is '\0') and its value. Returns the length.
size_t put_property(char* out, size_t at, const config_property* property, char separator)
{
    const size_t start = at;
    at = put_text(out, at, property->name, std::strlen(property->name));
    if (property->value != nullptr) {
        at = put_text(out, at, separator != '\0' ? &separator : &property->separator, 1);
        at = put_text(out, at, property->value, std::strlen(property->value));
    }
    return at - start;
}

// Returns `prefix` and the property as put_property puts it, as one new
// string; null when memory runs out.
char* make_option(const char* prefix, const config_property* property, char separator)
{
    const size_t prefix_length = std::strlen(prefix);
    const size_t length = prefix_length + put_property(nullptr, 0, property, separator);
    char* option = static_cast<char*>(std::malloc(length + 1));
    if (option == nullptr)
        return nullptr;
    put_property(option, put_text(option, 0, prefix, prefix_length), property, separator);
    option[length] = '\0';
    return option;
}

} // namespace

bool is_class_path_wildcard(const config_property* entry)
{
    const char* end = entry->value != nullptr ? entry->value : entry->name;
    const size_t length = std::strlen(end);
    if (entry->value == nullptr && std::strcmp(end, "*") == 0)
        return true;
    return length >= 2 && std::strcmp(end + length - 2, "/*") == 0;
}

namespace {

// Whether an entry of `folder` is a jar the class path can name: its name
// ends in ".jar" or ".JAR" and holds no class-path separator, which the VM
// would split it at (as the java command does, such names are left out), and
// it is a regular file or a link to one. Subfolders, whatever their name, and
// broken links are not.
bool is_jar_file(DIR* folder, const dirent* file)
{
    const size_t length = std::strlen(file->d_name);
    if (length < 4 || std::strchr(file->d_name, class_path_separator) != nullptr
        || (std::strcmp(file->d_name + length - 4, ".jar") != 0 && std::strcmp(file->d_name + length - 4, ".JAR") != 0))
        return false;
    if (file->d_type == DT_REG)
        return true;
    if (file->d_type != DT_LNK && file->d_type != DT_UNKNOWN)
        return false;
    struct stat info;
    return fstatat(dirfd(folder), file->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
}

// The jars a wildcard entry stands for.
struct jar_listing {
    char* folder; // the entry without its "*", put before each name
    char* text;   // the names, each followed by its NUL, as the folder gave them
    char** names; // pointers into `text`, sorted bytewise
    size_t count;
};

// Appends the `size` bytes at `name` to listing->text, which holds *used of
// its *capacity bytes, doubling it when it is full. Returns false when memory
// runs out.
bool append_name(jar_listing* listing, size_t* used, size_t* capacity, const char* name, size_t size)
{
    if (*used + size > *capacity) {
        const size_t grown = std::max({size_t{256}, 2 * *capacity, *used + size});
        char* text = static_cast<char*>(std::malloc(grown));
        if (text == nullptr)
            return false;
        if (*used > 0)
            std::memcpy(text, listing->text, *used);
        std::free(listing->text);
        listing->text = text;
        *capacity = grown;
    }
    std::memcpy(listing->text + *used, name, size);
    *used += size;
    return true;
}

// Fills `listing`, zero-initialised, with the jars of the folder that the
// wildcard `entry` names. A folder that is missing or cannot be read lists
// nothing. Returns 0, or -1 when memory runs out; either way the caller
// frees what `listing` holds.
//
// The folder is read once, into a buffer that grows: reading a folder costs
// more than everything else a listing does (for 2,000 jars, about half a
// millisecond), so it is not read a second time to be measured first.
int list_jar_files(const config_property* entry, jar_listing* listing)
{
    const size_t length = put_property(nullptr, 0, entry, '\0');
    if ((listing->folder = static_cast<char*>(std::malloc(length))) == nullptr)
        return -1;
    put_property(listing->folder, 0, entry, '\0');
    listing->folder[length - 1] = '\0'; // in place of the "*"
    DIR* folder = opendir(length > 1 ? listing->folder : ".");
    if (folder == nullptr)
        return errno == ENOMEM ? -1 : 0;
    size_t used = 0;
    size_t capacity = 0;
    bool appended = true;
    for (const dirent* file; appended && (file = readdir(folder)) != nullptr;) {
        if (is_jar_file(folder, file)) {
            appended = append_name(listing, &used, &capacity, file->d_name, std::strlen(file->d_name) + 1);
            listing->count += appended ? 1 : 0;
        }
    }
    closedir(folder);
    if (!appended)
        return -1;
    if (listing->count == 0)
        return 0;
    if ((listing->names = static_cast<char**>(std::malloc(listing->count * sizeof(char*)))) == nullptr)
        return -1;
    char* name = listing->text;
    for (size_t i = 0; i < listing->count; name += std::strlen(name) + 1, ++i)
        listing->names[i] = name;
    std::sort(listing->names, listing->names + listing->count,
              [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
    return 0;
}

// Puts the class path: `first` unless it is null, then the named entries of
// `section` (null: none) in list order, joined with the platform's
// separator, each wildcard replaced by the jars of its listing (`listings`
// holds one per wildcard, in order). A wildcard that lists nothing adds
// nothing, not even a separator. Returns the length.
//
// The VM reads an empty class path, and one of empty entries only, as the
// working folder. Entries that all came to nothing (wildcards without jars,
// nameless or empty entries), with no `first` before them, therefore put
// empty_class_path instead; a section without any entry puts nothing, and
// means the working folder, as no section does.
size_t put_class_path(char* out, size_t at, const char* first, const config_section* section,
                      const jar_listing* listings)
{
    const size_t start = at;
    size_t pieces = 0;
    bool named = false; // an entry put is not empty
    if (first != nullptr) {
        at = put_text(out, at, first, std::strlen(first));
        ++pieces;
        named = true;
    }
    const jar_listing* listing = listings;
    for (const config_property* entry = section != nullptr ? section->properties : nullptr; entry != nullptr;
         entry = entry->next) {
        if (entry->name == nullptr)
            continue;
        if (!is_class_path_wildcard(entry)) {
            if (pieces++ > 0)
                at = put_text(out, at, &class_path_separator, 1);
            const size_t length = put_property(out, at, entry, '\0');
            at += length;
            named |= length > 0;
            continue;
        }
        for (size_t i = 0; i < listing->count; ++i) {
            if (pieces++ > 0)
                at = put_text(out, at, &class_path_separator, 1);
            at = put_text(out, at, listing->folder, std::strlen(listing->folder));
            at = put_text(out, at, listing->names[i], std::strlen(listing->names[i]));
            named = true;
        }
        ++listing;
    }
    if (!named && section != nullptr && section->properties != nullptr)
        at = put_text(out, start, empty_class_path, sizeof empty_class_path - 1);
    return at - start;
}

// Returns "-Djava.class.path=" and the class path of `first` and `section`
// (see put_class_path) as one new string; null when memory runs out. Each
// wildcard's folder is read once, and the listings are kept until the
// string, measured first, has been written.
char* make_class_path_option(const char* first, const config_section* section)
{
    static const char prefix[] = "-Djava.class.path=";
    const config_property* entries = section != nullptr ? section->properties : nullptr;
    size_t wildcards = 0;
    for (const config_property* entry = entries; entry != nullptr; entry = entry->next)
        wildcards += entry->name != nullptr && is_class_path_wildcard(entry) ? 1u : 0u;
    jar_listing* listings = nullptr;
    if (wildcards > 0 && (listings = static_cast<jar_listing*>(std::calloc(wildcards, sizeof(jar_listing)))) == nullptr)
        return nullptr;

    bool listed = true;
    jar_listing* listing = listings;
    for (const config_property* entry = entries; entry != nullptr && listed; entry = entry->next) {
        if (entry->name != nullptr && is_class_path_wildcard(entry))
            listed = list_jar_files(entry, listing++) == 0;
    }
    char* option = nullptr;
    if (listed) {
        const size_t length = sizeof prefix - 1 + put_class_path(nullptr, 0, first, section, listings);
        if ((option = static_cast<char*>(std::malloc(length + 1))) != nullptr) {
            put_class_path(option, put_text(option, 0, prefix, sizeof prefix - 1), first, section, listings);
            option[length] = '\0';
        }
    }
    for (size_t i = 0; i < wildcards; ++i) {
        std::free(listings[i].folder);
        std::free(listings[i].text);
        std::free(listings[i].names);
    }
    std::free(listings);
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

int build_vm_init_args(const config_section* root, const launcher_settings* settings, JavaVMInitArgs* init_args)
{
    const config_section* class_path = find_config_section(root, settings->text[setting_classpaths]);
    const config_section* vm_options = find_config_section(root, settings->text[setting_options]);
    const config_section* properties = find_config_section(root, settings->text[setting_properties]);
    // Before the section's entries, as java -jar has the jar first.
    const char* jar = settings->text[setting_mainjar][0] != '\0' ? settings->text[setting_mainjar] : nullptr;

    const int32_t count = (class_path != nullptr || jar != nullptr ? 1 : 0) + count_named_properties(vm_options)
        + count_named_properties(properties);
    JavaVMOption* options = nullptr;
    int32_t made = 0;
    if (count > 0) {
        options = static_cast<JavaVMOption*>(std::calloc(static_cast<size_t>(count), sizeof(JavaVMOption)));
        if (options == nullptr)
            return -1;
    }

    // The order is fixed: class path, VM options, system properties.
    if (class_path != nullptr || jar != nullptr) {
        if ((options[made].optionString = make_class_path_option(jar, class_path)) == nullptr)
            goto out_of_memory;
        ++made;
    }
    // VM options keep the separator they were written with; a system
    // property is always name=value.
    if (!add_property_options(vm_options, "", '\0', options, &made)
        || !add_property_options(properties, "-D", '=', options, &made))
        goto out_of_memory;

    *init_args = JavaVMInitArgs{};
    init_args->version = JNI_VERSION_1_2;
    init_args->nOptions = made;
    init_args->options = options;
    init_args->ignoreUnrecognized = JNI_FALSE;
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
