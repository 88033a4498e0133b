# SPDX-License-Identifier: Apache-2.0
# cmake -DJAR_TOOL=jar -DJAR=file.jar -DDATE=2026-12-08T00:00:00Z -P date_jar_entries.cmake
# Makes JAR again with the same entries, each with the time DATE, in the
# bytewise order of their names: two builds of the same sources then make the
# same jar, wherever and whenever they run. JAR_TOOL is a JDK's jar command
# that knows --date.
set(entries_dir "${JAR}.entries")
file(REMOVE_RECURSE "${entries_dir}")
file(ARCHIVE_EXTRACT INPUT "${JAR}" DESTINATION "${entries_dir}")
file(GLOB_RECURSE entries RELATIVE "${entries_dir}" "${entries_dir}/*")
list(REMOVE_ITEM entries META-INF/MANIFEST.MF)
execute_process(COMMAND "${JAR_TOOL}" --create "--date=${DATE}" "--file=${JAR}"
                        --manifest=META-INF/MANIFEST.MF ${entries}
                WORKING_DIRECTORY "${entries_dir}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${entries_dir}")
