// Peer of the expression workload: script functions doing the same work, compiled once
// and called many times with fresh arguments.

#include "workloads.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QJSEngine>

namespace {

QJSEngine* engine = nullptr;

void run(benchmark::State& state, const char* source, const QJSValueList& arguments, const QString& expected)
{
    QJSValue function = engine->evaluate(QString::fromLatin1(source));
    if (!function.isCallable()) {
        state.SkipWithError("the function does not compile");
        return;
    }
    QJSValue result;
    for (auto _ : state) {
        result = function.call(arguments);
        benchmark::DoNotOptimize(result);
    }
    if (result.toString() != expected)
        state.SkipWithError(qPrintable("wrong result " + result.toString()));
}

void BM_Expr_Concat_QJSEngine(benchmark::State& state)
{
    run(state, "(function(a, b) { return a.toUpperCase() + '-' + b.substring(2); })",
        {QString::fromLatin1(bench::valueA), QString::fromLatin1(bench::valueB)}, QStringLiteral("SETUP-zard"));
}

void BM_Expr_Arithmetic_QJSEngine(benchmark::State& state)
{
    run(state, "(function(x, y) { return x + y * 2; })", {double(bench::valueX), double(bench::valueY)},
        QStringLiteral("82"));
}

void BM_Expr_List_QJSEngine(benchmark::State& state)
{
    run(state, "(function(s) { return s.split(',').filter(function(e) { return /^a/.test(e); }).join(';'); })",
        {QString::fromLatin1(bench::valueS)}, QStringLiteral("alpha;apple;avocado"));
}

} // namespace

BENCHMARK(BM_Expr_Concat_QJSEngine);
BENCHMARK(BM_Expr_Arithmetic_QJSEngine);
BENCHMARK(BM_Expr_List_QJSEngine);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QJSEngine js;
    engine = &js;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
