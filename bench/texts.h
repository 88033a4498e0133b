// SPDX-License-Identifier: Apache-2.0
// The texts the benchmarks feed to the configuration reader and the argument
// splitter: made to a requested size, and byte for byte the same on every run
// and every machine.
#pragma once

#include <cstddef>
#include <string>

// Returns a configuration of exactly `size` bytes. It opens with a launcher
// section [java] that names `jvm_library`, runs velta.bench.Hello and points
// at a class-path section, an options section and a properties section; the
// rest is about 40% class-path entries, 40% system properties and 20% small
// sections of their own. Comments, blank lines, "^" escapes, both
// separators, blanks to trim and CR LF line ends (every third line) are
// spread through it. A `size` smaller than the launcher section gives that
// section cut short.
std::string make_benchmark_config(std::size_t size, const std::string& jvm_library);

// Returns exactly `size` bytes of main arguments: plain words, runs of
// spaces, and arguments in double and single quotes that hold blanks and the
// other quote.
std::string make_benchmark_arguments(std::size_t size);
