// SPDX-License-Identifier: Apache-2.0
// Parser and splitter throughput.
//
//   velta-bench-parse [GOOGLE-BENCHMARK-FLAGS] CONFIG-FILE...
//
// For each file, parse_config_text (which builds the whole configuration)
// and inih's ini_parse_string (whose handler only counts) run on the same
// text, one after the other. Then split_arguments counts and fills on 1 MB
// of main arguments. Throughput is bytes of text per second of CPU time.
#include "args/args.h"
#include "bench/texts.h"
#include "config/config.h"
#include "tests/support/config_text.h"
#include "tests/support/test_files.h"

#include <benchmark/benchmark.h>
#include <ini.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void parse_with_velta(benchmark::State& state, const std::string* text)
{
    for (auto _ : state) {
        config_section* root = parse_config_text(text->c_str());
        benchmark::DoNotOptimize(root);
        if (root == nullptr) {
            state.SkipWithError("parse_config_text found no section");
            break;
        }
        // Freeing is not parsing: the launcher never frees its configuration.
        // Trimming hands the heap back, so that every parse starts, as the
        // launcher's one parse does, on a fresh heap rather than on free
        // lists left by the one before.
        state.PauseTiming();
        config_deleter()(root);
        malloc_trim(0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text->size()));
}

int count_entry(void* user, const char*, const char*, const char*)
{
    ++*static_cast<int64_t*>(user);
    return 1;
}

void parse_with_inih(benchmark::State& state, const std::string* text)
{
    for (auto _ : state) {
        int64_t entries = 0;
        benchmark::DoNotOptimize(ini_parse_string(text->c_str(), count_entry, &entries));
        benchmark::DoNotOptimize(entries);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text->size()));
}

void split_counting(benchmark::State& state, const std::string* text)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(split_arguments(text->c_str(), nullptr));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text->size()));
}

void split_filling(benchmark::State& state, const std::string* text)
{
    const int32_t count = split_arguments(text->c_str(), nullptr);
    std::vector<char*> vector(static_cast<std::size_t>(count));
    for (auto _ : state) {
        const int32_t filled = split_arguments(text->c_str(), vector.data());
        if (filled != count) {
            state.SkipWithError("split_arguments ran out of memory");
            break;
        }
        state.PauseTiming();
        for (char* argument : vector)
            std::free(argument);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text->size()));
}

// The file name without its folder, to name the benchmarks.
std::string base_name(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // Texts live until the end of main: the benchmarks keep pointers to them.
    std::vector<std::string> texts(static_cast<std::size_t>(argc));
    for (int i = 1; i < argc; ++i) {
        texts[static_cast<std::size_t>(i)] = read_file(argv[i]);
        if (texts[static_cast<std::size_t>(i)].empty()) {
            std::fprintf(stderr, "%s: cannot read %s or it is empty\n", argv[0], argv[i]);
            return 1;
        }
        const std::string name = base_name(argv[i]);
        benchmark::RegisterBenchmark(("parse/velta/" + name).c_str(), parse_with_velta, &texts[static_cast<std::size_t>(i)]);
        benchmark::RegisterBenchmark(("parse/inih/" + name).c_str(), parse_with_inih, &texts[static_cast<std::size_t>(i)]);
    }
    texts[0] = make_benchmark_arguments(1 << 20);
    benchmark::RegisterBenchmark("split_arguments/count/1MB", split_counting, &texts[0]);
    benchmark::RegisterBenchmark("split_arguments/fill/1MB", split_filling, &texts[0]);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
