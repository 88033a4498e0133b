// SPDX-License-Identifier: Apache-2.0
// Reading a jar as `java -jar` reads it: the zip archive's central directory,
// the manifest META-INF/MANIFEST.MF and the attributes of its main section,
// and the paths its Class-Path names.
//
// A jar is hostile input: every offset and length in it is checked against
// the file and against each other before it is used. Each function opens
// the jar once (without blocking, without becoming a terminal's controlling
// process), takes it only when fstat on that descriptor says it is a regular
// file, and reads it only through that descriptor. The central directory is
// read through a window of fixed size, so a jar's size or its number of
// entries never decides how much memory is used.
//
// The zip rules are the JDK's: the end record is the last one whose comment
// reaches the end of the file (at most 65535 bytes of comment); a zip64 end
// record is used where its locator, just before the end record, points at
// one that agrees with the end record; bytes in front of the archive (a
// script that runs the jar) shift every offset, the shift being where the
// central directory lies less where the end record says it lies; an archive
// with any entry that is encrypted, compressed by another method than stored
// or deflated, named or commented with bytes that are not UTF-8, or whose
// central directory does not end exactly where the end record says, is
// refused as a whole.
#pragma once

#include <cstdint>

// Results besides 0.
inline constexpr int jar_unreadable = -1;    // cannot be opened or read, is no regular file, no zip
                                             // archive, or damaged; or its manifest is one java
                                             // refuses ("Error: Invalid or corrupt jarfile" or "An
                                             // unexpected error occurred while trying to open file")
inline constexpr int jar_no_main_class = -2; // no manifest, or none with Main-Class in its main section
inline constexpr int jar_out_of_memory = -3; // memory ran out
inline constexpr int jar_left_out = -4;      // resolve_jar_class_path only: see there

// The largest manifest read, in bytes, as the central directory gives its
// size: the JDK's own limit (jdk.jar.maxSignatureFileSize, 16000000 in 17
// and 25), beyond which `java -jar` refuses the jar. A manifest is read in
// pieces and only the values below are kept, so this bounds the time spent
// inflating one; inflating more than the size given refuses the jar at once.
inline constexpr uint32_t jar_manifest_size_limit = 16000000;

// The attributes of the manifest's main section that `java -jar` acts on.
// Each is a NUL-terminated string owned by the record, null when the
// attribute is absent. A value is the manifest's bytes as written, its
// continuation lines joined, except that Main-Class has the bytes up to
// 0x20 (blanks and control characters) removed from both ends, as java
// does, and that a NUL byte in a value is written as C0 80, the form JNI
// strings give it, so that a value is one C string and a Main-Class holding
// a NUL names no class, as for java.
struct jar_manifest {
    char* main_class;           // Main-Class; never null in a record read_jar_manifest returns
    char* class_path;           // Class-Path (see resolve_jar_class_path)
    char* add_opens;            // Add-Opens
    char* add_exports;          // Add-Exports
    char* enable_native_access; // Enable-Native-Access
    char* launcher_agent_class; // Launcher-Agent-Class
};

// Reads the manifest of the jar at `path` as `java -jar` does, and on
// success stores a new record in *manifest, owned by the caller
// (free_jar_manifest); on any other result *manifest is null.
//
// The manifest is the last entry whose name is META-INF/MANIFEST.MF in any
// ASCII case, which is the one java's class library reads; java's own
// launcher first wants an entry of exactly that name, so without one the
// jar counts as having no manifest. A manifest whose central directory and
// local header disagree with the file, or that is larger than
// jar_manifest_size_limit, is refused. Attribute names compare without
// regard to ASCII case; a later attribute of the same name replaces an
// earlier one. The whole manifest is checked as java checks it, its named
// sections too: lines end in CR LF, LF or CR; a line, its end included, is
// at most 512 bytes; a line that starts with a space continues the one
// before; a line that is no continuation is "NAME: VALUE", NAME of 1 to 70
// of [0-9A-Za-z_-]; the main section ends at its first empty line, and each
// later section starts with "Name: "; a last line without its line end is
// left out.
//
// Returns 0; jar_unreadable; jar_no_main_class; jar_out_of_memory. Logs
// nothing.
int read_jar_manifest(const char* path, jar_manifest** manifest);

// Reads the Class-Path of the jar at `path` as the class loader reads it:
// from the manifest that read_jar_manifest reads, or from one named in
// another ASCII case, with or without Main-Class. On 0 stores in
// *class_path a new string (owned by the caller, freed with free), or null
// when the jar has no manifest or its manifest no Class-Path; on any other
// result *class_path is null. Returns 0, jar_unreadable or jar_out_of_memory.
// Logs nothing.
int read_jar_class_path(const char* path, char** class_path);

// Frees `manifest` and its strings (null is allowed).
void free_jar_manifest(jar_manifest* manifest);

// Returns 1 when the central directory of the jar at `path` lists an entry
// named exactly `name` (bytewise, as the VM looks up a class file), 0 when
// it does not, jar_unreadable when the jar cannot be read or is no zip
// archive by the rules above. Logs nothing.
int jar_lists_entry(const char* path, const char* name);

// Resolves `class_path`, the Class-Path value of the jar at `jar_path`, into
// the paths the VM's class loader takes from it, in order, as java.net.URL
// and the class loader of JDK 17 and 25 resolve it: the value splits at
// spaces, tabs and form feeds; each piece is a URL relative to the folder of
// the jar's real path (links resolved, as the VM resolves them), with ".",
// ".." and "%XX" escapes of UTF-8 bytes; "file:" URLs and absolute paths are
// taken as they are, "file://localhost/..." too; "#" starts a fragment,
// which is dropped. A piece that ends in "/" names a folder and keeps its
// "/"; any other names a jar. The VM ignores, and so this leaves out: URLs
// of another scheme it knows (http, https, ftp, jar, jrt, jmod, mailto), of
// another host, and pieces whose escapes are not "%" and two hex digits or
// do not make UTF-8 (JDK 17 fails to load classes after such a piece rather
// than ignoring it). A piece may name a path that does not exist, or a
// folder without its "/"; the VM skips it. Duplicates are kept; the VM
// opens each path once.
//
// On 0 stores the number of paths in *count and a new array of that many
// new strings in *paths (null when there are none), owned by the caller
// (free_jar_class_path). Returns jar_left_out when a piece names a scheme
// the VM has no handler for: the VM then leaves out the jar itself and its
// whole Class-Path. Returns jar_unreadable when the jar's real path cannot
// be found (the VM then leaves it out too), jar_out_of_memory when memory
// ran out; on each *count is 0, *paths null and nothing is allocated. Logs
// nothing.
int resolve_jar_class_path(const char* jar_path, const char* class_path, int32_t* count, char*** paths);

// Frees the `count` strings of `paths` and the array (null is allowed).
void free_jar_class_path(int32_t count, char** paths);
