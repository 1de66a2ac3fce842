// Peer of the path-search workload: compiled XPath queries over a parsed document.

#include "workloads.h"

#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <map>
#include <memory>

namespace {

// The same four searches in standard XPath, from the root element.
const char* const queries[] = {"//item", "group/item[@id='i42']", "//item[name='n5' and @id='i5']",
                               "group[last()]/item[2]"};

pugi::xml_document& document(int items)
{
    static std::map<int, std::unique_ptr<pugi::xml_document>> documents;
    auto& d = documents[items];
    if (!d) {
        d = std::make_unique<pugi::xml_document>();
        const std::string text = bench::itemDocument(items);
        d->load_buffer(text.data(), text.size());
    }
    return *d;
}

void BM_Path_Pugixml(benchmark::State& state)
{
    const int query = int(state.range(0));
    const int items = int(state.range(1));
    const pugi::xml_node root = document(items).document_element();
    const pugi::xpath_query compiled(queries[query]);
    std::size_t found = 0;
    for (auto _ : state) {
        const pugi::xpath_node_set nodes = compiled.evaluate_node_set(root);
        found = nodes.size();
        benchmark::DoNotOptimize(found);
    }
    if (found != (query == 0 ? std::size_t(items) : 1))
        state.SkipWithError("wrong number of nodes");
}

} // namespace

BENCHMARK(BM_Path_Pugixml)
    ->Args({0, 10000})->Args({0, 100000})->Args({1, 10000})->Args({1, 100000})
    ->Args({2, 10000})->Args({2, 100000})->Args({3, 10000})->Args({3, 100000})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
