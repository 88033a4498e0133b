// SPDX-License-Identifier: Apache-2.0
// Names and strings handed to the VM through JNI. Nothing here logs.
#pragma once

#include <jni.h>

#include <cstdint>

// Returns FindClass of `class_name` with every "." turned into "/", which
// also initializes the class. Null when the class cannot be found, loaded,
// linked or initialized (with the VM's exception pending), when memory runs
// out, and, without asking the VM, when no class can have the name: it is
// not modified UTF-8 (4-byte UTF-8 included), it is a descriptor "Lname;",
// or it is longer than a class file holds (65535 bytes).
jclass find_class_dotted(JNIEnv* env, const char* class_name);

// Returns a new String[] of `count` elements made from `vector`, or null with
// nothing half-built left behind when the array or any element cannot be
// made. Holds at most a few local references at any time, whatever `count`.
jobjectArray new_string_array(JNIEnv* env, int32_t count, char** vector);

// Returns a java.lang.String decoded from the bytes of `text` by the VM's
// default character set, or null (usually with an exception pending). Leaves
// no local reference behind but the result.
jstring new_java_string(JNIEnv* env, const char* text);

// The same, the bytes decoded as UTF-8 (a byte that is not, as U+FFFD), as
// java decodes a manifest's values.
jstring new_utf8_java_string(JNIEnv* env, const char* text);
