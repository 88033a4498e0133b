// SPDX-License-Identifier: Apache-2.0
// A library that loads but is no VM: it lacks JNI_CreateJavaVM.
extern "C" int velta_not_a_vm();

extern "C" __attribute__((visibility("default"))) int velta_not_a_vm()
{
    return 0;
}
