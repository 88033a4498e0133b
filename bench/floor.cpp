// SPDX-License-Identifier: Apache-2.0
// The least any launcher must do, as the floor that velta-java is measured
// against: load the VM library, create the VM with the options given, call
// main(String[]) of the class given with no arguments, destroy the VM.
// Nothing is read, parsed or copied on the way.
//
//   velta-bench-floor LIBJVM SLASHED/CLASS/NAME [VM-OPTION...]
//
// Exit status: 0 when main returned without an exception, 1 otherwise, 2 on
// a wrong command line.
#include <dlfcn.h>
#include <jni.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Runs main of `class_name` in the VM `env` belongs to; true when it returned
// without an exception pending.
bool call_main(JNIEnv* env, const char* class_name)
{
    jclass main_class = env->FindClass(class_name);
    jmethodID main_method = main_class != nullptr
        ? env->GetStaticMethodID(main_class, "main", "([Ljava/lang/String;)V") : nullptr;
    jclass string_class = main_method != nullptr ? env->FindClass("java/lang/String") : nullptr;
    jobjectArray arguments = string_class != nullptr ? env->NewObjectArray(0, string_class, nullptr) : nullptr;
    if (arguments != nullptr)
        env->CallStaticVoidMethod(main_class, main_method, arguments);
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        return false;
    }
    return arguments != nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LIBJVM SLASHED/CLASS/NAME [VM-OPTION...]\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
    const auto create_java_vm = library != nullptr
        ? reinterpret_cast<decltype(&JNI_CreateJavaVM)>(dlsym(library, "JNI_CreateJavaVM")) : nullptr;
    if (create_java_vm == nullptr) {
        std::fprintf(stderr, "%s: no JNI_CreateJavaVM in %s\n", argv[0], argv[1]);
        return 1;
    }

    // The options point into argv: nothing is copied.
    const int option_count = argc - 3;
    auto* options = static_cast<JavaVMOption*>(std::calloc(static_cast<size_t>(option_count) + 1, sizeof(JavaVMOption)));
    if (options == nullptr)
        return 1;
    for (int i = 0; i < option_count; ++i)
        options[i].optionString = argv[3 + i];
    JavaVMInitArgs init_args{};
    init_args.version = JNI_VERSION_1_2;
    init_args.nOptions = option_count;
    init_args.options = options;
    init_args.ignoreUnrecognized = JNI_FALSE;

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    const jint created = create_java_vm(&vm, reinterpret_cast<void**>(&env), &init_args);
    bool returned = false;
    if (created == JNI_OK) {
        returned = call_main(env, argv[2]);
        vm->DestroyJavaVM();
    } else {
        std::fprintf(stderr, "%s: JNI_CreateJavaVM returned %d\n", argv[0], static_cast<int>(created));
    }
    std::free(options);
    return returned ? 0 : 1;
}
