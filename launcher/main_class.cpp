#include "args/args.h"
#include "launcher/launch.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

void convert_dots_to_slashes(const char* dotted, char* slashed)
{
    for (; *dotted != '\0'; ++dotted, ++slashed)
        *slashed = *dotted == '.' ? '/' : *dotted;
    *slashed = '\0';
}

namespace {

// True when `name`, of `length` bytes, is modified UTF-8 in its shortest
// form (NUL written as C0 80 is the one longer form allowed), as the VM
// requires of the names FindClass takes.
bool is_modified_utf8(const char* name, size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    for (size_t i = 0; i < length;) {
        const unsigned lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const size_t continuations = lead >= 0xC0 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2 : 0;
        if (continuations == 0 || length - i <= continuations)
            return false;
        unsigned code = lead & (continuations == 1 ? 0x1Fu : 0x0Fu);
        for (size_t k = 1; k <= continuations; ++k) {
            if ((bytes[i + k] & 0xC0u) != 0x80u)
                return false;
            code = code << 6 | (bytes[i + k] & 0x3Fu);
        }
        if (continuations == 1 ? code != 0 && code < 0x80 : code < 0x800)
            return false;
        i += 1 + continuations;
    }
    return true;
}

} // namespace

jclass find_class_dotted(JNIEnv* env, const char* class_name)
{
    // A VM that checks its JNI use (-Xcheck:jni) ends the process when
    // FindClass is handed a name that is not modified UTF-8, and warns about a
    // descriptor "Lname;". No class has such a name, so it is not asked.
    const size_t length = std::strlen(class_name);
    if (!is_modified_utf8(class_name, length)
        || (length >= 2 && class_name[0] == 'L' && class_name[length - 1] == ';'))
        return nullptr;

    // Ordinary names fit the buffer; longer ones are converted on the heap
    // rather than cut short.
    char buffer[128];
    char* slashed = length < sizeof buffer ? buffer : static_cast<char*>(std::malloc(length + 1));
    if (slashed == nullptr)
        return nullptr;
    convert_dots_to_slashes(class_name, slashed);
    jclass found = env->FindClass(slashed);
    if (slashed != buffer)
        std::free(slashed);
    return found;
}

jstring new_java_string(JNIEnv* env, const char* text)
{
    const size_t length = std::strlen(text);
    if (length > INT32_MAX)
        return nullptr;
    jclass string_class = env->FindClass("java/lang/String");
    if (string_class == nullptr)
        return nullptr;
    jmethodID constructor = env->GetMethodID(string_class, "<init>", "([B)V");
    jbyteArray bytes = constructor != nullptr ? env->NewByteArray(static_cast<jsize>(length)) : nullptr;
    jstring made = nullptr;
    if (bytes != nullptr) {
        env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(length), reinterpret_cast<const jbyte*>(text));
        if (!env->ExceptionCheck())
            made = static_cast<jstring>(env->NewObject(string_class, constructor, bytes));
        env->DeleteLocalRef(bytes);
    }
    env->DeleteLocalRef(string_class);
    return made;
}

jobjectArray new_string_array(JNIEnv* env, int32_t count, char** vector)
{
    jclass string_class = env->FindClass("java/lang/String");
    if (string_class == nullptr)
        return nullptr;
    jobjectArray array = env->NewObjectArray(count, string_class, nullptr);
    env->DeleteLocalRef(string_class);
    if (array == nullptr)
        return nullptr;

    // Each element's reference is dropped once stored, so the frame holds the
    // same few references for three arguments or a hundred thousand. An
    // element that cannot be made ends the whole array: no JNI call is made
    // with its exception pending.
    for (int32_t i = 0; i < count; ++i) {
        jstring element = new_java_string(env, vector[i]);
        if (element == nullptr) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, i, element);
        env->DeleteLocalRef(element);
    }
    return array;
}

int split_main_arguments(const char* argument_string, int32_t* count, char*** vector)
{
    *count = 0;
    *vector = nullptr;
    const int32_t counted = split_arguments(argument_string, nullptr);
    if (counted == 0)
        return 0;
    char** made = static_cast<char**>(std::malloc(static_cast<size_t>(counted) * sizeof(char*)));
    const int32_t filled = made != nullptr ? split_arguments(argument_string, made) : 0;
    if (filled != counted) {
        free_arguments(filled, made);
        return -1;
    }
    *count = counted;
    *vector = made;
    return 0;
}

namespace {

int find_main_method(const char* class_name)
{
    launcher.main_class = find_class_dotted(launcher.env, class_name);
    if (launcher.main_class == nullptr) {
        log_error("Unable to find main class %s", class_name);
        return -1;
    }
    launcher.main_method = launcher.env->GetStaticMethodID(launcher.main_class, "main", "([Ljava/lang/String;)V");
    if (launcher.main_method == nullptr) {
        log_error("Class %s does not have a main method", class_name);
        return -1;
    }
    return 0;
}

int make_main_arguments(const char* argument_string)
{
    // The split arguments are only needed until the String[] holds them.
    int32_t count = 0;
    char** vector = nullptr;
    if (split_main_arguments(argument_string, &count, &vector) == 0)
        launcher.main_arguments = new_string_array(launcher.env, count, vector);
    free_arguments(count, vector);
    if (launcher.main_arguments == nullptr) {
        log_error("Error creating command arguments");
        return -1;
    }
    launcher.main_argument_count = count;
    return 0;
}

int call_main_method()
{
    JNIEnv* env = launcher.env;
    env->CallStaticVoidMethod(launcher.main_class, launcher.main_method, launcher.main_arguments);
    // An exception that main left stays pending: detaching the thread hands
    // it to the thread's uncaught-exception handler, the program's own when
    // it installed one, else the VM's, which prints it.
    return env->ExceptionCheck() ? -1 : 0;
}

} // namespace

int run_main_class(const char* class_name, const char* argument_string)
{
    if (take_step(launch_main_method) && find_main_method(class_name) != 0)
        return -1;
    if (take_step(launch_main_arguments) && make_main_arguments(argument_string) != 0)
        return -1;
    if (take_step(launch_main_call) && call_main_method() != 0)
        return -1;
    return 0;
}
