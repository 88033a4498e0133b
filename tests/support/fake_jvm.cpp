// A stand-in VM library. Its JNI_CreateJavaVM appends what it was handed to
// the file VELTA_FAKE_JVM_RECORD names and returns VELTA_FAKE_JVM_RESULT
// (default -1, at once). With result 0 it hands out a VM and environment
// whose FindClass finds nothing and whose DetachCurrentThread returns
// VELTA_FAKE_JVM_DETACH (default 0); every call it serves is recorded too.
#include <jni.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Appends "label" or "label text" as one line.
void record(const char* label, const char* text = nullptr)
{
    const char* path = std::getenv("VELTA_FAKE_JVM_RECORD");
    if (path == nullptr)
        return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fputs(label, file);
        if (text != nullptr) {
            std::fputc(' ', file);
            std::fputs(text, file);
        }
        std::fputc('\n', file);
        std::fclose(file);
    }
}

int variable_or(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : fallback;
}

jint JNICALL detach_current_thread(JavaVM*)
{
    record("DetachCurrentThread");
    return variable_or("VELTA_FAKE_JVM_DETACH", JNI_OK);
}

jint JNICALL destroy_java_vm(JavaVM*)
{
    record("DestroyJavaVM");
    return JNI_OK;
}

jclass JNICALL find_class(JNIEnv*, const char* name)
{
    record("FindClass", name);
    return nullptr;
}

JNIInvokeInterface_ make_invoke_interface()
{
    JNIInvokeInterface_ functions{};
    functions.DetachCurrentThread = detach_current_thread;
    functions.DestroyJavaVM = destroy_java_vm;
    return functions;
}

JNINativeInterface_ make_native_interface()
{
    JNINativeInterface_ functions{};
    functions.FindClass = find_class;
    return functions;
}

const JNIInvokeInterface_ invoke_interface = make_invoke_interface();
const JNINativeInterface_ native_interface = make_native_interface();
JavaVM fake_vm{&invoke_interface};
JNIEnv fake_env{&native_interface};

} // namespace

extern "C" __attribute__((visibility("default"))) jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* arguments)
{
    // Without a record file the options are not even walked: a benchmark
    // hands over hundreds of thousands of them and measures the launcher.
    if (std::getenv("VELTA_FAKE_JVM_RECORD") != nullptr) {
        const auto* init_args = static_cast<const JavaVMInitArgs*>(arguments);
        char number[32];
        std::snprintf(number, sizeof number, "0x%08x", static_cast<unsigned>(init_args->version));
        record("version", number);
        std::snprintf(number, sizeof number, "%d", init_args->ignoreUnrecognized);
        record("ignoreUnrecognized", number);
        std::snprintf(number, sizeof number, "%d", static_cast<int>(init_args->nOptions));
        record("nOptions", number);
        for (jint i = 0; i < init_args->nOptions; ++i) {
            record(init_args->options[i].extraInfo == nullptr ? "option" : "option-with-extraInfo",
                   init_args->options[i].optionString);
        }
    }
    const int result = variable_or("VELTA_FAKE_JVM_RESULT", JNI_ERR);
    if (result == JNI_OK) {
        *vm = &fake_vm;
        *env = &fake_env;
    }
    return result;
}
