#include "launcher/launch.h"
#include "platform/platform.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Copies `length` bytes of `text` to out + at, unless `out` is null: a pass
// that only measures. Returns `length`.
size_t put(char* out, size_t at, const char* text, size_t length)
{
    if (out != nullptr)
        std::memcpy(out + at, text, length);
    return length;
}

// Puts the property as it was written, less the blanks around its separator:
// its name, then, when it has a value, its separator (or `separator`, unless
// that is '\0') and its value. Returns the length.
size_t put_property(char* out, size_t at, const config_property* property, char separator)
{
    size_t length = put(out, at, property->name, std::strlen(property->name));
    if (property->value != nullptr) {
        length += put(out, at + length, separator != '\0' ? &separator : &property->separator, 1);
        length += put(out, at + length, property->value, std::strlen(property->value));
    }
    return length;
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
    put_property(option, put(option, 0, prefix, prefix_length), property, separator);
    option[length] = '\0';
    return option;
}

// Whether a class-path entry stands for the jars of a folder, as in the java
// command: it is "*" (the current folder) or ends in "/*".
bool is_wildcard(const config_property* entry)
{
    const char* end = entry->value != nullptr ? entry->value : entry->name;
    const size_t length = std::strlen(end);
    if (entry->value == nullptr && std::strcmp(end, "*") == 0)
        return true;
    return length >= 2 && std::strcmp(end + length - 2, "/*") == 0;
}

// Whether an entry of `folder` is a jar: its name ends in ".jar" or ".JAR",
// and it is a regular file or a link to one. Subfolders, whatever their
// name, and broken links are not.
bool is_jar_file(DIR* folder, const dirent* file)
{
    const size_t length = std::strlen(file->d_name);
    if (length < 4
        || (std::strcmp(file->d_name + length - 4, ".jar") != 0 && std::strcmp(file->d_name + length - 4, ".JAR") != 0))
        return false;
    if (file->d_type == DT_REG)
        return true;
    if (file->d_type != DT_LNK && file->d_type != DT_UNKNOWN)
        return false;
    struct stat info;
    return fstatat(dirfd(folder), file->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
}

int compare_names(const void* a, const void* b)
{
    return std::strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

// The jars a wildcard entry stands for.
struct jar_listing {
    char* folder;  // the entry without its "*", put before each name
    char** names;  // sorted bytewise; the pointers and the names are one block
    size_t count;
};

// Fills `listing`, zero-initialised, with the jars of the folder that the
// wildcard `entry` names. A folder that is missing or cannot be read lists
// nothing. Returns 0, or -1 when memory runs out; either way the caller
// frees what `listing` holds.
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

    // The names are measured, then copied by a second reading of the folder;
    // what appears in between is taken only as far as the measure allows.
    size_t count = 0;
    size_t bytes = 0;
    for (const dirent* file; (file = readdir(folder)) != nullptr;) {
        if (is_jar_file(folder, file)) {
            ++count;
            bytes += std::strlen(file->d_name) + 1;
        }
    }
    int result = 0;
    if (count > 0 && (listing->names = static_cast<char**>(std::malloc(count * sizeof(char*) + bytes))) == nullptr)
        result = -1;
    if (listing->names != nullptr) {
        rewinddir(folder);
        char* name = reinterpret_cast<char*>(listing->names + count);
        for (const dirent* file; listing->count < count && (file = readdir(folder)) != nullptr;) {
            const size_t size = std::strlen(file->d_name) + 1;
            if (size > bytes || !is_jar_file(folder, file))
                continue;
            listing->names[listing->count++] = static_cast<char*>(std::memcpy(name, file->d_name, size));
            name += size;
            bytes -= size;
        }
        std::qsort(listing->names, listing->count, sizeof(char*), compare_names);
    }
    closedir(folder);
    return result;
}

// Puts the class path: the named entries of `section` in list order, joined
// with the platform's separator, each wildcard replaced by the jars of its
// listing (`listings` holds one per wildcard, in order). A wildcard that
// lists nothing adds nothing, not even a separator. Returns the length.
size_t put_class_path(char* out, size_t at, const config_section* section, const jar_listing* listings)
{
    const size_t start = at;
    size_t pieces = 0;
    const jar_listing* listing = listings;
    for (const config_property* entry = section->properties; entry != nullptr; entry = entry->next) {
        if (entry->name == nullptr)
            continue;
        if (!is_wildcard(entry)) {
            if (pieces++ > 0)
                at += put(out, at, &class_path_separator, 1);
            at += put_property(out, at, entry, '\0');
            continue;
        }
        for (size_t i = 0; i < listing->count; ++i) {
            if (pieces++ > 0)
                at += put(out, at, &class_path_separator, 1);
            at += put(out, at, listing->folder, std::strlen(listing->folder));
            at += put(out, at, listing->names[i], std::strlen(listing->names[i]));
        }
        ++listing;
    }
    return at - start;
}

// Returns "-Djava.class.path=" and the class path of `section` (see
// put_class_path) as one new string; null when memory runs out. Each
// wildcard's folder is read once, and the listings are kept until the
// string, measured first, has been written.
char* make_class_path_option(const config_section* section)
{
    static const char prefix[] = "-Djava.class.path=";
    size_t wildcards = 0;
    for (const config_property* entry = section->properties; entry != nullptr; entry = entry->next)
        wildcards += entry->name != nullptr && is_wildcard(entry) ? 1u : 0u;
    jar_listing* listings = nullptr;
    if (wildcards > 0 && (listings = static_cast<jar_listing*>(std::calloc(wildcards, sizeof(jar_listing)))) == nullptr)
        return nullptr;

    bool listed = true;
    jar_listing* listing = listings;
    for (const config_property* entry = section->properties; entry != nullptr && listed; entry = entry->next) {
        if (entry->name != nullptr && is_wildcard(entry))
            listed = list_jar_files(entry, listing++) == 0;
    }
    char* option = nullptr;
    if (listed) {
        const size_t length = sizeof prefix - 1 + put_class_path(nullptr, 0, section, listings);
        if ((option = static_cast<char*>(std::malloc(length + 1))) != nullptr) {
            put_class_path(option, put(option, 0, prefix, sizeof prefix - 1), section, listings);
            option[length] = '\0';
        }
    }
    for (size_t i = 0; i < wildcards; ++i) {
        std::free(listings[i].folder);
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
    // VM options keep the separator they were written with; a system
    // property is always name=value.
    if (!add_property_options(vm_options, "", '\0', options, &made)
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
