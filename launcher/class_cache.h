// SPDX-License-Identifier: Apache-2.0
// The class cache: one class-data archive per launch configuration, kept in a
// folder the configuration names, from which the VM maps the program's
// classes instead of loading and verifying them at every start.
//
// An archive is valid only for the VM library, options and class path it was
// made with; its name is a digest of them, so a changed configuration, JDK or
// jar gets an archive of its own.
//
// Whoever can write an archive decides what code runs. So the folder is
// reached from "/" one folder at a time through descriptors (O_PATH,
// O_NOFOLLOW), each checked with fstat: every folder on the way belongs to
// this user or root and no one else may write to it, unless it is sticky
// (in a sticky folder no one can rename what another user made); the cache
// folder itself may never be written by others. A symbolic link on the way is
// followed only from a folder that passed, and its target is walked the same
// way. The VM is then given the archive as /proc/self/fd/N of a descriptor
// opened here: it maps the very file that was checked, whatever happens to
// the folder meanwhile, and no ":" of a folder's name reaches its options.
//
// The cache never changes how a program ends or what it prints. When the
// archive is missing the VM writes it at exit into a file in memory
// (-XX:ArchiveClassesAtExit=/proc/self/fd/M of a memfd): a VM that cannot
// write its archive prints on standard output and ends the process with
// _exit(1), whatever the program's status, and a memory file cannot be full,
// removed or named by too long a path. The launcher copies it into the folder
// under a temporary name of its own, locked while written, and renames it in
// one step; what fails there is logged and changes nothing else.
//
// A launch that maps an archive holds a locked mark file (DIGEST.RANDOM.map)
// for its whole run. A later launch that finds a mark no one holds knows that
// a launch died while using the archive, perhaps of the archive itself (the
// VM crashes on one with changed bytes), and writes it anew; likewise when
// the VM left an archive unmapped (rejected: a jar changed in a way the
// digest does not see). So a bad archive costs one launch at most. A
// temporary file no one holds is left by a launch that was killed while
// copying, and is removed.
//
// A launch calls, in order: plan_class_cache once the VM options are built
// and the VM library is loaded; ready_class_cache just before
// JNI_CreateJavaVM; check_class_cache_mapped once that succeeded;
// finish_class_cache after DestroyJavaVM and from an atexit handler (for
// System.exit and SIGTERM). Nothing is needed in _exit: a VM that ends the
// process itself leaves its mark behind, and the next launch renews an
// archive that may have been the cause. plan_class_cache only looks, so that
// a tool shows what a launch would do, with the same rules, without changing
// anything.
#pragma once

#include <jni.h>

#include <dirent.h>

#include <climits>
#include <cstdint>

inline constexpr int class_cache_refusal_size = PATH_MAX + 256;

// What the cache adds to one launch, made by plan_class_cache and the steps
// after it. The descriptors are owned by the plan (free_class_cache_plan).
// A zero-filled plan (launcher_state's) holds nothing and is not used.
struct class_cache_plan {
    bool used;                // planned, and not refused since: the launch uses the cache
    bool set;                 // each descriptor below is open or -1 (see empty_class_cache_plan)
    const char* folder_path;  // the folder as configured, for messages; not owned
    int holder;               // O_PATH descriptor of the folder that holds the cache folder
    int folder;               // O_PATH descriptor of the cache folder; -1 while it is missing
    char folder_name[PATH_MAX]; // the cache folder's name in `holder`; while it is missing,
                                // the names of the missing folders down to it, "a/b/c"
    uint64_t digest;          // names the archive: DIGEST.jsa, 16 hexadecimal digits
    int archive;              // read-only descriptor of the whole archive to map; -1 when this
                              // launch writes one
    bool renew;               // a launch died while using the archive: it is written anew
    int32_t leftovers;        // files left in the folder by launches that died (see
                              // next_class_cache_leftover)
    int memory_file;          // ready_class_cache: the memfd the VM writes the archive into
    int mark;                 // ready_class_cache: the locked mark of a launch that maps
    char mark_name[NAME_MAX + 1];
    int finished;             // set atomically by the first finish_class_cache
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
// `options`. Returns 0 after filling the plan: the folders, the digest, the
// archive to map or -1, `renew` and `leftovers`. Returns -1 with only the
// plan's refusal set when the launch is to go without the cache:
// - the library file is unknown, or its JDK is older than 17 or names no
//   version;
// - an option sets class-data sharing itself (-Xshare other than auto,
//   -XX:SharedArchiveFile and the like) or names an options file the VM reads
//   (-XX:Flags=, -XX:VMOptionsFile=), among the configured options or those
//   the VM takes from JAVA_TOOL_OPTIONS and _JAVA_OPTIONS;
// - the class path (the last -Djava.class.path= option) holds a folder that
//   is not empty, which the VM refuses to archive (it then ends the process
//   with status 1);
// - no archive exists and the class path has more entries than half the
//   descriptors the process may open: the VM that writes an archive opens
//   every entry at start and keeps it open;
// - the folder breaks the rule above, cannot be examined, or cannot be
//   written (a read-only mount, a mode without write permission); a file at
//   the archive's name that is not a regular file (it is never opened), or
//   that belongs to another user or is writable by others;
// - /proc/self/fd does not lead to the descriptors (no /proc);
// - memory ran out.
// A regular file at the archive's name that is no whole archive (no header,
// or, for JDK 17, shorter than its header says) counts as missing.
int plan_class_cache(const char* folder, const char* vm_library, const char* main_class,
                     const JavaVMOption* options, int32_t option_count, class_cache_plan* plan);

// Makes ready what plan_class_cache planned: makes the cache folder (mode
// 0700) when it is missing and checks it as the plan did; removes the
// leftovers, and the archive when it is to be renewed; for a launch that maps
// the archive, creates and locks its mark; for one that writes, creates the
// memory file. Then puts class_cache_quiet_option first and
// -XX:SharedArchiveFile=/proc/self/fd/ARCHIVE or
// -XX:ArchiveClassesAtExit=/proc/self/fd/MEMORY-FILE last in *args, as new
// strings that free_vm_options frees as it frees the others. Returns 0, or -1
// with *args unchanged, nothing left behind and only the plan's refusal set.
int ready_class_cache(class_cache_plan* plan, JavaVMInitArgs* args);

// To be called once JNI_CreateJavaVM has succeeded. When the plan gave an
// archive to map and the VM did not map it (it rejected it), removes the
// archive from the folder, unless it has been replaced meanwhile, so that the
// next launch writes it anew. Returns 1 when it removed it, 0 otherwise.
int check_class_cache_mapped(class_cache_plan* plan);

// To be called once the VM can no longer write its archive: after
// DestroyJavaVM, and from an atexit handler, since System.exit (and a
// SIGTERM) ends the process in exit() once the VM has written it. The first
// call, from whichever thread, does the work; any later one returns 0 at
// once. Removes the launch's mark. When `keep` is true and the VM wrote a
// whole archive (HotSpot writes its header last; for JDK 17 the length is
// checked against the header too), copies it into the folder under a
// temporary name, which reaches the disk before it takes the archive's name.
// `keep` false is for a run whose program never ran, whose archive would
// hold none of its classes. Returns 1 when an archive took its name, 0 when
// there was nothing to keep, -1 with the cause in the plan's refusal when the
// copy failed (the temporary file is removed).
int finish_class_cache(class_cache_plan* plan, bool keep);

// Closes what *plan holds and empties it, refusal included; keeps
// folder_path. A mark or temporary file stays where it is.
void free_class_cache_plan(class_cache_plan* plan);

// Makes *plan empty: nothing planned, every descriptor -1.
void empty_class_cache_plan(class_cache_plan* plan);

// The parts of the plan, for the checker and the tests.

// Writes to `path`, which has room for PATH_MAX bytes, the real path of the
// file that the library `handle` (from dlopen) was loaded from. Returns
// `path`, or null when it cannot be told.
char* find_library_file(void* handle, char* path);

// Opens the cache folder `folder` as the plan does (see above), setting the
// plan's holder, folder (-1 when the folder is missing, its holder then
// checked for it) and folder_name. Makes nothing. Returns 0, or -1 with the
// cause in the plan's refusal and no descriptor open.
int open_class_cache_folder(const char* folder, class_cache_plan* plan);

// Returns the value of the last option that sets the class path
// ("-Djava.class.path=VALUE"), pointing into that option; null when none
// does.
const char* find_class_path(const JavaVMOption* options, int32_t option_count);

// Sets *digest to the digest of what makes an archive valid: the VM
// library's path, size, modification time and inode, and the modification
// time of its folder, which holds the base archives an archive is made on
// top of; the main class, as another program loads other classes; the
// options, in order; the VM's option variables in the environment
// (JAVA_TOOL_OPTIONS, _JAVA_OPTIONS); and for each class-path entry whether
// it exists, its size, modification and change times, device and inode, so
// that a jar replaced by one of the same size and time (cp -p, rsync -a)
// changes it. Returns 0, or -1 when the library or its folder cannot be
// examined.
int make_class_cache_digest(const char* vm_library, const char* main_class, const JavaVMOption* options,
                            int32_t option_count, uint64_t* digest);

// A file that a launch which died left in the cache folder: a temporary
// archive (DIGEST.RANDOM.tmp, or DIGEST.PID.tmp of earlier versions) or the
// mark of a launch that mapped DIGEST.jsa (DIGEST.RANDOM.map), which no
// process holds locked.
struct class_cache_leftover {
    char name[NAME_MAX + 1];
    uint64_t digest;
    bool mark;
};

// Finds the next leftover in the folder that `*scan` reads, opening the scan
// on the plan's folder when *scan is null. Returns 1 with *found set, or 0 at
// the end of the folder or when it cannot be read, with the scan closed and
// *scan null again. Opens each candidate without blocking and only when it is
// a regular file; changes nothing.
int next_class_cache_leftover(const class_cache_plan* plan, DIR** scan, class_cache_leftover* found);

// Empties *plan (free_class_cache_plan) and leaves in its refusal the cause,
// made from `format` as printf makes it. Returns -1.
__attribute__((format(printf, 2, 3))) int refuse_class_cache(class_cache_plan* plan, const char* format, ...);

// Writes to `name` the archive's name DIGEST.jsa when `suffix` is "jsa",
// otherwise DIGEST.MIDDLE.SUFFIX, each number as 16 hexadecimal digits.
void write_class_cache_name(uint64_t digest, uint64_t middle, const char* suffix, char (&name)[NAME_MAX + 1]);

// Creates in the plan's folder a new file DIGEST.RANDOM.SUFFIX (mode 0600,
// O_EXCL, a name of 64 random bits, unique across PID namespaces), writes its
// name to `name` and returns its descriptor, open for reading and writing
// and locked (flock LOCK_EX) for as long as it stays open. Returns -1 with
// errno set, leaving nothing behind.
int create_class_cache_file(const class_cache_plan* plan, const char* suffix, char (&name)[NAME_MAX + 1]);

// True when `file` begins with an archive's header and, for JDK 17, holds
// every region its header lists.
bool is_whole_class_cache_archive(int file);

// Sets the plan's archive to a read-only descriptor of DIGEST.jsa in its
// folder when that is a whole archive whose bytes sum to what DIGEST.sum
// says; leaves it -1 when there is none, it is not whole, or its bytes
// changed since it was kept (it is then written anew). Returns 0, or -1 after refusing: the name holds anything but
// a regular file (which is not opened), a file of another user or writable
// by others, or cannot be examined.
int open_class_cache_archive(class_cache_plan* plan);

// Copies the whole archive that the VM wrote into the plan's memory file to
// the folder, under a locked temporary name that reaches the disk and then
// takes the archive's name, after DIGEST.sum, the sum of its bytes. Returns 1 when it took it, 0 when the VM wrote no
// whole archive, -1 after refusing with the cause (the temporary file
// removed).
int keep_class_cache_archive(class_cache_plan* plan);
