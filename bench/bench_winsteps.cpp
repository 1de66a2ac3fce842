// winsteps's side of the benchmarks, with the floors that bound each workload from below
// (plain C++ and Qt Core/Xml only). Peers run in programs of their own.
//
// Traces: file descriptor 2 is pointed at /dev/null before anything runs, so the default
// trace sink (std::clog) writes to /dev/null, as does the std::clog floor. Benchmark
// results go to stdout.

#include "workloads.h"

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "fsm/cstatefactory.h"
#include "hostfactory.h"
#include "tracesinks.h"

#include "debug/debugoutput.h"
#include "expression/cxpathnode.h"
#include "expression/cpropertymap.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/machinejournal.h"
#include "platform/registry.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>

namespace {

QTemporaryDir* workDir = nullptr;  // settings, trace files and the emulated machine
QString helperProgram;             // the registry writer, beside this program

// Trace filter settings; the next trace reads them.
void setTraceFilter(const QString& include)
{
    {
        QSettings store(QSettings::UserScope, QStringLiteral("Korvane"), QStringLiteral("qt"));
        store.setValue(QStringLiteral("debug/filter/include"), include);
        store.setValue(QStringLiteral("debug/filter/exclude"), QString());
        store.sync();
    }
    winsteps::resetDebugSettingsForTest();
}

// --- 1. transitions ---------------------------------------------------------------------

QByteArray chainWizard(int states)
{
    QByteArray text = "<fsm name=\"chain\" start=\"s0\">\n<property key=\"x\" value=\"0\"/>\n";
    for (int i = 0; i < states; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "<state name=\"s" + n + "\" type=\"noop\"/>\n";
        if (i + 1 < states)
            text += "<transition from=\"s" + n + "\" to=\"s" + QByteArray::number(i + 1)
                    + "\" event=\"finished\"><propertymap target=\"fsm.x\" function=\"add($fsm.x,1)\"/></transition>\n";
    }
    return text + "</fsm>\n";
}

void runTransitions(benchmark::State& state, const QString& include)
{
    setTraceFilter(include);
    std::unique_ptr<CStateFactory> factory(winsteps::host::createHostFactory());
    CApplication application;
    CWizardLoader loader(factory.get());
    std::unique_ptr<CFsm> fsm(loader.loadData(chainWizard(bench::chainStates), QStringLiteral("chain.xml"), &application));
    if (!fsm) {
        state.SkipWithError(qPrintable(winsteps::host::toTexts(loader.errors()).join('\n')));
        return;
    }
    QEventLoop loop;
    QObject::connect(fsm.get(), &CState::finished, &loop, &QEventLoop::quit);
    for (auto _ : state) {
        fsm->setProperty("x", 0);
        fsm->execute();
        loop.exec();
    }
    if (fsm->property("x").toLongLong() != bench::chainStates - 1)
        state.SkipWithError("the property maps did not run");
    state.SetItemsProcessed(state.iterations() * (bench::chainStates - 1));
    setTraceFilter(QStringLiteral(".*"));
}

void BM_Transition_TracedDevNull(benchmark::State& state) { runTransitions(state, QStringLiteral(".*")); }
void BM_Transition_TraceFiltered(benchmark::State& state) { runTransitions(state, QStringLiteral("^none$")); }

// Floor: a custom event posted to an object and delivered by the event loop, which emits
// one signal and posts the next.
class EventFloor : public QObject
{
    Q_OBJECT
public:
    static inline const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    int remaining = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != type)
            return QObject::event(e);
        Q_EMIT stepped(remaining);
        if (--remaining > 0)
            QCoreApplication::postEvent(this, new QEvent(type));
        else
            Q_EMIT done();
        return true;
    }
Q_SIGNALS:
    void stepped(int remaining);
    void done();
};

void BM_Transition_Floor(benchmark::State& state)
{
    EventFloor floor;
    int seen = 0;
    QObject::connect(&floor, &EventFloor::stepped, [&seen](int) { ++seen; });
    QEventLoop loop;
    QObject::connect(&floor, &EventFloor::done, &loop, &QEventLoop::quit);
    for (auto _ : state) {
        floor.remaining = bench::chainStates - 1;
        QCoreApplication::postEvent(&floor, new QEvent(EventFloor::type));
        loop.exec();
    }
    benchmark::DoNotOptimize(seen);
    state.SetItemsProcessed(state.iterations() * (bench::chainStates - 1));
}

// --- 2. expressions ---------------------------------------------------------------------

// The value of each variable of a map, bound once, as a transition finds its sources.
std::vector<std::pair<CProperty*, QVariant>> bindVariables(CPropertyMap& map)
{
    std::vector<std::pair<CProperty*, QVariant>> bound;
    for (CProperty* variable : map.variables()) {
        const QString name = variable->name();
        QVariant value;
        if (name == QLatin1String("a"))
            value = QString::fromLatin1(bench::valueA);
        else if (name == QLatin1String("b"))
            value = QString::fromLatin1(bench::valueB);
        else if (name == QLatin1String("x"))
            value = bench::valueX;
        else if (name == QLatin1String("y"))
            value = bench::valueY;
        else if (name == QLatin1String("s"))
            value = QString::fromLatin1(bench::valueS);
        bound.emplace_back(variable, value);
    }
    return bound;
}

// Parsed once; each iteration fills the variables and evaluates, as a transition does.
void runExpression(benchmark::State& state, const char* function, const QVariant& expected)
{
    CPropertyMap map(nullptr, QStringLiteral("result"), QString::fromLatin1(function));
    if (!map.isValid()) {
        state.SkipWithError(qPrintable(map.errors()));
        return;
    }
    const auto bound = bindVariables(map);
    for (auto _ : state) {
        map.resetVariables();
        for (const auto& [variable, value] : bound)
            variable->setValue(value);
        // target() hands out a copy of the whole property: read the result after the loop.
        benchmark::DoNotOptimize(map.evaluate());
    }
    if (map.target().value().toString() != expected.toString())
        state.SkipWithError(qPrintable("wrong result " + map.target().value().toString()));
}

const QString concatResult = QStringLiteral("SETUP-zard");
const QString listResult = QStringLiteral("alpha;apple;avocado");

void BM_Expr_Concat(benchmark::State& state) { runExpression(state, bench::concatExpression, concatResult); }
void BM_Expr_Arithmetic(benchmark::State& state) { runExpression(state, bench::arithmeticExpression, qlonglong(82)); }
void BM_Expr_List(benchmark::State& state) { runExpression(state, bench::listExpression, listResult); }

// Floors: the same computations written by hand on QVariant and QString.
void BM_Expr_Concat_Floor(benchmark::State& state)
{
    const QVariant a = QString::fromLatin1(bench::valueA);
    const QVariant b = QString::fromLatin1(bench::valueB);
    QVariant result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        result = QVariant(a.toString().toUpper() + QLatin1Char('-') + b.toString().mid(2));
        benchmark::DoNotOptimize(result);
    }
    if (result.toString() != concatResult)
        state.SkipWithError("wrong floor result");
}

void BM_Expr_Arithmetic_Floor(benchmark::State& state)
{
    const QVariant x = bench::valueX;
    const QVariant y = bench::valueY;
    QVariant result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(x);
        result = QVariant(x.toLongLong() + y.toLongLong() * 2);
        benchmark::DoNotOptimize(result);
    }
}

void BM_Expr_List_Floor(benchmark::State& state)
{
    const QVariant s = QString::fromLatin1(bench::valueS);
    QVariant result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s);
        const QRegularExpression pattern(QStringLiteral("^a"));
        result = QVariant(s.toString().split(QLatin1Char(',')).filter(pattern).join(QLatin1Char(';')));
        benchmark::DoNotOptimize(result);
    }
    if (result.toString() != listResult)
        state.SkipWithError("wrong floor result");
}

// Parse cost of a typical map.
void BM_Expr_ParseMap(benchmark::State& state)
{
    const QString target = QStringLiteral("fsm.label");
    const QString function = QString::fromLatin1(bench::concatExpression);
    for (auto _ : state) {
        CPropertyMap map(nullptr, target, function);
        benchmark::DoNotOptimize(map.root());
    }
}

// --- 3. path search ---------------------------------------------------------------------

struct PathDocument {
    std::unique_ptr<CXPathNode> document;
    std::unique_ptr<CXPathNode> root;
    QDomDocument dom;
};

PathDocument& pathDocument(int items)
{
    static std::map<int, PathDocument> documents;
    PathDocument& d = documents[items];
    if (!d.document) {
        const QByteArray text = QByteArray::fromStdString(bench::itemDocument(items));
        QString error;
        d.document = CXPathNode::parseDocument(text, QStringLiteral("items.xml"), &error);
        CXPathNodeList roots = d.document->findNodes(QStringLiteral("/root"));
        d.root = std::move(roots.front());
        d.dom.setContent(text);
    }
    return d;
}

const char* const pathQueries[] = {"//item", "group/item[@id='i42']", "//item[name='n5' and @id='i5']",
                                   "group[last]/item[2]"};
const std::size_t pathExpected100k[] = {100000, 1, 1, 1};

void BM_Path(benchmark::State& state)
{
    const int query = int(state.range(0));
    const int items = int(state.range(1));
    PathDocument& d = pathDocument(items);
    const QString path = QString::fromLatin1(pathQueries[query]);
    std::size_t found = 0;
    for (auto _ : state) {
        CXPathNodeList nodes = d.root->findNodes(path);
        found = nodes.size();
        benchmark::DoNotOptimize(found);
    }
    if (found != (query == 0 ? std::size_t(items) : pathExpected100k[query]))
        state.SkipWithError("wrong number of nodes");
}

// Floor: the same searches as hand-written walks over the toolkit's DOM.
void collectItems(const QDomElement& parent, std::vector<QDomElement>& out)
{
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (e.tagName() == QLatin1String("item"))
            out.push_back(e);
        collectItems(e, out);
    }
}

void BM_Path_Floor(benchmark::State& state)
{
    const int query = int(state.range(0));
    const int items = int(state.range(1));
    const QDomElement root = pathDocument(items).dom.documentElement();
    const QString item = QStringLiteral("item"), group = QStringLiteral("group"), id = QStringLiteral("id"),
                  name = QStringLiteral("name");
    std::size_t found = 0;
    for (auto _ : state) {
        std::vector<QDomElement> out;
        switch (query) {
        case 0:
            collectItems(root, out);
            break;
        case 1:
            for (QDomElement g = root.firstChildElement(group); !g.isNull(); g = g.nextSiblingElement(group))
                for (QDomElement i = g.firstChildElement(item); !i.isNull(); i = i.nextSiblingElement(item))
                    if (i.attribute(id) == QLatin1String(bench::lookedUpId))
                        out.push_back(i);
            break;
        case 2: {
            std::vector<QDomElement> all;
            collectItems(root, all);
            for (const QDomElement& i : all)
                if (i.firstChildElement(name).text() == QLatin1String("n5") && i.attribute(id) == QLatin1String("i5"))
                    out.push_back(i);
            break;
        }
        case 3: {
            const QDomElement g = root.lastChildElement(group);
            QDomElement i = g.firstChildElement(item);
            if (!i.isNull())
                i = i.nextSiblingElement(item);
            if (!i.isNull())
                out.push_back(i);
            break;
        }
        }
        found = out.size();
        benchmark::DoNotOptimize(found);
    }
    if (found != (query == 0 ? std::size_t(items) : pathExpected100k[query]))
        state.SkipWithError("wrong number of nodes");
}

void pathArguments(benchmark::internal::Benchmark* b)
{
    for (int q = 0; q < 4; ++q)
        for (int items : {10000, 100000})
            b->Args({q, items});
    b->Unit(benchmark::kMicrosecond);
}

// --- 4. trace ---------------------------------------------------------------------------

const QString traceMessage = QString::fromLatin1(bench::traceMessage);

void BM_Trace_DevNull(benchmark::State& state)
{
    setTraceFilter(QStringLiteral(".*"));
    for (auto _ : state)
        winsteps::trace(bench::traceModule, traceMessage);
}

void BM_Trace_File(benchmark::State& state)
{
    setTraceFilter(QStringLiteral(".*"));
    winsteps::host::CFileTraceSink sink;
    QString error;
    if (!sink.open(workDir->filePath(QStringLiteral("trace.txt")), &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    winsteps::setTraceSink(&sink);
    for (auto _ : state)
        winsteps::trace(bench::traceModule, traceMessage);
    winsteps::setTraceSink(nullptr);
}

// Floors: the same bytes through std::clog under a mutex, in pieces and built once.
std::mutex floorMutex;

void BM_Trace_ClogPieces_Floor(benchmark::State& state)
{
    const std::string message = bench::traceMessage;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(floorMutex);
        std::clog << '[' << bench::traceModule << "          " << ']' << message;
    }
}

void BM_Trace_ClogOnce_Floor(benchmark::State& state)
{
    const std::string message = bench::traceMessage;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(floorMutex);
        std::string line;
        line.reserve(22 + message.size());
        line += '[';
        line += bench::traceModule;
        line.append(20 - std::strlen(bench::traceModule), ' ');
        line += ']';
        line += message;
        std::clog.write(line.data(), std::streamsize(line.size()));
    }
}

// --- 5. loading a wizard ------------------------------------------------------------------

QByteArray bigWizard()
{
    // 1,000 states, each with two transitions (events "finished" and "failed"), each
    // transition with one property map.
    const int states = 1000;
    QByteArray text = "<fsm name=\"big\" start=\"s0\">\n<property key=\"x\" value=\"0\"/>\n";
    for (int i = 0; i < states; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray next = QByteArray::number((i + 1) % states);
        const QByteArray back = QByteArray::number((i + states - 1) % states);
        text += "<state name=\"s" + n + "\" type=\"noop\"><property key=\"title\" value=\"Page " + n + "\"/></state>\n";
        text += "<transition from=\"s" + n + "\" to=\"s" + next
                + "\" event=\"finished\"><propertymap target=\"fsm.x\" function=\"add($fsm.x,1)\"/></transition>\n";
        text += "<transition from=\"s" + n + "\" to=\"s" + back
                + "\" event=\"failed\"><propertymap target=\"fsm.last\" function=\"concat('s',$title)\"/></transition>\n";
    }
    return text + "</fsm>\n";
}

void BM_LoadWizard(benchmark::State& state)
{
    setTraceFilter(QStringLiteral(".*"));
    const QByteArray text = bigWizard();
    std::unique_ptr<CStateFactory> factory(winsteps::host::createHostFactory());
    for (auto _ : state) {
        CApplication application;
        CWizardLoader loader(factory.get());
        std::unique_ptr<CFsm> fsm(loader.loadData(text, QStringLiteral("big.xml"), &application));
        if (!fsm) {
            state.SkipWithError(qPrintable(winsteps::host::toTexts(loader.errors()).join('\n')));
            return;
        }
        benchmark::DoNotOptimize(fsm.get());
    }
    state.SetLabel("1000 states, 2000 transitions and maps");
}

// --- 6. emulated registry -----------------------------------------------------------------

namespace wp = winsteps::platform;

// Argument: the machine's journal on (1, as in every run) or off (0).
void BM_Registry_Write(benchmark::State& state)
{
    wp::Registry& machine = wp::registry();
    wp::emulated::MachineJournal(wp::emulated::currentMachine()).setJournaling(state.range(0) != 0);
    state.SetLabel(state.range(0) ? "journal on" : "journal off");
    wp::HKEY key = 0;
    if (machine.regCreateKeyEx(wp::HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench", wp::REG_OPTION_NON_VOLATILE,
                               wp::KEY_ALL_ACCESS, &key, nullptr) != wp::ERROR_SUCCESS) {
        state.SkipWithError("cannot create the key");
        return;
    }
    std::uint32_t i = 0;
    for (auto _ : state) {
        ++i;
        const std::string name = "value" + std::to_string(i % 100);
        if (machine.regSetValueEx(key, name, wp::REG_DWORD, reinterpret_cast<const std::uint8_t*>(&i), 4)
            != wp::ERROR_SUCCESS) {
            state.SkipWithError("write failed");
            break;
        }
    }
    machine.regCloseKey(key);
    wp::emulated::MachineJournal(wp::emulated::currentMachine()).setJournaling(true);
    state.SetItemsProcessed(state.iterations());
}

void BM_Registry_Read(benchmark::State& state)
{
    wp::Registry& machine = wp::registry();
    wp::HKEY key = 0;
    machine.regCreateKeyEx(wp::HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench", wp::REG_OPTION_NON_VOLATILE,
                           wp::KEY_ALL_ACCESS, &key, nullptr);
    std::uint32_t v = 7;
    machine.regSetValueEx(key, "read", wp::REG_DWORD, reinterpret_cast<const std::uint8_t*>(&v), 4);
    for (auto _ : state) {
        std::uint32_t type = 0, data = 0, size = 4;
        if (machine.regQueryValueEx(key, "read", &type, reinterpret_cast<std::uint8_t*>(&data), &size)
            != wp::ERROR_SUCCESS) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(data);
    }
    machine.regCloseKey(key);
    state.SetItemsProcessed(state.iterations());
}

// Four writer processes on the same machine folder at once; each writes its share and
// reports its failures in its exit status.
void BM_Registry_FourWriters(benchmark::State& state)
{
    const int perWriter = 500;
    const QString folder = QString::fromStdString(wp::emulated::currentMachineFolder());
    int failures = 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 0; w < 4; ++w) {
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(helperProgram, {folder, QString::number(w), QString::number(perWriter)});
            writers.push_back(std::move(p));
        }
        for (auto& p : writers) {
            p->waitForFinished(120000);
            if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
                ++failures;
        }
    }
    state.counters["failed_writers"] = failures;
    state.SetItemsProcessed(state.iterations() * 4 * perWriter);
}

// A writer killed with SIGKILL in the middle of its writes: every write it saw succeed must
// be found afterwards. Reports the writes confirmed and the ones lost (0 when durable).
void BM_Registry_KillNine(benchmark::State& state)
{
    const QString folder = QString::fromStdString(wp::emulated::currentMachineFolder());
    std::uint32_t confirmed = 0, stored = 0;
    for (auto _ : state) {
        QProcess writer;
        writer.start(helperProgram, {folder, QStringLiteral("Killed"), QStringLiteral("0")});
        writer.waitForStarted();
        // Let it get well into its writes (some thousands), then kill it.
        while (writer.bytesAvailable() < 30000 && writer.state() == QProcess::Running)
            writer.waitForReadyRead(1000);
        writer.kill();
        writer.waitForFinished();
        const QList<QByteArray> lines = writer.readAllStandardOutput().split('\n');
        for (const QByteArray& line : lines)
            if (!line.isEmpty())
                confirmed = std::max(confirmed, std::uint32_t(line.toUInt()));
        wp::Registry& machine = wp::registry();
        wp::HKEY key = 0;
        std::uint32_t type = 0, size = 4;
        stored = 0;
        if (machine.regOpenKeyEx(wp::HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench\\WriterKilled", wp::KEY_READ, &key)
            == wp::ERROR_SUCCESS) {
            machine.regQueryValueEx(key, "counter", &type, reinterpret_cast<std::uint8_t*>(&stored), &size);
            machine.regCloseKey(key);
        }
    }
    state.counters["confirmed"] = confirmed;
    state.counters["lost"] = confirmed > stored ? confirmed - stored : 0;
    if (confirmed == 0)
        state.SkipWithError("the writer confirmed no write");
}

} // namespace

BENCHMARK(BM_Transition_TracedDevNull)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transition_TraceFiltered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transition_Floor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Expr_Concat);
BENCHMARK(BM_Expr_Concat_Floor);
BENCHMARK(BM_Expr_Arithmetic);
BENCHMARK(BM_Expr_Arithmetic_Floor);
BENCHMARK(BM_Expr_List);
BENCHMARK(BM_Expr_List_Floor);
BENCHMARK(BM_Expr_ParseMap);
BENCHMARK(BM_Path)->Apply(pathArguments);
BENCHMARK(BM_Path_Floor)->Apply(pathArguments);
BENCHMARK(BM_Trace_DevNull);
BENCHMARK(BM_Trace_File);
BENCHMARK(BM_Trace_ClogPieces_Floor);
BENCHMARK(BM_Trace_ClogOnce_Floor);
BENCHMARK(BM_LoadWizard)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Registry_Write)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_Registry_Read);
BENCHMARK(BM_Registry_KillNine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Registry_FourWriters)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char** argv)
{
    // Traces and the std::clog floor write to /dev/null.
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        ::dup2(devNull, 2);
        ::close(devNull);
    }
    QTemporaryDir dir;
    workDir = &dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    QCoreApplication app(argc, argv);
    helperProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/bench_registry_writer");

    std::string error;
    if (!wp::emulated::openMachine(wp::emulated::defaultProfileName(), dir.filePath(QStringLiteral("machine")).toStdString(), &error)) {
        std::cout << "cannot open the emulated machine: " << error << '\n';
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "bench_winsteps.moc"
