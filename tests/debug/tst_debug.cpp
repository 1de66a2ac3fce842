// The trace channel: tags and filters, the settings, line layout and time stamps, the
// debugger channel, traces of several threads, and batches.

#include "debug/debugoutput.h"
#include "platform/emulated/machinefolder.h"
#include "support/clogrecorder.h"
#include "support/tracecapture.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using Pieces = std::vector<std::string>;
Q_DECLARE_METATYPE(Pieces)

namespace {

// Sends the traces to the default sink, and so to std::clog, which records each write call.
struct ClogRecording {
    explicit ClogRecording(winsteps::TraceSink* restore) : restoreSink(restore) { winsteps::setTraceSink(nullptr); }
    ~ClogRecording() { winsteps::setTraceSink(restoreSink); }
    testsupport::ClogRecorder recorder;
    winsteps::TraceSink* restoreSink = nullptr;
};

const std::string indent(23, ' ');

QString show(const Pieces& pieces)
{
    QStringList out;
    for (const std::string& p : pieces)
        out << QLatin1Char('"') + QString::fromStdString(p).replace(QLatin1Char('\n'), QLatin1String("\\n")) + QLatin1Char('"');
    return out.join(QLatin1String(", "));
}

} // namespace

class TstDebug : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // Settings go to a folder of our own, never to the user's.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QSettings probe(QSettings::UserScope, QStringLiteral("Korvane"), QStringLiteral("qt"));
        QVERIFY2(probe.fileName().startsWith(m_config.path()), qPrintable(probe.fileName()));

        std::string error;
        QVERIFY2(winsteps::platform::emulated::openMachine("winxp-sp2", std::string(), &error), error.c_str());
    }

    void init()
    {
        configure(QVariant(), QVariant(), false);
    }

    // The tag is the module name cut or padded to 20 characters, a piece of its own, written when
    // the filters let the module through; the message is written either way and reaches the sink
    // as UTF-8, whatever characters it holds.
    void tagsAndFilters_data()
    {
        QTest::addColumn<QVariant>("include");
        QTest::addColumn<QVariant>("exclude");
        QTest::addColumn<QByteArray>("module");
        QTest::addColumn<QByteArray>("tag"); // "" when hidden
        QTest::addColumn<QString>("message");

        const QVariant unset;
        const QString text = QStringLiteral("text\n");
        const QByteArray state("state"), stateTag("[state               ]");
        const QByteArray firewall("CFirewall"), firewallTag("[CFirewall           ]"), service("WinServiceManager");
        QTest::newRow("3 characters") << unset << unset << QByteArray("app") << QByteArray("[app                 ]") << text;
        QTest::newRow("exactly 20") << unset << unset << QByteArray("propertymapfunctions") << QByteArray("[propertymapfunctions]") << text;
        QTest::newRow("25 characters") << unset << unset << QByteArray("abcdefghijklmnopqrstuvwxy") << QByteArray("[abcdefghijklmnopqrst]") << text;
        QTest::newRow("empty") << unset << unset << state << stateTag << QString();
        QTest::newRow("two-byte forms") << unset << unset << state << stateTag << QStringLiteral("|\u00afpropertymap caf\u00e9 \u00ff\n");
        QTest::newRow("last two-byte form") << unset << unset << state << stateTag << QStringLiteral("\u07ff");
        QTest::newRow("first three-byte form") << unset << unset << state << stateTag << QStringLiteral("\u0800");
        QTest::newRow("two-byte then three-byte") << unset << unset << state << stateTag << QStringLiteral("\u00e9\u6f22\u00e9");
        QTest::newRow("surrogate pair") << unset << unset << state << stateTag << QString::fromUtf8("grin \xf0\x9f\x98\x80 end\n");
        QTest::newRow("lone high surrogate") << unset << unset << state << stateTag << QString(QChar(0xd83d)) + QStringLiteral("x");
        QTest::newRow("embedded nul") << unset << unset << state << stateTag << QString::fromUtf8("a\0b", 3);

        QTest::newRow("search is case-sensitive") << QVariant("serv") << unset << service << QByteArray() << text;
        QTest::newRow("found anywhere") << QVariant("Serv") << unset << service << QByteArray("[WinServiceManager   ]") << text;
        QTest::newRow("exclude hides") << QVariant(".*") << QVariant("CFirewall") << firewall << QByteArray() << text;
        QTest::newRow("exclude spares others") << QVariant(".*") << QVariant("CFirewall") << state << stateTag << text;
        QTest::newRow("empty include shows all") << QVariant("") << QVariant("state") << state << stateTag << text;
        QTest::newRow("anchored include") << QVariant("^state$") << unset << QByteArray("statex") << QByteArray() << text;
        QTest::newRow("regexp, not wildcard") << QVariant("C?Firewall") << unset << firewall << firewallTag << text;
        QTest::newRow("invalid include never matches") << QVariant("*Firewall") << unset << firewall << QByteArray() << text;
        QTest::newRow("invalid exclude never matches") << QVariant("state") << QVariant("(open") << state << stateTag << text;
    }

    void tagsAndFilters()
    {
        QFETCH(QVariant, include);
        QFETCH(QVariant, exclude);
        QFETCH(QByteArray, module);
        QFETCH(QByteArray, tag);
        QFETCH(QString, message);
        configure(include, exclude, false);
        winsteps::trace(module.constData(), message);
        QVERIFY(!m_sink.pieces.empty());
        if (!tag.isEmpty())
            QCOMPARE(m_sink.pieces.front(), tag.toStdString());
        QCOMPARE(QByteArray::fromStdString(m_sink.text), tag + message.toUtf8());
    }

    // Tags follow the module's name, not where the name is stored: a buffer reused for another
    // name gets that name's tag.
    void tagsFollowTheText()
    {
        char name[32];
        std::strcpy(name, "regstates");
        winsteps::trace(name, QStringLiteral("1"));
        std::strcpy(name, "xpath");
        winsteps::trace(name, QStringLiteral("2"));
        const std::string copy = "regstates";
        winsteps::trace(copy.c_str(), QStringLiteral("3"));
        winsteps::trace(winsteps::module::xpath, QStringLiteral("4"));
        QCOMPARE(show(m_sink.pieces), show(Pieces{"[regstates           ]", "1", "[xpath               ]", "2",
                                                  "[regstates           ]", "3", "[xpath               ]", "4"}));
    }

    // The settings are read once (a later change is not seen) and the version is written then.
    void settingsReadOnce()
    {
        QSettings store(QSettings::UserScope, QStringLiteral("Korvane"), QStringLiteral("qt"));
        store.remove(QStringLiteral("debug/version"));
        store.sync();
        winsteps::resetDebugSettingsForTest();
        winsteps::trace("state", QStringLiteral("first\n"));
        store.setValue(QStringLiteral("debug/filter/include"), QStringLiteral("nothing-matches"));
        store.sync();
        m_sink.clear();
        winsteps::trace("state", QStringLiteral("second\n"));
        QCOMPARE(m_sink.pieces.size(), size_t(2));
        QCOMPARE(store.value(QStringLiteral("debug/version")).toString(), QStringLiteral("1.0.0"));
    }

    void output_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Pieces>("pieces");

        QTest::newRow("one line with end") << QByteArray("one line\n") << Pieces{"one line\n"};
        QTest::newRow("one line without end") << QByteArray("no end") << Pieces{"no end"};
        QTest::newRow("two lines") << QByteArray("first\nsecond\n") << Pieces{indent + "first\n", indent + "second\n"};
        QTest::newRow("last line unended") << QByteArray("first\nsecond") << Pieces{indent + "first\n", indent + "second\n"};
        QTest::newRow("empty lines dropped") << QByteArray("a\n\n\nb\n") << Pieces{indent + "a\n", indent + "b\n"};
        QTest::newRow("leading end-of-line") << QByteArray("\nx") << Pieces{indent + "x\n"};
        QTest::newRow("only ends of lines") << QByteArray("\n\n") << Pieces{"\n\n"};
        QTest::newRow("empty") << QByteArray("") << Pieces{};
    }

    void output()
    {
        QFETCH(QByteArray, text);
        QFETCH(Pieces, pieces);
        {
            std::lock_guard<std::mutex> lock(winsteps::debugMutex());
            winsteps::debugOutput(text.toStdString());
        }
        QCOMPARE(show(m_sink.pieces), show(pieces));
    }

    void timeStamps()
    {
        // Blank padded, full width, midnight.
        QCOMPARE(winsteps::formatDebugTimeStamp(9, 5, 7, 42), std::string(" 9: 5: 7. 42 "));
        QCOMPARE(winsteps::formatDebugTimeStamp(23, 59, 58, 999), std::string("23:59:58.999 "));
        QCOMPARE(winsteps::formatDebugTimeStamp(0, 0, 0, 0), std::string(" 0: 0: 0.  0 "));

        // When on, the tag and every line carry a stamp of their own.
        configure(QVariant(), QVariant(), true);
        winsteps::trace("state", QStringLiteral("a\nb\n"));
        const QString stamp = QStringLiteral("[ \\d]\\d:[ \\d]\\d:[ \\d]\\d\\.[ \\d]{2}\\d ");
        const QStringList patterns{stamp + QStringLiteral("\\[state {15}\\]"), stamp + QStringLiteral(" {23}a\\n"), stamp + QStringLiteral(" {23}b\\n")};
        QCOMPARE(m_sink.pieces.size(), size_t(patterns.size()));
        for (int i = 0; i < patterns.size(); ++i) {
            const QString piece = QString::fromStdString(m_sink.pieces[size_t(i)]);
            QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(patterns[i])).match(piece).hasMatch(), qPrintable(piece));
        }
    }

    void debuggerChannel()
    {
        const QString log = QString::fromStdString(winsteps::platform::emulated::currentMachineFolder()) + QStringLiteral("/debugview.log");
        QFile::remove(log);
        winsteps::platform::emulated::setDebuggerCapture(true);
        winsteps::trace("CFirewall", QStringLiteral("one\ntwo \u00AF\n"));
        winsteps::platform::emulated::setDebuggerCapture(false);
        winsteps::trace("CFirewall", QStringLiteral("not captured\n"));

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        std::string sinkText;
        for (size_t i = 0; i < 3; ++i)
            sinkText += m_sink.pieces.at(i);
        QCOMPARE(file.readAll().toStdString(), sinkText);
    }

    void tracesDoNotInterleave()
    {
        constexpr int threads = 4;
        constexpr int traces = 200;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([t] {
                const std::string module = "worker" + std::to_string(t);
                for (int i = 0; i < traces; ++i)
                    winsteps::trace(module.c_str(), QStringLiteral("from %1\n").arg(t));
            });
        }
        for (std::thread& w : workers)
            w.join();

        QCOMPARE(m_sink.pieces.size(), size_t(2 * threads * traces));
        for (size_t i = 0; i < m_sink.pieces.size(); i += 2) {
            const std::string& tag = m_sink.pieces[i];
            const std::string& text = m_sink.pieces[i + 1];
            QCOMPARE(tag.substr(0, 7), std::string("[worker"));
            QCOMPARE(text, "from " + tag.substr(7, 1) + "\n");
        }
    }

    // A batch writes the same bytes as single traces, in one call at the end of the outermost
    // batch (a long one in pieces of bounded size, nothing lost); single traces outside a batch
    // still go out at once, and an installed sink gets each trace at once, batch or not.
    void batchWritesOnce()
    {
        const auto writeSome = [] {
            winsteps::trace("xpath", QStringLiteral("first \u00AF\n"));
            winsteps::trace("xpath", QStringLiteral("two\nlines\n"));
            winsteps::trace("state", QStringLiteral("third"));
        };
        {
            ClogRecording clog(&m_sink);
            std::vector<std::string>& calls = clog.recorder.calls;
            writeSome();
            QCOMPARE(calls.size(), size_t(3));
            const std::string unbatched = calls[0] + calls[1] + calls[2];
            calls.clear();
            {
                winsteps::TraceBatch outer;
                writeSome();
                {
                    winsteps::TraceBatch inner;
                    writeSome();
                }
                QVERIFY2(calls.empty(), qPrintable(show(calls)));
            }
            QCOMPARE(calls, std::vector<std::string>{unbatched + unbatched});
            calls.clear();
            winsteps::trace("state", QStringLiteral("after\n"));
            QCOMPARE(calls.size(), size_t(1));

            calls.clear();
            {
                winsteps::TraceBatch batch;
                for (int i = 0; i < 2000; ++i)
                    winsteps::trace("state", QString(99, QLatin1Char('x')) + QLatin1Char('\n'));
            }
            QVERIFY(calls.size() > 1);
            size_t total = 0;
            for (const std::string& call : calls)
                total += call.size();
            QCOMPARE(total, size_t(2000) * (22 + 100));
        }
        winsteps::TraceBatch batch;
        winsteps::trace("xpath", QStringLiteral("at once\n"));
        QCOMPARE(m_sink.pieces.size(), size_t(2));
    }

private:
    // Writes the filter settings (an invalid QVariant removes the key) and has them read again.
    void configure(const QVariant& include, const QVariant& exclude, bool timeStamps)
    {
        QSettings store(QSettings::UserScope, QStringLiteral("Korvane"), QStringLiteral("qt"));
        const std::pair<QString, QVariant> filters[] = {{QStringLiteral("debug/filter/include"), include}, {QStringLiteral("debug/filter/exclude"), exclude}};
        for (const auto& [key, value] : filters)
            value.isValid() ? store.setValue(key, value) : store.remove(key);
        store.setValue(QStringLiteral("debug/includeTimeStamp"), timeStamps);
        store.sync();
        winsteps::resetDebugSettingsForTest();
        m_sink.clear();
    }

    QTemporaryDir m_config;
    TraceCapture m_sink; // the sink of every test
};

QTEST_GUILESS_MAIN(TstDebug)
#include "tst_debug.moc"
