// Peer of the transition workload: a state-chart machine with a chain of states, each
// leaving by an event it raises on entry. With the null data model nothing else happens;
// with the ECMAScript data model each transition carries one assignment.

#include "workloads.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QBuffer>
#include <QScxmlStateMachine>

#include <memory>

namespace {

QByteArray chart(bool script)
{
    QByteArray text = "<?xml version=\"1.0\"?>\n<scxml xmlns=\"http://www.w3.org/2005/07/scxml\" version=\"1.0\" initial=\"s0\"";
    text += script ? " datamodel=\"ecmascript\">\n<datamodel><data id=\"x\" expr=\"0\"/></datamodel>\n" : ">\n";
    for (int i = 0; i < bench::chainStates; ++i) {
        const QByteArray n = QByteArray::number(i);
        if (i + 1 == bench::chainStates) {
            text += "<final id=\"s" + n + "\"/>\n";
            break;
        }
        text += "<state id=\"s" + n + "\"><onentry><raise event=\"next\"/></onentry><transition event=\"next\" target=\"s"
                + QByteArray::number(i + 1) + "\">";
        if (script)
            text += "<assign location=\"x\" expr=\"x + 1\"/>";
        text += "</transition></state>\n";
    }
    return text + "</scxml>\n";
}

void run(benchmark::State& state, bool script)
{
    const QByteArray text = chart(script);
    for (auto _ : state) {
        state.PauseTiming();
        QBuffer buffer;
        buffer.setData(text);
        buffer.open(QIODevice::ReadOnly);
        std::unique_ptr<QScxmlStateMachine> machine(QScxmlStateMachine::fromData(&buffer));
        if (!machine || !machine->parseErrors().isEmpty()) {
            state.SkipWithError("the chart does not load");
            return;
        }
        QEventLoop loop;
        QObject::connect(machine.get(), &QScxmlStateMachine::finished, &loop, &QEventLoop::quit);
        state.ResumeTiming();
        machine->start();
        if (machine->isRunning())
            loop.exec();
    }
    state.SetItemsProcessed(state.iterations() * (bench::chainStates - 1));
}

void BM_Transition_ScxmlNull(benchmark::State& state) { run(state, false); }
void BM_Transition_ScxmlEcmaScript(benchmark::State& state) { run(state, true); }

} // namespace

BENCHMARK(BM_Transition_ScxmlNull)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transition_ScxmlEcmaScript)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
