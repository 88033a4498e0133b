// SPDX-License-Identifier: Apache-2.0
// Finding main, making its arguments and calling it.
#include "args/args.h"
#include "launcher/java_text.h"
#include "launcher/launch_steps.h"
#include "launcher/text.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

int make_main_argument_vector(const launcher_settings* settings, const char* config_path, int32_t argument_count,
                              char** arguments, int32_t* count, char*** vector)
{
    *count = 0;
    *vector = nullptr;
    // Elements 0 to 2 of the command line are the program, the launcher
    // section and the configuration file.
    const int32_t passed_count = settings->number[setting_passargs] != 0 && argument_count > 3 ? argument_count - 3 : 0;
    const char* argument_string = settings->text[setting_mainargs];
    const int32_t split = split_arguments(argument_string, nullptr);
    if (split > INT32_MAX - passed_count)
        return -1;
    const int32_t total = split + passed_count;
    if (total == 0)
        return 0;
    char** made = static_cast<char**>(std::malloc(static_cast<size_t>(total) * sizeof(char*)));
    int32_t filled = made != nullptr ? split_arguments(argument_string, made) : 0;
    const bool complete = made != nullptr && filled == split
        && (settings->number[setting_expand] == 0 || expand_arguments(split, made, config_path) == 0);
    // The passed arguments follow a complete split only, and are never
    // expanded.
    while (complete && filled < total && (made[filled] = copy_text(arguments[3 + filled - split])) != nullptr)
        ++filled;
    if (!complete || filled != total) {
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

// Calls the method `name` of the class `owner`, which takes nothing and
// returns the object type `type`, on `object`, an instance of `owner`.
// Returns its result, or null when it returns null or throws, with no
// exception pending then.
jobject call_object_method(JNIEnv* env, jobject object, const char* owner, const char* name, const char* type)
{
    jclass owner_class = env->FindClass(owner);
    jmethodID method = owner_class != nullptr ? env->GetMethodID(owner_class, name, type) : nullptr;
    jobject result = method != nullptr ? env->CallObjectMethod(object, method) : nullptr;
    env->ExceptionClear();
    if (owner_class != nullptr)
        env->DeleteLocalRef(owner_class);
    return result;
}

// Returns a copy of the String `text` (null allowed) in modified UTF-8, owned
// by the caller; null for a null `text` or when memory runs out, with no
// exception pending. Deletes the reference `text`.
char* take_java_string(JNIEnv* env, jobject text)
{
    const auto string = static_cast<jstring>(text);
    const char* chars = string != nullptr ? env->GetStringUTFChars(string, nullptr) : nullptr;
    char* copy = chars != nullptr ? copy_text(chars) : nullptr;
    if (chars != nullptr)
        env->ReleaseStringUTFChars(string, chars);
    env->ExceptionClear();
    if (string != nullptr)
        env->DeleteLocalRef(string);
    return copy;
}

// What a Throwable says of itself: the name of its class and its message,
// each a string owned by the record, null when there is none or memory ran
// out.
struct throwable_text {
    char* type;
    char* message;
};

throwable_text read_throwable(JNIEnv* env, jobject thrown)
{
    constexpr char returns_string[] = "()Ljava/lang/String;";
    jclass type = env->GetObjectClass(thrown);
    throwable_text text{take_java_string(env, call_object_method(env, type, "java/lang/Class", "getName", returns_string)),
                        take_java_string(env, call_object_method(env, thrown, "java/lang/Throwable", "getMessage",
                                                                 returns_string))};
    env->DeleteLocalRef(type);
    return text;
}

void free_throwable_text(throwable_text* text)
{
    std::free(text->type);
    std::free(text->message);
}

bool is_type(const throwable_text& text, const char* type)
{
    return text.type != nullptr && std::strcmp(text.type, type) == 0;
}

// Whether `text` is the name of the class `class_name` (dot-separated) in
// the VM's form, with slashes.
bool is_class_name(const char* text, const char* class_name)
{
    for (; *class_name != '\0'; ++class_name, ++text) {
        if (*text != (*class_name == '.' ? '/' : *class_name))
            return false;
    }
    return *text == '\0';
}

// Logs why the main class `class_name` is not there, once find_class_dotted
// returned null. When the VM has no class of that name (its
// NoClassDefFoundError names the class itself), that error is cleared: its
// stack trace would hold only the VM's own frames. Anything else thrown while
// the class was loaded, linked or initialized is named in the message (for
// an ExceptionInInitializerError, its cause) and stays pending, for the
// uncaught-exception handler to report as under the java command.
void report_main_class_failure(JNIEnv* env, const char* class_name)
{
    jthrowable thrown = env->ExceptionCheck() ? env->ExceptionOccurred() : nullptr;
    if (thrown == nullptr) {
        log_error("Unable to find main class %s", class_name);
        return;
    }
    env->ExceptionClear();
    throwable_text text = read_throwable(env, thrown);
    if (is_type(text, "java.lang.NoClassDefFoundError") && text.message != nullptr
        && is_class_name(text.message, class_name)) {
        log_error("Unable to find main class %s", class_name);
    } else {
        jobject cause = is_type(text, "java.lang.ExceptionInInitializerError")
            ? call_object_method(env, thrown, "java/lang/Throwable", "getCause", "()Ljava/lang/Throwable;")
            : nullptr;
        if (cause != nullptr) {
            free_throwable_text(&text);
            text = read_throwable(env, cause);
            env->DeleteLocalRef(cause);
        }
        const char* type = text.type != nullptr ? text.type : "java.lang.Throwable";
        if (text.message != nullptr)
            log_error("Unable to load main class %s: %s: %s", class_name, type, text.message);
        else
            log_error("Unable to load main class %s: %s", class_name, type);
        env->Throw(thrown);
    }
    free_throwable_text(&text);
    env->DeleteLocalRef(thrown);
}

} // namespace

int find_main_method(JNIEnv* env, const char* class_name, main_method* found)
{
    jclass main_class = found->main_class = find_class_dotted(env, class_name);
    if (main_class == nullptr) {
        report_main_class_failure(env, class_name);
        return -1;
    }
    // A static main(String[]), of any access, runs as it always has.
    found->takes_arguments = true;
    found->method = env->GetStaticMethodID(main_class, "main", main_with_arguments);
    if (found->method != nullptr)
        return 0;
    const main_form* form = find_later_main_form(env, main_class, &found->method);
    if (form == nullptr) {
        log_error("Class %s does not have a main method", class_name);
        return -1;
    }
    found->takes_arguments = form->signature == main_with_arguments;
    if (form->is_static)
        return 0;
    found->constructor = find_non_private_method(env, main_class, "<init>", main_without_arguments, false);
    if (found->constructor == nullptr) {
        log_error("Class %s does not have a non-private constructor without arguments", class_name);
        return -1;
    }
    return 0;
}

int make_main_arguments(JNIEnv* env, const launcher_settings* settings, const char* config_path,
                        int32_t argument_count, char** arguments, jobjectArray* main_arguments, int32_t* count)
{
    // The split arguments are only needed until the String[] holds them.
    char** vector = nullptr;
    if (make_main_argument_vector(settings, config_path, argument_count, arguments, count, &vector) == 0)
        *main_arguments = new_string_array(env, *count, vector);
    free_arguments(*count, vector);
    if (*main_arguments == nullptr) {
        log_error("Error creating command arguments");
        return -1;
    }
    return 0;
}

int call_main_method(JNIEnv* env, const main_method* found, jobjectArray arguments)
{
    // main() takes none of the arguments passed: the VM reads as many as the
    // method's signature names.
    if (found->constructor == nullptr) {
        env->CallStaticVoidMethod(found->main_class, found->method, arguments);
    } else {
        jobject instance = env->NewObject(found->main_class, found->constructor);
        if (instance != nullptr) {
            env->CallVoidMethod(instance, found->method, arguments);
            env->DeleteLocalRef(instance);
        }
    }
    // An exception that the constructor or main left stays pending: detaching
    // the thread hands it to the thread's uncaught-exception handler, the
    // program's own when it installed one, else the VM's, which prints it.
    return env->ExceptionCheck() ? -1 : 0;
}

