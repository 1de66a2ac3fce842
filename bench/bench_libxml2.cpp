// Peer of the path-search workload: compiled XPath expressions over a parsed document.

#include "workloads.h"

#include <benchmark/benchmark.h>

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <map>

namespace {

// The same four searches in standard XPath, from the root element.
const char* const queries[] = {"//item", "group/item[@id='i42']", "//item[name='n5' and @id='i5']",
                               "group[last()]/item[2]"};

xmlDocPtr document(int items)
{
    static std::map<int, xmlDocPtr> documents;
    xmlDocPtr& d = documents[items];
    if (!d) {
        const std::string text = bench::itemDocument(items);
        d = xmlReadMemory(text.data(), int(text.size()), "items.xml", nullptr, 0);
    }
    return d;
}

void BM_Path_Libxml2(benchmark::State& state)
{
    const int query = int(state.range(0));
    const int items = int(state.range(1));
    xmlDocPtr doc = document(items);
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    context->node = xmlDocGetRootElement(doc);
    xmlXPathCompExprPtr compiled = xmlXPathCompile(reinterpret_cast<const xmlChar*>(queries[query]));
    std::size_t found = 0;
    for (auto _ : state) {
        context->node = xmlDocGetRootElement(doc);
        xmlXPathObjectPtr result = xmlXPathCompiledEval(compiled, context);
        found = result && result->nodesetval ? std::size_t(result->nodesetval->nodeNr) : 0;
        benchmark::DoNotOptimize(found);
        xmlXPathFreeObject(result);
    }
    xmlXPathFreeCompExpr(compiled);
    xmlXPathFreeContext(context);
    if (found != (query == 0 ? std::size_t(items) : 1))
        state.SkipWithError("wrong number of nodes");
}

} // namespace

BENCHMARK(BM_Path_Libxml2)
    ->Args({0, 10000})->Args({0, 100000})->Args({1, 10000})->Args({1, 100000})
    ->Args({2, 10000})->Args({2, 100000})->Args({3, 10000})->Args({3, 100000})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
