// SPDX-License-Identifier: Apache-2.0
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

namespace {

// Returns a new copy of `text`, owned by the caller (free); null when memory
// runs out.
char* copy_string(const char* text)
{
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

} // namespace

int make_main_argument_vector(const char* argument_string, int32_t* count, char*** vector)
{
    *count = 0;
    *vector = nullptr;
    // Elements 0 to 2 of the command line are the program, the launcher
    // section and the configuration file.
    const int32_t passed = launcher.pass_arguments && launcher.argument_count > 3 ? launcher.argument_count - 3 : 0;
    const int32_t split = split_arguments(argument_string, nullptr);
    if (split > INT32_MAX - passed)
        return -1;
    const int32_t total = split + passed;
    if (total == 0)
        return 0;
    char** made = static_cast<char**>(std::malloc(static_cast<size_t>(total) * sizeof(char*)));
    int32_t filled = made != nullptr ? split_arguments(argument_string, made) : 0;
    // The passed arguments follow a complete split only.
    if (made != nullptr && filled == split) {
        while (filled < total && (made[filled] = copy_string(launcher.arguments[3 + filled - split])) != nullptr)
            ++filled;
    }
    if (filled != total) {
        free_arguments(filled, made);
        return -1;
    }
    *count = total;
    *vector = made;
    return 0;
}

namespace {

constexpr char main_with_arguments[] = "([Ljava/lang/String;)V";
constexpr char main_without_arguments[] = "()V";
constexpr jint private_modifier = 0x0002; // java.lang.reflect.Modifier.PRIVATE

struct main_form {
    const char* signature;
    bool is_static;
};

// What the java command of JDK 25 runs when a class has no static
// main(String[]), in the order it tries them.
constexpr main_form later_main_forms[] = {
    {main_with_arguments, false},
    {main_without_arguments, true},
    {main_without_arguments, false},
};

// Returns the method `name` with `signature`, static or not as asked, that
// JNI finds for `owner` (its own or inherited; a constructor only its own),
// when there is one and it is not private; otherwise null, with no
// exception pending.
jmethodID find_non_private_method(JNIEnv* env, jclass owner, const char* name, const char* signature, bool is_static)
{
    // Each lookup runs only when the one before it succeeded, so no call is
    // made with an exception pending.
    jmethodID method = is_static ? env->GetStaticMethodID(owner, name, signature) : env->GetMethodID(owner, name, signature);
    jobject reflected = method != nullptr ? env->ToReflectedMethod(owner, method, is_static) : nullptr;
    jclass member = reflected != nullptr ? env->FindClass("java/lang/reflect/Member") : nullptr;
    jmethodID get_modifiers = member != nullptr ? env->GetMethodID(member, "getModifiers", "()I") : nullptr;
    const jint modifiers = get_modifiers != nullptr ? env->CallIntMethod(reflected, get_modifiers) : private_modifier;
    const bool usable = !env->ExceptionCheck() && (modifiers & private_modifier) == 0;
    env->ExceptionClear();
    if (member != nullptr)
        env->DeleteLocalRef(member);
    if (reflected != nullptr)
        env->DeleteLocalRef(reflected);
    return usable ? method : nullptr;
}

// Returns the first of later_main_forms that `main_class` has, with its
// method in *method; null when it has none. The exception that the failed
// lookup of a static main(String[]) left pending is then pending again, so
// that the VM reports a class without main as it always has.
const main_form* find_later_main_form(JNIEnv* env, jclass main_class, jmethodID* method)
{
    jthrowable static_lookup_failure = env->ExceptionOccurred();
    env->ExceptionClear();
    const main_form* found = nullptr;
    for (const main_form& form : later_main_forms) {
        *method = find_non_private_method(env, main_class, "main", form.signature, form.is_static);
        if (*method != nullptr) {
            found = &form;
            break;
        }
    }
    if (static_lookup_failure != nullptr) {
        if (found == nullptr)
            env->Throw(static_lookup_failure);
        env->DeleteLocalRef(static_lookup_failure);
    }
    return found;
}

int find_main_method(const char* class_name)
{
    JNIEnv* env = launcher.env;
    jclass main_class = launcher.main_class = find_class_dotted(env, class_name);
    if (main_class == nullptr) {
        log_error("Unable to find main class %s", class_name);
        return -1;
    }
    // A static main(String[]), of any access, runs as it always has.
    launcher.main_takes_arguments = true;
    launcher.main_method = env->GetStaticMethodID(main_class, "main", main_with_arguments);
    if (launcher.main_method != nullptr)
        return 0;
    const main_form* form = find_later_main_form(env, main_class, &launcher.main_method);
    if (form == nullptr) {
        log_error("Class %s does not have a main method", class_name);
        return -1;
    }
    launcher.main_takes_arguments = form->signature == main_with_arguments;
    if (form->is_static)
        return 0;
    launcher.main_constructor = find_non_private_method(env, main_class, "<init>", main_without_arguments, false);
    if (launcher.main_constructor == nullptr) {
        log_error("Class %s does not have a non-private constructor without arguments", class_name);
        return -1;
    }
    return 0;
}

int make_main_arguments(const char* argument_string)
{
    // The split arguments are only needed until the String[] holds them.
    int32_t count = 0;
    char** vector = nullptr;
    if (make_main_argument_vector(argument_string, &count, &vector) == 0)
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
    // main() takes none of the arguments passed: the VM reads as many as the
    // method's signature names.
    JNIEnv* env = launcher.env;
    launcher.main_called = true;
    if (launcher.main_constructor == nullptr) {
        env->CallStaticVoidMethod(launcher.main_class, launcher.main_method, launcher.main_arguments);
    } else {
        jobject instance = env->NewObject(launcher.main_class, launcher.main_constructor);
        if (instance != nullptr) {
            env->CallVoidMethod(instance, launcher.main_method, launcher.main_arguments);
            env->DeleteLocalRef(instance);
        }
    }
    // An exception that the constructor or main left stays pending: detaching
    // the thread hands it to the thread's uncaught-exception handler, the
    // program's own when it installed one, else the VM's, which prints it.
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
