// SPDX-License-Identifier: Apache-2.0
// A library that exports JNI_CreateJavaVM at address 0: dlsym finds it and
// returns null, and dlerror has no error to tell.
asm(".globl JNI_CreateJavaVM\n.set JNI_CreateJavaVM, 0\n");
