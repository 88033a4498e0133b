// SPDX-License-Identifier: Apache-2.0
// A stand-in VM library. Its JNI_CreateJavaVM appends what it was handed to
// the file VELTA_FAKE_JVM_RECORD names and returns VELTA_FAKE_JVM_RESULT
// (default -1, at once). With result 0 it hands out a VM and environment
// whose DetachCurrentThread returns VELTA_FAKE_JVM_DETACH (default 0) and
// whose FindClass finds nothing but the class VELTA_FAKE_JVM_CLASS names (in
// the VM's form, "a/b/C") and java/lang/String. That class has a main method,
// and calling it records the String[] it is given; every call the stand-in
// serves is recorded too. With VELTA_FAKE_JVM_CHILD_EXIT set, it first forks a
// child that ends with _exit(that status), as one that fails to exec does.
#include <jni.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

// What a jobject of the stand-in points to: a byte array or a String holds
// bytes, an object array holds its elements' bytes. The two classes live as
// long as the library; every other object is a local reference, owned here
// until it is deleted or the thread detaches, as a VM frees the local
// references of a native thread that detaches.
struct fake_object {
    std::string bytes;
    std::vector<std::string> elements;
};

fake_object main_class;
fake_object string_class;
std::vector<std::unique_ptr<fake_object>> local_references;
// Only their addresses matter: they serve as the two method IDs.
char main_method;
char string_constructor;

fake_object* as_object(void* reference)
{
    return static_cast<fake_object*>(reference);
}

template <typename Reference>
Reference new_local_reference(fake_object made)
{
    local_references.push_back(std::make_unique<fake_object>(std::move(made)));
    return reinterpret_cast<Reference>(local_references.back().get());
}

jint JNICALL detach_current_thread(JavaVM*)
{
    record("DetachCurrentThread");
    local_references.clear();
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
    const char* found_name = std::getenv("VELTA_FAKE_JVM_CLASS");
    if (found_name != nullptr && std::strcmp(name, found_name) == 0)
        return reinterpret_cast<jclass>(&main_class);
    if (std::strcmp(name, "java/lang/String") == 0)
        return reinterpret_cast<jclass>(&string_class);
    return nullptr;
}

jmethodID JNICALL get_static_method_id(JNIEnv*, jclass owner, const char* name, const char* signature)
{
    record("GetStaticMethodID", name);
    const bool found = as_object(owner) == &main_class && std::strcmp(name, "main") == 0
        && std::strcmp(signature, "([Ljava/lang/String;)V") == 0;
    return found ? reinterpret_cast<jmethodID>(&main_method) : nullptr;
}

jmethodID JNICALL get_method_id(JNIEnv*, jclass owner, const char* name, const char* signature)
{
    const bool found = as_object(owner) == &string_class && std::strcmp(name, "<init>") == 0
        && std::strcmp(signature, "([B)V") == 0;
    return found ? reinterpret_cast<jmethodID>(&string_constructor) : nullptr;
}

jbyteArray JNICALL new_byte_array(JNIEnv*, jsize length)
{
    return new_local_reference<jbyteArray>({std::string(static_cast<size_t>(length), '\0'), {}});
}

void JNICALL set_byte_array_region(JNIEnv*, jbyteArray array, jsize start, jsize length, const jbyte* bytes)
{
    as_object(array)->bytes.replace(static_cast<size_t>(start), static_cast<size_t>(length),
                                    reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

// Only String(byte[]) is ever constructed: the new String holds the bytes.
// The C++ interface of jni.h reaches the va_list forms of NewObject and
// CallStaticVoidMethod.
jobject JNICALL new_object(JNIEnv*, jclass, jmethodID, va_list arguments)
{
    return new_local_reference<jobject>({as_object(va_arg(arguments, jobject))->bytes, {}});
}

jobjectArray JNICALL new_object_array(JNIEnv*, jsize length, jclass, jobject)
{
    return new_local_reference<jobjectArray>({"", std::vector<std::string>(static_cast<size_t>(length))});
}

void JNICALL set_object_array_element(JNIEnv*, jobjectArray array, jsize index, jobject value)
{
    as_object(array)->elements.at(static_cast<size_t>(index)) = as_object(value)->bytes;
}

void JNICALL delete_local_ref(JNIEnv*, jobject reference)
{
    std::erase_if(local_references, [reference](const std::unique_ptr<fake_object>& owned) {
        return owned.get() == as_object(reference);
    });
}

jboolean JNICALL exception_check(JNIEnv*)
{
    return JNI_FALSE;
}

void JNICALL exception_describe(JNIEnv*)
{
    record("ExceptionDescribe");
}

// Only main(String[]) is ever called: it records how many arguments it got
// and each of them.
void JNICALL call_static_void_method(JNIEnv*, jclass, jmethodID, va_list arguments)
{
    const std::vector<std::string>& elements = as_object(va_arg(arguments, jobject))->elements;
    record("CallStaticVoidMethod", std::to_string(elements.size()).c_str());
    for (const std::string& element : elements)
        record("argument", element.c_str());
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
    functions.GetStaticMethodID = get_static_method_id;
    functions.GetMethodID = get_method_id;
    functions.NewByteArray = new_byte_array;
    functions.SetByteArrayRegion = set_byte_array_region;
    functions.NewObjectV = new_object;
    functions.NewObjectArray = new_object_array;
    functions.SetObjectArrayElement = set_object_array_element;
    functions.DeleteLocalRef = delete_local_ref;
    functions.ExceptionCheck = exception_check;
    functions.ExceptionDescribe = exception_describe;
    functions.CallStaticVoidMethodV = call_static_void_method;
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
    if (const char* child_status = std::getenv("VELTA_FAKE_JVM_CHILD_EXIT"); child_status != nullptr && fork() == 0)
        _exit(std::atoi(child_status));
    wait(nullptr);
    const int result = variable_or("VELTA_FAKE_JVM_RESULT", JNI_ERR);
    if (result == JNI_OK) {
        *vm = &fake_vm;
        *env = &fake_env;
    }
    return result;
}
