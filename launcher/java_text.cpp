// SPDX-License-Identifier: Apache-2.0
#include "launcher/java_text.h"
#include "launcher/text.h"

#include <cstdlib>
#include <cstring>

namespace {

// A class file holds a name in at most 65535 bytes of modified UTF-8.
constexpr size_t longest_class_name = 65535;

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
    // descriptor "Lname;". No class has such a name, nor one longer than a
    // class file can hold, so the VM is not asked.
    const size_t length = std::strlen(class_name);
    if (length > longest_class_name || !is_modified_utf8(class_name, length)
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

namespace {

// Returns a String made from the bytes of `text` by String(byte[]), or, with
// a `charset` name, by String(byte[], charset); null as new_java_string says.
jstring make_java_string(JNIEnv* env, const char* text, const char* charset)
{
    const size_t length = std::strlen(text);
    if (length > INT32_MAX)
        return nullptr;
    jclass string_class = env->FindClass("java/lang/String");
    if (string_class == nullptr)
        return nullptr;
    jmethodID constructor = env->GetMethodID(string_class, "<init>", charset != nullptr ? "([BLjava/lang/String;)V" : "([B)V");
    jstring charset_name = constructor != nullptr && charset != nullptr ? env->NewStringUTF(charset) : nullptr;
    jbyteArray bytes = constructor != nullptr && (charset == nullptr || charset_name != nullptr)
        ? env->NewByteArray(static_cast<jsize>(length))
        : nullptr;
    jstring made = nullptr;
    if (bytes != nullptr) {
        env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(length), reinterpret_cast<const jbyte*>(text));
        if (!env->ExceptionCheck())
            made = static_cast<jstring>(charset_name != nullptr ? env->NewObject(string_class, constructor, bytes, charset_name)
                                                                : env->NewObject(string_class, constructor, bytes));
        env->DeleteLocalRef(bytes);
    }
    if (charset_name != nullptr)
        env->DeleteLocalRef(charset_name);
    env->DeleteLocalRef(string_class);
    return made;
}

} // namespace

jstring new_java_string(JNIEnv* env, const char* text)
{
    return make_java_string(env, text, nullptr);
}

jstring new_utf8_java_string(JNIEnv* env, const char* text)
{
    return make_java_string(env, text, "UTF-8");
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

