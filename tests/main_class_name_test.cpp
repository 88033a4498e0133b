// SPDX-License-Identifier: Apache-2.0
// find_class_dotted against the stand-in VM: which names reach FindClass.
// FindClass takes modified UTF-8 only; a VM that checks its JNI use aborts
// the process on anything else (see hostile_input_e2e_test.cpp for the real
// VMs).
#include "launcher/java_text.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace {

class FindClassDotted : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("VELTA_FAKE_JVM_RECORD", record.c_str(), 1);
        setenv("VELTA_FAKE_JVM_RESULT", "0", 1);
        setenv("VELTA_FAKE_JVM_CLASS", "velta/test/\xc3\xbc", 1);
        void* library = dlopen(VELTA_FAKE_JVM, RTLD_NOW);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto create = reinterpret_cast<decltype(&JNI_CreateJavaVM)>(dlsym(library, "JNI_CreateJavaVM"));
        ASSERT_NE(create, nullptr);
        JavaVMInitArgs no_options{JNI_VERSION_1_2, 0, nullptr, JNI_FALSE};
        JavaVM* vm = nullptr;
        ASSERT_EQ(create(&vm, reinterpret_cast<void**>(&env), &no_options), JNI_OK);
    }

    void TearDown() override { unsetenv("VELTA_FAKE_JVM_CLASS"); }

    // What the stand-in VM was asked while finding `name`.
    std::string asked_for(const std::string& name)
    {
        write_file(record, "");
        found = find_class_dotted(env, name.c_str());
        return read_file(record);
    }

    scratch_folder scratch;
    const std::string record = scratch.file("vm");
    JNIEnv* env = nullptr;
    jclass found = nullptr;
};

TEST_F(FindClassDotted, HandsTheVmOnlyNamesInModifiedUtf8)
{
    const struct {
        const char* name;
        std::string dotted;
        bool asked;
    } cases[] = {
        {"ASCII with format sequences", "a.%s%n", true},
        {"2-byte sequence", "a.\xc3\xbc", true},
        {"shortest 2-byte sequence", "a.\xc2\x80", true},
        {"longest 2-byte sequence", "a.\xdf\xbf", true},
        {"shortest 3-byte sequence", "a.\xe0\xa0\x80", true},
        {"longest 3-byte sequence", "a.\xef\xbf\xbf", true},
        {"NUL as modified UTF-8 writes it", "a.\xc0\x80", true},
        {"a surrogate pair", "a.\xed\xa0\xbd\xed\xb8\x80", true},
        {"a name with a semicolon", "a;b", true},
        {"an array descriptor", "[La.B;", true},
        {"4-byte sequence", "a.\xf0\x9f\x98\x80", false},
        {"byte FF", "a.\xff", false},
        {"lone continuation byte", "a.\x80", false},
        {"2-byte sequence cut at the end", "a.\xc3", false},
        {"3-byte sequence cut at the end", "a.\xe2\x82", false},
        {"2-byte sequence with a bad continuation", "a.\xc3(", false},
        {"overlong 2-byte form", "a.\xc1\xbf", false},
        {"overlong 3-byte form", "a.\xe0\x9f\xbf", false},
        {"a descriptor", "La.B;", false},
        {"the shortest descriptor", "L;", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string slashed = c.dotted;
        for (char& byte : slashed)
            byte = byte == '.' ? '/' : byte;
        EXPECT_EQ(asked_for(c.dotted), c.asked ? "FindClass " + slashed + "\n" : "");
        EXPECT_EQ(found, nullptr);
    }
}

TEST_F(FindClassDotted, FindsAClassWhoseNameIsNotAscii)
{
    EXPECT_EQ(asked_for("velta.test.\xc3\xbc"), "FindClass velta/test/\xc3\xbc\n");
    EXPECT_NE(found, nullptr);
}

} // namespace
