// SPDX-License-Identifier: Apache-2.0
// A main jar, run as `java -jar` runs it: its manifest read before anything
// is loaded, its command line recorded as java records it, and what its
// manifest asks of the VM done before main.
#include "args/args.h"
#include "launcher/java_text.h"
#include "launcher/launch_steps.h"
#include "launcher/text.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

int read_main_jar(const launcher_settings* settings, main_jar* jar, const char** main_class)
{
    *main_class = settings->text[setting_mainclass];
    const char* path = settings->text[setting_mainjar];
    if (path[0] == '\0')
        return 0;
    const bool main_class_given = settings->given[setting_mainclass];
    jar_manifest* manifest = nullptr;
    switch (read_jar_manifest(path, &manifest)) {
    case 0:
        break;
    case jar_no_main_class:
        if (main_class_given)
            break;
        log_error("No Main-Class in JAR %s", path);
        return -1;
    case jar_out_of_memory:
        log_error("Out of memory building the JVM options");
        return -1;
    default:
        log_error("Unable to read JAR %s", path);
        return -1;
    }
    jar->path = path;
    jar->manifest = manifest;
    if (manifest != nullptr && !main_class_given)
        *main_class = manifest->main_class;
    return 0;
}

void free_main_jar(main_jar* jar)
{
    free_jar_manifest(jar->manifest);
    *jar = main_jar{};
}

char* make_java_command_option(const char* jar, const launcher_settings* settings, const char* config_path,
                               int32_t argument_count, char** arguments)
{
    static const char prefix[] = "-Dsun.java.command=";
    int32_t count = 0;
    char** vector = nullptr;
    if (make_main_argument_vector(settings, config_path, argument_count, arguments, &count, &vector) != 0)
        return nullptr;
    size_t length = sizeof prefix - 1 + std::strlen(jar);
    for (int32_t i = 0; i < count; ++i)
        length += 1 + std::strlen(vector[i]);
    char* option = static_cast<char*>(std::malloc(length + 1));
    if (option != nullptr) {
        size_t at = put_text(option, put_text(option, 0, prefix, sizeof prefix - 1), jar, std::strlen(jar));
        for (int32_t i = 0; i < count; ++i)
            at = put_text(option, put_text(option, at, " ", 1), vector[i], std::strlen(vector[i]));
        option[at] = '\0';
    }
    free_arguments(count, vector);
    return option;
}

int add_java_command_option(const char* jar, const launcher_settings* settings, const char* config_path,
                            int32_t argument_count, char** arguments, JavaVMInitArgs* init_args)
{
    if (jar == nullptr)
        return 0;
    const auto count = static_cast<size_t>(init_args->nOptions);
    char* option = make_java_command_option(jar, settings, config_path, argument_count, arguments);
    auto* options = option != nullptr ? static_cast<JavaVMOption*>(std::calloc(count + 1, sizeof(JavaVMOption)))
                                      : nullptr;
    if (options == nullptr) {
        std::free(option);
        log_error("Out of memory building the JVM options");
        return -1;
    }
    if (count > 0)
        std::memcpy(options, init_args->options, count * sizeof(JavaVMOption));
    options[count].optionString = option;
    std::free(init_args->options);
    init_args->options = options;
    ++init_args->nOptions;
    return 0;
}

namespace {

// Runs the agent the jar at `path` names, through the JDK's own loader of
// Launcher-Agent-Class agents, which java -jar calls: it reads the
// manifest again, and calls the agent's agentmain on this thread. Returns 0
// when it ran, or when the VM has no module java.instrument, for which java
// starts no agent either; -1 when it failed, the JDK having printed why.
int start_launcher_agent(JNIEnv* env, const char* path)
{
    jclass loader = env->FindClass("sun/instrument/InstrumentationImpl");
    if (loader == nullptr) {
        env->ExceptionClear();
        return 0;
    }
    jmethodID load_agent = env->GetStaticMethodID(loader, "loadAgent", "(Ljava/lang/String;)V");
    // The path as java.class.path holds it, decoded as main's arguments are.
    jstring jar = load_agent != nullptr ? new_java_string(env, path) : nullptr;
    if (jar != nullptr)
        env->CallStaticVoidMethod(loader, load_agent, jar);
    // What is left pending after a failure is the JDK's own InternalError,
    // its cause already printed: java prints nothing more either.
    const bool started = jar != nullptr && !env->ExceptionCheck();
    env->ExceptionClear();
    if (jar != nullptr)
        env->DeleteLocalRef(jar);
    env->DeleteLocalRef(loader);
    return started ? 0 : -1;
}

// Calls the static void method `name` with `signature` of `owner`, with the
// UTF-8 `value` as a String and `flag`, or with no arguments when `value`
// is null. Returns 0, or -1 with nothing pending when the method is missing
// or failed.
int call_static(JNIEnv* env, jclass owner, const char* name, const char* signature, const char* value, bool flag)
{
    jmethodID method = env->GetStaticMethodID(owner, name, signature);
    jstring text = method != nullptr && value != nullptr ? new_utf8_java_string(env, value) : nullptr;
    if (text != nullptr) {
        env->CallStaticVoidMethod(owner, method, text, flag ? JNI_TRUE : JNI_FALSE);
        env->DeleteLocalRef(text);
    } else if (method != nullptr && value == nullptr) {
        env->CallStaticVoidMethod(owner, method);
    }
    const bool called = method != nullptr && (value == nullptr || text != nullptr) && !env->ExceptionCheck();
    env->ExceptionClear();
    return called ? 0 : -1;
}

// Whether this JDK's java acts on Enable-Native-Access: its LauncherHelper
// names the attribute from JDK 22 on; an earlier java ignores it, whatever
// its value. Leaves nothing pending.
bool java_reads_native_access(JNIEnv* env, jclass launcher_helper)
{
    const bool named = env->GetStaticFieldID(launcher_helper, "ENABLE_NATIVE_ACCESS", "Ljava/lang/String;") != nullptr;
    env->ExceptionClear();
    return named;
}

// Allows the class path's code native access, as --enable-native-access=
// ALL-UNNAMED does. Returns 0, or -1 with nothing pending.
int enable_native_access(JNIEnv* env)
{
    jclass modules = env->FindClass("jdk/internal/module/Modules");
    if (modules == nullptr) {
        env->ExceptionClear();
        return -1;
    }
    const int result = call_static(env, modules, "addEnableNativeAccessToAllUnnamed", "()V", nullptr, false);
    env->DeleteLocalRef(modules);
    return result;
}

} // namespace

int apply_jar_manifest(JNIEnv* env, const main_jar* jar)
{
    const jar_manifest* manifest = jar->manifest;
    if (manifest == nullptr)
        return 0;
    if (manifest->launcher_agent_class != nullptr && start_launcher_agent(env, jar->path) != 0) {
        log_error("Error loading Java agent %s from JAR %s", manifest->launcher_agent_class, jar->path);
        return -1;
    }
    if (manifest->add_exports == nullptr && manifest->add_opens == nullptr && manifest->enable_native_access == nullptr)
        return 0;
    // The method java -jar applies Add-Exports and Add-Opens with, which
    // leaves out each pair the boot layer does not have, without a word.
    static const char add_exports_or_opens[] = "(Ljava/lang/String;Z)V";
    jclass helper = env->FindClass("sun/launcher/LauncherHelper");
    bool applied = helper != nullptr
        && (manifest->add_exports == nullptr
            || call_static(env, helper, "addExportsOrOpens", add_exports_or_opens, manifest->add_exports, false) == 0)
        && (manifest->add_opens == nullptr
            || call_static(env, helper, "addExportsOrOpens", add_exports_or_opens, manifest->add_opens, true) == 0);
    const char* native_access = applied && manifest->enable_native_access != nullptr
            && java_reads_native_access(env, helper)
        ? manifest->enable_native_access
        : nullptr;
    env->ExceptionClear();
    if (helper != nullptr)
        env->DeleteLocalRef(helper);
    if (native_access != nullptr) {
        if (std::strcmp(native_access, "ALL-UNNAMED") != 0) {
            log_error("Invalid value %s for Enable-Native-Access in JAR %s", native_access, jar->path);
            return -1;
        }
        applied = enable_native_access(env) == 0;
    }
    if (!applied)
        log_error("Unable to apply the manifest of JAR %s", jar->path);
    return applied ? 0 : -1;
}
