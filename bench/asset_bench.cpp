// Lookups over every embedded path and the scheme handler serving every file, with a hash map and
// a plain lower_bound over the same table as baselines, and allocations counted per call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "allocation_counter.h"
#include "quelby/assets/asset_table.h"
#include "quelby/assets/devtools_scheme.h"

namespace {

using quelby::AssetEntry;
using quelby::AssetTable;

std::vector<std::string_view> all_paths() {
    std::vector<std::string_view> paths;
    for (const AssetEntry& entry : AssetTable::entries()) {
        paths.push_back(entry.path);
    }
    return paths;
}

// Runs `body` once per path per iteration and reports time and allocations per call.
template <class Body>
void over_all_paths(benchmark::State& state, const std::vector<std::string_view>& keys,
                    Body&& body) {
    const std::size_t before = allocations_so_far();
    for (auto _ : state) {
        for (const std::string_view key : keys) {
            benchmark::DoNotOptimize(body(key));
        }
    }
    const double calls = static_cast<double>(state.iterations()) * static_cast<double>(keys.size());
    state.counters["ns_per_call"] =
        benchmark::Counter(calls, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_call"] = static_cast<double>(allocations_so_far() - before) / calls;
}

void lookup_asset_table(benchmark::State& state) {
    const auto keys = all_paths();
    over_all_paths(state, keys, [](std::string_view key) { return AssetTable::lookup(key); });
}

// The search alone, without the normalised copy of the key.
void lookup_search_only(benchmark::State& state) {
    const auto keys = all_paths();
    over_all_paths(state, keys, [](std::string_view key) {
        return quelby::find_asset_entry(
            AssetTable::entries(), key,
            [](std::string_view path, std::string_view wanted) { return path.compare(wanted); });
    });
}

void baseline_lower_bound(benchmark::State& state) {
    const auto keys = all_paths();
    const auto entries = AssetTable::entries();
    over_all_paths(state, keys, [&](std::string_view key) -> const AssetEntry* {
        const auto it = std::lower_bound(
            entries.begin(), entries.end(), key,
            [](const AssetEntry& entry, std::string_view wanted) { return entry.path < wanted; });
        return it != entries.end() && it->path == key ? &*it : nullptr;
    });
}

void baseline_unordered_map(benchmark::State& state) {
    const auto keys = all_paths();
    std::unordered_map<std::string_view, const AssetEntry*> map;
    for (const AssetEntry& entry : AssetTable::entries()) {
        map.emplace(entry.path, &entry);
    }
    over_all_paths(state, keys, [&](std::string_view key) -> const AssetEntry* {
        const auto it = map.find(key);
        return it == map.end() ? nullptr : it->second;
    });
}

std::vector<std::string> all_uris() {
    std::vector<std::string> uris;
    for (const std::string_view path : all_paths()) {
        uris.push_back("devtools://localhost/" + std::string(path));
    }
    return uris;
}

void serve_response_for_uri(benchmark::State& state) {
    const auto uris = all_uris();
    const std::vector<std::string_view> keys(uris.begin(), uris.end());
    over_all_paths(state, keys,
                   [](std::string_view uri) { return quelby::devtools_response_for_uri(uri); });
}

void serve_handler(benchmark::State& state) {
    const auto uris = all_uris();
    std::vector<quelby::webview_host::Request> requests;
    for (const std::string& uri : uris) {
        requests.push_back({.method = "GET", .uri = uri, .headers = {}, .body = {}});
    }
    std::size_t served_bytes = 0;
    const std::size_t before = allocations_so_far();
    for (auto _ : state) {
        for (const auto& request : requests) {
            quelby::devtools_scheme_handler(
                "bench", request,
                quelby::webview_host::Responder([&served_bytes](quelby::webview_host::Response r) {
                    served_bytes += r.body.size();
                }));
        }
    }
    benchmark::DoNotOptimize(served_bytes);
    const double calls = static_cast<double>(state.iterations()) * static_cast<double>(uris.size());
    state.counters["ns_per_call"] =
        benchmark::Counter(calls, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_call"] = static_cast<double>(allocations_so_far() - before) / calls;
}

BENCHMARK(lookup_asset_table);
BENCHMARK(lookup_search_only);
BENCHMARK(baseline_lower_bound);
BENCHMARK(baseline_unordered_map);
BENCHMARK(serve_response_for_uri);
BENCHMARK(serve_handler);

}  // namespace

BENCHMARK_MAIN();
