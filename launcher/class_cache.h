// SPDX-License-Identifier: Apache-2.0
// The class cache: one cache of the program's classes per launch
// configuration, kept in a folder the configuration names, from which the VM
// maps them instead of loading and verifying them at every start. On JDK 17
// to 24 it is a dynamic class-data archive (DIGEST.jsa), which the VM writes
// at its end; on JDK 25 and later an ahead-of-time cache (DIGEST.aot), which
// also holds the classes linked and the methods' profiles: the VM records
// what the program loads into a configuration at its end, and once the
// launch has ended the JDK's own java makes the cache from that record.
//
// A cache is valid only for the VM library, options and class path it was
// made with; its name is a digest of them, so a changed configuration, JDK or
// jar gets a cache of its own. An AOT cache is used under that digest only:
// the VM checks neither the class path's jars nor those their manifests name
// against it.
//
// Whoever can write a cache decides what code runs. So the folder is
// reached from "/" one folder at a time through descriptors (O_PATH,
// O_NOFOLLOW), each checked with fstat: every folder on the way belongs to
// this user or root and no one else may write to it, unless it is sticky
// (in a sticky folder no one can rename what another user made); the cache
// folder itself may never be written by others. A symbolic link on the way is
// followed only from a folder that passed, and its target is walked the same
// way. The VM is then given the cache through a descriptor opened here: it
// maps the very file that was checked, whatever happens to the folder
// meanwhile, and no ":" of a folder's name reaches its options.
//
// The program sees the VM's options (RuntimeMXBean.getInputArguments()), and
// a program that starts java with them hands them to another process. So a
// path of a descriptor never names that process's own descriptors: the VM
// reads the cache, and records, through /proc/self/task/PID/fd/N, PID this
// process's first thread, which names nothing in another process, as none
// has a thread of that number while this one lives (its VM then goes
// without, quietly); it writes a dynamic archive into /proc/PID/fd/M, which
// in another process names this launch's memory file while the launch
// lives, so that a VM there, which ends the process with status 1 when it
// cannot write its archive, ends as it would have.
//
// The cache never changes how a program ends or what it prints. A missing
// dynamic archive is written by the VM at exit into a file in memory (a
// memfd): a VM that cannot write its archive prints on standard output and
// ends the process with _exit(1), whatever the program's status, and a
// memory file cannot be full, removed or named by too long a path. The
// launcher copies it into the folder under a temporary name of its own,
// locked while written, and renames it in one step; what fails there is
// logged and changes nothing else. A missing AOT cache is recorded into a
// memory file too; the line the VM prints on standard output once it has
// recorded, whatever its logging options say, is kept out by velta-java's
// write(2) (see drop_vm_output_line). The cache is then made by
// a process of its own, in a session of its own, with its output discarded,
// which the launch does not wait for, into a locked temporary file that
// takes the cache's name once whole; a launch that starts meanwhile goes
// without the cache.
//
// A launch that maps a cache holds a locked mark file (DIGEST.RANDOM.map)
// for its whole run. A later launch that finds a mark no one holds knows that
// a launch died while using the cache, perhaps of the cache itself (the
// VM crashes on one with changed bytes), and writes it anew; likewise when
// the VM left a cache unmapped (rejected: a jar changed in a way the
// digest does not see, or a cache cut short). So a bad cache costs one launch
// at most. A temporary file no one holds is left by a launch, or a making of
// an AOT cache, that was killed, and is removed.
//
// A launch calls, in order: plan_class_cache once the VM options are built
// and the VM library is loaded; ready_class_cache just before
// JNI_CreateJavaVM; check_class_cache_mapped once that succeeded;
// finish_class_cache after DestroyJavaVM and from an atexit handler (for
// System.exit and SIGTERM). Nothing is needed in _exit: a VM that ends the
// process itself leaves its mark behind, and the next launch renews a
// cache that may have been the cause. plan_class_cache only looks, so that
// a tool shows what a launch would do, with the same rules, without changing
// anything.
#pragma once

#include <jni.h>

#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstdint>

inline constexpr int class_cache_refusal_size = PATH_MAX + 256;

// What the cache keeps for a configuration, by the JDK's version.
enum class_cache_kind : int32_t {
    class_cache_dynamic_archive, // JDK 17 to 24: DIGEST.jsa, written by the VM at its end
    class_cache_aot_cache,       // JDK 25 and later: DIGEST.aot, made from a record of a launch
};

// What the cache adds to one launch, made by plan_class_cache and the steps
// after it. The descriptors are owned by the plan (free_class_cache_plan).
// A zero-filled plan (launcher_state's) holds nothing and is not used.
struct class_cache_plan {
    bool used;                // planned, and not refused since: the launch uses the cache
    bool set;                 // each descriptor below is open or -1 (see empty_class_cache_plan)
    const char* folder_path;  // the folder as configured, for messages; not owned
    class_cache_kind kind;
    int holder;               // O_PATH descriptor of the folder that holds the cache folder
    int folder;               // O_PATH descriptor of the cache folder; -1 while it is missing
    char folder_name[PATH_MAX]; // the cache folder's name in `holder`; while it is missing,
                                // the names of the missing folders down to it, "a/b/c"
    uint64_t digest;          // names the cache: DIGEST.jsa or DIGEST.aot, 16 hexadecimal digits
    int archive;              // read-only descriptor of the whole cache to map; -1 when this
                              // launch writes or records one
    bool renew;               // a launch died while using the cache: it is written anew
    bool making;              // AOT cache: another launch holds a temporary file of this
                              // digest (it records, or its maker makes the cache): this one
                              // goes without it, and `used` is false
    int32_t leftovers;        // files left in the folder by launches that died (see
                              // next_class_cache_leftover)
    char java[PATH_MAX];      // AOT cache: the JDK's bin/java, which makes it
    int memory_file;          // ready_class_cache: the memfd the VM writes the archive, or
                              // records the AOT cache's configuration, into
    int maker;                // ready_class_cache, recording: this launch's end of the
                              // connection to the process that makes the AOT cache
    int mark;                 // ready_class_cache: the locked mark of a launch that maps
    char mark_name[NAME_MAX + 1];
    int finished;             // set atomically by the first finish_class_cache
    char refusal[class_cache_refusal_size]; // why the launch goes without the cache, "" when it
                                            // does not; may be cut short
};

// Goes before the configured options whenever the cache is used, by kind.
// The VM reports on standard output each class it leaves out of a cache and
// each cache it cannot use; with this option the program's output stays what
// it is without the cache, while an -Xlog option of the configuration still
// takes effect after it.
inline constexpr const char* class_cache_quiet_options[] = {"-Xlog:cds=off,cds+dynamic=off",
                                                            "-Xlog:aot*=off,cds*=off"};

// The suffix of a cache's name, by kind.
inline constexpr const char* class_cache_suffixes[] = {"jsa", "aot"};

// How long the making of an AOT cache may take before it is stopped.
inline constexpr int class_cache_making_seconds = 60;

// Decides, looking only, whether a launch uses the class cache in `folder`
// for the VM library file `vm_library` (see find_library_file; null when it
// could not be found), the configured `main_class` and the configured
// `options`. Returns 0 after filling the plan: the kind, the folders, the
// digest, the cache to map or -1, `renew`, `making` and `leftovers`, and for
// an AOT cache the java that makes it; `used` is false when `making` is
// true, and nothing is to be logged. Returns -1 with only the plan's refusal
// set when the launch is to go without the cache:
// - the library file is unknown, or its JDK is older than 17 or names no
//   version; for JDK 25 and later, the JDK has no bin/java that this user
//   may run;
// - an option sets class-data sharing itself (-Xshare other than auto,
//   -XX:SharedArchiveFile, -XX:AOT... and the like) or names an options file
//   the VM reads (-XX:Flags=, -XX:VMOptionsFile=), or is one with which a VM
//   that makes a cache does not start (--patch-module, --limit-modules,
//   --upgrade-module-path), among the configured options or those the VM
//   takes from JAVA_TOOL_OPTIONS and _JAVA_OPTIONS;
// - the class path (the last -Djava.class.path= option) holds a folder that
//   is not empty, which the VM refuses to archive (it then ends the process
//   with status 1) and to record;
// - no cache exists and the class path has more entries than half the
//   descriptors the process may open: the VM that writes an archive opens
//   every entry at start and keeps it open;
// - the folder breaks the rule above, cannot be examined, or cannot be
//   written (a read-only mount, a mode without write permission); a file at
//   the cache's name that is not a regular file (it is never opened), or
//   that belongs to another user or is writable by others;
// - /proc/self/task/PID/fd does not lead to the descriptors (no /proc);
// - memory ran out.
// A regular file at the cache's name that is no whole cache (no header, or,
// for JDK 17, shorter than its header says) or whose bytes do not sum to what
// DIGEST.sum says counts as missing.
int plan_class_cache(const char* folder, const char* vm_library, const char* main_class,
                     const JavaVMOption* options, int32_t option_count, class_cache_plan* plan);

// Makes ready what plan_class_cache planned: makes the cache folder (mode
// 0700) when it is missing and checks it as the plan did; removes the
// leftovers the plan found, and the cache when it is to be renewed; for a
// launch that maps the cache, creates and locks its mark; for one that
// writes or records, creates the memory file, and for one that records,
// starts the maker (see start_class_cache_maker). Then puts the kind's quiet
// option first and, last in *args:
// - a dynamic archive to map: -XX:SharedArchiveFile=/proc/self/task/PID/fd/N;
// - one to write: -XX:ArchiveClassesAtExit=/proc/PID/fd/M;
// - an AOT cache to map: -XX:AOTMode=auto (a cache the VM cannot use is no
//   failure) and -XX:AOTCache=/proc/self/task/PID/fd/N;
// - one to record: -XX:AOTMode=record and
//   -XX:AOTConfiguration=/proc/self/task/PID/fd/M; the line the VM prints on
//   standard output once it has recorded is dropped (drop_vm_output_line).
// Each is a new string that free_vm_options frees as it frees the others.
// Returns 0, or -1 with *args unchanged, nothing left behind and only the
// plan's refusal set.
int ready_class_cache(class_cache_plan* plan, JavaVMInitArgs* args);

// To be called once JNI_CreateJavaVM has succeeded. When the plan gave an
// archive to map and the VM did not map it (it rejected it), removes the
// archive from the folder, unless it has been replaced meanwhile, so that the
// next launch writes it anew. Returns 1 when it removed it, 0 otherwise.
int check_class_cache_mapped(class_cache_plan* plan);

// To be called once the VM can no longer write its archive or record: after
// DestroyJavaVM, and from an atexit handler, since System.exit (and a
// SIGTERM) ends the process in exit() once the VM has written it. The first
// call, from whichever thread, does the work; any later one returns 0 at
// once. Removes the launch's mark. `keep` false is for a run whose program
// never ran, whose cache would hold none of its classes: nothing is kept.
// When `keep` is true:
// - a dynamic archive the VM wrote whole (HotSpot writes its header last;
//   for JDK 17 the length is checked against the header too) is copied into
//   the folder under a temporary name, which reaches the disk before it
//   takes the archive's name;
// - with a whole record, the maker is asked to make the AOT cache (see
//   start_class_cache_maker), and this returns without waiting for it.
// Returns 1 when an archive took its name or the maker was asked, 0 when
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

// Whether the file or folder that `info` describes belongs to this user or
// root, and whether group or others may write to it: what the cache maps,
// and every folder on the way to it, must belong to one of the first two and
// be writable by no one else (a folder on the way may be, if sticky).
bool is_owned_by_this_user_or_root(const struct stat& info);
bool is_writable_by_others(const struct stat& info);

// Writes to `path` the path through which the VM is given this process's
// `descriptor`, /proc/self/task/PID/fd/N, PID this process's first thread
// (see above).
void write_descriptor_path(int descriptor, char (&path)[64]);

// Opens the cache folder `folder` as the plan does (see above), setting the
// plan's holder, folder (-1 when the folder is missing, its holder then
// checked for it) and folder_name. Makes nothing. Returns 0, or -1 with the
// cause in the plan's refusal and no descriptor open.
int open_class_cache_folder(const char* folder, class_cache_plan* plan);

// Returns the value of the last option that sets the class path
// ("-Djava.class.path=VALUE"), pointing into that option; null when none
// does.
const char* find_class_path(const JavaVMOption* options, int32_t option_count);

// Sets *digest to the digest of what makes a cache valid: the VM
// library's path, size, modification time and inode, and the modification
// time of its folder, which holds the base archives a cache is made on top
// of; the main class, as another program loads other classes; the options,
// in order; the VM's option variables in the environment
// (JAVA_TOOL_OPTIONS, _JAVA_OPTIONS); and for each class-path entry whether
// it exists, its size, modification and change times, device and inode, so
// that a jar replaced by one of the same size and time (cp -p, rsync -a)
// changes it; each class-path jar is followed by the jars its manifest
// names in Class-Path, each with its path and the same state, and those they
// name in turn, each jar read once. Returns 0, or -1 with
// errno set when the library or its folder cannot be examined or memory ran
// out.
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

// Writes to `name` the cache's name DIGEST.SUFFIX when `middle` is 0,
// otherwise DIGEST.MIDDLE.SUFFIX, each number as 16 hexadecimal digits.
void write_class_cache_name(uint64_t digest, uint64_t middle, const char* suffix, char (&name)[NAME_MAX + 1]);

// Creates in the plan's folder a new file DIGEST.RANDOM.SUFFIX (mode 0600,
// O_EXCL, a name of 64 random bits, unique across PID namespaces), writes its
// name to `name` and returns its descriptor, open for reading and writing
// and locked (flock LOCK_EX) for as long as it stays open. Returns -1 with
// errno set, leaving nothing behind.
int create_class_cache_file(const class_cache_plan* plan, const char* suffix, char (&name)[NAME_MAX + 1]);

// True when `file` begins with the header of a cache of `kind` (HotSpot
// writes it last) and, for a JDK 17 archive, holds every region its header
// lists.
bool is_whole_class_cache_archive(int file, class_cache_kind kind);

// True when `file` begins with the header of an AOT configuration, the
// record a VM writes last.
bool is_whole_class_cache_record(int file);

// Whether a process holds locked a temporary file of the plan's digest in
// its folder: a launch that records into it, copies an archive or its sum,
// or a making of the AOT cache.
bool is_class_cache_being_made(const class_cache_plan* plan);

// Sets the plan's archive to a read-only descriptor of DIGEST.jsa or
// DIGEST.aot, by the plan's kind, in its folder when that is a whole cache
// whose bytes sum to what DIGEST.sum says; leaves it -1 when there is none,
// it is not whole, or its bytes changed since it was kept (it is then
// written anew). Returns 0, or -1 after refusing: the name holds anything
// but a regular file (which is not opened), a file of another user or
// writable by others, or cannot be examined.
int open_class_cache_archive(class_cache_plan* plan);

// Copies the whole archive that the VM wrote into the plan's memory file to
// the folder, under a locked temporary name that reaches the disk and then
// takes the archive's name, after DIGEST.sum, the sum of its bytes. Returns 1 when it took it, 0 when the VM wrote no
// whole archive, -1 after refusing with the cause (the temporary file
// removed).
int keep_class_cache_archive(class_cache_plan* plan);

// Sums the bytes of `file` from its start to its end, read through the
// descriptor, into *sum, which DIGEST.sum holds as 16 hexadecimal digits and
// a newline (see write_class_cache_sum). Async-signal-safe. Returns 0, or
// -1 with errno set.
int sum_class_cache_file(int file, uint64_t* sum);

// Writes `sum` as DIGEST.sum holds it: 16 hexadecimal digits and a newline.
// Async-signal-safe.
void write_class_cache_sum(uint64_t sum, char (&text)[17]);

// Starts the process that makes the AOT cache of a launch that records, the
// maker, and sets the plan's maker to this launch's end of the connection to
// it. To be called before the VM starts, while this process is small and has
// no other thread. The maker is forked twice, so that no process of this
// launch's waits for it, runs in a session of its own with SIGTERM, SIGINT
// and SIGHUP ignored (a service manager that stops what remains of a service
// once its main process has ended then waits for it rather than end it),
// its standard descriptors on /dev/null and every other descriptor closed
// but the plan's folder and memory file and two temporary files it holds
// locked, DIGEST.RANDOM.tmp, for the cache and its sum. It waits until the
// launch asks it to make the cache (ask_class_cache_maker) or ends, and then:
// - asked, with a whole record in the memory file, runs the plan's java with
//   -XX:AOTMode=create, the record and the cache as /proc/self/fd/N of the
//   descriptors it inherits, and the `option_count` `options` configured,
//   in the environment of this process less JDK_JAVA_OPTIONS and CLASSPATH,
//   which the java command reads and the VM does not; it stops java after
//   class_cache_making_seconds. When java ends with status 0 and made a whole
//   cache, the sum takes the name DIGEST.sum and the cache DIGEST.aot, each
//   after it reached the disk; otherwise it logs "Not keeping class cache
//   archive in FOLDER: CAUSE" (java's status, or what failed), and the next
//   launch records again;
// - otherwise, or when what it made could not be kept, it removes its
//   temporary files.
// Returns 0, or -1 with errno set when no temporary file or process could be
// made or memory ran out, leaving nothing behind.
int start_class_cache_maker(class_cache_plan* plan, const JavaVMOption* options, int32_t option_count);

// Asks the plan's maker to make the cache when `make` is true, and closes the
// plan's end of the connection to it, after which the maker goes on alone.
// Returns 1 when it was asked, 0 otherwise. Async-signal-safe.
int ask_class_cache_maker(class_cache_plan* plan, bool make);
