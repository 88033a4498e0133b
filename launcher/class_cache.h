// SPDX-License-Identifier: Apache-2.0
// The class cache: one class-data archive per launch configuration, kept in a
// folder the configuration names, from which the VM maps the program's
// classes instead of loading and verifying them at every start.
//
// An archive is valid only for the VM library, options and class path it was
// made with; its name is a digest of them, so a changed configuration, JDK or
// jar gets an archive of its own. When the archive is missing, the VM writes
// it at exit (-XX:ArchiveClassesAtExit) under a name of this process's own,
// and finish_class_cache then gives it the archive's name. This holds for
// every JDK, although 19 and later could make the archive themselves
// (-XX:+AutoCreateSharedArchive): the VM writes an archive in place, header
// last, so a launch that starts meanwhile finds a file without a header (JDK
// 25 then reports it on standard output and starts without any archive), and
// a writer killed half-way leaves such a file for good (JDK 25 never renews
// it, nor an archive made for another class path). An archive truncated
// after its header was written kills JDK 17 with SIGBUS.
//
// Whoever can write an archive decides what code runs: the folder is used
// only when it and the folder that holds it belong to the running user or
// root and no one else can write to them (the holding folder may be
// writable by all when it is sticky, as /tmp is, since no one can then
// rename what another user made in it).
//
// A launch decides in two steps: plan_class_cache only looks, so that a
// tool can show what a launch would do without changing anything;
// ready_class_cache then makes the folder and the options. Nothing here
// logs; a refusal's cause is left in the plan for the caller to report.
#pragma once

#include <jni.h>

#include <climits>
#include <cstdint>

inline constexpr int class_cache_refusal_size = PATH_MAX + 128;

// What the cache adds to one launch. The strings are owned by the plan
// (free_class_cache_plan).
struct class_cache_plan {
    char* archive;      // FOLDER/DIGEST.jsa
    char* temp_archive; // FOLDER/DIGEST.PID.tmp when this launch is to write the archive (no whole
                        // archive exists), else null
    char* option;       // to go after the configured options: -XX:SharedArchiveFile=ARCHIVE, or
                        // -XX:ArchiveClassesAtExit=TEMP-ARCHIVE
    char refusal[class_cache_refusal_size]; // why the launch goes without the cache, "" when it
                                            // does not; may be cut short
};

// Goes before the configured options whenever the cache is used. The VM
// reports on standard output each class it leaves out of an archive and each
// archive it cannot use; with this option the program's output stays what it
// is without the cache, while an -Xlog option of the configuration still
// takes effect after it.
inline constexpr char class_cache_quiet_option[] = "-Xlog:cds=off,cds+dynamic=off";

// Decides, looking only, whether a launch uses the class cache in `folder`
// for the VM library file `vm_library` (see find_library_file; null when it
// could not be found), the configured `main_class` and the configured
// `options`. Returns 0 after filling the plan's archive, temp_archive and
// option. Returns -1 with only the plan's refusal set when the launch is to
// go without the cache: the library file is unknown; an option sets
// class-data sharing itself (-Xshare other than auto, -XX:SharedArchiveFile
// and the like); the class path (the last -Djava.class.path= option) holds a
// folder that is not empty, which the VM refuses to archive (it then exits
// with status 1 whatever the program did); the library's JDK is older than
// 17 or names no version; the folder breaks the rule above (see
// check_class_cache_folder); a file cannot be examined; memory ran out.
//
// A file at the archive's name that is no whole archive (no header, or, for
// JDK 17, shorter than its header says) counts as missing: this launch
// writes the archive anew and the rename replaces that file.
int plan_class_cache(const char* folder, const char* vm_library, const char* main_class,
                     const JavaVMOption* options, int32_t option_count, class_cache_plan* plan);

// Makes ready what plan_class_cache planned: creates `folder` (mode 0700)
// when it is missing and checks it again; for a launch that writes the
// archive, creates and removes the temp archive's name, proof that the VM
// will be able to (a VM that cannot create it ends the process with status
// 1) that leaves nothing behind for a VM that ends before it writes. Then
// puts class_cache_quiet_option first and the plan's option last in *args,
// as new strings that free_vm_options frees as it frees the others. Returns
// 0, or -1 with *args unchanged and only the plan's refusal set when one of
// these failed.
int ready_class_cache(const char* folder, class_cache_plan* plan, JavaVMInitArgs* args);

// To be called once the VM can no longer write plan->temp_archive: after
// DestroyJavaVM, and from an atexit handler, since System.exit ends the
// process in exit() once the VM has written the archive. When `keep` is
// true, gives the file the archive's name if the VM finished writing it:
// the VM writes the header last, so a file that begins with an archive's
// header is complete (for JDK 17, its length is checked against the header
// too). The file reaches the disk before the rename, so that a crash cannot
// leave a truncated archive. Otherwise the file is removed: `keep` false is
// for a run whose program never ran, whose archive would hold none of its
// classes and would be mapped as it is from then on. Sets
// plan->temp_archive to null, so that a second call does nothing. Returns 1
// when the archive took its name, 0 when there was nothing to rename, -1
// when the rename failed.
int finish_class_cache(class_cache_plan* plan, bool keep);

// Frees what *plan holds and empties it, refusal included; leaves a temp
// archive where it is.
void free_class_cache_plan(class_cache_plan* plan);

// The parts of plan_class_cache.

// Writes to `path`, which has room for PATH_MAX bytes, the real path of the
// file that the library `handle` (from dlopen) was loaded from. Returns
// `path`, or null when it cannot be told.
char* find_library_file(void* handle, char* path);

// Returns null when `folder` may hold archives or, being missing, may be
// made: the folder that holds it exists, belongs to this user or root and
// is writable by no one else unless sticky; the folder itself, when it
// exists, belongs to this user or root and is writable by no one else.
// Otherwise returns the cause, a text that lives as long as the process.
// Makes nothing.
const char* check_class_cache_folder(const char* folder);

// Returns the value of the last option that sets the class path
// ("-Djava.class.path=VALUE"), pointing into that option; null when none
// does.
const char* find_class_path(const JavaVMOption* options, int32_t option_count);

// Sets *digest to the digest of what makes an archive valid: the VM
// library's path, size and modification time, and the modification time of
// its folder, which holds the base archives an archive is made on top of;
// the main class, as another program loads other classes; the options, in
// order; the VM's option variables in the environment
// (JAVA_TOOL_OPTIONS, _JAVA_OPTIONS); and the size and modification time of
// each class-path entry, which the VM compares before it maps an archive.
// Returns 0, or -1 when the library or its folder cannot be examined.
int make_class_cache_digest(const char* vm_library, const char* main_class, const JavaVMOption* options,
                            int32_t option_count, uint64_t* digest);
